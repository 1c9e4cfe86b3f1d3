#!/usr/bin/env bash
# Fuzzes the readers of hostile input for a bounded time, or (--replay) only builds every target and
# runs its saved findings and seeds once, as ./test.sh does.
#
# Usage: scripts/fuzz.sh [seconds] [target...]
#        scripts/fuzz.sh --replay [target...]
#   seconds  how long each target runs (default 60)
#   target   names as listed below (default: all of them)
# QJ_FUZZ_JOBS: targets run at a time (default 2).
#
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz/, checks that the transcoded core sources keep every literal's bytes, replays the
# saved findings in fuzz/regressions/<target>/ and the seeds in fuzz/seeds/<target>/, then (unless
# --replay) runs each target on its corpus (build-fuzz/fuzz/corpus/<target>/, seeded from
# fuzz/seeds/<target>/). The first finding stops the run: its input is in
# build-fuzz/fuzz/findings/<target>/, the script names it and exits 1. A build that fails is no
# finding: the script says so and exits 2.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

all_targets=(completion_reply chat_reply credit_token ini headers_cookies keyword_queue output_names text_toolkit
    map_library_image internal_links)
replay_only=0
if [ "${1:-}" = "--replay" ]; then
    replay_only=1
    shift
    seconds=0
else
    seconds="${1:-60}"
    shift || true
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=("${all_targets[@]}")
fi
for t in "${targets[@]}"; do
    if [[ ! " ${all_targets[*]} " =~ " $t " ]]; then
        echo "fuzz: no target $t (targets: ${all_targets[*]})" >&2
        exit 2
    fi
done
jobs_at_once="${QJ_FUZZ_JOBS:-2}"

./scripts/install-deps.sh --fuzz
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
out=build-fuzz/fuzz
mkdir -p build-fuzz
build_log=build-fuzz/build.log
build_failed() {
    echo "fuzz: BUILD FAILED ($1); no target was run"
    grep -E 'error|FAILED|undefined reference' "$build_log" | head -n 12 || true
    echo "fuzz: build log: $build_log"
    exit 2
}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQJ_FUZZ=ON -DQJ_TESTS=OFF -DQJ_GUI=OFF "${launcher[@]}" >"$build_log" 2>&1 || build_failed "configure"
build_targets=(qj_fuzz_skin_seeds)
for t in "${targets[@]}"; do
    build_targets+=("qj_fuzz_$t")
done
cmake --build build-fuzz -j2 --target "${build_targets[@]}" >>"$build_log" 2>&1 || build_failed "targets"
cmake --build build-fuzz -j2 --target qj_fuzz_literal_check >>"$build_log" 2>&1 || build_failed "literal check"
grep '^literal check:' "$build_log" | tail -n 1 || true
for t in "${targets[@]}"; do
    [ -x "$out/qj_fuzz_$t" ] || build_failed "no program $out/qj_fuzz_$t"
done

mkdir -p "$out/logs"
# The settings and list targets write files for every input: memory is faster than the disk. A
# target that stops on a finding leaves its scratch folder behind; this run's go with it.
scratch_base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch_base=/dev/shm
fi
TMPDIR="$(mktemp -d "$scratch_base/qj-fuzz-run-XXXXXX")"
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT

# Extra options of a target: its dictionary and input size.
options_of() {
    case "$1" in
        completion_reply | chat_reply | credit_token) echo "-dict=fuzz/json.dict" ;;
        ini) echo "-dict=fuzz/ini.dict" ;;
        headers_cookies) echo "-dict=fuzz/headers_cookies.dict" ;;
        keyword_queue) echo "-max_len=2048" ;;
        text_toolkit) echo "-dict=fuzz/text_toolkit.dict" ;;
        map_library_image) echo "-dict=fuzz/map_library_image.dict -max_len=16384" ;;
    esac
}

finding() {
    local target="$1" log="$2"
    echo
    echo "fuzz: FINDING in $target"
    grep -E '^==qj-fuzz==|ERROR: |runtime error|SUMMARY' "$log" | head -n 8 || true
    local input
    input="$(grep -o "Test unit written to .*" "$log" | tail -n 1 | sed 's/Test unit written to //')"
    if [ -n "$input" ]; then
        echo "fuzz: input: $input"
        echo "fuzz: replay: $out/qj_fuzz_$target $input"
    fi
    echo "fuzz: log: $log"
}

# Saved findings and seeds first: each must pass now. Each input runs once.
for t in "${targets[@]}"; do
    inputs=()
    for folder in "fuzz/regressions/$t" "fuzz/seeds/$t"; do
        if [ -d "$folder" ]; then
            while IFS= read -r -d '' file; do
                inputs+=("$file")
            done < <(find "$folder" -type f -print0 | sort -z)
        fi
    done
    if [ "$t" = map_library_image ]; then
        mkdir -p "$TMPDIR/skin-seeds"
        "$out/qj_fuzz_skin_seeds" "$TMPDIR/skin-seeds"
        while IFS= read -r -d '' file; do
            inputs+=("$file")
        done < <(find "$TMPDIR/skin-seeds" -type f -print0 | sort -z)
    fi
    if [ ${#inputs[@]} -eq 0 ]; then
        echo "fuzz: $t: no saved inputs"
        continue
    fi
    log="$out/logs/$t.replay.log"
    if ! "$out/qj_fuzz_$t" "${inputs[@]}" >"$log" 2>&1; then
        echo
        echo "fuzz: FINDING in $t: a saved input of fuzz/regressions/$t/ or fuzz/seeds/$t/ fails"
        grep -E '^Running: |^==qj-fuzz==|ERROR: |runtime error' "$log" | tail -n 8 || true
        echo "fuzz: log: $log"
        exit 1
    fi
    echo "fuzz: $t: ${#inputs[@]} saved inputs pass"
done
if [ "$replay_only" = 1 ]; then
    echo "fuzz: every saved input passes"
    exit 0
fi

start() {
    local t="$1"
    local corpus="$out/corpus/$t" findings="$out/findings/$t"
    mkdir -p "$corpus" "$findings"
    local seeds=()
    if [ -d "fuzz/seeds/$t" ]; then
        seeds+=("fuzz/seeds/$t")
    fi
    if [ "$t" = map_library_image ]; then
        "$out/qj_fuzz_skin_seeds" "$corpus"
    fi
    # shellcheck disable=SC2046
    "$out/qj_fuzz_$t" "$corpus" "${seeds[@]}" $(options_of "$t") -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" >"$out/logs/$t.log" 2>&1 &
    pid_target[$!]="$t"
}

declare -A pid_target=()
stop_all() {
    for pid in "${!pid_target[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap 'stop_all; exit 130' INT TERM

echo "fuzz: ${#targets[@]} targets, $seconds s each, $jobs_at_once at a time"
queue=("${targets[@]}")
while [ ${#queue[@]} -gt 0 ] || [ ${#pid_target[@]} -gt 0 ]; do
    while [ ${#queue[@]} -gt 0 ] && [ ${#pid_target[@]} -lt "$jobs_at_once" ]; do
        start "${queue[0]}"
        queue=("${queue[@]:1}")
    done
    status=0
    wait -n -p done_pid "${!pid_target[@]}" || status=$?
    t="${pid_target[$done_pid]}"
    unset "pid_target[$done_pid]"
    log="$out/logs/$t.log"
    if [ "$status" -ne 0 ]; then
        stop_all
        finding "$t" "$log"
        exit 1
    fi
    runs="$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
    echo "fuzz: $t: no finding in $seconds s ($runs inputs)"
done
echo "fuzz: no finding"
