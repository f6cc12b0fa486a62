# What the benchmark scripts share: the trees of small files they measure
# (built once into $cache and reused), one timed run of a job, and medians.
# The caller sets `cache` (the folder for trees) and `work` (a private folder).

# Writes N files of 100 bytes into the empty folder ROOT: an 11-digit serial
# number and a newline, then 88 bytes of a generator seeded by N, so no two
# files hold the same bytes and a rebuild is identical.
make_tree_files() {  # ROOT N
    python3 - "$1" "$2" <<'EOF'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
per = 1000
rng = random.Random(n)
flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_NOFOLLOW", 0)
for d in range((n + per - 1) // per):
    folder = os.path.join(root, "d%04d" % d)
    os.mkdir(folder)
    noise = rng.randbytes(88 * per)
    for f in range(min(per, n - d * per)):
        fd = os.open(os.path.join(folder, "f%04d" % f), flags, 0o644)
        os.write(fd, b"%011d\n" % (d * per + f) + noise[88 * f : 88 * f + 88])
        os.close(fd)
EOF
}

# Builds $cache/nN unless a complete one is there; a half-built tree from an
# interrupted run is removed first.
make_tree() {  # N
    local n=$1 partial
    [ -f "$cache/n$n.done" ] && [ -d "$cache/n$n" ] && return
    rm -rf "${cache:?}/n$n" "$cache/n$n.done"
    echo "building $cache/n$n ($n files)..." >&2
    partial=$(mktemp -d "$cache/n$n.partial.XXXXXX")
    make_tree_files "$partial" "$n"
    mv "$partial" "$cache/n$n"
    : > "$cache/n$n.done"
}

# Builds the data sets of compare.sh in DATA unless they are there: "big"
# (one file of 1 GiB), "small" (20,000 files of 4 KiB in 20 folders),
# "mixed" (about 2,000 files from 1 KiB to 16 MiB, sizes spread evenly on a
# log scale); then reads them all into the page cache.
make_sets() {  # DATA "SET..."
    local data=$1 sets=$2 set
    mkdir -p "$data"
    if [[ " $sets " == *" big "* ]] && [ ! -f "$data/big/one.bin" ]; then
        mkdir -p "$data/big"
        head -c $((1024 * 1024 * 1024)) /dev/urandom > "$data/big/one.bin.part"
        mv "$data/big/one.bin.part" "$data/big/one.bin"
    fi
    if [[ " $sets " == *" small "* ]] && [ ! -f "$data/small.done" ]; then
        rm -rf "$data/small"
        for d in $(seq -w 1 20); do
            mkdir -p "$data/small/d$d"
            head -c $((1000 * 4096)) /dev/urandom | split -b 4096 -a 3 - "$data/small/d$d/f"
        done
        : > "$data/small.done"
    fi
    if [[ " $sets " == *" mixed "* ]] && [ ! -f "$data/mixed.done" ]; then
        rm -rf "$data/mixed"
        local i=0 size
        for d in $(seq -w 1 40); do
            mkdir -p "$data/mixed/d$d"
            for f in $(seq -w 1 50); do
                size=$(( 1024 << (i % 15) ))
                head -c "$size" /dev/urandom > "$data/mixed/d$d/f$f"
                i=$((i + 1))
            done
        done
        : > "$data/mixed.done"
    fi
    for set in $sets; do
        find "$data/$set" -type f -print0 | xargs -0 cat > /dev/null
    done
}

# Runs a job once; sets run_us to its wall time in microseconds, run_cpu to its
# processor time in microseconds and run_peak to its peak in KiB.
run_once() {  # COMMAND
    local t0 t1
    t0=$(date +%s%N)
    if ! /usr/bin/time -f '%e %M %U %S' -o "$work/time" bash -c "$1" > "$work/out" 2>&1; then
        echo "failed: $1" >&2
        cat "$work/out" "$work/time" >&2
        exit 1
    fi
    t1=$(date +%s%N)
    run_peak=$(tail -n 1 "$work/time" | awk '{ print $2 }')
    run_cpu=$(tail -n 1 "$work/time" | awk '{ printf "%d", ($3 + $4) * 1e6 }')
    run_us=$(( (t1 - t0) / 1000 ))
}

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# Times every job of the array `jobs` (its command from `command_of JOB`): one
# untimed warm-up round, then $runs rounds, the rounds going round the jobs in
# turn so that load from elsewhere falls on all alike. Sets the associative
# arrays us, cpu and peak to each job's medians (microseconds of wall time and
# of processor time, KiB). A failing job stops the script (run_once).
measure_jobs() {
    declare -gA us=() cpu=() peak=()
    local -A times=() cpus=() peaks=()
    local round job
    for round in $(seq 0 "$runs"); do
        for job in "${jobs[@]}"; do
            run_once "$(command_of "$job")"
            [ "$round" -eq 0 ] && continue
            times[$job]+="$run_us "
            cpus[$job]+="$run_cpu "
            peaks[$job]+="$run_peak "
        done
    done
    for job in "${jobs[@]}"; do
        # shellcheck disable=SC2086  # the samples are words
        us[$job]=$(median ${times[$job]})
        # shellcheck disable=SC2086
        cpu[$job]=$(median ${cpus[$job]})
        # shellcheck disable=SC2086
        peak[$job]=$(median ${peaks[$job]})
    done
}
