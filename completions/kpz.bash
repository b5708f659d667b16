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
            # --decompress (or --uncompress), --test and --list; --to-stdout starts
            # with --t as well.
            --d* | --u* | --te* | --l*) return 0 ;;
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

    # The word before the cursor may be an option that takes the next word as its value.
    # Long options may be shortened to any prefix that names only one of them (--n is
    # both --name and --no-check, so --na is the shortest for --name).
    case $prev in
        --*=*) ;; # a whole option with its value: nothing to add to it
        --o*)
            _filedir -d
            return
            ;;
        --password-f*)
            _filedir
            return
            ;;
        --j* | --na*)
            return
            ;;
        --*) ;;
        -?*)
            # Short options cluster (-vo): the first -o or -j takes the rest of the word as
            # its value, or the next word when it ends the cluster.
            local i
            for ((i = 1; i < ${#prev}; i++)); do
                case ${prev:i:1} in
                    o | j)
                        if ((i == ${#prev} - 1)); then
                            [[ ${prev:i:1} == o ]] && _filedir -d
                            return
                        fi
                        break
                        ;;
                esac
            done
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
