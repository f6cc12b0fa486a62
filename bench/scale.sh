#!/usr/bin/env bash
# How korvane's cost per file and its memory grow from ten thousand to a
# million small files, beside the bare walk and the peers, all measured in
# this one run.
#
#   bench/scale.sh [KORVANE_BINARY] [FILES...]      (default: 10000 100000 1000000)
#
# A first argument that is a number is a size (the binary is then the build's).
# Each size is a tree of files of 100 distinct bytes, 1,000 to a folder,
# built once by a small Python helper into $KORVANE_SCALE_DIR (default
# /var/tmp/korvane-scale, outside the checkout: the million-file tree takes
# about 4 GB of disk and two minutes to make) as nFILES/dNNNN/fNNNN, and reused
# while its nFILES.done marker is there. Lists go to a private temporary
# folder, so no walk meets them; every job runs from the cache folder, so all
# tools resolve the names in the lists (nFILES/dNNNN/fNNNN) alike.
# $KORVANE_SCALE_RUNS (default 3) runs of each job are timed after one
# untimed warm-up run that also checks the job succeeds; the runs go round
# the jobs in turn, so load from elsewhere falls on all of them alike. The
# jobs, in this order:
#
#   walk                 find nFILES -type f > /dev/null
#   korvane-sfv-create   korvane -q -r -c LIST.sfv nFILES
#   korvane-sfv-verify   korvane -q -a LIST.sfv  (-a: no entry taken from the tag as
#                        "previously verified"; each run must read every file)
#   rhash-sfv-create     rhash --sfv -r nFILES > LIST.sfv
#   rhash-sfv-verify     rhash --skip-ok -c LIST.sfv > /dev/null
#   korvane-md5-create   korvane -q -r -c LIST.md5 nFILES
#   korvane-md5-verify   korvane -q LIST.md5
#   md5sum-create        find nFILES -type f -print0 | xargs -0 md5sum > LIST.md5
#   md5sum-verify        md5sum --quiet -c LIST.md5
#
# Each job runs as `/usr/bin/time -f "%e %M %U %S" bash -c JOB`. The seconds
# shown are wall time from the shell's nanosecond clock around that call (%e
# has 10 ms steps, too coarse for the small trees); the peak is %M, the
# largest resident set of any one process of the job, in KiB (for a pipeline,
# of its largest member); "cpu" is %U + %S, the processor time of all its
# processes, which other work on the machine disturbs less than wall time
# (in 10 ms steps: coarse for 10,000 files).
# Medians of the runs, separately for each figure.
#
# The tables (Markdown): every job's seconds, microseconds per file (wall and
# cpu) and peak per size; creation / verification per file for SFV and MD5
# (wall, and cpu in brackets); microseconds per file at the largest size / at
# the smallest; korvane / peer in wall time, cpu and peak at each size (below
# 1: korvane is faster or smaller). A run of 10^6 files takes about ten
# minutes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
binary=$here/build/release/bin/korvane
if [ $# -gt 0 ] && ! [[ $1 =~ ^[0-9]+$ ]]; then  # a leading number is a size
    binary=${1:-$binary}
    shift
fi
korvane=$(realpath "$binary")
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 1000000)
runs=${KORVANE_SCALE_RUNS:-3}
cache=${KORVANE_SCALE_DIR:-/var/tmp/korvane-scale}

for tool in rhash md5sum find xargs python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "missing: /usr/bin/time (apt-get install time)" >&2; exit 1; }
[ -x "$korvane" ] || { echo "no korvane binary at $korvane" >&2; exit 1; }
for n in "${sizes[@]}"; do
    [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "not a number of files: $n" >&2; exit 1; }
done

# shellcheck source=bench/common.sh
source "$here/bench/common.sh"

mkdir -p "$cache"
for n in "${sizes[@]}"; do make_tree "$n"; done
echo "trees in $cache (kept for the next run; remove the folder to reclaim the space)" >&2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$cache"

jobs=(walk korvane-sfv-create korvane-sfv-verify rhash-sfv-create rhash-sfv-verify
      korvane-md5-create korvane-md5-verify md5sum-create md5sum-verify)
command_of() {  # JOB N
    local d=n$2 k="'$korvane'" l="'$work'"
    case $1 in
        walk) echo "find $d -type f > /dev/null" ;;
        korvane-sfv-create) echo "$k -q -r -c $l/k.sfv $d" ;;
        korvane-sfv-verify) echo "$k -q -a $l/k.sfv" ;;
        rhash-sfv-create) echo "rhash --sfv -r $d > $l/r.sfv" ;;
        rhash-sfv-verify) echo "rhash --skip-ok -c $l/r.sfv > /dev/null" ;;
        korvane-md5-create) echo "$k -q -r -c $l/k.md5 $d" ;;
        korvane-md5-verify) echo "$k -q $l/k.md5" ;;
        md5sum-create) echo "find $d -type f -print0 | xargs -0 md5sum > $l/m.md5" ;;
        md5sum-verify) echo "md5sum --quiet -c $l/m.md5" ;;
    esac
}

