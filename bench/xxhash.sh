#!/usr/bin/env bash
# Times korvane's XXH3 and XXH128 lists against xxhsum: one 1 GiB file (with
# `cat` as the reference of reading it, warm in the page cache) and 20,000
# files of 4 KiB. Medians of RUNS rounds; the rounds go round the jobs in turn,
# so that load from elsewhere falls on all alike, and every ratio is of
# figures from this one run.
#
#   bench/xxhash.sh [KORVANE_BINARY] [RUNS]
#
# Data goes to $KORVANE_BENCH_DIR (default /tmp/korvane-bench) and is reused.
# Targets: korvane at most 1.1x cat on the large file, at most 0.5x xxhsum on
# the small files.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
korvane=$(realpath "${1:-$here/build/release/bin/korvane}")
runs=${2:-5}
cache=${KORVANE_BENCH_DIR:-/tmp/korvane-bench}
# shellcheck source=bench/common.sh
. "$here/bench/common.sh"

command -v xxhsum >/dev/null || { echo "missing: xxhsum (apt-get install xxhash)" >&2; exit 1; }
[ -x "$korvane" ] || { echo "no korvane binary at $korvane" >&2; exit 1; }

mkdir -p "$cache"
if [ ! -f "$cache/big/one.bin" ]; then
    mkdir -p "$cache/big"
    head -c $((1024 * 1024 * 1024)) /dev/urandom > "$cache/big/one.bin.partial"
    mv "$cache/big/one.bin.partial" "$cache/big/one.bin"
fi
if [ ! -f "$cache/xxh4k.done" ]; then
    rm -rf "$cache/xxh4k"
    echo "building $cache/xxh4k (20,000 files of 4 KiB)..." >&2
    python3 - "$cache/xxh4k" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(4096)
for d in range(20):
    os.makedirs(os.path.join(root, "d%02d" % d))
    for f in range(1000):
        with open(os.path.join(root, "d%02d" % d, "f%04d" % f), "xb") as out:
            out.write(rng.randbytes(4096))
PY
    : > "$cache/xxh4k.done"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$cache"
# The small files' names, in one sorted list, so that both tools get the
# same files in the same order without a walk of their own.
find xxh4k -type f | sort > "$work/names"

command_of() {
    case $1 in
        big/cat) echo "cat big/one.bin > /dev/null" ;;
        big/xxhsum-xxh3) echo "xxhsum -H3 big/one.bin > /dev/null" ;;
        big/xxhsum-xxh128) echo "xxhsum -H2 big/one.bin > /dev/null" ;;
        big/korvane-xxh3) echo "'$korvane' -q -c '$work/l.xxh3' big/one.bin" ;;
        big/korvane-xxh128) echo "'$korvane' -q -c '$work/l.xxh128' big/one.bin" ;;
        small/xxhsum-xxh3) echo "xargs -d '\n' xxhsum -H3 < '$work/names' > /dev/null" ;;
        small/xxhsum-xxh128) echo "xargs -d '\n' xxhsum -H2 < '$work/names' > /dev/null" ;;
        small/korvane-xxh3) echo "'$korvane' -q -r -c '$work/s.xxh3' xxh4k" ;;
        small/korvane-xxh128) echo "'$korvane' -q -r -c '$work/s.xxh128' xxh4k" ;;
    esac
}

jobs=(big/cat big/xxhsum-xxh3 big/korvane-xxh3 big/xxhsum-xxh128 big/korvane-xxh128
      small/xxhsum-xxh3 small/korvane-xxh3 small/xxhsum-xxh128 small/korvane-xxh128)
measure_jobs

ms() { awk -v u="$1" 'BEGIN { printf "%.1f", u / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%-22s %10s %10s\n' job "ms" "cpu ms"
for job in "${jobs[@]}"; do
    printf '%-22s %10s %10s\n' "$job" "$(ms "${us[$job]}")" "$(ms "${cpu[$job]}")"
done
echo
for kind in xxh3 xxh128; do
    echo "1 GiB $kind: korvane/cat $(ratio "${us[big/korvane-$kind]}" "${us[big/cat]}")" \
         "(target <= 1.1), korvane/xxhsum $(ratio "${us[big/korvane-$kind]}" "${us[big/xxhsum-$kind]}")"
    echo "20,000 x 4 KiB $kind: korvane/xxhsum" \
         "$(ratio "${us[small/korvane-$kind]}" "${us[small/xxhsum-$kind]}") (target <= 0.5)"
done
