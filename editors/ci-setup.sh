#!/usr/bin/env bash
# Installs the editor-support test tools into editors/node_modules from package-lock.json.
# CI runs it before configuring, so that CMake registers the editors.* tests.
set -euo pipefail
cd "$(dirname "$0")"

if ! command -v npm >/dev/null 2>&1; then
  echo "editors/ci-setup.sh: npm not found; install Node.js and npm" >&2
  exit 1
fi
if ! npm ci --no-audit --no-fund --loglevel=error >/dev/null; then
  echo "editors/ci-setup.sh: 'npm ci' failed in $(pwd)" >&2
  exit 1
fi
