#!/usr/bin/env bash
# What the whole run's progress line costs a run of 20,000 small files on a
# terminal: the same runs under a pseudo-terminal (`script -q -c`), with the
# line and without it (KORVANE_PROGRESS_LINE=0, which turns it off), so that
# the only difference is the line. The result lines go to the terminal in
# both. A creation (-r -c) and a verification (-a: every file read) of the
# tree, $KORVANE_PROGRESS_RUNS (default 5) runs of each, taken in turn so
# that load from elsewhere falls on both alike; medians of wall time, and
# the ratio with/without.
#
#   bench/progress.sh [KORVANE_BINARY]
#
# The tree is bench/common.sh's n20000 (100-byte files, 1,000 to a folder)
# under $KORVANE_SCALE_DIR (default /var/tmp/korvane-scale), built once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
korvane=${1:-$here/build/release/bin/korvane}
runs=${KORVANE_PROGRESS_RUNS:-5}
cache=${KORVANE_SCALE_DIR:-/var/tmp/korvane-scale}
command -v script > /dev/null || { echo "script (util-linux) is missing" >&2; exit 1; }
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=bench/common.sh
source "$here/bench/common.sh"
make_tree 20000
cd "$cache"
"$korvane" -q -r -c "$work/list.sfv" n20000

# A job as a pseudo-terminal runs it; TERM set, so that the line is drawn.
on_terminal() {  # SWITCH COMMAND
    printf 'TERM=xterm KORVANE_PROGRESS_LINE=%s script -q -e -c %q /dev/null < /dev/null' "$1" "$2"
}
create="'$korvane' -r -c '$work/new.sfv' n20000"
verify="'$korvane' -a '$work/list.sfv'"
declare -A times
for i in $(seq 1 "$runs"); do
    for job in create verify; do
        for line in 1 0; do
            rm -f "$work/new.sfv"
            run_once "$(on_terminal "$line" "${!job}")"
            times[$job.$line]+=" $run_us"
        done
    done
    echo "run $i of $runs done" >&2
done
printf '%-8s %14s %14s %8s\n' job "with line (s)" "without (s)" ratio
for job in create verify; do
    # shellcheck disable=SC2086
    with=$(median ${times[$job.1]})
    # shellcheck disable=SC2086
    without=$(median ${times[$job.0]})
    awk -v j="$job" -v a="$with" -v b="$without" \
        'BEGIN { printf "%-8s %14.3f %14.3f %8.3f\n", j, a / 1e6, b / 1e6, a / b }'
done
