#!/usr/bin/env bash
# Runs Neovim's built-in LSP client, headless, against `zv lsp` on prog.zv in a fresh
# directory; client.lua checks what the editor holds and exits non-zero on a mismatch.
#   run.sh ZV NVIM SOURCEDIR
set -u
zv=$(realpath "$1") nvim=$2 here=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/prog.zv" "$here/lib.ZVEX" "$here/client.lua" "$work/"
cd "$work" || exit 1
HOME=$work XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work XDG_STATE_HOME=$work ZV_PATH=$zv \
    timeout 60 "$nvim" --headless -u NONE -i NONE -n -c 'luafile client.lua' prog.zv </dev/null
status=$?
[ "$status" -eq 124 ] && echo "nvim timed out"
exit "$status"
