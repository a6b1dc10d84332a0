#!/usr/bin/env bash
# Profiles zvc on one generated program with perf (call graphs), or with callgrind when perf
# is missing or --callgrind is given, and prints the hottest functions. Needs a build with
# symbols: it configures its own RelWithDebInfo folder (build-bench-prof) so that the line
# numbers of the hotspots can be read with `perf annotate` or `callgrind_annotate`.
#
# Usage: bench/profile.sh PROGRAM.zv [--callgrind]
#   The report goes to bench/out/profile/<stem>.txt as well as to the terminal.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${ZV_BENCH_PROF_BUILD:-$root/build-bench-prof}
src=$(realpath "${1:?usage: $0 PROGRAM.zv [--callgrind]}")
tool=perf
[ "${2:-}" = --callgrind ] && tool=callgrind
command -v perf >/dev/null || tool=callgrind

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-fno-omit-frame-pointer" -DZV_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
nice ninja -C "$build" -j2 zvc

dir="$here/out/profile"
mkdir -p "$dir/work"
stem=$(basename "$src" .zv)
report="$dir/$stem.txt"
cd "$dir/work"
# The machine is shared: a run that grows past 8 GiB of address space stops there.
ulimit -v 8388608
if [ $tool = perf ]; then
    nice perf record -q -g -o "$dir/$stem.perf" "$build/zvc" "$src" >/dev/null || true
    perf report -i "$dir/$stem.perf" --no-children --percent-limit 1 --stdio \
        -g none 2>/dev/null | grep -v '^$' | head -60 | tee "$report"
    echo "(call graphs: perf report -i $dir/$stem.perf --children)"
else
    nice valgrind --tool=callgrind --callgrind-out-file="$dir/$stem.callgrind" \
        "$build/zvc" "$src" >/dev/null || true
    callgrind_annotate --inclusive=no "$dir/$stem.callgrind" | head -60 | tee "$report"
fi
