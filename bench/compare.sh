#!/usr/bin/env bash
# Times korvane against cksfv, rhash, md5sum, sha256sum and hashdeep on generated, cached
# data and prints medians and ratios. Every figure is measured in this one run,
# so the ratios hold even on a busy machine.
#
#   bench/compare.sh [KORVANE_BINARY] [RUNS]
#
# KORVANE_COMPARE_ONLY, an extended regular expression, limits the run to the
# jobs whose names match, such as 'cat|sha256' (names are SET/TOOL-TYPE-JOB).
# Data goes to $KORVANE_BENCH_DIR (default /tmp/korvane-bench) and is reused.
# korvane is timed with its default number of files in flight and with each
# --jobs count in $KORVANE_BENCH_JOBS (default "1 2"); $KORVANE_REFERENCE names
# a further korvane binary (an earlier build) timed alongside; each count's
# time is also given as a ratio to the default's. $KORVANE_BENCH_SETS limits
# the data sets (default "big small mixed"). The peak memory of every korvane
# job is taken in one more run each.
#
# A sweep of files in flight over the small and mixed sets, for instance:
#   KORVANE_BENCH_SETS="small mixed" KORVANE_BENCH_JOBS="1 2 8 64" \
#   KORVANE_COMPARE_ONLY=korvane-sfv\|j[0-9]+-sfv bench/compare.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
korvane=$(realpath "${1:-$here/build/release/bin/korvane}")
runs=${2:-5}
data=${KORVANE_BENCH_DIR:-/tmp/korvane-bench}
job_counts=${KORVANE_BENCH_JOBS:-1 2}
sets=${KORVANE_BENCH_SETS:-big small mixed}
reference=${KORVANE_REFERENCE:+$(realpath "$KORVANE_REFERENCE")}
# shellcheck source=bench/common.sh
. "$here/bench/common.sh"  # make_sets; its median() gives way to the one below

for tool in cksfv rhash md5sum sha256sum hashdeep; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install $tool)" >&2; exit 1; }
done
[ -x "$korvane" ] || { echo "no korvane binary at $korvane" >&2; exit 1; }

