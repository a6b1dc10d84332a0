# bash completion for zv, the developer tool of the zv language.
_zv() {
    local cur prev words cword
    _init_completion || return
    local commands="check build"
    local i command=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        check | build)
            command=${words[i]}
            break
            ;;
        esac
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    case $command in
    check)
        case $prev in
        --format)
            COMPREPLY=($(compgen -W "text json sarif" -- "$cur"))
            return
            ;;
        --color)
            COMPREPLY=($(compgen -W "auto always never" -- "$cur"))
            return
            ;;
        esac
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-W -Werror -w --format --color --max-errors --help" -- "$cur"))
            return
        fi
        ;;
    build)
        case $prev in
        -o | -MF)
            _filedir
            return
            ;;
        --out-dir)
            _filedir -d
            return
            ;;
        -j | --jobs | -MT)
            return
            ;;
        esac
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-o --out-dir -MD -MF -MT -MP --absolute-deps -j --jobs -q --quiet --help" -- "$cur"))
            return
        fi
        ;;
    esac
    _filedir zv
}
complete -F _zv zv
