#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each of them on a
# copy of its seed corpus, two at a time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# SECONDS_PER_TARGET defaults to 60; without TARGETs every target runs. Exits
# non-zero when a target crashes or reports a violated property; the input that
# did it is kept under the scratch folder named at the end.
# KORVANE_FUZZ_JOBS (default 2) sets how many targets run at once, and
# KORVANE_FUZZ_NICE (default 0) their niceness.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
jobs=${KORVANE_FUZZ_JOBS:-2}
niceness=${KORVANE_FUZZ_NICE:-0}

# target:max_len. Each limit covers the target's largest sensible input.
all_targets=(sfv:16384 md5:8192 config:4096 cmdline:4096 shard_results:4096 base64:512 expiry:256 crc:4096 md5_lanes:4096 sha:8192 blake3:8192 sha_lanes:4096)
if [ $# -gt 0 ]; then
    selected=()
    for name in "$@"; do
        found=""
        for entry in "${all_targets[@]}"; do
            if [ "${entry%%:*}" = "$name" ]; then
                selected+=("$entry")
                found=1
            fi
        done
        if [ -z "$found" ]; then
            echo "unknown fuzz target: $name" >&2
            exit 2
        fi
    done
else
    selected=("${all_targets[@]}")
fi

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v clang++ >/dev/null || missing+=(clang)
if command -v dpkg-query >/dev/null; then
    have_pkg libxxhash-dev || missing+=(libxxhash-dev)
    have_pkg libclang-rt-14-dev || have_pkg libclang-rt-dev || missing+=(libclang-rt-14-dev)
fi
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
    else
        echo "Missing packages (install them, or run as root): ${missing[*]}" >&2
        exit 1
    fi
fi

start=$(date +%s)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
echo "Fuzz targets built in $(( $(date +%s) - start )) s"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvane-fuzz.XXXXXX")
bin=build/fuzz/fuzz

run_target() {
    local name=$1 max_len=$2 dir=$scratch/$1
    mkdir -p "$dir/corpus" "$dir/artifacts"
    # A copy: new inputs the run finds must not land in the repository.
    cp fuzz/corpus/"$name"/* "$dir/corpus/" 2>/dev/null || true
    local dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="$root/fuzz/$name.dict")
    # Standard output is closed: the option pass prints the usage text.
    nice -n "$niceness" "$bin/korvane_fuzz_$name" "$dir/corpus" "${dict[@]}" \
        -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -rss_limit_mb=2048 \
        -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
        >"$dir/log" 2>&1
}

declare -A pids=()
failed=()
finish_one() {
    local done_pid status name
    set +e
    wait -n -p done_pid "${!pids[@]}"
    status=$?
    set -e
    name=${pids[$done_pid]}
    unset "pids[$done_pid]"
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$scratch/$name/log" | awk '{print $2}')
    if [ "$status" -ne 0 ]; then
        failed+=("$name")
        echo "FAIL $name (status $status)"
        grep -E -A12 'property violated|ERROR: (libFuzzer|AddressSanitizer)|runtime error' \
            "$scratch/$name/log" | head -40 || true
        ls "$scratch/$name/artifacts"
    else
        echo "ok   $name: ${runs:-?} runs in ${seconds} s"
    fi
}

for entry in "${selected[@]}"; do
    while [ ${#pids[@]} -ge "$jobs" ]; do
        finish_one
    done
    run_target "${entry%%:*}" "${entry##*:}" &
    pids[$!]=${entry%%:*}
done
while [ ${#pids[@]} -gt 0 ]; do
    finish_one
done

echo "Fuzzing finished in $(( $(date +%s) - start )) s"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failing targets: ${failed[*]} (inputs and logs in $scratch)" >&2
    exit 1
fi
rm -rf "$scratch"
