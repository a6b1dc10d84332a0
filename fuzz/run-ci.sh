#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each one, one after
# the other, for a bounded time. Exits non-zero when a target does not build, or when any
# run ends with a crash, a timeout, a leak or a broken invariant; the inputs that did it
# are left in fuzz/corpus-work/artifacts/<target>/ and should be minimised into
# fuzz/regressions/ (tests/faults replays that folder).
#
#   fuzz/run-ci.sh [SECONDS_PER_TARGET]       (default 35; or ZV_FUZZ_SECONDS)
#
# Environment: ZV_FUZZ_BUILD (build directory, default build-fuzz), ZV_FUZZ_JOBS (ninja
# jobs, default 2), ZV_FUZZ_TARGETS (default "compile parse bytecode lsp rendertext
# renderjson rendersarif"; seven targets at 35 s take about as long as four did at 60 s).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${ZV_FUZZ_SECONDS:-35}}
build=${ZV_FUZZ_BUILD:-$root/build-fuzz}
jobs=${ZV_FUZZ_JOBS:-2}
targets=${ZV_FUZZ_TARGETS:-compile parse bytecode lsp rendertext renderjson rendersarif}
work=$root/fuzz/corpus-work

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_FUZZ=ON -DZV_TESTS=OFF >/dev/null || exit 2
binaries=()
for t in $targets; do binaries+=("zvfuzz_$t"); done
ninja -C "$build" -j"$jobs" "${binaries[@]}" || exit 2

# The compile target runs in a scratch directory that holds the include files, so that
# "also" statements reach real files (and a real inclusion cycle).
run=$work/run
mkdir -p "$run"
cp "$root"/fuzz/include/*.ZVEX "$run"/

status=0
for t in $targets; do
    corpus=$work/$t
    artifacts=$work/artifacts/$t
    rm -rf "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    seeds=("$root/fuzz/corpus/$t")
    dict=()
    case $t in
    compile) dict=(-dict="$root/fuzz/zv.dict") ;;
    parse) dict=(-dict="$root/fuzz/zv.dict") seeds+=("$root/fuzz/corpus/compile") ;;
    render*)
        dict=(-dict="$root/fuzz/zv.dict")
        seeds=("$root/fuzz/corpus/render" "$root/fuzz/corpus/compile")
        ;;
    esac
    echo "== zvfuzz_$t for ${seconds}s"
    (cd "$run" && nice -n 10 "$build/fuzz/zvfuzz_$t" "${dict[@]}" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=4096 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" "${seeds[@]}") 2>&1 |
        grep --line-buffered -v -e '^#[0-9]*[[:space:]]*\(NEW\|REDUCE\|pulse\)' -e 'NEW_FUNC' -e '^"' -e '^######'
    rc=${PIPESTATUS[0]}
    # A unit reported slow (or timed out) is run again alone: on a virtual machine that was
    # paused for a few seconds, a unit that takes milliseconds can be reported as taking
    # more than the limit. One that runs within the limit on its own was such a pause, and
    # is noted rather than failed; one that does not stays an artifact and fails the run.
    # libFuzzer ends a run that timed out with status 70; it stands only if the unit does.
    for unit in "$artifacts"/slow-unit-* "$artifacts"/timeout-*; do
        [ -f "$unit" ] || continue
        if (cd "$run" && timeout 60 "$build/fuzz/zvfuzz_$t" -timeout=10 -rss_limit_mb=4096 \
            "$unit" >/dev/null 2>&1); then
            echo "zvfuzz_$t: $(basename "$unit") ran within the limit on its own (a pause of the machine); not kept"
            rm -f "$unit"
            case $unit in */timeout-*) [ "$rc" -eq 70 ] && rc=0 ;; esac
        fi
    done
    found=$(find "$artifacts" -type f | wc -l)
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        echo "zvfuzz_$t: FAILED (exit $rc, $found inputs in $artifacts)"
        status=1
    else
        echo "zvfuzz_$t: clean"
    fi
done
exit $status
