#!/usr/bin/env bash
# Installs the build into a fresh folder and checks the tree a user gets:
# the program, its man page, its bash completion and the documents.
#
#   install_test.sh CMAKE BUILD_DIR VERSION MAN_PAGE [CONFIG]
#
# CMAKE is the cmake that configured BUILD_DIR, VERSION the project version,
# MAN_PAGE 1 when the build makes the man page (help2man was found) and 0
# when not, CONFIG the configuration to install (multi-config generators).
set -u

if [ $# -lt 4 ]; then
    echo "usage: $0 CMAKE BUILD_DIR VERSION MAN_PAGE [CONFIG]" >&2
    exit 2
fi
cmake=$1
build=$2
version=$3
man_page=$4
config=${5:-}

# Settings of the caller's that would change what morla or the install does.
unset DESTDIR MORLA_DECODER MORLA_JOBS BASH_ENV ENV

faults=0
fault() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/morla-install.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

install=("$cmake" --install "$build" --prefix "$prefix")
[ -n "$config" ] && install+=(--config "$config")
if ! "${install[@]}" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install did not finish"
    exit 1
fi

# The program runs from where it was installed and names its version.
morla=$prefix/bin/morla
if [ ! -x "$morla" ]; then
    fault "bin/morla is not installed"
else
    if ! "$morla" --version >"$work/version" 2>&1; then
        fault "bin/morla --version failed: $(cat "$work/version")"
    fi
    first=$(head -n 1 "$work/version")
    case $first in
        "morla $version" | "morla $version "*) ;;
        *) fault "bin/morla --version says '$first', not 'morla $version ...'" ;;
    esac
fi

# The man page: made, installed, free of *roff warnings, and with every
# section the include file adds.
installed=$prefix/share/man/man1/morla.1.gz
page=$work/morla.1
if [ "$man_page" != 1 ]; then
    fault "the build makes no man page: help2man was not found when the build" \
          "was configured (install help2man and configure again)"
elif [ ! -f "$installed" ] || ! gzip -dc "$installed" >"$page"; then
    fault "share/man/man1/morla.1.gz is not installed, or not gzip"
elif ! command -v groff >/dev/null; then
    fault "groff is needed to check the man page (Debian: groff-base)"
else
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fault "groff -man -ww -z morla.1 says: $warnings"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS '"EXIT STATUS"' ENVIRONMENT FILES \
                   EXAMPLES '"SEE ALSO"'; do
        grep -qx "\\.SH $section" "$page" || fault "morla.1 has no section $section"
    done
    # The option rows are set close together up to the last one, not the
    # rest of the page.
    [ "$(grep -cx '\.PD 0' "$page")" = "$(grep -cx '\.PD' "$page")" ] ||
        fault "morla.1 sets paragraphs close (.PD 0) without setting them back (.PD)"
    # The header's source names this version: no page of an older build.
    grep -q "^\\.TH MORLA \"1\" \"[^\"]*\" \"morla $version\"" "$page" ||
        fault "morla.1 is not the page of morla $version: $(grep '^\.TH' "$page")"
fi

# The bash completion: a script bash reads, which registers itself for
# morla and completes options, folders after -o, and S98 files.
completion=$prefix/share/bash-completion/completions/morla
if [ ! -f "$completion" ]; then
    fault "share/bash-completion/completions/morla is not installed"
elif ! bash -n "$completion" 2>"$work/syntax"; then
    fault "bash -n rejects the completion: $(cat "$work/syntax")"
else
    mkdir -p "$work/songs/album" && touch "$work/songs/Lotus.s98" "$work/songs/notes.txt"
    # Prints the completions of the words given, the last being completed,
    # in a bash that has read nothing but the completion file.
    complete_words() {
        (cd "$work/songs" &&
            bash --norc --noprofile -c '
                source "$1" || exit 1
                function=$(complete -p morla 2>/dev/null | sed -n "s/.*-F \([^ ]*\).*/\1/p")
                [ -n "$function" ] || { echo "no completion registered for morla"; exit 1; }
                shift
                COMP_WORDS=("$@")
                COMP_CWORD=$(($# - 1))
                COMP_LINE="$*"
                COMP_POINT=${#COMP_LINE}
                "$function" morla "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
                printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' \
                completion "$completion" "$@" 2>&1)
    }
    options=$(complete_words morla -)
    # every long option --help names
    for option in $("$morla" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qx -- "$option" <<<"$options" ||
            fault "completing 'morla -' does not offer $option: $options"
    done
    folders=$(complete_words morla -o "")
    [ "$folders" = album ] ||
        fault "completing 'morla -o ' offers '$folders', not the folder album alone"
    files=$(complete_words morla -f3 "")
    [ "$files" = "$(printf 'Lotus.s98\nalbum')" ] ||
        fault "completing 'morla -f3 ' offers '$files', not Lotus.s98 and album"
fi

# The documents.
for document in README.md LICENSE CHANGELOG.md; do
    [ -f "$prefix/share/doc/morla/$document" ] ||
        fault "share/doc/morla/$document is not installed"
done

if [ "$faults" -gt 0 ]; then
    echo "$faults fault(s) in the installed tree, which holds:"
    (cd "$prefix" && find . -mindepth 1 | LC_ALL=C sort)
    exit 1
fi
echo "The installed tree is complete."
