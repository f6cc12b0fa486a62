#!/usr/bin/env bash
# The shell completions against the program they complete.
#   completions_test.sh bash|zsh|fish COMPLETIONS_DIR KORVANE
# Every option and -t word the program's usage text lists must be offered;
# checksum lists must be offered where a list is expected and every file
# elsewhere. bash and fish are driven as a user's Tab would drive them; zsh
# is syntax-checked and its option table compared with the usage text.
# Exits 77 (skipped) when the shell is not installed.
set -uo pipefail
shell=$1 dir=$(cd "$2" && pwd) korvane=$3
command -v "$shell" >/dev/null || { echo "$shell not installed: skipped"; exit 77; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect WHAT EXPECTED ACTUAL: both are lists, one item a line, in any order.
expect() {
    local want got
    want=$(sort <<<"$2") got=$(sort <<<"$3")
    [[ $want == "$got" ]] || fail "$1: expected [${want//$'\n'/|}], got [${got//$'\n'/|}]"
}

usage=$("$korvane" --help) || { echo "korvane --help failed"; exit 1; }
# "-a, --all   ..." and "    --audit   ...": the options as the usage lists them.
options=$(grep -oE '^(-[A-Za-z], | +)--[a-z-]+' <<<"$usage" | tr -d ',' | tr ' ' '\n' | grep .)
# "TYPE is sfv, md5, sha1, sha256, ... or xxh128"
types=$(sed -n 's/.*TYPE is //p' <<<"$usage" | sed 's/,//g; s/ or / /' | tr ' ' '\n' | grep .)
[[ $(wc -l <<<"$options") -ge 20 && $(wc -l <<<"$types") -ge 9 ]] ||
    { echo "usage text not understood: $options / $types"; exit 1; }

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch a.sfv B.MD5 c.sha256sum d.Sha1 e.MD5SUM SHA512SUMS md5sums 'my list.sfv' notes.txt a.sfv.txt \
    f.B3 g.blake3 B3SUMS blake3sums h.XXH3 i.xxhsum
mkdir sub
lists=$'a.sfv\nB.MD5\nc.sha256sum\nd.Sha1\ne.MD5SUM\nSHA512SUMS\nmd5sums\nmy list.sfv\nsub\nf.B3\ng.blake3\nB3SUMS\nblake3sums\nh.XXH3\ni.xxhsum'
files=$'a.sfv\nB.MD5\nc.sha256sum\nd.Sha1\ne.MD5SUM\nSHA512SUMS\nmd5sums\nmy list.sfv\nnotes.txt\na.sfv.txt\nsub\nf.B3\ng.blake3\nB3SUMS\nblake3sums\nh.XXH3\ni.xxhsum'

test_bash() {
    # shellcheck source=/dev/null
    source "$dir/korvane.bash" || { fail "sourcing korvane.bash"; return; }
    [[ $(complete -p korvane) == *"-F _korvane korvane" ]] || fail "complete -p: $(complete -p korvane)"
    # complete WORD...: the replies to Tab after the words (the last one is
    # the word being completed), split at "=" as bash splits by default.
    complete_words() {
        COMP_WORDS=(korvane "$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _korvane 2>/dev/null
        printf '%s\n' "${COMPREPLY[@]}" | sed 's/=$//' | grep .
    }
    local offered missing
    offered=$(complete_words -)
    missing=$(grep -vxF -f <(printf '%s\n' "$offered") <<<"$options")
    [[ -z $missing ]] || fail "options not offered: ${missing//$'\n'/ }"
    expect "--re" $'--recursive\n--record-times\n--results' "$(complete_words --re)"
    expect "-t" "$types" "$(complete_words -t '')"
    expect "--type=" "$types" "$(complete_words --type = '')"
    expect "-t=s" $'sfv\nsha1\nsha256\nsha512' "$(complete_words -t = s)"
    expect "list to verify" "$lists" "$(complete_words '')"
    expect "list after -t" "$lists" "$(complete_words -t md5 '')"
    expect "list after -q -r" "$lists" "$(complete_words -q -r '')"
    expect "-c" "$lists" "$(complete_words -c '')"
    expect "--create=" "$lists" "$(complete_words --create = '')"
    expect "--update=" "$lists" "$(complete_words --update = '')"
    expect "files after -c LIST" "$files" "$(complete_words -c out.sfv '')"
    expect "files after --create=LIST" "$files" "$(complete_words --create = out.md5 '')"
    expect "files after the list" "$files" "$(complete_words -u a.sfv '')"
    expect "-p" "sub" "$(complete_words -p '')"
    expect "list by prefix" $'my list.sfv\nmd5sums' "$(complete_words m)"
    # Without "=" as a word break the value stays in the word.
    COMP_WORDBREAKS=${COMP_WORDBREAKS//=/}
    expect "--type=sha2 unsplit" "--type=sha256" "$(complete_words --type=sha2)"
}

test_fish() {
    fish -n "$dir/korvane.fish" || { fail "fish -n"; return; }
    # complete_line LINE: what fish offers for the command line, values only.
    complete_line() {
        fish -N -c "source '$dir/korvane.fish'; complete -C'$1'" | cut -f1 | sed 's|/$||'
    }
    local offered missing
    offered=$(complete_line 'korvane -'; complete_line 'korvane --')
    missing=$(grep -vxF -f <(printf '%s\n' "$offered") <<<"$options")
    [[ -z $missing ]] || fail "options not offered: ${missing//$'\n'/ }"
    expect "-t" "$types" "$(complete_line 'korvane -t ')"
    expect "list to verify" "$lists" "$(complete_line 'korvane ')"
    expect "-c" "$lists" "$(complete_line 'korvane -c ')"
    expect "files after -c LIST" "$files" "$(complete_line 'korvane -c out.sfv ')"
    expect "files after the list" "$files" "$(complete_line 'korvane a.sfv ')"
}

test_zsh() {
    zsh -n "$dir/_korvane" || { fail "zsh -n"; return; }
    local option
    for option in $options; do
        grep -qE -- "[{,'()]$option[]},=[-]" "$dir/_korvane" || fail "option missing: $option"
    done
    grep -qF "($(tr '\n' ' ' <<<"$types" | sed 's/ $//'))" "$dir/_korvane" || fail "-t words differ"
}

"test_$shell"
if ((failures > 0)); then
    echo "$failures failures"
    exit 1
fi
echo "$shell completion: ok"
