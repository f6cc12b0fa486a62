#!/usr/bin/env bash
# Runs sharded verification and creation under real schedulers on this machine
# and checks that merging the shards gives what one single run gives: a
# single-node Slurm started here from Debian's packages (sbatch job arrays with
# --shard=auto), and GNU parallel (--shard={#}/4, and --shard=auto through
# PARALLEL_SEQ). Also lints the Kubernetes indexed Job example. Run as root on
# Debian 12 (packages it lacks are installed with apt-get):
#   scripts/test-cluster.sh [KORVANE] [--engines-only]
# KORVANE is the program (default: build/release/bin/korvane). --engines-only
# runs only the schedulers' own sanity jobs and the lint, not korvane.
# Prints PASS or FAIL per check; exits with 1 when any check failed.
set -euo pipefail
repo=$(realpath -- "$(dirname "$0")/..")

korvane=$repo/build/release/bin/korvane
engines_only=false
for arg in "$@"; do
    case $arg in
        --engines-only) engines_only=true ;;
        -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) korvane=$arg ;;
    esac
done
korvane=$(realpath -m -- "$korvane")
cd "$repo"

# --- korvane's commands -------------------------------------------------------
# Every command runs in $root, where the listed names (tree/...) resolve. The
# shard commands are shell text because the schedulers run them in their own
# shells: SHARD and RESULTS are inserted as they are, so that the engines'
# placeholders ({#}, $SLURM_ARRAY_TASK_ID) expand in the task.

verify_shard_text() {  # SHARD RESULTS LIST
    printf 'cd %q && exec %q --shard=%s --results=%s %q' "$root" "$korvane" "$1" "$2" "$3"
}
create_shard_text() {  # SHARD PART
    printf 'cd %q && exec %q --shard=%s -c %s -r tree' "$root" "$korvane" "$1" "$2"
}
verify_single() {  # LIST
    (cd "$root" && timeout 300 "$korvane" "$1")
}
verify_merge() {  # LIST RESULTS...
    (cd "$root" && timeout 300 "$korvane" --merge "$@")
}
create_single() {  # LIST
    (cd "$root" && timeout 300 "$korvane" -c "$1" -r tree)
}
create_merge() {  # LIST PART...
    local list=$1
    shift
    (cd "$root" && timeout 300 "$korvane" --merge -c "$list" "$@")
}

