#!/usr/bin/env bash
# Includes inside the engine run down its layers only: each folder includes
# from itself and the folders listed for it below; nothing includes
# reference/, which may include any.
set -euo pipefail
engine=${1:?usage: engine_layers.sh ENGINE_DIR}
declare -A may=(
    [base]=""
    [format]="base"
    [platform]="base format"
    [decode]="base format"
    [passes]="base format platform decode"
    [render]="base format decode"
    [job]="base format platform decode passes render"
)
status=0
while IFS= read -r file; do
    folder=${file#"$engine"/}
    folder=${folder%%/*}
    [ "$folder" = reference ] && continue
    if [ -z "${may[$folder]+set}" ]; then
        echo "$file: $folder/ is not a layer this check knows"
        status=1
        continue
    fi
    while IFS= read -r included; do
        top=${included%%/*}
        [ "$top" = "$included" ] && continue  # a system or same-folder header
        [ "$top" = "$folder" ] && continue
        if [ "$top" = reference ]; then
            echo "$file includes $included: the reference is not part of the engine"
            status=1
        elif [ -n "${may[$top]+set}" ] && [[ " ${may[$folder]} " != *" $top "* ]]; then
            echo "$file includes $included: $folder/ may not include from $top/"
            status=1
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$engine" -name '*.h' -o -name '*.cpp')
exit $status
