# SPDX-License-Identifier: BSD-3-Clause
# bash completion for kpz: options, folders after -o, and .kpz files when restoring,
# testing or listing.
_kpz() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -o | --output-dir)
            _filedir -d
            return
            ;;
        --password-file)
            _filedir
            return
            ;;
        -j | --jobs | --name)
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

    local word
    for word in "${words[@]:1:cword-1}"; do
        case $word in
            -d | --decompress | -t | --test | -l | --list | -[a-zA-Z]*[dtl]*)
                _filedir kpz
                return
                ;;
        esac
    done
    _filedir
}
complete -F _kpz kpz
