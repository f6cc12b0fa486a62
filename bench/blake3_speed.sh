#!/usr/bin/env bash
# BLAKE3 throughput on a large cached file: on one core, korvane's hasher
# and korvane itself beside `b3sum --num-threads 1`; on every core, korvane
# (which hashes a large file alone on two threads along the tree) beside
# b3sum's own threads.
#
#   bench/blake3_speed.sh [BENCH_HASH_BINARY] [KORVANE_BINARY] [SIZE_MIB]
#
# (defaults: build/bench/bin/bench_hash, build/release/bin/korvane, 1024.)
# The file is SIZE_MIB MiB of random bytes in a private temporary folder,
# read once before timing so that every job finds it in the page cache.
# The jobs:
#
#   b3sum          taskset -c 0 b3sum --num-threads 1 FILE   (maps the file)
#   hasher         taskset -c 0 bench_hash --blake3-file=FILE  (read() in
#                  256 KiB pieces, the reader's chunk size, into one hasher)
#   korvane        taskset -c 0 korvane -q -j 1 -c LIST.b3 FILE  (one core:
#                  no split, the reader thread shares the core)
#   b3sum-all      b3sum FILE
#   korvane-all    korvane -q -c LIST.b3 FILE
#
# The first three are compared with b3sum, the last two with b3sum-all.
# $KORVANE_BENCH_RUNS (default 5) runs of each job after an untimed warm-up
# round, the runs going round the jobs in turn; printed: the median seconds
# of wall time and of processor time (user and system), MB/s (10^6 bytes per
# wall second) and each job's throughput against b3sum's, by wall time and
# by processor time, all from this one run of the script. On a machine
# shared with other work the processor time is the steadier figure.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bench=$(realpath "${1:-$here/build/bench/bin/bench_hash}")
binary=$(realpath "${2:-$here/build/release/bin/korvane}")
size_mib=${3:-1024}
runs=${KORVANE_BENCH_RUNS:-5}

command -v b3sum >/dev/null || { echo "missing: b3sum" >&2; exit 1; }
command -v taskset >/dev/null || { echo "missing: taskset" >&2; exit 1; }
[ -x "$bench" ] || { echo "no bench_hash at $bench (cmake --preset bench)" >&2; exit 1; }
[ -x "$binary" ] || { echo "no korvane at $binary" >&2; exit 1; }

# shellcheck source=bench/common.sh
source "$here/bench/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/data
head -c "$((size_mib << 20))" /dev/urandom > "$file"
cat "$file" > /dev/null

want=$(b3sum --num-threads 1 --no-names "$file")
got=$("$bench" --blake3-file="$file" | head -n 1 | cut -d' ' -f1)
[ "$want" = "$got" ] || { echo "digests differ: b3sum $want, korvane $got" >&2; exit 1; }

jobs=(b3sum hasher korvane b3sum-all korvane-all)
command_of() {
    case $1 in
        b3sum) echo "taskset -c 0 b3sum --num-threads 1 '$file'" ;;
        hasher) echo "taskset -c 0 '$bench' --blake3-file='$file'" ;;
        korvane) echo "rm -f '$work/list.b3' && taskset -c 0 '$binary' -q -j 1 -c '$work/list.b3' '$file'" ;;
        b3sum-all) echo "b3sum '$file'" ;;
        korvane-all) echo "rm -f '$work/list.b3' && '$binary' -q -c '$work/list.b3' '$file'" ;;
    esac
}
measure_jobs

bytes=$((size_mib << 20))
printf '\n%d MiB file, median of %d runs\n' "$size_mib" "$runs"
printf '%-10s %9s %9s %9s %9s %9s\n' job wall-s cpu-s MB/s 'x wall' 'x cpu'
for job in "${jobs[@]}"; do
    base=b3sum
    [[ $job == *-all ]] && base=b3sum-all
    awk -v j="$job" -v w="${us[$job]}" -v c="${cpu[$job]}" -v b="$bytes" \
        -v bw="${us[$base]}" -v bc="${cpu[$base]}" \
        'BEGIN { printf "%-10s %9.3f %9.3f %9.1f %9.2f %9.2f\n", j, w / 1e6, c / 1e6, b / w,
                 bw / w, bc / c }'
done
printf '(x: throughput against b3sum, or b3sum-all for the -all jobs, by wall time and by\n'
printf ' processor time)\n'
