# fish completion for korvane: options as `korvane --help` lists them, the
# words -t takes, checksum lists (by the names korvane types them by) where a
# list is expected and any file elsewhere. A long option takes its value only
# after "=" (--create=FILE), a short one also as the next word (-c FILE).

# Checksum lists and folders (to walk into) that start with the current token.
function __korvane_lists
    set -l token (string replace -r -- '^-[^=]*=' '' (commandline -ct))
    for candidate in $token*
        if test -d $candidate
            echo $candidate/
        else if string match -qri -- '(\.(sfv|md5|md5sum|sha1|sha1sum|sha256|sha256sum|sha512|sha512sum|b3|blake3|xxh64|xxh3|xxh128|xxhsum)|(^|/)(md5|sha1|sha256|sha512|b3|blake3)sums)$' $candidate
            echo $candidate
        end
    end
end

# True while no list is named yet: no -c, no --update=FILE, no file argument.
function __korvane_wants_list
    set -l words (commandline -opc)
    set -e words[1]
    set -l skip 0
    for word in $words
        if test $skip = 1
            set skip 0
            continue
        end
        switch $word
            case -c '-c=*' '--create=*' '--update=*'
                return 1
            case -t -j -p
                set skip 1
            case '-*'
            case '*'
                return 1
        end
    end
    return 0
end

complete -c korvane -f
complete -c korvane -n __korvane_wants_list -a '(__korvane_lists)'
complete -c korvane -n 'not __korvane_wants_list' -F

complete -c korvane -s a -l all -d 'Verify every entry, also those verified before'
complete -c korvane -l doall -d 'Verify every entry, also those verified before'
complete -c korvane -l audit -d 'Also report the files the list does not name'
complete -c korvane -s c -l create -r -f -a '(__korvane_lists)' -d 'Create the checksum list FILE'
complete -c korvane -s j -l jobs -x -d 'Hash up to N files at once'
complete -c korvane -s p -l parent -x -a '(__fish_complete_directories)' -d 'Listed names are relative to DIR'
complete -c korvane -l json -d 'Print the results as JSON Lines'
complete -c korvane -l ignore-missing -d 'Verification: leave out files that are missing'
complete -c korvane -l status -d 'Verification: print nothing, the exit status tells'
complete -c korvane -l strict -d 'Verification: improperly formatted lines fail the run'
complete -c korvane -s w -l warn -d 'Verification: name each improperly formatted line'
complete -c korvane -s z -l zero -d 'End each result with NUL, names unescaped'
complete -c korvane -l exclude -x -d 'Leave out names matching PATTERN'
complete -c korvane -l files-from -r -F -d 'Also the files FILE names, one a line'
complete -c korvane -l null -d '--files-from names end with a zero byte'
complete -c korvane -l shard -x -a 'auto' -d 'Check or hash only shard K/N'
complete -c korvane -l results -r -F -d "A verification or update shard's results, for --merge"
complete -c korvane -l merge -d "One run's output, list and exit status from its shards' files"
complete -c korvane -l prune -d 'An update drops the entries of files that are gone'
complete -c korvane -s q -l quiet -d 'Suppress non-error messages'
complete -c korvane -s r -l recursive -d 'Walk the folders named'
complete -c korvane -s t -l type -x -a 'sfv md5 sha1 sha256 sha512 blake3 xxh64 xxh3 xxh128' -d 'Type of the checksum list'
complete -c korvane -s T -l record-times -d 'Record size and time in MD5 and SHA lists'
complete -c korvane -s u -l update -d 'Update the checksum list'
complete -c korvane -s x -l one-file-system -d 'Do not cross file system boundaries'
complete -c korvane -s h -l help -d 'Show the usage text'
complete -c korvane -s V -l version -d 'Show the version'
