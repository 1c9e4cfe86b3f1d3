#!/usr/bin/env bash
# Fails when a file includes a header of a layer above its own. The layers from the bottom up;
# folders named together are siblings and include none of each other. tests/<folder>/ counts as
# <folder>, tests/support as the bottom; a bare include names a header beside the file or a test
# header of tests/<folder>/.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(text platform http window settings "templates checks" "cost batch" services publishing "run notices skin" app "gui wingui" "bench fuzz")
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

# The core below the application speaks in its own terms. What a run, a query or a notice needs is
# handed to it as a value: no file below app/ names a control of the main window (not by the
# constants of app/control_names.h, not by a name written out, in UTF-8 or as the GBK escapes the
# sources use), and services/, run/ and notices/ use no window at all.
below_app=()
for i in "${!layers[@]}"; do
    (( i < rank[app] )) && for folder in ${layers[$i]}; do below_app+=("$folder" "tests/$folder"); done
done
names=()
while IFS= read -r name; do
    [[ -n $name ]] || continue
    names+=(-e "$name")
    escaped=""
    while IFS= read -r byte; do
        if (( 16#$byte >= 0x80 )); then escaped+="\\x${byte^^}"; else escaped+=$(printf "\\x$byte"); fi
    done < <(printf '%s' "$name" | iconv -f UTF-8 -t GBK | od -An -v -tx1 | tr -s ' ' '\n' | grep -v '^$')
    names+=(-e "$escaped")
done < <(grep -oE '"; *// *[^ ]+' app/control_names.h | sed -E 's#.*// *##')
hits=$(git grep --untracked -n -F "${names[@]}" -e 'control::k' -e 'app/control_names.h' -- "${below_app[@]}" || true)
if [[ -n $hits ]]; then
    echo "$hits" | sed 's/$/  <- a control of the main window named below app\//' >&2
    status=1
fi
hits=$(git grep --untracked -n -E '#[[:space:]]*include[[:space:]]*"window/' -- services run notices \
    tests/services tests/run tests/notices || true)
if [[ -n $hits ]]; then
    echo "$hits" | sed 's/$/  <- the core works without a window/' >&2
    status=1
fi
[[ $status -eq 0 ]] && echo "layer check: no control named below app/, no window in the core"
exit $status
