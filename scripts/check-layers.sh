#!/usr/bin/env bash
# Fails when a file includes a header of a layer above its own. The layers from the bottom up;
# folders named together are siblings and include none of each other. tests/<folder>/ counts as
# <folder>, tests/support as the bottom; a bare include names a header beside the file or a test
# header of tests/<folder>/.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(text platform http window settings templates "generation notices skin" app "gui wingui" "bench fuzz")
declare -A rank=([support]=0)
for i in "${!layers[@]}"; do
    for folder in ${layers[$i]}; do rank[$folder]=$i; done
done

layer_of() {
    local path=${1#tests/}
    echo "${path%%/*}"
}

declare -A testHeader
while read -r path; do testHeader[${path##*/}]=$path; done < <(git ls-files 'tests/*.h')

status=0
while IFS=: read -r file line text; do
    own=$(layer_of "$file")
    header=${text#*\"}
    header=${header%%\"*}
    if [[ $header == */* ]]; then
        target=${header%%/*}
    elif [[ -e $(dirname "$file")/$header || -z ${testHeader[$header]:-} ]]; then
        continue
    else
        target=$(layer_of "${testHeader[$header]}")
    fi
    if [[ -n ${rank[$own]:-} && -n ${rank[$target]:-} && $target != "$own" && ${rank[$target]} -ge ${rank[$own]} ]]; then
        echo "$file:$line: the $own layer includes $header from $target, which is not below it" >&2
        status=1
    fi
done < <(git grep --untracked -n -E '^[[:space:]]*#[[:space:]]*include "' -- '*.h' '*.cpp')

[[ $status -eq 0 ]] && echo "layer check: no include points up"
exit $status
