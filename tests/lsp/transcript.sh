#!/usr/bin/env bash
# Runs one transcript: frames its JSON lines, feeds them to `zv lsp` (which must exit with
# status 0, or with the status a "// STATUS: N" line names), and checks the messages the
# server sent, one per line, against the transcript's CHECK lines with FileCheck.
#   transcript.sh LSPFRAME ZV FILECHECK TRANSCRIPT
set -uo pipefail
lspframe=$1 zv=$2 filecheck=$3 transcript=$4
expected=$(sed -n 's|^// STATUS: *\([0-9]*\).*|\1|p' "$transcript")
expected=${expected:-0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
"$lspframe" send "$transcript" | timeout 30 "$zv" lsp > out.bin 2> err.txt
status=${PIPESTATUS[1]}
if [ "$status" -ne "$expected" ]; then
    echo "zv lsp exited with $status, expected $expected; stderr:"; cat err.txt
    exit 1
fi
"$lspframe" split < out.bin | "$filecheck" --dump-input=fail "$transcript"
