#!/usr/bin/env bash
# Reproduces every benchmark figure of bench/README.md in one command: builds zvc and the
# micro benchmarks (Release, own build folder), installs luac5.4, valgrind and gnuplot when
# they are missing, generates the programs (bench/gen.py), runs the micro benchmarks
# (zvbench), then the whole-process runner (bench/measure.py), which compares against luac
# and counts instructions, and draws the plots (bench/plot.py). Everything runs under `nice`. Results land in bench/out/
# (results.md, results.json, micro.txt, micro.json, growth.svg, memory.svg).
#
# Usage: bench/run.sh [--quick] [--no-micro] [--no-build] [--profile] [--publish]
#   --quick     programs at 1/20 of their size and 3 runs: a smoke check of the whole chain
#   --no-micro  skip zvbench
#   --no-build  use the binaries already in the build folder
#   --profile   afterwards, profile every program that missed a target (bench/profile.sh)
#   --publish   afterwards, copy results.md's tables into bench/README.md between the
#               figures markers, and the plots to bench/growth.svg and bench/memory.svg
# Environment: ZV_BENCH_BUILD (build folder, default build-bench at the top of the tree),
#              ZV_BENCH_OUT (output folder, default bench/out),
#              ZV_BENCH_README (README that --publish writes, default bench/README.md; the
#              plots go next to it).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${ZV_BENCH_BUILD:-$root/build-bench}
out=${ZV_BENCH_OUT:-$here/out}
scale=1
runs=5
micro=1
dobuild=1
profile=0
publish=0
readme=${ZV_BENCH_README:-$here/README.md}
for arg in "$@"; do
    case $arg in
    --quick) scale=0.05 runs=3 ;;
    --no-micro) micro=0 ;;
    --no-build) dobuild=0 ;;
    --profile) profile=1 ;;
    --publish) publish=1 ;;
    *) echo "usage: $0 [--quick] [--no-micro] [--no-build] [--profile] [--publish]" >&2
       exit 2 ;;
    esac
done

if ! command -v luac5.4 >/dev/null; then
    echo "== installing lua5.4 (luac5.4)"
    apt-get update && apt-get install -y lua5.4
fi
if ! command -v valgrind >/dev/null; then
    echo "== installing valgrind (instruction counts)"
    apt-get update && apt-get install -y valgrind
fi
if ! command -v gnuplot >/dev/null; then
    echo "== installing gnuplot"
    apt-get update && apt-get install -y gnuplot-nox
fi

if [ $dobuild = 1 ]; then
    echo "== building zvc and zvbench in $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BENCH=ON \
        -DBUILD_TESTING=OFF >/dev/null
    nice ninja -C "$build" -j2 zvc zvbench
fi

mkdir -p "$out"
echo "== generating programs into $out (scale $scale)"
nice python3 "$here/gen.py" "$out" --scale "$scale"

if [ $micro = 1 ]; then
    echo "== micro benchmarks"
    minimum=0.5
    [ "$scale" = 1 ] || minimum=0.05
    nice "$build/bench/zvbench" --benchmark_min_time="$minimum" \
        --benchmark_out="$out/micro.json" --benchmark_out_format=json | tee "$out/micro.txt"
fi

echo "== whole-process runs"
nice python3 "$here/measure.py" --zvc "$build/zvc" --luac luac5.4 \
    --manifest "$out/manifest.json" --out "$out" --runs "$runs"

echo "== plots"
nice python3 "$here/plot.py" "$out"

if [ $publish = 1 ]; then
    python3 "$here/publish.py" "$out" "$readme"
fi

if [ $profile = 1 ]; then
    while read -r program; do
        echo "== profile of $program"
        "$here/profile.sh" "$program" || echo "(profile of $program failed)"
    done <"$out/missed.txt"
fi
