#!/usr/bin/env bash
# Times korvane's BLAKE3, XXH3 and XXH128 lists against b3sum, xxhsum and
# cat on the same machine, in one run: one 1 GiB file and 20,000 files of
# 4 KiB, warm cache. Prints medians and each korvane job's time as a ratio to
# its reference, so the figures hold on a busy machine.
#
#   bench/fast_hashes.sh [KORVANE_BINARY] [RUNS]
#
# Data goes to $KORVANE_BENCH_DIR (default /tmp/korvane-bench, shared with
# compare.sh) and is reused. The one-core jobs run under `taskset -c 0`, with
# b3sum told to use one thread, so both sides have the same single core.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
korvane=$(realpath "${1:-$here/build/release/bin/korvane}")
runs=${2:-5}
data=${KORVANE_BENCH_DIR:-/tmp/korvane-bench}

for tool in b3sum xxhsum taskset /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$korvane" ] || { echo "no korvane binary at $korvane" >&2; exit 1; }

# shellcheck source=bench/common.sh
. "$here/bench/common.sh"
make_sets "$data" "big small"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$data"

# The peers' lists, made once, for their verification jobs.
# The peers take the small files as arguments, through xargs (one command
# line cannot hold 20,000 names).
find small -type f -print0 | sort -z > "$work/small.list"
small_files="xargs -0 -a '$work/small.list'"
eval "$small_files b3sum" > "$work/peer.b3"
eval "$small_files xxhsum -H3" > "$work/peer.xxh3" 2>/dev/null
eval "$small_files xxhsum -H2" > "$work/peer.xxh128" 2>/dev/null
"$korvane" -q -r -c "$work/k.b3" small
"$korvane" -q -r -c "$work/k.xxh3" small
"$korvane" -q -r -c "$work/k.xxh128" small

declare -A commands=(
    [cat-big]="cat big/one.bin > /dev/null"
    [k-b3-one-core]="taskset -c 0 '$korvane' -q --jobs=1 -c '$work/big.b3' big/one.bin"
    [b3sum-one-core]="taskset -c 0 b3sum --num-threads 1 big/one.bin > /dev/null"
    [k-b3-big]="'$korvane' -q -c '$work/big.b3' big/one.bin"
    [b3sum-big]="b3sum big/one.bin > /dev/null"
    [k-b3-small-create]="'$korvane' -q -r -c '$work/new.b3' small"
    [b3sum-small-create]="$small_files b3sum > '$work/new-peer.b3'"
    [k-b3-small-verify]="'$korvane' -q '$work/k.b3'"
    [b3sum-small-verify]="b3sum -c --quiet '$work/peer.b3'"
    [k-xxh3-big]="'$korvane' -q -c '$work/big.xxh3' big/one.bin"
    [xxhsum-xxh3-big]="xxhsum -H3 big/one.bin > /dev/null"
    [k-xxh128-big]="'$korvane' -q -c '$work/big.xxh128' big/one.bin"
    [xxhsum-xxh128-big]="xxhsum -H2 big/one.bin > /dev/null"
    [k-xxh3-small-create]="'$korvane' -q -r -c '$work/new.xxh3' small"
    [xxhsum-xxh3-small-create]="$small_files xxhsum -H3 > '$work/new-peer.xxh3'"
    [k-xxh3-small-verify]="'$korvane' -q '$work/k.xxh3'"
    [xxhsum-xxh3-small-verify]="xxhsum -c --quiet '$work/peer.xxh3'"
    [k-xxh128-small-create]="'$korvane' -q -r -c '$work/new.xxh128' small"
    [xxhsum-xxh128-small-create]="$small_files xxhsum -H2 > '$work/new-peer.xxh128'"
    [k-xxh128-small-verify]="'$korvane' -q '$work/k.xxh128'"
    [xxhsum-xxh128-small-verify]="xxhsum -c --quiet '$work/peer.xxh128'"
)
command_of() { echo "${commands[$1]}"; }
jobs=(cat-big k-b3-one-core b3sum-one-core k-b3-big b3sum-big
      k-b3-small-create b3sum-small-create k-b3-small-verify b3sum-small-verify
      k-xxh3-big xxhsum-xxh3-big k-xxh128-big xxhsum-xxh128-big
      k-xxh3-small-create xxhsum-xxh3-small-create k-xxh3-small-verify xxhsum-xxh3-small-verify
      k-xxh128-small-create xxhsum-xxh128-small-create
      k-xxh128-small-verify xxhsum-xxh128-small-verify)
measure_jobs

seconds() { awk -v t="$1" 'BEGIN { printf "%.3f", t / 1e6 }'; }
ratio() { awk -v a="${us[$1]}" -v b="${us[$2]}" 'BEGIN { printf "%.2f", a / b }'; }
row() {  # KORVANE-JOB REFERENCE-JOB TARGET
    printf '%-24s %9s  %-26s %9s  %6s  %s\n' "$1" "$(seconds "${us[$1]}")" "$2" \
        "$(seconds "${us[$2]}")" "$(ratio "$1" "$2")" "$3"
}

printf '\nmedian seconds of %d runs (warm cache); korvane: %s\n' "$runs" "$korvane"
printf '%-24s %9s  %-26s %9s  %6s  %s\n' 'korvane job' s reference s ratio target
row k-b3-one-core b3sum-one-core '<= 1.0'
row k-b3-big b3sum-big '<= 1.0'
row k-b3-small-create b3sum-small-create '<= 0.5'
row k-b3-small-verify b3sum-small-verify '<= 0.5'
row k-xxh3-big cat-big '<= 1.1'
row k-xxh128-big cat-big '<= 1.1'
row k-xxh3-big xxhsum-xxh3-big ''
row k-xxh128-big xxhsum-xxh128-big ''
row k-xxh3-small-create xxhsum-xxh3-small-create '<= 0.5'
row k-xxh3-small-verify xxhsum-xxh3-small-verify '<= 0.5'
row k-xxh128-small-create xxhsum-xxh128-small-create '<= 0.5'
row k-xxh128-small-verify xxhsum-xxh128-small-verify '<= 0.5'
