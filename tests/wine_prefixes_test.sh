#!/usr/bin/env bash
# The Wine prefixes the scripts make: the desktop prefix (scripts/run with a
# DISPLAY) leaves the window to the window manager; the tests' prefix lets
# Wine draw its own frames; both carry Wine's Tahoma and Marlett.
#   tests/wine_prefixes_test.sh REPOSITORY TESTS_PREFIX
set -uo pipefail
repository=$1
tests_prefix=$2
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

desktop=$(mktemp -d)
trap 'WINEPREFIX=$desktop wineserver -k >/dev/null 2>&1; rm -rf "$desktop"' EXIT
WINEPREFIX=$desktop "$repository/scripts/wine-run" --desktop --prepare
[ -f "$desktop/user.reg" ] || fail "no desktop prefix was made"
if grep -qE '"(Managed|Decorated)"' "$desktop/user.reg"; then
    fail "the desktop prefix keeps the window from the window manager:"
    grep -E '"(Managed|Decorated)"' "$desktop/user.reg"
fi
grep -q '"Managed"="N"' "$tests_prefix/user.reg" ||
    fail "the tests' prefix does not draw its own frames"
for prefix in "$desktop" "$tests_prefix"; do
    for font in tahoma.ttf tahomabd.ttf marlett.ttf ipagp.ttf; do
        [ -e "$prefix/drive_c/windows/Fonts/$font" ] || fail "$font missing in $prefix"
    done
done
[ "$failures" -eq 0 ] && echo "the prefixes are as the scripts promise"
exit "$failures"