# After a creation's warm-up run: its list holds one entry line per file.
check_list() {  # JOB N
    local list entries
    case $1 in
        korvane-sfv-create) list=k.sfv ;;
        rhash-sfv-create) list=r.sfv ;;
        korvane-md5-create) list=k.md5 ;;
        md5sum-create) list=m.md5 ;;
        *) return ;;
    esac
    entries=$(grep -c -v '^;' "$work/$list" || true)
    [ "$entries" -eq "$2" ] || { echo "$1: $entries entries for $2 files" >&2; exit 1; }
}


declare -A us peak cpu
for n in "${sizes[@]}"; do
    declare -A times=() peaks=() cpus=()
    for round in $(seq 0 "$runs"); do  # round 0 is the warm-up
        for job in "${jobs[@]}"; do
            run_once "$(command_of "$job" "$n")"
            if [ "$round" -eq 0 ]; then
                check_list "$job" "$n"
                continue
            fi
            times[$job]+="$run_us "
            peaks[$job]+="$run_peak "
            cpus[$job]+="$run_cpu "
        done
    done
    for job in "${jobs[@]}"; do
        # shellcheck disable=SC2086  # the samples are words
        us[$n/$job]=$(median ${times[$job]})
        # shellcheck disable=SC2086
        peak[$n/$job]=$(median ${peaks[$job]})
        # shellcheck disable=SC2086
        cpu[$n/$job]=$(median ${cpus[$job]})
    done
    echo "measured $n files" >&2
done

calc() { awk "BEGIN { $1 }"; }
# Figures by name: "us" (wall) or "cpu", in microseconds, keyed SIZE/JOB.
figure() { local -n table=$1; echo "${table[$2]}"; }
per_file() { calc "printf \"%.2f\", $(figure "${3:-us}" "$1/$2") / $1"; }  # N JOB [us|cpu]
ratio() { calc "if ($2 > 0) printf \"%.2f\", $1 / $2; else print \"-\""; }
per_file_ratio() {  # N1 JOB1 N2 JOB2 [us|cpu]: per-file time of the first / of the second
    local a b
    a=$(figure "${5:-us}" "$1/$2") b=$(figure "${5:-us}" "$3/$4")
    calc "if ($b > 0) printf \"%.2f\", ($a / $1) / ($b / $3); else print \"-\""
}
both_ratios() {  # N1 JOB1 N2 JOB2: "wall (cpu)"
    echo "$(per_file_ratio "$@" us) ($(per_file_ratio "$@" cpu))"
}

first=${sizes[0]} last=${sizes[-1]}
printf '\n## korvane at scale: median of %d runs, warm cache\n\n' "$runs"
printf 'korvane: %s; trees: %s; load before the tables: %s\n\n' "$korvane" "$cache" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '| files | job | seconds | us/file | cpu us/file | peak KiB |\n|---:|---|---:|---:|---:|---:|\n'
for n in "${sizes[@]}"; do
    for job in "${jobs[@]}"; do
        printf '| %s | %s | %s | %s | %s | %s |\n' "$n" "$job" \
            "$(calc "printf \"%.3f\", ${us[$n/$job]} / 1e6")" "$(per_file "$n" "$job")" \
            "$(per_file "$n" "$job" cpu)" "${peak[$n/$job]}"
    done
done

printf '\n### creation / verification, per file: wall (cpu)\n\n'
printf '| files | korvane SFV | rhash SFV | korvane MD5 | md5sum |\n|---:|---:|---:|---:|---:|\n'
for n in "${sizes[@]}"; do
    printf '| %s | %s | %s | %s | %s |\n' "$n" \
        "$(both_ratios "$n" korvane-sfv-create "$n" korvane-sfv-verify)" \
        "$(both_ratios "$n" rhash-sfv-create "$n" rhash-sfv-verify)" \
        "$(both_ratios "$n" korvane-md5-create "$n" korvane-md5-verify)" \
        "$(both_ratios "$n" md5sum-create "$n" md5sum-verify)"
done

if [ "$first" != "$last" ]; then
    printf '\n### us/file at %s files / at %s files: wall (cpu)\n\n' "$last" "$first"
    printf '| job | us/file at %s | us/file at %s | ratio |\n|---|---:|---:|---:|\n' "$first" "$last"
    for job in "${jobs[@]}"; do
        printf '| %s | %s | %s | %s |\n' "$job" "$(per_file "$first" "$job")" \
            "$(per_file "$last" "$job")" "$(both_ratios "$last" "$job" "$first" "$job")"
    done
fi

printf '\n### korvane / peer (below 1: korvane is faster or smaller)\n\n'
printf '| files | job | peer | wall | cpu | peak |\n|---:|---|---|---:|---:|---:|\n'
for n in "${sizes[@]}"; do
    for pair in sfv-create:rhash-sfv-create sfv-verify:rhash-sfv-verify \
                md5-create:md5sum-create md5-verify:md5sum-verify; do
        job=${pair%%:*} peer=${pair#*:}
        printf '| %s | %s | %s | %s | %s | %s |\n' "$n" "$job" "${peer%%-*}" \
            "$(ratio "${us[$n/korvane-$job]}" "${us[$n/$peer]}")" \
            "$(ratio "${cpu[$n/korvane-$job]}" "${cpu[$n/$peer]}")" \
            "$(ratio "${peak[$n/korvane-$job]}" "${peak[$n/$peer]}")"
    done
done
