# bash completion for zvdis, the byte-code lister of the zv language.
_zvdis() {
    local cur prev words cword
    _init_completion || return
    case $prev in
    --check)
        _filedir zvbc
        return
        ;;
    --source | --code-raw | --desc-raw)
        _filedir zv
        return
        ;;
    esac
    if ((cword == 1)); then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--check --source --code-raw --desc-raw --help --version" -- "$cur"))
        else
            _filedir zvbc
        fi
    fi
}
complete -F _zvdis zvdis
