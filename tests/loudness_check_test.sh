#!/usr/bin/env bash
# scripts/loudness-check end to end with a stand-in morla and a stand-in
# player (ffmpeg tones of chosen levels): the table's differences, the median
# over the files outside the rhythm stand-in group, the distance from it, the
# exit status against the limit, and silent files left out of the figures.
# Skipped (77) without ffmpeg.
#   loudness_check_test.sh REPOSITORY
set -euo pipefail
repository=$1
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# morla: -20 LUFS for every file, silence for "quiet", and the rhythm
# stand-in heard in files named rhythm*.
cat >"$work/morla" <<'EOF'
#!/usr/bin/env bash
file=${@: -1}
name=$(basename "$file")
echo "$name"
if [[ $name == quiet* ]]; then
    echo "LOUDNESS: silent"
    echo "heard: 0:03.0"
else
    echo "LOUDNESS: -20.0 LUFS  RANGE=0.0 LU  TRUE PEAK=-17.0 dBTP  SAMPLE PEAK=-17.0 dBFS"
    [[ $name == rhythm* ]] && echo "heard: 0:03.0, rhythm: stand-in" || echo "heard: 0:03.0"
fi
echo "-> ok"
EOF
# The player: a 997 Hz tone, its gain in dB the number after "_" in the
# file's name (none: 0 dB), silence for "quiet".
cat >"$work/player" <<'EOF'
#!/usr/bin/env bash
(($# >= 2)) || { echo "usage: player [--samplerate N] IN OUT" >&2; exit 2; }
in=${@: -2:1}
out=${@: -1}
name=$(basename "$in" .s98)
gain=0
[[ $name == *_* ]] && gain=${name##*_}
[[ $name == quiet* ]] && gain=-200
exec ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=997:duration=3:sample_rate=48000" \
    -af "volume=${gain}dB" -ac 2 "$out"
EOF
chmod +x "$work/morla" "$work/player"
for name in a b c d_-3 rhythm_-8 quiet; do
    : >"$work/$name.s98"
done
files=("$work"/a.s98 "$work"/b.s98 "$work"/c.s98 "$work"/d_-3.s98 "$work"/rhythm_-8.s98 "$work"/quiet.s98)
check=("$repository/scripts/loudness-check" --player "$work/player" --morla "$work/morla")

status=0
out=$("${check[@]}" "${files[@]}") || status=$?
echo "$out"
[[ $status -eq 1 ]] || fail "d_-3 lies 3 LU from the median: exit status $status, not 1"
rows=$(grep -c '^| .*\.s98 |' <<<"$out")
[[ $rows -eq 6 ]] || fail "$rows rows, not 6"
a=$(grep '^| a.s98 |' <<<"$out" | awk -F'|' '{ print $5 }' | tr -d ' ')
d=$(grep '^| d_-3.s98 |' <<<"$out" | awk -F'|' '{ print $5 }' | tr -d ' ')
awk -v a="$a" -v d="$d" 'BEGIN { exit !(d - a > 2.9 && d - a < 3.1) }' ||
    fail "differences $a and $d are not 3 LU apart"
grep -q '^| quiet.s98 | silent | silent | - |' <<<"$out" || fail "the silent file is not shown as such"
median=$(sed -n 's/^median difference (morla - player), 4 files without the rhythm stand-in: \(.*\) LU$/\1/p' <<<"$out")
awk -v m="$median" -v a="$a" 'BEGIN { exit !(m != "" && m - a > -0.06 && m - a < 0.06) }' ||
    fail "the median ($median) is not the difference of the three matching files ($a)"
grep -q '^largest distance from the median: 3\.[01]0 LU (d_-3.s98)$' <<<"$out" ||
    fail "the largest distance is not d_-3's"
grep -q '^rhythm stand-in songs (1): largest distance from the median 8\.[01]0 LU (rhythm_-8.s98)$' \
    <<<"$out" || fail "the rhythm stand-in song is not summed up apart"
grep -q '^beyond 1.5 LU of the median (1): d_-3.s98$' <<<"$out" || fail "d_-3 is not named"

# a wider limit passes; the rhythm song's 8 LU never fails the check
"${check[@]}" --limit 3.5 "${files[@]}" >"$work/wide.txt" || fail "--limit 3.5 does not pass"
grep -q '^every file within 3.5 LU of the median$' "$work/wide.txt" || fail "no pass line"

# usage errors
status=0
"$repository/scripts/loudness-check" "${files[@]}" 2>/dev/null || status=$?
[[ $status -eq 2 ]] || fail "without --player: exit status $status, not 2"
echo "ok"
