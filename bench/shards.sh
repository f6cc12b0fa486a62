#!/usr/bin/env bash
# What splitting a run into shards costs on one machine: a run of N small
# files against the same work as 8 shards that GNU parallel runs two at a
# time (this machine has two cores) followed by the merge, for a
# verification and a creation; and the merge alone of 8 shards' results over
# a list of M entries (made up: the merge reads no file the list names).
#
#   bench/shards.sh [KORVANE_BINARY] [N] [M]     (default: 200000 1000000)
#
# The tree is scale.sh's (nN/dNNNN/fNNNN, 100 bytes a file, in
# $KORVANE_SCALE_DIR, default /var/tmp/korvane-scale); lists, parts and
# results go to a private temporary folder. $KORVANE_SHARDS_RUNS (default 3)
# timed rounds after a warm-up round, the jobs taking turns; medians, and
# the ratio of each sharded job to its one run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
korvane=${1:-$here/../build/release/bin/korvane}
files=${2:-200000}
entries=${3:-1000000}
runs=${KORVANE_SHARDS_RUNS:-3}
cache=${KORVANE_SCALE_DIR:-/var/tmp/korvane-scale}
command -v parallel > /dev/null || { echo "needs GNU parallel (apt-get install parallel)" >&2; exit 2; }
korvane=$(realpath "$korvane")
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=bench/common.sh
. "$here/common.sh"
make_tree "$files"
cd "$cache"
list="$work/list.md5"
"$korvane" -q -r -c "$list" "n$files"
find "n$files" -type f -print0 | xargs -0 cat > /dev/null

shards=8
verify_shards="parallel --will-cite -j2 '$korvane' -q -a --shard={}/$shards --results='$work/r.{}' '$list' ::: \$(seq $shards) || true; '$korvane' -q --merge '$list' $work/r.* > /dev/null"
create_shards="parallel --will-cite -j2 '$korvane' -q -t md5 --shard={}/$shards -c '$work/p.{}' -r n$files ::: \$(seq $shards); '$korvane' -q --merge -c '$work/merged.md5' $work/p.*"

# The made-up list and results for the merge alone.
python3 - "$work/big.md5" "$work/big" "$entries" "$shards" <<'EOF'
import random, sys
list_path, results, n, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(n)
digests = ["%032x" % rng.getrandbits(128) for _ in range(n)]
with open(list_path, "w") as out:
    out.writelines("%s *d%04d/f%04d\n" % (d, i // 1000, i % 1000) for i, d in enumerate(digests))
EOF
identity=$(sha256sum "$work/big.md5" | cut -d' ' -f1)
size=$(stat -c %s "$work/big.md5")
folder=-  # an MD5 list keeps no tag: the folder is not compared
python3 - "$work/big.md5" "$work/big" "$entries" "$shards" "$identity" "$size" "$folder" <<'EOF'
import sys
list_path, results, n, count, identity, size, folder = sys.argv[1:8]
n, count = int(n), int(count)
files = [open("%s.r%d" % (results, k + 1), "w") for k in range(count)]
for k, f in enumerate(files):
    f.write("korvane-shard-results 1\nkind verification\nshard %d %d\ntype md5\n"
            "list %s %s\nfolder %s\ndoall 1\nstarted 134000000000000000\n"
            % (k + 1, count, identity, size, folder))
records = [0] * count
with open(list_path) as lines:
    for i, line in enumerate(lines):
        shard = (2 * i + 1) * count // (2 * n)
        files[shard].write("e %d 0 100 134000000000000000 %s\n" % (i, line[:32]))
        records[shard] += 1
for k, f in enumerate(files):
    f.write("end %d -\n" % records[k])
    f.close()
EOF
merge_only="cd '$work' && '$korvane' -q --merge big.md5 big.r* 2> /dev/null"

jobs=(verify verify-8-shards create create-8-shards merge-only)
command_of() {
    case $1 in
        verify) echo "'$korvane' -q -a '$list'" ;;
        verify-8-shards) echo "$verify_shards" ;;
        create) echo "'$korvane' -q -r -c '$work/one.md5' n$files" ;;
        create-8-shards) echo "$create_shards" ;;
        merge-only) echo "$merge_only" ;;
    esac
}
measure_jobs
results_bytes=$(cat "$work"/big.r* | wc -c)
printf '%-18s %12s %10s %12s %8s\n' job "wall ms" "cpu ms" "peak KiB" ratio
for job in "${jobs[@]}"; do
    ratio=-
    case $job in
        verify-8-shards) ratio=$(awk -v a="${us[$job]}" -v b="${us[verify]}" 'BEGIN { printf "%.2f", a / b }') ;;
        create-8-shards) ratio=$(awk -v a="${us[$job]}" -v b="${us[create]}" 'BEGIN { printf "%.2f", a / b }') ;;
    esac
    printf '%-18s %12d %10d %12d %8s\n' "$job" $((us[$job] / 1000)) $((cpu[$job] / 1000)) "${peak[$job]}" "$ratio"
done
echo "files $files, merge-only: $entries entries in $shards results of $((results_bytes / 1024)) KiB"
