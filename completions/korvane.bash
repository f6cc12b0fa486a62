# bash completion for korvane                                -*- shell-script -*-
#
# Options as `korvane --help` lists them; the words -t takes; checksum lists
# (by the names korvane types them by) where a list is expected, any file
# elsewhere. A long option takes its value only after "=" (--create=FILE),
# a short one also as the next word (-c FILE).

_korvane_options='-a --all --doall --audit -c --create= --exclude= --files-from= -h --help
    --ignore-missing -j --jobs= --json --merge --null -p --parent= --prune -q --quiet
    -r --recursive --results= --shard= --status --strict -t --type= -T --record-times -u --update --update=
    -V --version -w --warn -x --one-file-system -z --zero'
_korvane_types='sfv md5 sha1 sha256 sha512 blake3 xxh64 xxh3 xxh128'

# Is $1 a name korvane takes as a checksum list? Extensions and bare names in
# any letter case, as korvane reads them.
_korvane_is_list() {
    local name=${1##*/}
    case ${name,,} in
    *.sfv | *.md5 | *.md5sum | *.sha1 | *.sha1sum | *.sha256 | *.sha256sum | *.sha512 | \
        *.sha512sum | *.b3 | *.blake3 | *.xxh64 | *.xxh3 | *.xxh128 | *.xxhsum | md5sums | \
        sha1sums | sha256sums | sha512sums | b3sums | blake3sums)
        return 0
        ;;
    esac
    return 1
}

# Checksum lists and folders (to walk into) that start with $1.
_korvane_lists() {
    local IFS=$'\n' candidate
    compopt -o filenames 2>/dev/null
    for candidate in $(compgen -f -- "$1"); do
        if [[ -d $candidate ]] || _korvane_is_list "$candidate"; then
            COMPREPLY+=("$candidate")
        fi
    done
}

_korvane_files() {
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -f -- "$1"))
}

# Completes the value $2 of option $1; fails for an option without a value.
_korvane_value() {
    local IFS=$'\n'
    case $1 in
    -c | --create | -u | --update) _korvane_lists "$2" ;;
    -t | --type) COMPREPLY+=($(IFS=' ' && compgen -W "$_korvane_types" -- "$2")) ;;
    -p | --parent)
        compopt -o filenames 2>/dev/null
        COMPREPLY+=($(compgen -d -- "$2"))
        ;;
    --files-from | --results) _korvane_files "$2" ;;
    --shard) COMPREPLY+=($(compgen -W "auto" -- "$2")) ;;
    -j | --jobs | --exclude) ;; # a number, a pattern: nothing to offer
    *) return 1 ;;
    esac
    return 0
}

# Whether the words before the current one name the list already: a creation
# target (-c), a list named with --update=, or a first file argument.
_korvane_list_named() {
    local i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
        -c | --create | -u | --update)
            # "--update" alone names no list; "-u" neither.
            [[ ${COMP_WORDS[i + 1]} == = ]] && return 0
            [[ $word == -c ]] && return 0
            ;;
        -c=* | --create=* | --update=*) return 0 ;;
        -t | -j | -p)
            # The value: "=" and the next word, or the next word alone.
            [[ ${COMP_WORDS[i + 1]} == = ]] && ((i++))
            ((i++))
            ;;
        --type | --jobs | --parent | --exclude | --files-from | --results | --shard)
            [[ ${COMP_WORDS[i + 1]} == = ]] && ((i += 2))
            ;;
        = | -*) ;;
        *) return 0 ;; # a file argument: the first one is the list
        esac
    done
    return 1
}

_korvane() {
    COMPREPLY=()
    local cur=${COMP_WORDS[COMP_CWORD]} prev= before=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    ((COMP_CWORD > 1)) && before=${COMP_WORDS[COMP_CWORD - 2]}

    # "=" is a word break by default: "--type=sh" arrives as "--type" "=" "sh".
    if [[ $cur == = ]]; then
        _korvane_value "$prev" "" && return 0
    elif [[ $prev == = && -n $before ]]; then
        _korvane_value "$before" "$cur" && return 0
    elif [[ $cur == -*=* ]]; then
        # Without "=" as a word break the value is part of the word.
        local option=${cur%%=*}
        if _korvane_value "$option" "${cur#*=}"; then
            local i
            for i in "${!COMPREPLY[@]}"; do
                COMPREPLY[i]="$option=${COMPREPLY[i]}"
            done
            return 0
        fi
    fi
    case $prev in
    -c | -t | -j | -p)
        _korvane_value "$prev" "$cur"
        return 0
        ;;
    esac
    if [[ $cur == -* ]]; then
        local IFS=$' \t\n'
        COMPREPLY=($(compgen -W "$_korvane_options" -- "$cur"))
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
        return 0
    fi
    if _korvane_list_named; then
        _korvane_files "$cur"
    else
        _korvane_lists "$cur"
    fi
    return 0
}

complete -F _korvane korvane