# --- reporting ----------------------------------------------------------------
failures=0
checks=0
pass() { checks=$((checks + 1)); echo "PASS: $1"; }
fail() {
    checks=$((checks + 1)); failures=$((failures + 1))
    echo "FAIL: $1"
    [ $# -lt 2 ] || printf '%s\n' "$2" | head -n 40 | sed 's/^/    /'
}
note() { echo "---- $*"; }
# Seconds since START (date +%s%N), to two places.
since() { awk -v a="$1" -v b="$(date +%s%N)" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }

# Waits up to SECONDS for COMMAND to succeed, polling every 0.2 s.
wait_for() {  # SECONDS COMMAND...
    local deadline=$(($(date +%s) + $1))
    shift
    rm -f "$T/dead"
    until "$@"; do
        [ ! -e "$T/dead" ] && [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

# Fails at once when the process PID is gone; else runs COMMAND. For
# wait_for, so that a daemon that died is not waited for.
alive_and() {  # PID COMMAND...
    kill -0 "$1" 2>/dev/null || { touch "$T/dead"; return 1; }
    shift
    "$@"
}

# --- what this needs ----------------------------------------------------------
[ "$(id -u)" = 0 ] || { echo "run as root: Slurm and munge are started here" >&2; exit 2; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for pkg in slurm-wlm munge parallel yamllint; do
    have_pkg "$pkg" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    # yamllint is optional: its lint is skipped when it cannot be had.
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            slurm-wlm munge parallel >/dev/null
fi
if ! $engines_only && [ ! -x "$korvane" ]; then
    echo "no program at $korvane (build it: cmake --build --preset release --target korvane)" >&2
    exit 2
fi

T=$(mktemp -d)
# munged runs as munge and must reach its folder below this one: when a
# folder above $TMPDIR keeps it out, /tmp does not.
chmod 0711 "$T"
if ! setpriv --reuid=munge --regid=munge --clear-groups -- test -x "$T"; then
    rmdir "$T"
    T=$(mktemp -d -p /tmp)
    chmod 0711 "$T"
fi
root=$T/work
mkdir -p "$root/out"
# The settings and tags of these runs stay here, not in root's home.
export XDG_CONFIG_HOME=$T/config
shard_output=$T/none   # where the last shards' console output went
daemons=()   # the process ids of what this started, stopped in this order's reverse

# --- cleanup ------------------------------------------------------------------
stop_pid() {  # PID
    local pid=$1 i
    kill -TERM "$pid" 2>/dev/null || return 0
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.2
    done
    kill -KILL "$pid" 2>/dev/null || true
}
# The step daemons slurmd started for jobs here: they outlive slurmd.
our_stepds() {
    local pid
    for pid in $(pgrep -x slurmstepd || true); do
        grep -qsF "$T/" "/proc/$pid/environ" "/proc/$pid/cmdline" && echo "$pid"
    done
    return 0
}
cleanup() {
    local status=$? i pid
    set +e
    if [ -n "${SLURM_CONF:-}" ] && [ ${#daemons[@]} -gt 0 ]; then
        timeout 10 scancel --user=root >/dev/null 2>&1
        wait_for 15 slurm_queue_empty
    fi
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
        stop_pid "${daemons[i]}"
    done
    for pid in $(our_stepds); do
        stop_pid "$pid"
    done
    if [ "$status" -ne 0 ] || [ "$failures" -ne 0 ]; then
        show_logs
    fi
    if ! rm -rf "$T" 2>/dev/null; then
        sleep 1
        rm -rf "$T" || echo "could not remove $T" >&2
    fi
    exit "$status"
}
trap cleanup EXIT
set -E
trap 'echo "stopped: line $LINENO: $BASH_COMMAND failed" >&2' ERR
trap 'exit 130' INT TERM

show_logs() {
    local log
    for log in "$T"/munge/munged.out "$T"/slurm/*.log "$T"/slurm/kill/*.out; do
        [ -s "$log" ] || continue
        echo "==== last lines of $log"
        tail -n 30 "$log"
    done
}

# --- trees and lists ----------------------------------------------------------
# ROOT/tree: 20,000 files in nested folders, sizes from 0 bytes to 60 KiB
# (each folder split into pieces of one size, its last piece shorter), plus
# names with a blank and with non-ASCII bytes.
make_tree() {
    local sizes=(1 37 512 1000 4096 4097 20000 61440) i=0 size dir
    for size in "${sizes[@]}"; do
        i=$((i + 1))
        dir=$root/tree/d$i/sub$((i % 3))
        mkdir -p "$dir"
        head -c $((size * 2500 - size / 2)) /dev/urandom | split -b "$size" -a 4 - "$dir/f"
    done
    : > "$root/tree/d1/empty"
    echo "a blank" > "$root/tree/d2/with blank.txt"
    echo "latin" > "$root/tree/d3/$(printf 'caf\303\251')"
    rm -f "$root/tree/d8/sub2/faaaa" "$root/tree/d8/sub2/faaab" "$root/tree/d8/sub2/faaac"
    find "$root/tree" -type f -print0 | xargs -0 cat > /dev/null
}

# ROOT/kill: a few hundred small files and one sparse file of 64 GiB that no
# shard reads to its end before it is stopped; its MD5 list out/kill.md5 names
# the big file last, with a digest nobody computes.
make_kill_tree() {
    mkdir -p "$root/kill"
    head -c $((400 * 1000)) /dev/urandom | split -b 1000 -a 3 - "$root/kill/k"
    (cd "$root" && "$korvane" -c out/kill.md5 -r kill > /dev/null)
    truncate -s 64G "$root/kill/zz-huge"
    printf '%s *kill/zz-huge\r\n' 00000000000000000000000000000000 >> "$root/out/kill.md5"
}

# Restores out/list.sfv from the pristine copy: a verification writes its tag
# into the list, and each run here starts from the same list.
fresh_list() { cp "$root/out/pristine.sfv" "$root/out/list.sfv"; }

# The list's lines without its comment lines (header, records, tag).
entries() { grep -av '^;' "$1"; }

# --- checks on korvane's results (engine-independent) ------------------------
# A single run of out/list.sfv, from the pristine list: its standard output in
# out/single.txt, its exit status in single_status, its tag lines counted in
# single_tags.
run_single() {
    fresh_list
    single_status=0
    verify_single out/list.sfv > "$root/out/single.txt" 2> "$root/out/single.err" ||
        single_status=$?
    single_tags=$(grep -c '^;K2-' "$root/out/list.sfv" || true)
}

# True when RES holds res.1 ... res.4, none of them empty.
results_written() {  # RES
    local k
    for k in 1 2 3 4; do
        [ -s "$1/res.$k" ] || return 1
    done
}

# Runs the verification shards with RUN_SHARDS (which fills RES) from the
# pristine list, then merges them and compares the merge with a single run:
# standard output byte for byte, the exit status (which must be WANT), and the
# tag, which only the merge writes. Returns 1 when the shards did not leave
# four results.
check_verify() {  # ENGINE RUN_SHARDS RES WANT
    local engine=$1 run=$2 res=$3 want=$4 got=0
    run_single
    [ "$single_status" = "$want" ] ||
        fail "$engine: a single run exits with $want" "it exited with $single_status"
    fresh_list
    rm -rf "$res"
    mkdir -p "$res"
    if ! "$run" "$res" || ! results_written "$res"; then
        fail "$engine: four verification shards ran and wrote their results" \
            "$(ls -l "$res"; tail -n 5 "$shard_output"/*)"
        return 1
    fi
    pass "$engine: four verification shards ran and wrote their results"
    # Each shard prints its files' lines as a run does; together they are the
    # single run's lines, in some order.
    if cmp -s <(grep -a '^tree/' "$root/out/single.txt" | sort) \
        <(grep -ah '^tree/' "$shard_output"/* | sort); then
        pass "$engine: the shards' file lines together are the single run's"
    else
        fail "$engine: the shards' file lines together are the single run's" \
            "$(diff <(grep -a '^tree/' "$root/out/single.txt" | sort) \
                <(grep -ah '^tree/' "$shard_output"/* | sort) | head -n 10)"
    fi
    if cmp -s "$root/out/pristine.sfv" "$root/out/list.sfv"; then
        pass "$engine: the shards leave the list as it was"
    else
        fail "$engine: the shards leave the list as it was" \
            "$(diff -a "$root/out/pristine.sfv" "$root/out/list.sfv" | head -n 5)"
    fi
    verify_merge out/list.sfv "$res"/res.{1..4} > "$root/out/merge.txt" 2> "$root/out/merge.err" ||
        got=$?
    if [ "$got" = "$single_status" ] && cmp -s "$root/out/single.txt" "$root/out/merge.txt"; then
        pass "$engine: the merge prints what a single run prints, exit status $got"
    else
        fail "$engine: the merge prints what a single run prints (exit status $single_status)" \
            "merge's exit status $got; diff single merge:
$(diff -a "$root/out/single.txt" "$root/out/merge.txt" | head -n 20)
$(head -n 10 "$root/out/merge.err")"
    fi
    local merge_tags
    merge_tags=$(grep -c '^;K2-' "$root/out/list.sfv" || true)
    if [ "$merge_tags" = "$single_tags" ]; then
        pass "$engine: the merge writes the tag as a single run does ($merge_tags tag lines)"
    else
        fail "$engine: the merge writes the tag as a single run does" \
            "single run: $single_tags tag lines, merge: $merge_tags"
    fi
}

# A merge that must fail: an exit status other than a verification's 0 and 1,
# and a message naming the shard K.
check_merge_fails() {  # WHAT K LIST RESULTS...
    local what=$1 k=$2 status=0
    shift 2
    verify_merge "$@" > "$root/out/bad.txt" 2> "$root/out/bad.err" || status=$?
    if [ "$status" -eq 0 ] || [ "$status" -eq 1 ]; then
        fail "$what: the merge fails" "exit status $status (0 and 1 are a verification's results)
$(head -n 5 "$root/out/bad.err")"
    elif grep -Eqi "(shard|res\.)[^0-9]*$k([^0-9]|$)" "$root/out/bad.err" "$root/out/bad.txt"; then
        pass "$what: the merge fails (exit status $status) naming shard $k"
    else
        fail "$what: the merge's message names shard $k" \
            "$(head -n 5 "$root/out/bad.err" "$root/out/bad.txt")"
    fi
}

# The ways a set of results can lack a shard: a file deleted, a file cut short
# (as a task killed while writing leaves it); and one shard given twice.
check_broken_sets() {  # ENGINE RES
    local engine=$1 res=$2 bad=$root/out/bad-results
    rm -rf "$bad"
    cp -r "$res" "$bad"
    fresh_list
    check_merge_fails "$engine: results of shard 3 left out" 3 out/list.sfv "$bad"/res.{1,2,4}
    truncate -s $(($(stat -c %s "$bad/res.3") / 2)) "$bad/res.3"
    check_merge_fails "$engine: results of shard 3 cut in half" 3 out/list.sfv "$bad"/res.{1..4}
    check_merge_fails "$engine: shard 2 given twice" 2 out/list.sfv "$bad"/res.{1,2,2,4}
}

# Creation: the merged parts in folder PARTS (part.1.EXT ...) against a single
# creation of the same type, compared without their comment lines (SFV's
# header and records, MD5's header: both carry the time of the run).
check_create_merge() {  # ENGINE PARTS EXT
    local engine=$1 parts=$2 ext=$3 status=0
    local single=out/single-create.$ext merged=out/merged.$ext
    rm -f "$root/$single" "$root/$merged"
    create_single "$single" > /dev/null 2> "$root/out/create.err" ||
        { fail "$engine: single creation ($ext)" "$(cat "$root/out/create.err")"; return; }
    create_merge "$merged" "$parts"/part.{1..4}."$ext" > /dev/null 2> "$root/out/create.err" ||
        status=$?
    if [ "$status" -ne 0 ]; then
        fail "$engine: creation merge ($ext) succeeds" "status $status: $(cat "$root/out/create.err")"
    elif cmp -s <(entries "$root/$single") <(entries "$root/$merged") &&
        [ "$(grep -ac '^;' "$root/$single")" = "$(grep -ac '^;' "$root/$merged")" ]; then
        pass "$engine: the merged $ext list is the single creation's but for its time lines"
    else
        fail "$engine: the merged $ext list is the single creation's" \
            "$(diff <(sed 's/^; Generated by.*//' "$root/$single") \
                <(sed 's/^; Generated by.*//' "$root/$merged") | head -n 20)"
    fi
    if [ "$ext" = sfv ] && cmp -s <(grep -a '^;  ' "$root/$single" | sed 's/^\(.\{13\}\).\{19\}/\1/') \
        <(grep -a '^;  ' "$root/$merged" | sed 's/^\(.\{13\}\).\{19\}/\1/'); then
        pass "$engine: the merged SFV records name the same files and sizes in the same order"
    elif [ "$ext" = sfv ]; then
        fail "$engine: the merged SFV records name the same files and sizes in the same order"
    fi
}

# Damages one file (same size, one byte changed) and checks that the merge of
# shards run by RUN_SHARDS reports the mismatch as a single run does.
check_damage() {  # ENGINE RUN_SHARDS RES
    local engine=$1 run=$2 res=$3 victim=$root/tree/d5/sub2/faabc saved=$T/saved-victim
    cp -p "$victim" "$saved"
    printf '\377' | dd of="$victim" bs=1 seek=7 conv=notrunc status=none
    cmp -s "$victim" "$saved" && printf '\001' | dd of="$victim" bs=1 seek=7 conv=notrunc status=none
    if check_verify "$engine, one file damaged" "$run" "$res" 1; then
        if grep -aq 'tree/d5/sub2/faabc' "$root/out/merge.txt"; then
            pass "$engine: the merge names the damaged file"
        else
            fail "$engine: the merge names the damaged file" "$(tail -n 5 "$root/out/merge.txt")"
        fi
    fi
    cp -p "$saved" "$victim"
}

# --- Slurm ----------------------------------------------------------------------
# A free TCP port on this machine, from 20000 to 39999.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 20000))
        (exec 3<> "/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
}

start_munge() {
    local m=$T/munge
    # The socket's folder must let every client through.
    mkdir -m 0711 "$m"
    dd if=/dev/urandom of="$m/munge.key" bs=1024 count=1 status=none
    chmod 0400 "$m/munge.key"
    chown -R munge:munge "$m"
    setpriv --reuid=munge --regid=munge --init-groups -- \
        munged --foreground --socket="$m/munge.socket" --key-file="$m/munge.key" \
        --log-file="$m/munged.log" --pid-file="$m/munged.pid" --seed-file="$m/munged.seed" \
        > "$m/munged.out" 2>&1 &
    daemons+=($!)
    if ! wait_for 20 alive_and "${daemons[-1]}" test -S "$m/munge.socket"; then
        fail "munged starts" "$(cat "$m/munged.out")"
        return 1
    fi
    if munge --socket="$m/munge.socket" -n < /dev/null |
        unmunge --socket="$m/munge.socket" > /dev/null 2>&1; then
        pass "munged starts and a credential round-trips"
    else
        fail "munge credential round-trip" "$(cat "$m/munged.out")"
        return 1
    fi
}

write_slurm_conf() {
    local s=$T/slurm node=$1 mem
    mem=$(awk '/^MemTotal:/ { m = int($2 / 1024 / 2); print (m > 1024 ? 1024 : m) }' /proc/meminfo)
    mkdir -p "$s/state" "$s/spool"
    cat > "$s/slurm.conf" <<EOF
ClusterName=korvanetest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$T/munge/munge.socket
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/slurmctld.log
SlurmdLogFile=$s/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
SchedulerParameters=batch_sched_delay=0,sched_min_interval=100000
ReturnToService=2
MailProg=/bin/true
KillWait=2
InactiveLimit=0
MinJobAge=300
NodeName=$node NodeAddr=127.0.0.1 CPUs=2 RealMemory=$mem State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
    export SLURM_CONF=$s/slurm.conf
}

slurm_node_idle() { [ "$(sinfo -h -n "$slurm_node" -o %t 2>/dev/null)" = idle ]; }
slurm_queue_empty() { [ -z "$(squeue -h -o %i 2>/dev/null)" ]; }

start_slurm() {
    local t0 s=$T/slurm
    t0=$(date +%s%N)
    slurm_node=$(hostname -s)
    start_munge || return 1
    write_slurm_conf "$slurm_node"
    # Their messages go to their log files (shown on failure).
    slurmctld -D -i -f "$SLURM_CONF" > /dev/null 2>&1 &
    daemons+=($!)
    slurmd -D -f "$SLURM_CONF" -N "$slurm_node" > /dev/null 2>&1 &
    daemons+=($!)
    if wait_for 60 slurm_node_idle; then
        pass "Slurm starts: node $slurm_node idle after $(since "$t0") s"
    else
        fail "Slurm starts: node idle within 60 s" "$(sinfo -N -l 2>&1)"
        return 1
    fi
}

# Runs an array job (ARRAY, e.g. 1-4) of the shell text TEXT and waits for it,
# five minutes at most; the tasks' output goes to $T/slurm/NAME/<task>.out.
sbatch_array() {  # NAME ARRAY TEXT
    shard_output=$T/slurm/$1
    rm -rf "$shard_output"
    mkdir -p "$shard_output"
    timeout 300 sbatch --quiet --wait --job-name="$1" --array="$2" --ntasks=1 --cpus-per-task=1 \
        --time=10 \
        --chdir="$root" --output="$shard_output/%a.out" --wrap="$3"
}

slurm_sanity() {
    local t0 out=$root/out/slurm-sanity task
    mkdir -p "$out"
    t0=$(date +%s%N)
    if ! sbatch_array sanity 1-4 "echo \$SLURM_ARRAY_TASK_ID \$SLURM_ARRAY_TASK_MIN \$SLURM_ARRAY_TASK_MAX \$SLURM_ARRAY_TASK_STEP \$SLURM_ARRAY_TASK_COUNT > $out/out.\$SLURM_ARRAY_TASK_ID"; then
        fail "Slurm: array of 4 trivial tasks"
        return 1
    fi
    for task in 1 2 3 4; do
        if [ "$(cat "$out/out.$task" 2>/dev/null)" != "$task 1 4 1 4" ]; then
            fail "Slurm: task $task saw its array variables" "$(cat "$out/out.$task" 2>&1)"
            return 1
        fi
    done
    pass "Slurm: array of 4 trivial tasks ran in $(since "$t0") s, each with its array variables"
    if sbatch_array failing 1-2 "exit \$((SLURM_ARRAY_TASK_ID - 1))"; then
        fail "Slurm: sbatch --wait reports a failed task"
    else
        pass "Slurm: sbatch --wait reports a failed task"
    fi
}

# Verification shards as an array; RES gets res.1 ... res.4. ARRAY defaults to
# 1-4; with 0-6:2 the shard numbers come from the minimum and the step.
slurm_verify_shards() {  # RES [ARRAY]
    local array=${2:-1-4}
    # shellcheck disable=SC2016  # expanded in the task
    local k='$(((SLURM_ARRAY_TASK_ID - SLURM_ARRAY_TASK_MIN) / SLURM_ARRAY_TASK_STEP + 1))'
    sbatch_array verify "$array" "$(verify_shard_text auto "$1/res.$k" out/list.sfv)" ||
        [ $? -eq 1 ]   # a verification that found a mismatch exits with 1
}
slurm_verify_shards_stepped() { slurm_verify_shards "$1" 0-6:2; }
slurm_create_shards() {  # PARTS EXT
    sbatch_array create 1-4 "$(create_shard_text auto "$1/part.\$SLURM_ARRAY_TASK_ID.$2")"
}

# The shard of the big file is cancelled while it reads, the others finish.
slurm_kill_one() {
    local res=$root/out/slurm-kill job running
    mkdir -p "$res" "$T/slurm/kill"
    job=$(sbatch --parsable --job-name=kill --array=1-4 --chdir="$root" \
        --output="$T/slurm/kill/%a.out" --time=10 \
        --wrap="$(verify_shard_text auto "$res/res.\$SLURM_ARRAY_TASK_ID" out/kill.md5)")
    # Three tasks finish in a moment; the fourth reads 64 GiB.
    # shellcheck disable=SC2317  # called through wait_for
    one_left() {
        running=$(squeue -h -j "$job" -o '%K %T' 2>/dev/null)
        [ "$(wc -l <<< "$running")" = 1 ] && [[ $running == *RUNNING* ]]
    }
    if ! wait_for 120 one_left; then
        fail "Slurm: three of four shards of the big tree finish" "$(squeue -j "$job" 2>&1)"
        scancel "$job"
        return
    fi
    sleep 1
    local task=${running%% *}
    check_merge_fails "Slurm: shard $task still running" "$task" out/kill.md5 "$res"/res.{1..4}
    scancel "${job}_$task"
    wait_for 30 slurm_queue_empty || true
    check_merge_fails "Slurm: shard $task cancelled while it read" "$task" out/kill.md5 "$res"/res.{1..4}
}

# --- GNU parallel -----------------------------------------------------------------
# Four tasks on two local job slots; with "auto" the shard comes from
# PARALLEL_SEQ and KORVANE_SHARDS. TEXT holds the korvane command.
parallel4() {  # TEXT
    shard_output=$root/out/parallel
    rm -rf "$shard_output"
    mkdir -p "$shard_output"
    timeout 300 parallel --will-cite -j2 --halt never "$1" ::: 1 2 3 4 \
        > "$shard_output/stdout" 2> "$shard_output/stderr"
}

parallel_sanity() {
    local out=$root/out/parallel-sanity t0
    mkdir -p "$out"
    t0=$(date +%s%N)
    if parallel4 "echo {#} \$PARALLEL_SEQ > $out/out.{#}" &&
        [ "$(cat "$out"/out.{1..4} | tr '\n' ' ')" = "1 1 2 2 3 3 4 4 " ]; then
        pass "GNU parallel: 4 trivial tasks on 2 slots ran in $(since "$t0") s, each with its sequence number"
    else
        fail "GNU parallel: 4 trivial tasks, each with its sequence number" "$(cat "$out"/out.* 2>&1)"
    fi
}

parallel_verify_shards() {  # RES
    parallel4 "$(verify_shard_text '{#}/4' "$1/res.{#}" out/list.sfv)" || [ $? -eq 1 ]
}
parallel_verify_shards_auto() {  # RES
    KORVANE_SHARDS=4 parallel4 "$(verify_shard_text auto "$1/res.\$PARALLEL_SEQ" out/list.sfv)" ||
        [ $? -eq 1 ]
}
parallel_create_shards() {  # PARTS EXT
    parallel4 "$(create_shard_text '{#}/4' "$1/part.{#}.$2")"
}

# Shard 4 of the big tree is killed by timeout while it reads.
parallel_kill_one() {
    local res=$root/out/parallel-kill k status killed=()
    mkdir -p "$res"
    for k in 1 2 3 4; do
        status=0
        # In a subshell, so that no "Killed" notice reaches the output.
        (timeout -s KILL 3 bash -c "$(verify_shard_text "$k/4" "$res/res.$k" out/kill.md5)" \
            > /dev/null 2>&1; exit $?) 2> /dev/null || status=$?
        [ "$status" -ne 137 ] || killed+=("$k")
    done
    if [ ${#killed[@]} -ne 1 ]; then
        fail "GNU parallel: exactly one shard of the big tree is killed" "killed: ${killed[*]:-none}"
        return
    fi
    check_merge_fails "killed shard ${killed[0]} (timeout -s KILL)" "${killed[0]}" out/kill.md5 \
        "$res"/res.{1..4}
}

# --- Kubernetes indexed Job, its environment only ------------------------------------
# No cluster here: the four pods' environment (JOB_COMPLETION_INDEX from 0,
# KORVANE_SHARDS) is given to four local runs. The results are named from 1
# here, as every check here expects; the pods name them by their index.
k8s_verify_shards() {  # RES
    local i status=0
    shard_output=$root/out/k8s
    rm -rf "$shard_output"
    mkdir -p "$shard_output"
    for i in 0 1 2 3; do
        JOB_COMPLETION_INDEX=$i KORVANE_SHARDS=4 timeout 300 \
            bash -c "$(verify_shard_text auto "$1/res.$((i + 1))" out/list.sfv)" \
            > "$shard_output/$i.out" 2>&1 || [ $? -eq 1 ] || status=1
    done
    return $status
}

# --- one engine, every check ----------------------------------------------------
run_engine() {  # NAME PREFIX
    local name=$1 p=$2 parts ext
    if check_verify "$name" "${p}_verify_shards" "$root/out/$p-res" 0; then
        check_broken_sets "$name" "$root/out/$p-res"
    fi
    for ext in md5 sfv; do
        parts=$root/out/$p-parts-$ext
        rm -rf "$parts"
        mkdir -p "$parts"
        if "${p}_create_shards" "$parts" "$ext"; then
            check_create_merge "$name" "$parts" "$ext"
        else
            fail "$name: creation shards ($ext) ran" "$(ls -l "$parts")"
        fi
    done
    check_damage "$name" "${p}_verify_shards" "$root/out/$p-damaged"
    "${p}_kill_one"
}

# Results of another list (one more entry) are refused.
check_other_list() {
    local other=$root/out/other-res k
    mkdir -p "$other"
    cp "$root/out/pristine.sfv" "$root/out/other.sfv"
    printf 'extra.txt 00000000\r\n' >> "$root/out/other.sfv"
    for k in 1 2 3 4; do
        bash -c "$(verify_shard_text "$k/4" "$other/res.$k" out/other.sfv)" > /dev/null 2>&1 || true
    done
    fresh_list
    check_merge_fails "results of shard 2 of another list" 2 out/list.sfv \
        "$root/out/parallel-res"/res.1 "$other/res.2" "$root/out/parallel-res"/res.{3,4}
}

# --- Kubernetes example ---------------------------------------------------------
lint_k8s() {
    if ! command -v yamllint > /dev/null; then
        echo "SKIP: docs/k8s-indexed-job.yaml not linted (yamllint could not be installed)"
        return
    fi
    local outp
    if outp=$(yamllint -s -d '{extends: default, rules: {line-length: {max: 100}}}' \
        "$repo/docs/k8s-indexed-job.yaml" 2>&1); then
        pass "docs/k8s-indexed-job.yaml passes yamllint"
    else
        fail "docs/k8s-indexed-job.yaml passes yamllint" "$outp"
    fi
}

# --- main -----------------------------------------------------------------------
lint_k8s
parallel_sanity
slurm_ok=false
start_slurm && slurm_sanity && slurm_ok=true
if ! $engines_only; then
    t0=$(date +%s%N)
    make_tree
    (cd "$root" && "$korvane" -c out/pristine.sfv -r tree > /dev/null)
    make_kill_tree
    note "trees built in $(since "$t0") s: $(find "$root/tree" -type f | wc -l) files"
    run_engine "GNU parallel" parallel
    check_verify "GNU parallel, --shard=auto" parallel_verify_shards_auto \
        "$root/out/parallel-auto-res" 0 || true
    check_other_list
    check_verify "Kubernetes environment (JOB_COMPLETION_INDEX)" k8s_verify_shards \
        "$root/out/k8s-res" 0 || true
    if $slurm_ok; then
        run_engine "Slurm" slurm
        check_verify "Slurm, array 0-6:2" slurm_verify_shards_stepped "$root/out/slurm-step-res" 0 ||
            true
    fi
fi
echo
if [ "$failures" -eq 0 ]; then
    echo "cluster tests: all $checks checks passed"
else
    echo "cluster tests: $failures of $checks checks failed"
    exit 1
fi
