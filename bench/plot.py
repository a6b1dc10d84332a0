#!/usr/bin/env python3
# Plots of the zvc benchmarks, from the results.json that bench/measure.py wrote: time net of
# the empty program against source size (growth.svg) and peak memory net of the empty
# program against source size (memory.svg), one line per pathological shape and one for the
# realistic mix, log-log axes, with a dashed line of slope 1 (linear growth) for reference.
# Writes the gnuplot data (growth.dat, memory.dat) and script (plots.gp) next to the SVGs
# and runs gnuplot. Points whose net figure is zero or below (start-up bound) are left out.
#
# Usage: plot.py OUTDIR   (reads OUTDIR/results.json, writes OUTDIR/growth.svg, memory.svg)

import json
import os
import statistics
import subprocess
import sys


def series(results):
    """(name, [(bytes, net seconds, net MiB)]) per shape, and the mix, smallest first."""
    base = [r for r in results if r["kind"] == "baseline" and r["zvc"]["status"] == 0]
    t0, m0 = (base[0]["zvc"]["median"], base[0]["zvc"]["peak"]) if base else (0.0, 0)
    lines = {}
    for r in results:
        if r["kind"] in ("shape", "mix") and r["zvc"]["status"] == 0:
            name = r["shape"] if r["kind"] == "shape" else "mix"
            lines.setdefault(name, []).append(
                (r["bytes"], r["zvc"]["median"] - t0, (r["zvc"]["peak"] - m0) / 1024 ** 2))
    return [(name, sorted(points)) for name, points in lines.items()]


def write_data(path, lines, column):
    """One block per line that has points above zero; returns the names of the blocks and
    the slope-1 constant through the median point (figure / bytes)."""
    names, ratios = [], []
    with open(path, "w") as f:
        for name, points in lines:
            points = [(b, p[column]) for b, *p in points if b > 0 and p[column] > 0]
            if not points:
                continue
            f.write("# %s\n" % name)
            for b, y in points:
                f.write("%d %.6g\n" % (b, y))
                ratios.append(y / b)
            f.write("\n\n")
            names.append(name)
    return names, statistics.median(ratios) if ratios else 0


def plot(name, data, names, k, ylabel, title):
    if not names:
        return "# %s: nothing to plot\n" % name
    curves = ["'%s' index %d using 1:2 with linespoints title '%s' noenhanced" % (data, i, n)
              for i, n in enumerate(names)]
    curves.append("%.6g*x with lines dashtype 2 linewidth 1.5 linecolor rgb 'black' "
                  "title 'linear (slope 1)' noenhanced" % k)
    return "\n".join([
        "set output '%s.svg'" % name,
        "set title '%s'" % title,
        "set ylabel '%s'" % ylabel,
        "plot " + ", \\\n     ".join(curves), "unset output", ""])


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    with open(os.path.join(out, "results.json")) as f:
        results = json.load(f)["results"]
    lines = series(results)
    tn, tk = write_data(os.path.join(out, "growth.dat"), lines, 0)
    mn, mk = write_data(os.path.join(out, "memory.dat"), lines, 1)
    script = "\n".join([
        "set terminal svg size 900,600 dynamic enhanced font 'sans,12' background 'white'",
        "set logscale xy", "set grid linecolor rgb '#d0d0d0' dashtype 1",
        "set key outside right top",
        "set xlabel 'source bytes'", "set format x '10^{%L}'", "set format y '%g'", "",
        plot("growth", "growth.dat", tn, tk, "seconds, net of the empty program",
             "zvc: compile time against source size"),
        plot("memory", "memory.dat", mn, mk, "peak MiB, net of the empty program",
             "zvc: peak resident memory against source size")])
    with open(os.path.join(out, "plots.gp"), "w") as f:
        f.write(script)
    for name in ("growth", "memory"):  # no stale plot survives a failed run
        if os.path.exists(os.path.join(out, name + ".svg")):
            os.remove(os.path.join(out, name + ".svg"))
    subprocess.run(["gnuplot", "plots.gp"], cwd=out, check=True)
    for name in ("growth", "memory"):
        path = os.path.join(out, name + ".svg")
        if os.path.exists(path):
            print(path)


if __name__ == "__main__":
    sys.exit(main())
