#!/usr/bin/env bash
# Includes inside the engine run down its layers only: a folder includes from
# the folders before it in this list (and from itself); nothing includes
# reference/, which may include any.
set -euo pipefail
engine=${1:?usage: engine_layers.sh ENGINE_DIR}
layers=(base format platform decode passes job)
rank() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && echo "$i" && return
    done
    echo none
}
status=0
while IFS= read -r file; do
    folder=${file#"$engine"/}
    folder=${folder%%/*}
    [ "$folder" = reference ] && continue
    own=$(rank "$folder")
    while IFS= read -r included; do
        top=${included%%/*}
        [ "$top" = "$included" ] && continue  # a system or same-folder header
        if [ "$top" = reference ]; then
            echo "$file includes $included: the reference is not part of the engine"
            status=1
        elif [ "$(rank "$top")" != none ] && [ "$(rank "$top")" -gt "$own" ]; then
            echo "$file includes $included: $folder/ may not include from $top/"
            status=1
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$engine" -name '*.h' -o -name '*.cpp')
exit $status
