#!/usr/bin/env bash
# Runs vim-syntax.lua in headless Neovim with editors/vim as the only runtime addition, as a
# user who put it on 'runtimepath' would have it (ftdetect, ftplugin and syntax on).
#   run-vim.sh NVIM SOURCEDIR
set -u
nvim=$1 src=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
HOME=$work XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work XDG_STATE_HOME=$work ZV_SOURCE_DIR=$src \
    timeout 60 "$nvim" --headless -u NONE -i NONE -n \
    --cmd "set runtimepath^=$src/editors/vim" \
    -c 'filetype plugin on' -c 'syntax on' \
    -c "luafile $src/editors/tests/vim-syntax.lua" </dev/null
