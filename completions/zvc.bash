# bash completion for zvc, the compiler of the zv language: its one argument is a source
# file. Loaded by the package bash-completion (/usr/share/bash-completion/completions/zvc).
_zvc() {
    local cur prev words cword
    _init_completion || return
    # zvc takes exactly one argument and no options.
    ((cword == 1)) || return
    _filedir zv
}
complete -F _zvc zvc
