#!/usr/bin/env bash
# One core's BLAKE3 throughput on a large cached file: korvane's hasher (the
# automatic path, and each path forced) beside `b3sum --num-threads 1`.
#
#   bench/blake3_speed.sh [BENCH_HASH_BINARY] [SIZE_MIB]      (default: 1024)
#
# The file is SIZE_MIB MiB of random bytes in a private temporary folder,
# read once before timing so that every job finds it in the page cache.
# bench_hash --blake3-file reads it in 4 MiB pieces into one hasher, as a
# checksum run does. $KORVANE_BENCH_RUNS (default 5) runs of each job after
# an untimed warm-up round, the runs going round the jobs in turn; printed:
# the median seconds of wall time and of processor time, MB/s (10^6 bytes
# per wall second) and each job's throughput against b3sum's, all from this
# one run of the script.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bench=$(realpath "${1:-$here/build/bench/bin/bench_hash}")
size_mib=${2:-1024}
runs=${KORVANE_BENCH_RUNS:-5}

command -v b3sum >/dev/null || { echo "missing: b3sum" >&2; exit 1; }
[ -x "$bench" ] || { echo "no bench_hash at $bench (cmake --preset bench)" >&2; exit 1; }

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

jobs=(b3sum korvane)
command_of() {
    case $1 in
        b3sum) echo "b3sum --num-threads 1 '$file'" ;;
        korvane) echo "'$bench' --blake3-file='$file'" ;;
    esac
}
measure_jobs

bytes=$((size_mib << 20))
printf '\n%d MiB file, median of %d runs, one thread\n' "$size_mib" "$runs"
printf '%-10s %9s %9s %9s %10s\n' job wall-s cpu-s MB/s 'vs b3sum'
for job in "${jobs[@]}"; do
    awk -v j="$job" -v w="${us[$job]}" -v c="${cpu[$job]}" -v b="$bytes" -v base="${us[b3sum]}" \
        'BEGIN { printf "%-10s %9.3f %9.3f %9.1f %10.2f\n", j, w / 1e6, c / 1e6, b / w, base / w }'
done
