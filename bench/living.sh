#!/usr/bin/env bash
# What keeping a list of a living collection costs: an audit of a tree of
# small files against its list, beside the verification alone, the bare walk
# and hashdeep's audit; an update of the list after one file was added and
# one changed, beside rhash's update; all measured in this one run.
#
#   bench/living.sh [KORVANE_BINARY] [FILES]      (default: 200000)
#
# The tree is FILES files of 100 distinct bytes, 1,000 to a folder, built
# once into $KORVANE_SCALE_DIR (default /var/tmp/korvane-scale, shared with
# bench/scale.sh) as nFILES/dNNNN/fNNNN. Every job runs inside nFILES, so that
# the list's names resolve there and the audit walks just the tree; the lists
# go to a private temporary folder. $KORVANE_BENCH_RUNS (default 5) runs of
# each job after an untimed warm-up run (a failing job, such as an audit that
# finds a file the list lacks, stops the script); the
# runs go round the jobs in turn. The jobs:
#
#   walk              find . -type f > /dev/null
#   stat-walk         find . -type f -printf '%s %T@\n'  (every file's size and time)
#   korvane-verify    korvane -q -a LIST.md5          (every file read)
#   korvane-audit     korvane -q -a --audit LIST.md5  (the same, then the walk)
#   hashdeep-audit    hashdeep -c md5 -r -a -k KNOWN .  (audit mode; -c before -k)
#   korvane-update    cp OLD.sfv U.sfv && korvane -q -u U.sfv
#   rhash-update      cp OLD.sfv R.sfv && rhash -u R.sfv -r .  (appends only)
#
# OLD.sfv is korvane's SFV list of the tree with one entry taken out (a file
# added since) and another's recorded time moved (a file changed since); the
# copy is part of both update jobs.
#
# Printed: seconds, microseconds per file and peak KiB of each job (medians),
# then the audit's cost beyond the verification against the bare walk,
# korvane's audit against hashdeep's, and the update against the walks and
# rhash's update.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
binary=$here/build/release/bin/korvane
if [ $# -gt 0 ] && ! [[ $1 =~ ^[0-9]+$ ]]; then
    binary=$1
    shift
fi
korvane=$(realpath "$binary")
n=${1:-200000}
runs=${KORVANE_BENCH_RUNS:-5}
cache=${KORVANE_SCALE_DIR:-/var/tmp/korvane-scale}
for tool in hashdeep rhash find python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "missing: /usr/bin/time (apt-get install time)" >&2; exit 1; }
[[ $n =~ ^[1-9][0-9]*$ ]] || { echo "not a number of files: $n" >&2; exit 1; }

# shellcheck source=bench/common.sh
source "$here/bench/common.sh"
mkdir -p "$cache"
make_tree "$n"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$cache/n$n"
"$korvane" -q -r -c "$work/k.md5" .
hashdeep -c md5 -r . > "$work/known.txt"
"$korvane" -q -r -c "$work/k.sfv" .
python3 - "$work/k.sfv" "$work/old.sfv" <<'EOF'
import re, sys
lines = open(sys.argv[1], "rb").read().split(b"\r\n")
gone, moved = b"./d0000/f0005", b"./d0000/f0007"
out = []
for line in lines:
    if line.startswith(gone + b" ") or line.endswith(b" " + gone):
        continue  # the entry and its record: a file added since
    if line.startswith(b";") and line.endswith(b" " + moved):
        line = re.sub(rb"\d\d:\d\d\.\d\d", b"00:00.01", line, count=1)  # changed since
    out.append(line)
open(sys.argv[2], "wb").write(b"\r\n".join(out))
EOF

jobs=(walk stat-walk korvane-verify korvane-audit hashdeep-audit korvane-update rhash-update)
command_of() {  # JOB
    local k="'$korvane'" l="'$work'"
    case $1 in
        walk) echo "find . -type f > /dev/null" ;;
        stat-walk) echo "find . -type f -printf '%s %T@\\n' > /dev/null" ;;
        korvane-verify) echo "$k -q -a $l/k.md5" ;;
        korvane-audit) echo "$k -q -a --audit $l/k.md5" ;;
        hashdeep-audit) echo "hashdeep -c md5 -r -a -k $l/known.txt . > /dev/null" ;;
        korvane-update) echo "cp $l/old.sfv $l/u.sfv && $k -q -u $l/u.sfv" ;;
        rhash-update) echo "cp $l/old.sfv $l/r.sfv && rhash -u $l/r.sfv -r . > /dev/null" ;;
    esac
}

# run_once stops at a failed job: an audit that found a file the list does
# not name fails.
measure_jobs

calc() { awk "BEGIN { $1 }"; }
printf '\n## A living collection: %d files, median of %d runs, warm cache\n\n' "$n" "$runs"
echo "korvane: $korvane; tree: $cache/n$n; load before the table: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| job | seconds | us/file | peak KiB |"
echo "|---|---:|---:|---:|"
for job in "${jobs[@]}"; do
    printf '| %s | %s | %s | %s |\n' "$job" "$(calc "printf \"%.3f\", ${us[$job]} / 1e6")" \
        "$(calc "printf \"%.2f\", ${us[$job]} / $n")" "${peak[$job]}"
done
echo
beyond=$(calc "printf \"%.2f\", (${us[korvane-audit]} - ${us[korvane-verify]}) / ${us[walk]}")
against=$(calc "printf \"%.2f\", ${us[korvane-audit]} / ${us[hashdeep-audit]}")
echo "- audit beyond the verification, against the bare walk: $beyond (target: at most 1.30)"
echo "- korvane's audit against hashdeep's: $against (target: at most 0.50)"
walked=$(calc "printf \"%.2f\", ${us[korvane-update]} / ${us[walk]}")
stat_walked=$(calc "printf \"%.2f\", ${us[korvane-update]} / ${us[stat-walk]}")
against=$(calc "printf \"%.2f\", ${us[korvane-update]} / ${us[rhash-update]}")
echo "- update against the bare walk: $walked (target: at most 1.50); against the walk that"
echo "  reads every file's size and time: $stat_walked"
echo "- korvane's update against rhash's: $against (target: at most 0.50)"
