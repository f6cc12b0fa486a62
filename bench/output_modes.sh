#!/usr/bin/env bash
# What the forms of output cost: a verification (and a creation) of the
# 20,000 files of 4 KiB of bench/compare.sh's small set, with the console's
# lines, with --json and with --status, every job's output going to a file.
# Medians of $KORVANE_BENCH_RUNS (default 5) runs after an untimed warm-up,
# the runs going round the jobs in turn; the ratios are to the console's, of
# wall time and of processor time (less disturbed by other work).
#
#   bench/output_modes.sh [KORVANE_BINARY]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
korvane=$(realpath "${1:-$here/build/release/bin/korvane}")
runs=${KORVANE_BENCH_RUNS:-5}
data=${KORVANE_BENCH_DIR:-/tmp/korvane-bench}
[ -x /usr/bin/time ] || { echo "missing: /usr/bin/time (apt-get install time)" >&2; exit 1; }
if [ ! -f "$data/small.done" ]; then
    KORVANE_BENCH_SETS=small KORVANE_COMPARE_ONLY='^$' "$here/bench/compare.sh" "$korvane" 1 \
        > /dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cache=$work
# shellcheck source=bench/common.sh
source "$here/bench/common.sh"
cd "$data/small"
"$korvane" -q -r -c "$work/list.sha256" .

jobs=(verify-console verify-json verify-status create-console create-json)
command_of() {  # JOB
    local k="'$korvane'" l="'$work'"
    case $1 in
        verify-console) echo "$k -a $l/list.sha256 > $l/o" ;;
        verify-json) echo "$k -a --json $l/list.sha256 > $l/o" ;;
        verify-status) echo "$k -a --status $l/list.sha256 > $l/o" ;;
        create-console) echo "$k -r -c $l/new.sha256 . > $l/o" ;;
        create-json) echo "$k --json -r -c $l/new.sha256 . > $l/o" ;;
    esac
}
measure_jobs
calc() { awk "BEGIN { $1 }"; }
printf '\n## Output forms: 20,000 files of 4 KiB, median of %d runs, warm cache\n\n' "$runs"
echo "| job | seconds | against the console | CPU seconds | against the console |"
echo "|---|---:|---:|---:|---:|"
for job in "${jobs[@]}"; do
    base=${us[${job%-*}-console]}
    cpu_base=${cpu[${job%-*}-console]}
    printf '| %s | %s | %s | %s | %s |\n' "$job" "$(calc "printf \"%.3f\", ${us[$job]} / 1e6")" \
        "$(calc "printf \"%.3f\", ${us[$job]} / $base")" \
        "$(calc "printf \"%.3f\", ${cpu[$job]} / 1e6")" \
        "$(calc "printf \"%.3f\", ${cpu[$job]} / $cpu_base")"
done
