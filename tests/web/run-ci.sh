#!/usr/bin/env bash
# The playground's CI step: installs Emscripten, Chromium and the page's npm packages, builds
# the WebAssembly folder (the library and the page only, no tools), then runs the Node test
# against zvc over the e2e corpus and the browser tests. Needs zvc and zvdis of the `test`
# preset (build/test), which the release step builds first.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq emscripten node-acorn chromium >/dev/null
  command -v npm >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq npm >/dev/null
fi

(cd web && npm ci --no-audit --no-fund --loglevel=error)
cmake --preset wasm >/dev/null
cmake --build --preset wasm
node --test tests/web/
echo "screenshots: build/wasm/test-output/"
