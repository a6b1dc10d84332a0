#!/usr/bin/env bash
# zv_add_bytecode against zv build -j on the same programs: N programs (default 500, each
# including one shared file) built once through a CMake project under Ninja, and once by
# one `zv build -j J` run; prints both wall-clock times and the processes each build
# started, and checks that both wrote the same bytes. A measurement, not a test.
#
#   bench/bytecode.sh PREFIX [N] [J]    PREFIX: an installed zv (cmake --install ... --prefix)
set -euo pipefail
prefix=$(cd "$1" && pwd)
count=${2:-500}
jobs=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/programs" "$work/direct"
printf 'def area(w, h) {\n    return w*h\n}\n' >"$work/src/programs/shapes.ZVEX"
sources=""
for ((i = 0; i < count; ++i)); do
    printf 'also shapes\nx%d = area(%d, 2)\nif (x%d > 3) {\n    print("big", x%d)\n}\n' \
        "$i" "$i" "$i" "$i" >"$work/src/programs/p$i.zv"
    sources+=" programs/p$i.zv"
done
cat >"$work/src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(bench NONE)
find_package(zv 1 CONFIG REQUIRED)
zv_add_bytecode(programs ALL SOURCES $sources OUTPUT_DIRECTORY bytecode)
CMAKE
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
seconds() { date +%s.%N; }
start=$(seconds)
ninja -C "$work/build" -j "$jobs" >"$work/ninja.log" || { cat "$work/ninja.log"; exit 1; }
cmakebuild=$(echo "$(seconds) - $start" | bc)
commands=$(ninja -C "$work/build" -t commands programs | grep -c . || true)
transforms=$(ninja -C "$work/build" -t commands programs | grep -c 'cmake -E' || true)
start=$(seconds)
(cd "$work/src/programs" && "$prefix/bin/zv" build -q -j "$jobs" --out-dir "$work/direct" p*.zv)
direct=$(echo "$(seconds) - $start" | bc)
for ((i = 0; i < count; ++i)); do
    cmp -s "$work/build/bytecode/p$i.zvbc" "$work/direct/p$i.zvbc" || { echo "p$i differs"; exit 1; }
done
printf '%d programs, -j %d\n' "$count" "$jobs"
printf 'zv_add_bytecode (Ninja): %6.2f s, %d commands, %d of them cmake -E\n' "$cmakebuild" "$commands" "$transforms"
printf 'zv build -j %d:          %6.2f s, 1 command\n' "$jobs" "$direct"
printf 'ratio: %.1f\n' "$(echo "$cmakebuild / $direct" | bc -l)"
