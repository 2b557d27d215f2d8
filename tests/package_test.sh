#!/usr/bin/env bash
# The packages a release is made of, made by cpack from a build and opened as
# a user would:
#   tests/package_test.sh deb BUILD_DIR VERSION REPOSITORY
#     the Debian package: its files, its control fields, its copyright and
#     changelog, lintian's checks, the README's links, and the morla in it
#     answers with the version;
#   tests/package_test.sh zip BUILD_DIR VERSION REPOSITORY NATIVE_MORLA
#     the Windows zip: exactly both programs, the documents (with the ones
#     the README links, under docs/) and the licences of the libraries built
#     in, in one folder, and the README's links;
#     its morla.exe, started under Wine from another folder, gives the rows
#     the native morla gives on a real song.
set -uo pipefail
kind=$1 build=$2 version=$3 repository=$4
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every relative link of the shipped README, and of the other documents
# shipped with it, leads to a file in the package: check_links DOCUMENTS_FOLDER. (Links to
# the web and to a heading of the same page are left out; a heading after a
# file's name, file.md#heading, is checked as the file.)
check_links() {
    local folder=$1 document target links=0
    [ -f "$folder/README.md" ] || { fail "no README.md in ${folder#"$work"/}"; return; }
    while IFS= read -r document; do
        while IFS= read -r target; do
            target=${target#](}
            target=${target%)}
            target=${target%% *}  # a title after the address
            case $target in
            '' | \#* | *://* | mailto:*) continue ;;
            esac
            links=$((links + 1))
            [ -e "$(dirname "$document")/${target%%#*}" ] ||
                fail "${document#"$folder"/} links $target, which is not in the package"
        done < <(grep -o '](\([^)]*\))' "$document")
    done < <(find "$folder" -name '*.md')
    [ "$links" -gt 0 ] || fail "found no relative link in the shipped README and documents"
}

# The changelog's newest release is this version.
newest=$(sed -n 's/^## \([0-9][0-9.]*\) - .*/\1/p' "$repository/CHANGELOG.md" | head -n 1)
[ "$newest" = "$version" ] || fail "CHANGELOG.md's newest release is '$newest', the build's $version"

(cd "$build" && cpack -B "$work/out" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    fail "cpack failed"
    exit 1
}

case $kind in
deb)
    arch=$(dpkg --print-architecture)
    deb=$work/out/morla_${version}_${arch}.deb
    [ -f "$deb" ] || { fail "no $(basename "$deb") made"; exit 1; }
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' >"$work/files"
    for file in usr/bin/morla usr/share/man/man1/morla.1.gz \
        usr/share/bash-completion/completions/morla usr/share/doc/morla/README.md \
        usr/share/doc/morla/LICENSE usr/share/doc/morla/CHANGELOG.md \
        usr/share/doc/morla/copyright usr/share/doc/morla/changelog.gz; do
        grep -qx "$file" "$work/files" || fail "$file is not in the package"
    done
    # Debian's checks of a package: no error and no warning.
    if command -v lintian >/dev/null; then
        lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 ||
            fail "lintian finds fault with the package: $(grep -v 'root privileges' "$work/lintian")"
    else
        fail "lintian is not installed (scripts/packages.sh installs it)"
    fi
    dpkg-deb -f "$deb" Package Version Architecture Section Depends Description >"$work/fields"
    for field in "Package: morla" "Version: $version" "Architecture: $arch" "Section: sound"; do
        grep -qx "$field" "$work/fields" || fail "no '$field' in the control file"
    done
    # Depends computed from the binary's libraries, not written by hand.
    for library in libc6 libstdc++6; do
        grep -q "^Depends:.*\b$library\b" "$work/fields" || fail "Depends lacks $library"
    done
    grep -q "^Description: .*S98" "$work/fields" || fail "the description does not say what it is for"
    dpkg-deb -x "$deb" "$work/root"
    # The copyright file names every library built into the program, with
    # its licence's text.
    copyright=$work/root/usr/share/doc/morla/copyright
    for line in "Files: *" "Files: third_party/ymfm/*" "Files: third_party/libebur128/*" \
        " Copyright (c) 2021, Aaron Giles" " Copyright (c) 2011 Jan Kokemüller"; do
        grep -qxF -- "$line" "$copyright" || fail "the copyright file lacks '$line'"
    done
    check_links "$work/root/usr/share/doc/morla"
    zcat "$work/root/usr/share/doc/morla/changelog.gz" | head -n 1 | grep -q "^morla ($version) " ||
        fail "changelog.gz does not begin with version $version"
    "$work/root/usr/bin/morla" --version | head -n 1 | grep -q "^morla $version " ||
        fail "the packaged morla does not answer with version $version"
    ;;
zip)
    native=$5
    [ -x "$native" ] || { fail "no native morla at $native (build the native preset first)"; exit 1; }
    name=morla_GUI-${version}-windows-x86_64
    zip=$work/out/$name.zip
    [ -f "$zip" ] || { fail "no $name.zip made"; exit 1; }
    unzip -Z1 "$zip" | grep -v '/$' | sort >"$work/files"
    # The documents the README links are in the repository's docs/, shipped whole.
    {
        printf '%s\n' "$name/CHANGELOG.md" "$name/LICENSE" "$name/README.md" "$name/morla.exe" \
            "$name/morla_GUI.exe" "$name/LICENSE.ymfm.txt" "$name/LICENSE.libebur128.txt" \
            "$name/LICENSE.libebur128-queue.txt"
        (cd "$repository" && find docs -type f | sed "s|^|$name/|")
    } | sort >"$work/expected"
    diff -u "$work/expected" "$work/files" || fail "the zip does not hold exactly the programs and documents"
    mkdir "$work/unpacked" "$work/elsewhere"
    unzip -q "$zip" -d "$work/unpacked"
    check_links "$work/unpacked/$name"
    # A real song when the samples are there, else a small one made here: an
    # OPNA carrier at TL 20, an SSG volume of 12 and a rhythm level of 40.
    if [ -f "$repository/../shared/samples/Lotus.s98" ]; then
        cp "$repository/../shared/samples/Lotus.s98" "$work/elsewhere/"
    else
        printf 'S983\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x20\0\0\0\0\0\0\0\0\0\0\0%b' \
            '\0\xb0\x07\0\x40\x14\0\x08\x0c\0\x11\x28\xfd' >"$work/elsewhere/Lotus.s98"
    fi
    (cd "$work/elsewhere" && "$native" -p Lotus.s98) >"$work/native.rows"
    (cd "$work/elsewhere" && "$repository/scripts/wine-run" "$work/unpacked/$name/morla.exe" -p Lotus.s98) |
        tr -d '\r' >"$work/windows.rows"
    grep -q '^PEAK: ' "$work/native.rows" || fail "the native morla measured no peaks: $(cat "$work/native.rows")"
    diff -u "$work/native.rows" "$work/windows.rows" || fail "morla.exe from the zip gives other rows"
    "$repository/scripts/wine-run" "$work/unpacked/$name/morla.exe" --version | tr -d '\r' |
        head -n 1 | grep -q "^morla $version " || fail "morla.exe does not answer with version $version"
    ;;
*)
    echo "usage: package_test.sh deb|zip BUILD_DIR VERSION REPOSITORY [NATIVE_MORLA]"
    exit 2
    ;;
esac
[ "$failures" -eq 0 ] && echo "the $kind package is as a release promises"
[ "$failures" -eq 0 ]
