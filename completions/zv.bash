# bash completion for zv, the developer tool of the zv language. Loaded by the package
# bash-completion (/usr/share/bash-completion/completions/zv).
_zv() {
    local cur prev words cword
    _init_completion || return
    local commands="check build lsp"
    # The warnings of zv check, as `zv check --help` lists them.
    local warnings="name-punctuation name-digit empty-element decimal-digits adjacent-strings global-definition not-call"
    local i command=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        check | build | lsp)
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
        --max-errors)
            return
            ;;
        esac
        if [[ $cur == -W* ]]; then
            local w switches="-Wall -Werror"
            for w in $warnings; do switches+=" -W$w -Wno-$w"; done
            COMPREPLY=($(compgen -W "$switches" -- "$cur"))
            return
        fi
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-W -Werror -Wall -w --format --color --max-errors --help" -- "$cur"))
            return
        fi
        ;;
    lsp)
        COMPREPLY=($(compgen -W "--help" -- "$cur"))
        return
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
