#!/usr/bin/env bash
# Runs emacs-eglot.el: Emacs in batch mode connects zv-mode to `zv lsp` through eglot on the
# Neovim test's program, in a fresh directory.
#   run-eglot.sh EMACS ZV SOURCEDIR
set -u
emacs=$1 zv=$(realpath "$2") src=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src/tests/lsp/nvim/prog.zv" "$src/tests/lsp/nvim/lib.ZVEX" "$work/"
cd "$src/editors" || exit 1
HOME=$work ZV_PATH=$zv ZV_WORK=$work timeout 60 "$emacs" --batch -Q -l emacs/zv-mode.el \
    -l tests/emacs-eglot.el
