#!/bin/bash
# The whole run's progress line on a real terminal (a tmux pane): present
# while a slow run goes on, never wider than the pane, gone at the end, and
# the result lines intact. What is judged is the rendered screen, which is
# what the user sees. Skipped (77) where tmux is missing.
# Usage: progress_line_test.sh KORVANE
set -u
korvane=$1
command -v tmux > /dev/null || { echo "tmux missing: skipped"; exit 77; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/korvane-progress.XXXXXXXX")
socket="korvane-progress-$$"
cleanup() { tmux -L "$socket" kill-server 2> /dev/null; rm -rf "$dir"; }
trap cleanup EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*"; echo "--- screen"; cat "$dir/screen"; exit 1; }

width=80
long="a_file_whose_name_is_much_longer_than_the_pane_is_wide_$(printf 'x%.0s' {1..60}).bin"
mkdir "$dir/tree"
for i in $(seq -w 1 40); do head -c 20000 /dev/urandom > "$dir/tree/small$i"; done
# Sparse: gigabytes to hash for a few seconds, nothing on the disk.
truncate -s 1536M "$dir/tree/$long"
(cd "$dir/tree" && "$korvane" -q -T -t sha512 -c ../list.sha512 small* "$long") ||
    fail "creation of the list"

# Runs COMMAND in a pane of $width columns; captures the screen while it runs
# into $dir/seen (every capture), and the last screen into $dir/screen.
run_in_pane() {
    : > "$dir/seen"
    tmux -L "$socket" new-session -d -x "$width" -y 50 \
        "cd '$dir/tree' && $1; echo \"EXIT=\$?\"; sleep 600"
    for _ in $(seq 1 300); do
        tmux -L "$socket" capture-pane -p -J > "$dir/screen"
        cat "$dir/screen" >> "$dir/seen"
        grep -q '^EXIT=' "$dir/screen" && break
        sleep 0.1
    done
    tmux -L "$socket" capture-pane -p -J -S -200 > "$dir/screen"
    tmux -L "$socket" kill-server
}

status_line='^[0-9,]+ of [0-9,]+\+? files  '

# Verification: the line comes, with the byte total the list records and
# the long name shortened in its middle; the results are whole lines.
run_in_pane "'$korvane' -j 1 ../list.sha512"
grep -q '^EXIT=0$' "$dir/screen" || fail "verification did not pass"
grep -Eq "$status_line" "$dir/seen" || fail "no progress line while the run went on"
grep -Eq "$status_line.* of 1\.5 GiB" "$dir/seen" || fail "no byte total in the progress line"
grep -Eq "$status_line.*a_file_w.*\.\.\..*x\.bin [0-9]+%" "$dir/seen" ||
    fail "the long name is not shortened in the progress line"
# A progress line as wide as the pane would be the sign of one that wrapped
# (a result line with a long name may well wrap).
if grep -E "$status_line" "$dir/seen" |
    awk -v w="$width" 'length($0) >= w { bad = 1 } END { exit !bad }'; then
    fail "a progress line as wide as the pane"
fi
grep -Eq "$status_line" "$dir/screen" && fail "the progress line stayed at the end"
expected="$dir/expected"
{
    for i in $(seq -w 1 40); do echo "small$i: Ok"; done
    echo "$long: Ok"
    echo "41 files checked"
    echo "All files Ok"
    echo "EXIT=0"
} > "$expected"
grep -v '^$' "$dir/screen" | sed 's/ *$//' | diff -u "$expected" - > "$dir/diff" ||
    { cat "$dir/diff"; fail "the final screen is not the results"; }
# Every line seen while it ran is a result, a summary or the progress line.
sed 's/ *$//' "$dir/seen" | grep -v '^$' | grep -Ev "$status_line" |
    grep -vxFf "$expected" > "$dir/stray" && { cat "$dir/stray"; fail "stray text on the screen"; }

# Creation: the "100% complete" lines stay whole, the line goes at the end.
run_in_pane "'$korvane' -j 1 -t sha512 -c ../made.sha512 small* '$long'"
grep -q '^EXIT=0$' "$dir/screen" || fail "creation failed"
grep -Eq "$status_line" "$dir/seen" || fail "no progress line in the creation"
grep -Eq "$status_line" "$dir/screen" && fail "the progress line stayed after the creation"
{
    for i in $(seq -w 1 40); do echo "small$i: 100% complete"; done
    echo "$long: 100% complete"
    echo "EXIT=0"
} > "$expected"
grep -v '^$' "$dir/screen" | sed 's/ *$//' | diff -u "$expected" - > "$dir/diff" ||
    { cat "$dir/diff"; fail "the final screen is not the creation's lines"; }

# Quiet: no progress line at all.
run_in_pane "'$korvane' -j 1 -q ../list.sha512"
grep -Eq "$status_line" "$dir/seen" && fail "a progress line in a quiet run"
echo "ok"
