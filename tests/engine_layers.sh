#!/usr/bin/env bash
# The includes of the sources, by folder:
#   - inside the engine they run down its layers only: a folder includes from
#     the folders before it in the list below (and from itself); api/, the
#     engine's face, comes last; render/ stands beside passes/ and the file
#     layer: it includes neither, nor they it; nothing includes reference/,
#     which may include any;
#   - process/ (the process helpers beside the engine) includes of the
#     engine only platform/file_io.h and base/text.h;
#   - the front ends, cli/ and ui/, include the engine's face (api/morla.h),
#     the process helpers (process/process.h) and their own files, nothing
#     deeper.
set -euo pipefail
source_dir=${1:?usage: engine_layers.sh SOURCE_DIR}
engine=$source_dir/engine
layers=(base format platform decode passes render job api)
rank() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && echo "$i" && return
    done
    echo none
}
# The quoted includes of file $1.
includes() {
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$1"
}
status=0
while IFS= read -r file; do
    folder=${file#"$engine"/}
    folder=${folder%%/*}
    [ "$folder" = reference ] && continue
    own=$(rank "$folder")
    if [ "$own" = none ]; then
        echo "$file: $folder/ is no layer of the engine (engine_layers.sh lists them)"
        status=1
        continue
    fi
    while IFS= read -r included; do
        top=${included%%/*}
        [ "$top" = "$included" ] && continue  # a system or same-folder header
        if [ "$top" = reference ]; then
            echo "$file includes $included: the reference is not part of the engine"
            status=1
        elif [ "$(rank "$top")" = none ]; then
            echo "$file includes $included: $top/ is not part of the engine"
            status=1
        elif [ "$(rank "$top")" -gt "$own" ]; then
            echo "$file includes $included: $folder/ may not include from $top/"
            status=1
        elif [ "$folder" = render ] && { [ "$top" = passes ] || [ "$top" = platform ]; }; then
            echo "$file includes $included: render/ stands beside $top/ and may not include it"
            status=1
        fi
    done < <(includes "$file")
done < <(find "$engine" -name '*.h' -o -name '*.cpp')

# Outside the engine: each folder and the headers it may include besides
# its own files.
check_outside() {
    local folder=$1
    shift
    local file included allowed ok
    while IFS= read -r file; do
        while IFS= read -r included; do
            ok=0
            for allowed in "$@"; do
                [ "$included" = "$allowed" ] && ok=1
            done
            # its own files, named without a folder
            [[ $included != */* && -f $(dirname "$file")/$included ]] && ok=1
            if [ "$ok" = 0 ]; then
                echo "$file includes $included: $folder/ may include only $* and its own files"
                status=1
            fi
        done < <(includes "$file")
    done < <(find "$source_dir/$folder" -name '*.h' -o -name '*.cpp')
}
check_outside process process/process.h platform/file_io.h base/text.h
check_outside cli api/morla.h process/process.h
check_outside ui api/morla.h process/process.h
exit $status