# Prints the median wall time in seconds of `runs` runs of a shell command, after
# one warm-up run.
median() {
    local cmd=$1 times=() t0 t1
    bash -c "$cmd" >/dev/null 2>&1 || true
    for _ in $(seq "$runs"); do
        t0=$(date +%s%N)
        bash -c "$cmd" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        times+=($(( t1 - t0 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" '{a[NR]=$1} END {printf "%.4f\n", a[int((n+1)/2)]/1e9}'
}

make_sets "$data" "$sets"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$data"

declare -A result
only=${KORVANE_COMPARE_ONLY:-}
measure() {  # name command
    if [ -n "$only" ] && ! [[ $1 =~ $only ]]; then
        result[$1]=-
        return
    fi
    result[$1]=$(median "$2")
}

for set in $sets; do
    list="find $set -type f -print0 | sort -z"
    measure "$set/cat" "$list | xargs -0 cat > /dev/null"
    measure "$set/korvane-sfv-create" "'$korvane' -q -r -c '$work/k.sfv' $set"
    measure "$set/korvane-sfv-verify" "'$korvane' -q -a '$work/k.sfv'"
    measure "$set/korvane-md5-create" "'$korvane' -q -r -c '$work/k.md5' $set"
    measure "$set/korvane-md5-verify" "'$korvane' -q '$work/k.md5'"
    for n in $job_counts; do
        measure "$set/j$n-sfv-create" "'$korvane' --jobs=$n -q -r -c '$work/k.sfv' $set"
        measure "$set/j$n-sfv-verify" "'$korvane' --jobs=$n -q -a '$work/k.sfv'"
        measure "$set/j$n-md5-create" "'$korvane' --jobs=$n -q -r -c '$work/k.md5' $set"
        measure "$set/j$n-md5-verify" "'$korvane' --jobs=$n -q '$work/k.md5'"
    done
    if [ -n "$reference" ]; then
        measure "$set/ref-sfv-create" "'$reference' -q -r -c '$work/k.sfv' $set"
        measure "$set/ref-sfv-verify" "'$reference' -q -a '$work/k.sfv'"
        measure "$set/ref-md5-create" "'$reference' -q -r -c '$work/k.md5' $set"
        measure "$set/ref-md5-verify" "'$reference' -q '$work/k.md5'"
    fi
    if [ -x /usr/bin/time ]; then
        peak() { /usr/bin/time -f %M bash -c "exec $1" 2>&1 >/dev/null | tail -n 1; }
        result[$set/rss-sfv-create]=$(peak "'$korvane' -q -r -c '$work/k.sfv' $set")
        result[$set/rss-sfv-verify]=$(peak "'$korvane' -q -a '$work/k.sfv'")
        result[$set/rss-md5-create]=$(peak "'$korvane' -q -r -c '$work/k.md5' $set")
        result[$set/rss-md5-verify]=$(peak "'$korvane' -q '$work/k.md5'")
    fi
    measure "$set/cksfv-sfv-create" "$list | xargs -0 cksfv -q > '$work/c.sfv'"
    measure "$set/cksfv-sfv-verify" "cksfv -q -f '$work/c.sfv'"
    measure "$set/rhash-sfv-create" "rhash --sfv -r $set -o '$work/r.sfv'"
    measure "$set/rhash-sfv-verify" "rhash --skip-ok -c '$work/r.sfv'"
    measure "$set/rhash-md5-create" "rhash --md5 -r $set -o '$work/r.md5'"
    measure "$set/rhash-md5-verify" "rhash --skip-ok -c '$work/r.md5'"
    measure "$set/md5sum-md5-create" "$list | xargs -0 md5sum > '$work/m.md5'"
    measure "$set/md5sum-md5-verify" "md5sum --quiet -c '$work/m.md5'"
    measure "$set/korvane-sha256-create" "'$korvane' -q -r -c '$work/k.sha256' $set"
    measure "$set/korvane-sha256-verify" "'$korvane' -q '$work/k.sha256'"
    measure "$set/rhash-sha256-create" "rhash --sha256 -r $set -o '$work/r.sha256'"
    measure "$set/rhash-sha256-verify" "rhash --skip-ok -c '$work/r.sha256'"
    measure "$set/sha256sum-sha256-create" "$list | xargs -0 sha256sum > '$work/s.sha256'"
    measure "$set/sha256sum-sha256-verify" "sha256sum --quiet -c '$work/s.sha256'"
    # hashdeep on both cores; its verification is the audit of the folder against its list.
    measure "$set/hashdeep-sha256-create" "hashdeep -c sha256 -j 2 -r $set > '$work/h.txt'"
    measure "$set/hashdeep-sha256-verify" "hashdeep -c sha256 -j 2 -r -a -k '$work/h.txt' $set"
    if [ -n "$reference" ]; then
        measure "$set/ref-sha256-create" "'$reference' -q -r -c '$work/k.sha256' $set"
        measure "$set/ref-sha256-verify" "'$reference' -q '$work/k.sha256'"
    fi
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0 && b > 0) printf "%.2f", b / a; else print "-" }'; }
# The smallest of the measured times; "-" marks a job the filter left out.
min() { printf '%s\n' "$@" | awk '$1 != "-"' | sort -g | head -n 1; }

printf '\nmedian seconds of %d runs (data cached); korvane: %s\n\n' "$runs" "$korvane"
printf '%-8s %-12s %9s %9s %9s %9s %9s\n' set job korvane cksfv rhash md5sum cat
for set in $sets; do
    for job in sfv-create sfv-verify md5-create md5-verify; do
        printf '%-8s %-12s %9s %9s %9s %9s %9s\n' "$set" "$job" \
            "${result[$set/korvane-$job]}" "${result[$set/cksfv-$job]:--}" \
            "${result[$set/rhash-$job]:--}" "${result[$set/md5sum-$job]:--}" "${result[$set/cat]}"
    done
done

printf '\nkorvane by files in flight (default, --jobs=N with its time / the default'"'"'s%s), seconds; peak KiB at the default\n' \
    "${reference:+, reference build}"
for set in $sets; do
    for job in sfv-create sfv-verify md5-create md5-verify; do
        line=$(printf '%-8s %-12s %9s' "$set" "$job" "${result[$set/korvane-$job]}")
        for n in $job_counts; do
            line+=$(printf '  j%s %7s (%s)' "$n" "${result[$set/j$n-$job]}" \
                "$(ratio "${result[$set/korvane-$job]}" "${result[$set/j$n-$job]}")")
        done
        [ -n "$reference" ] && line+=$(printf '  ref %7s (j1/ref %s)' "${result[$set/ref-$job]}" \
            "$(ratio "${result[$set/ref-$job]}" "${result[$set/j1-$job]:-0}")")
        line+=$(printf '  peak %8s' "${result[$set/rss-$job]:--}")
        echo "$line"
    done
done

printf '\nratios (peer time / korvane time; above 1 means korvane is faster)\n'
for set in $sets; do
    for job in sfv-create sfv-verify; do
        k=${result[$set/korvane-$job]}
        fastest=$(min "${result[$set/cksfv-$job]}" "${result[$set/rhash-$job]}")
        printf '%-8s %-12s vs rhash %6s  vs fastest peer %6s  korvane/cat %6s\n' "$set" "$job" \
            "$(ratio "$k" "${result[$set/rhash-$job]}")" "$(ratio "$k" "$fastest")" \
            "$(ratio "${result[$set/cat]}" "$k")"
    done
    for job in md5-create md5-verify; do
        k=${result[$set/korvane-$job]}
        printf '%-8s %-12s vs md5sum %6s  vs rhash %6s\n' "$set" "$job" \
            "$(ratio "$k" "${result[$set/md5sum-$job]}")" "$(ratio "$k" "${result[$set/rhash-$job]}")"
    done
done

printf '\nSHA-256: median seconds of %d runs, and korvane time / faster peer time\n' "$runs"
printf '%-8s %-14s %9s %9s %9s %9s %14s %9s\n' set job korvane rhash sha256sum hashdeep \
    'korvane/peer' reference
for set in $sets; do
    for job in sha256-create sha256-verify; do
        k=${result[$set/korvane-$job]}
        fastest=$(min "${result[$set/rhash-$job]}" "${result[$set/sha256sum-$job]}" \
            "${result[$set/hashdeep-$job]}")
        printf '%-8s %-14s %9s %9s %9s %9s %14s %9s\n' "$set" "$job" "$k" \
            "${result[$set/rhash-$job]}" "${result[$set/sha256sum-$job]}" \
            "${result[$set/hashdeep-$job]}" "$(ratio "$fastest" "$k")" "${result[$set/ref-$job]:--}"
    done
done
