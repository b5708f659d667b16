# SPDX-License-Identifier: BSD-3-Clause
# bash completion for kpz: options, folders after -o, and .kpz files when restoring,
# testing or listing, however the mode is written: -d, clustered (-dc, -vt), or a long
# option shortened to any prefix (--decomp).

# Whether the words before the cursor choose a mode that reads .kpz files.
_kpz_reads_kpz() {
    local word i
    for word in "${words[@]:1:cword-1}"; do
        case $word in
            --) break ;;
            # Only --decompress, --test and --list start with these letters.
            --d* | --t* | --l*) return 0 ;;
            --*) ;;
            -?*)
                for ((i = 1; i < ${#word}; i++)); do
                    case ${word:i:1} in
                        [dtl]) return 0 ;;
                        [oj]) break ;; # the rest of the word is the option's value
                    esac
                done
                ;;
        esac
    done
    return 1
}

_kpz() {
    local cur prev words cword split
    _init_completion -s || return

    # Long options may be shortened to any prefix that names only one of them.
    case $prev in
        --*=*) ;; # a whole option with its value: nothing to add to it
        -o | --o*)
            _filedir -d
            return
            ;;
        --password-f*)
            _filedir
            return
            ;;
        -j | --j* | --n*)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-z --compress -d --decompress -t --test -l --list
            -c --stdout -o --output-dir= -r --recursive -f --force -k --keep --rm
            --name= -j --jobs= --check --no-check --verify -p --password --password-file= -q --quiet
            -v --verbose -h --help -V --version' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    if _kpz_reads_kpz; then
        _filedir kpz
    else
        _filedir
    fi
}
complete -F _kpz kpz
