#!/usr/bin/env python3
# Whole-process runner of the zvc benchmarks. Reads the manifest that bench/gen.py wrote,
# runs `zvc FILE` on every program (standard output to /dev/null, in a scratch working
# directory, since zvc writes <stem>.zvbc there) several times, and records the median wall
# time and the peak resident memory. The Lua twins of the realistic mix are compiled by
# `luac5.4 -o /dev/null` in the same run, time and peak memory alike, and so is the tiny
# program's twin. The tiny program and the mix programs up to INSTRUCTION_BYTES of source
# are also run once each under callgrind (valgrind), for both compilers: the instructions
# executed do not move with the machine's load as times do. Writes results.json,
# results.md (the tables of bench/README.md, ending with the table "Against the targets")
# and missed.txt (the programs that miss a target, for bench/profile.sh) into the output
# folder, and prints the tables. A run that exits with 0 but reports a failure on standard
# error counts as failed.
#
# Peak memory comes from `/usr/bin/time -v` ("Maximum resident set size") when that program
# exists, otherwise from the child's resource usage (wait4, the getrusage of the child).
#
# Usage: measure.py --zvc PATH --manifest FILE --out DIR [--luac luac5.4] [--runs N]
#                   [--no-instructions]

import argparse
import datetime
import json
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TIMEOUT = 300.0
GNU_TIME = "/usr/bin/time"
VALGRIND = "valgrind"
# Instructions are counted for the tiny program and for mix programs of at most this many
# bytes of source: callgrind runs some fifty times slower than the program.
INSTRUCTION_BYTES = 2 * 1024 * 1024
# The tiny program runs in a few milliseconds, within the machine's noise: it gets at least
# this many runs, which cost well under a second.
TINY_RUNS = 21
# A run whose resident memory passes this is stopped (the machine is shared); its peak is
# then reported as "over the limit". --memlimit changes it.
MEMLIMIT = 6 * 1024 ** 3


def rss_of(pid):
    """Current resident set size of `pid` in bytes (0 when it cannot be read)."""
    try:
        with open("/proc/%d/statm" % pid) as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (OSError, ValueError, IndexError):
        return 0


def run_once(cmd, cwd):
    """Runs `cmd` once; returns (seconds, maxrss in bytes, exit status, stderr tail)."""
    with tempfile.TemporaryFile() as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=err)
        deadline = t0 + TIMEOUT
        polls = 0
        while True:
            pid, status, ru = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            now = time.perf_counter()
            if now > deadline:
                p.kill()
                pid, status, ru = os.wait4(p.pid, 0)
                return now - t0, ru.ru_maxrss * 1024, "timeout", "over %d s" % TIMEOUT
            polls += 1
            if polls % 20 == 0 and rss_of(p.pid) > MEMLIMIT:
                p.kill()
                pid, status, ru = os.wait4(p.pid, 0)
                return (now - t0, ru.ru_maxrss * 1024, "memory",
                        "over the %.1f GiB memory limit after %.1f s" % (
                            MEMLIMIT / 1024 ** 3, now - t0))
            time.sleep(0.0005)
        dt = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        lines = err.read().decode("latin-1").strip().splitlines()
        # zvc can report a failure on standard error and still exit with 0: such a run
        # counts as failed, its time would not be that of a compile.
        bad = [x for x in lines if "FAILURE" in x or "ERROR" in x]
        if p.returncode == 0 and bad:
            return dt, ru.ru_maxrss * 1024, "diagnostic", bad[0]
        return dt, ru.ru_maxrss * 1024, p.returncode, (lines[-1] if lines else "")


def peak_with_gnu_time(cmd, cwd):
    """Peak resident memory in bytes of one run under /usr/bin/time -v, or None."""
    with tempfile.NamedTemporaryFile(mode="r", suffix=".time") as rep:
        subprocess.run([GNU_TIME, "-v", "-o", rep.name] + cmd, cwd=cwd,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=TIMEOUT)
        for line in rep.read().splitlines():
            if "Maximum resident set size" in line:
                return int(line.rsplit(":", 1)[1]) * 1024
    return None


def instructions(cmd, cwd):
    """The instructions one run of `cmd` executes, counted by callgrind, or None when the
    run fails or valgrind is missing."""
    valgrind = shutil.which(VALGRIND)
    if not valgrind:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        p = subprocess.run([valgrind, "--tool=callgrind", "--callgrind-out-file=" + out] + cmd,
                           cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=TIMEOUT * 20)
        if p.returncode != 0 or not os.path.exists(out):
            return None
        with open(out) as f:
            for line in f:
                m = re.match(r"(?:summary|totals): (\d+)", line)
                if m:
                    return int(m.group(1))
    return None


def measure(cmd, cwd, runs):
    """Median, min and max seconds over the runs, the peak memory, status and message."""
    first = run_once(cmd, cwd)
    if first[2] != 0:
        return {"status": first[2], "message": first[3], "seconds": first[0]}
    # A fast program gets one untimed warm-up run; slow ones count their first run.
    if first[0] > 20:
        times, rss = [first[0]], [first[1]]
        n = 0
    elif first[0] > 3:
        times, rss = [first[0]], [first[1]]
        n = min(runs, 3) - 1
    else:
        times, rss = [], []
        n = runs
    for _ in range(n):
        dt, m, st, msg = run_once(cmd, cwd)
        if st != 0:
            return {"status": st, "message": msg, "seconds": dt}
        times.append(dt)
        rss.append(m)
    peak = max(rss)
    source = "rusage"
    if os.path.exists(GNU_TIME) and max(times) < 60 and peak < MEMLIMIT // 2:
        g = peak_with_gnu_time(cmd, cwd)
        if g:
            peak, source = g, "time -v"
    return {"status": 0, "runs": len(times), "median": statistics.median(times),
            "min": min(times), "max": max(times), "peak": peak, "peaksource": source}


def fmt_s(x):
    if x is None:
        return "-"
    return "%.4f" % x if x < 1 else "%.3f" % x


def mib(x):
    return "%.1f" % (x / (1024 * 1024))


def count(n):
    """An instruction count in millions (thousands when under a million), or "-"."""
    if not n:
        return "-"
    return "%.1f M" % (n / 1e6) if n >= 1e6 else "%.0f k" % (n / 1e3)


def ratio(a, b):
    """a / b to two places, or "-" when either is missing."""
    return "%.2f" % (a / b) if a and b else "-"


def main():
    global MEMLIMIT, TIMEOUT
    ap = argparse.ArgumentParser()
    ap.add_argument("--zvc", required=True)
    ap.add_argument("--luac", default="luac5.4")
    ap.add_argument("--manifest", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", nargs="*", default=None)
    ap.add_argument("--memlimit", type=float, default=MEMLIMIT / 1024 ** 3,
                    help="GiB of resident memory at which a run is stopped")
    ap.add_argument("--timeout", type=float, default=TIMEOUT, help="seconds per run")
    ap.add_argument("--no-instructions", action="store_true",
                    help="skip the instruction counts (callgrind)")
    args = ap.parse_args()
    MEMLIMIT = int(args.memlimit * 1024 ** 3)
    TIMEOUT = args.timeout

    zvc = os.path.abspath(args.zvc)
    load_at_start = os.getloadavg()
    luac = shutil.which(args.luac)
    with open(args.manifest) as f:
        manifest = json.load(f)
    work = os.path.join(args.out, "work")
    os.makedirs(work, exist_ok=True)

    results = []
    for m in manifest:
        if args.only is not None and m["name"] not in args.only and m["kind"] != "baseline":
            continue
        src = os.path.abspath(m["path"])
        # The files a program includes, where zvc reads them.
        for f in m.get("files", []):
            shutil.copy(f, work)
        r = dict(m)
        zcmd = [zvc, src]
        runs = max(args.runs, TINY_RUNS) if m["kind"] == "tiny" else args.runs
        r["zvc"] = measure(zcmd, work, runs)
        lcmd = None
        if m["kind"] in ("mix", "tiny") and luac:
            lcmd = [luac, "-o", "/dev/null", os.path.abspath(m["lua"])]
            r["luac"] = measure(lcmd, work, runs)
        if m["kind"] == "tiny" and luac:
            # luac writing its output beside zvc's, replacing it from the second run on as
            # zvc replaces its own: what the file system costs for that, both pay.
            r["luacfile"] = measure([luac, "-o", m["name"] + ".luac", os.path.abspath(m["lua"])],
                                    work, runs)
        counted = m["kind"] == "tiny" or (m["kind"] == "mix" and m["bytes"] <= INSTRUCTION_BYTES)
        if counted and not args.no_instructions:
            for tool, cmd in (("zvc", zcmd), ("luac", lcmd)):
                if cmd and r[tool]["status"] == 0:
                    r[tool]["instructions"] = instructions(cmd, work)
        results.append(r)
        z = r["zvc"]
        line = "%-18s %10d B  " % (m["name"], m["bytes"])
        if z["status"] == 0:
            line += "zvc %s s  %s MiB" % (fmt_s(z["median"]), mib(z["peak"]))
        else:
            line += "zvc FAILED (%s): %s" % (z["status"], z["message"])
        if z.get("instructions"):
            line += "  %s instructions" % count(z["instructions"])
        if "luac" in r and r["luac"]["status"] == 0:
            line += "  luac %s s  %s MiB" % (fmt_s(r["luac"]["median"]), mib(r["luac"]["peak"]))
            if r["luac"].get("instructions"):
                line += "  %s instructions" % count(r["luac"]["instructions"])
        elif "luac" in r:
            line += "  luac FAILED (%s): %s" % (r["luac"]["status"], r["luac"]["message"])
        print(line, flush=True)

    try:
        commit = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(__file__)),
                                 "rev-parse", "--short", "HEAD"], capture_output=True,
                                text=True).stdout.strip()
    except OSError:
        commit = ""
    info = {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "commit": commit, "load": "%.2f %.2f %.2f" % load_at_start,
            "machine": "%s, %d cores, %s" % (platform.machine(), os.cpu_count(),
                                              platform.platform()),
            "zvc": zvc, "luac": luac, "runs": args.runs}
    with open(os.path.join(args.out, "results.json"), "w") as f:
        json.dump({"info": info, "results": results}, f, indent=1)
    with open(os.path.join(args.out, "missed.txt"), "w") as f:
        for path in missed(results):
            f.write(path + "\n")
    md = (tables(info, results) + microtable(os.path.join(args.out, "micro.json")) +
          summary(info, results))
    with open(os.path.join(args.out, "results.md"), "w") as f:
        f.write(md)
    print()
    print(md)


def microtable(path):
    """A summary of zvbench's results, when they exist: per benchmark family, the largest
    size with its time and throughput, and the fitted growth."""
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        benchmarks = json.load(f).get("benchmarks", [])
    families = {}
    for b in benchmarks:
        base = b.get("run_name", b["name"]).split("/")[0]
        fam = families.setdefault(base, {"largest": None, "bigo": None, "rms": None})
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "BigO":
                fam["bigo"] = b
            elif b.get("aggregate_name") == "RMS":
                fam["rms"] = b
        elif "error_occurred" not in b or not b["error_occurred"]:
            fam["largest"] = b
        else:
            fam["error"] = b.get("error_message", "error")
    out = ["\nMicro benchmarks (zvbench, in process): the largest size of each, and the fit of "
           "all sizes to linear growth (time per unit of N; RMS is the distance from the line).\n",
           "| benchmark | largest case | time | throughput | fitted growth | RMS |",
           "|---|---|---:|---:|---|---:|"]
    for name, fam in families.items():
        b = fam["largest"]
        if b is None:
            out.append("| %s | %s | | | | |" % (name, fam.get("error", "-")))
            continue
        t = "%.3g %s" % (b["real_time"], b["time_unit"])
        rate = ("%.0f MB/s" % (b["bytes_per_second"] / 1e6)) if "bytes_per_second" in b else "-"
        g = fam["bigo"]
        growth = ("%.4g %s (%s)" % (g["real_coefficient"], g["big_o"], g["time_unit"])
                  if g else "-")
        rms = "%.0f%%" % (fam["rms"]["rms"] * 100) if fam["rms"] else "-"
        out.append("| %s | %s | %s | %s | %s | %s |" % (
            name, b["name"].split("/", 1)[1] if "/" in b["name"] else "-", t, rate, growth,
            rms))
    return "\n".join(out) + "\n"


# Targets.
MIX_TIME = 0.5      # zvc time at most this times luac's on the realistic mix
MIX_MEMORY = 0.6    # zvc peak memory at most this times luac's
MIX_GROWTH = 4.4    # mix16 at most this times mix4
TINY_TIME = 1.0     # zvc time at most this times luac's on the tiny program
DOUBLING = 2.2      # time and memory at most this much per doubling of the source
SHAPE_LIMIT = 1.0   # seconds, every shape at full size
DEEP_LIMIT = 0.5    # seconds, every deep program ("well under 1 s")
# Below these net amounts the process start-up hides the growth; zvbench measures it.
MIN_TIME = 0.005
MIN_MEMORY = 2 * 1024 * 1024


def ok(r, tool="zvc"):
    return tool in r and r[tool]["status"] == 0


def baseline(results):
    """The empty program's time and peak memory (the process start-up), or zeros."""
    base = [r for r in results if r["kind"] == "baseline" and ok(r)]
    return (base[0]["zvc"]["median"], base[0]["zvc"]["peak"]) if base else (0.0, 0)


def shape_steps(results):
    """Per shape, its programs from smallest to largest, each with the growth since the
    previous size: source, net time and net memory ratios (None when the previous size is
    too small to tell), and whether each stays within DOUBLING per doubling of the source
    (1.1 times the source's growth)."""
    base_time, base_peak = baseline(results)
    shapes = {}
    for r in results:
        if r["kind"] == "shape":
            shapes.setdefault(r["shape"], []).append(r)
    out = {}
    for name, rows in shapes.items():
        rows.sort(key=lambda r: r["fraction"])
        steps, prev = [], None
        for r in rows:
            st = {"r": r, "src": None, "time": None, "mem": None, "ok_time": True,
                  "ok_mem": True}
            if ok(r):
                st["net_s"] = r["zvc"]["median"] - base_time
                st["net_b"] = max(0, r["zvc"]["peak"] - base_peak)
            if prev is not None and ok(r) and "net_s" in prev:
                st["src"] = r["bytes"] / prev["r"]["bytes"]
                limit = DOUBLING / 2 * st["src"]
                if prev["net_s"] >= MIN_TIME:
                    st["time"] = max(st["net_s"], 1e-6) / prev["net_s"]
                    st["ok_time"] = st["time"] <= limit
                if prev["net_b"] >= MIN_MEMORY:
                    st["mem"] = st["net_b"] / prev["net_b"]
                    st["ok_mem"] = st["mem"] <= limit
            steps.append(st)
            prev = st
        out[name] = steps
    return out


def fitted(rows, key):
    """The cost of doubling a shape, fitted over its sizes: 2 to the slope of the least
    squares line through log(net figure) against log(size), with the points above the noise
    floor (MIN_TIME, MIN_MEMORY). The size is the source's bytes, or, for a shape whose
    source hardly grows (nest_depth), the parameter that grows. None with under 2 points."""
    floor = MIN_TIME if key == "time" else MIN_MEMORY
    field = "net_s" if key == "time" else "net_b"
    good = [s for s in rows if ok(s["r"]) and s.get(field, 0) >= floor]
    if len(good) < 2:
        return None
    growth = good[-1]["r"]["bytes"] / good[0]["r"]["bytes"]
    def size(r):
        if growth >= 1.5 or not r.get("grows"):
            return r["bytes"]
        return r["params"][r["paramnames"].index(r["grows"][0])]
    xs = [math.log(size(s["r"])) for s in good]
    ys = [math.log(s[field]) for s in good]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    var = sum((x - mx) ** 2 for x in xs)
    if var == 0:
        return None
    slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / var
    return 2 ** slope, len(good)


def missed(results):
    """Source paths of the programs that miss a target, for profiling: each failed or
    missing mix, the largest size of each shape that misses, each failed or slow deep one."""
    out = []
    for r in results:
        if r["kind"] == "mix":
            if not ok(r) or (ok(r, "luac") and (
                    r["zvc"]["median"] > MIX_TIME * r["luac"]["median"] or
                    r["zvc"]["peak"] > MIX_MEMORY * r["luac"]["peak"])):
                out.append(r["path"])
        elif r["kind"] == "deep" and (not ok(r) or r["zvc"]["median"] >= DEEP_LIMIT):
            out.append(r["path"])
        elif r["kind"] == "tiny" and (not ok(r) or (ok(r, "luac") and (
                r["zvc"]["median"] > TINY_TIME * r["luac"]["median"]))):
            out.append(r["path"])
    for steps in shape_steps(results).values():
        top = steps[-1]["r"]
        fits = [fitted(steps, key) for key in ("time", "mem")]
        bad = any(not ok(s["r"]) for s in steps) or any(
            f is not None and f[0] > DOUBLING for f in fits)
        if bad or top["zvc"]["median"] >= SHAPE_LIMIT:
            out.append(top["path"])
    return out


def params(r):
    return ", ".join("%s %d" % (n, v) for n, v in zip(r["paramnames"], r["params"]))


def fx(v, missing="-"):
    return missing if v is None else "%.2fx" % v


def failed(r, tool="zvc"):
    return "FAILED (%s) %s" % (r[tool]["status"], r[tool]["message"].replace("|", "/"))


AGAINST_LUAC_HEAD = ("| program | zvc bytes | lua bytes | zvc s | luac s | zvc/luac time | "
                     "zvc instructions | luac instructions | zvc/luac instructions | "
                     "zvc peak MiB | luac peak MiB | zvc/luac memory |")
AGAINST_LUAC_RULE = "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"


def against_luac(r):
    """The cells of AGAINST_LUAC_HEAD for a program with a Lua twin, or None when either
    compiler failed on it."""
    if not (ok(r) and ok(r, "luac")):
        return None
    z, l = r["zvc"], r["luac"]
    zi, li = z.get("instructions"), l.get("instructions")
    return "| %s | %d | %d | %s | %s | %.2f | %s | %s | %s | %s | %s | %.2f |" % (
        r["name"], r["bytes"], r["luabytes"], fmt_s(z["median"]), fmt_s(l["median"]),
        z["median"] / l["median"], count(zi), count(li), ratio(zi, li), mib(z["peak"]),
        mib(l["peak"]), z["peak"] / l["peak"])


def against_luac_table(rows, targets):
    """The lines of a table of programs against their Lua twins: AGAINST_LUAC_HEAD and a
    verdict per target, each (name, result key, largest zvc/luac ratio)."""
    out = [AGAINST_LUAC_HEAD + "".join(" %s target |" % t[0] for t in targets),
           AGAINST_LUAC_RULE + "---|" * len(targets)]
    for r in rows:
        cells = against_luac(r)
        if cells is None:
            why = failed(r) if not ok(r) else (failed(r, "luac") if "luac" in r
                                               else "no luac5.4")
            out.append("| %s | %d | %d | %s |" % (r["name"], r["bytes"], r.get("luabytes", 0),
                                                  why) + " |" * (8 + len(targets)))
            continue
        out.append(cells + "".join(
            " %s |" % ("met" if r["zvc"][key] / r["luac"][key] <= limit else "MISSED")
            for _, key, limit in targets))
    return out


def tables(info, results):
    by = {r["name"]: r for r in results}
    base_time, base_peak = baseline(results)
    out = ["Measured %s at commit %s on %s (load average at the start: %s); median of up to "
           "%d runs; peak memory is the maximum resident set size, and the net figures "
           "subtract the empty program's %s s and %s MiB.\n" % (
               info["date"], info.get("commit") or "?", info["machine"], info.get("load", "?"),
               info["runs"], fmt_s(base_time), mib(base_peak))]

    out.append("| program | source bytes | zvc median s | min s | max s | MB/s | peak MiB | "
               "net memory bytes / source byte |")
    out.append("|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        z = r["zvc"]
        if z["status"] != 0:
            out.append("| %s | %d | %s | | | | | |" % (r["name"], r["bytes"], failed(r)))
            continue
        rate = r["bytes"] / z["median"] / 1e6 if r["bytes"] else 0
        per = max(0, z["peak"] - base_peak) / r["bytes"] if r["bytes"] else 0
        out.append("| %s | %d | %s | %s | %s | %.1f | %s | %.2f |" % (
            r["name"], r["bytes"], fmt_s(z["median"]), fmt_s(z["min"]), fmt_s(z["max"]), rate,
            mib(z["peak"]), per))

    tiny = [r for r in results if r["kind"] == "tiny"]
    if tiny:
        out.append("\nThe tiny program against its Lua twin (`luac5.4 -o /dev/null`): a few lines, "
                   "so the time is the process's start and end; target: zvc time at most %.1fx "
                   "luac's. Times are medians of at least %d runs; instructions as callgrind "
                   "counts them, one run each. zvc writes its "
                   "byte code to a file, replacing the one of the run before; the second row "
                   "has luac do the same (`-o tiny.luac`), which on a file system that flushes a "
                   "replaced file's data (ext4) costs both alike.\n" % (TINY_TIME, TINY_RUNS))
        rows = []
        for r in tiny:
            rows.append(r)
            if "luacfile" in r:
                rows.append(dict(r, name=r["name"] + ", luac writing a file",
                                 luac=dict(r["luacfile"],
                                           instructions=r.get("luac", {}).get("instructions"))))
        out += against_luac_table(rows, (("time", "median", TINY_TIME),))

    mixes = [r for r in results if r["kind"] == "mix"]
    if mixes:
        out.append("\nRealistic mix against the same program in Lua 5.4 (`luac5.4 -o /dev/null`); "
                   "targets: zvc time at most %.1fx luac's, zvc peak memory at most %.1fx luac's. "
                   "Instructions as callgrind counts them, one run each, for the programs up to "
                   "%d MiB.\n" % (MIX_TIME, MIX_MEMORY, INSTRUCTION_BYTES // (1024 * 1024)))
        out += against_luac_table(mixes, (("time", "median", MIX_TIME),
                                          ("memory", "peak", MIX_MEMORY)))
        if "mix4" in by and "mix16" in by and ok(by["mix4"]) and ok(by["mix16"]):
            a, b = by["mix4"], by["mix16"]
            tr = b["zvc"]["median"] / a["zvc"]["median"]
            sr = b["bytes"] / a["bytes"]
            mr = (b["zvc"]["peak"] - base_peak) / max(1, a["zvc"]["peak"] - base_peak)
            out.append("\nmix16 / mix4: source %.2fx, time %.2fx (target at most %.1fx: %s), "
                       "net memory %.2fx." % (sr, tr, MIX_GROWTH,
                                              "met" if tr <= MIX_GROWTH else "MISSED", mr))

    steps = shape_steps(results)
    if steps:
        out.append("\nPathological shapes at growing sizes; `x` columns compare each size with "
                   "the one before (time and memory net of the empty program). Target: doubling "
                   "the size costs at most %.1fx the time and %.1fx the memory, that is each "
                   "ratio at most %.2f times the source's growth (for nest_depth, whose levels "
                   "grow around a fixed body, the source grows little, and so may the time). "
                   "\"start-up bound\": the smaller size runs under %.0f ms net, see zvbench; "
                   "\"under 2 MiB\": too little memory to tell.\n" % (
                       DOUBLING, DOUBLING, DOUBLING / 2, MIN_TIME * 1000))
        out.append("| shape | size | parameters | source bytes | net s | net memory bytes / "
                   "source byte | source x | net time x | net memory x | linear |")
        out.append("|---|---|---|---:|---:|---:|---:|---:|---:|---|")
        for name, rows in steps.items():
            for st in rows:
                r = st["r"]
                if not ok(r):
                    out.append("| %s | %s | %s | %d | %s | | | | | |" % (
                        name, r["size"], params(r), r["bytes"], failed(r)))
                    continue
                if st["src"] is None:
                    verdict = "-"
                elif st["time"] is None and st["mem"] is None:
                    verdict = "too small to tell"
                else:
                    bad = [k for k in ("time", "mem") if not st["ok_" + k]]
                    verdict = "yes" if not bad else "NO (%s)" % ", ".join(
                        "memory" if k == "mem" else k for k in bad)
                out.append("| %s | %s | %s | %d | %s | %.2f | %s | %s | %s | %s |" % (
                    name, r["size"], params(r), r["bytes"], fmt_s(st["net_s"]),
                    st["net_b"] / r["bytes"], fx(st["src"]),
                    fx(st["time"], "start-up bound" if st["src"] else "-"),
                    fx(st["mem"], "under 2 MiB" if st["src"] else "-"), verdict))

    if steps:
        out.append("\nGrowth fitted over all the sizes of each shape (the points above %.0f ms "
                   "and 2 MiB net): the cost of doubling the size, 2 to the slope of log(net "
                   "figure) against log(size). Target: at most %.1fx. The size is the source's "
                   "bytes, for nest_depth its levels.\n" % (MIN_TIME * 1000, DOUBLING))
        out.append("| shape | time per doubling | points | memory per doubling | points | linear |")
        out.append("|---|---:|---:|---:|---:|---|")
        for name, rows in steps.items():
            t, m = fitted(rows, "time"), fitted(rows, "mem")
            cells = [fx(f[0]) if f else "too small to tell" for f in (t, m)]
            bad = [k for k, f in (("time", t), ("memory", m)) if f and f[0] > DOUBLING]
            verdict = "NO (%s)" % ", ".join(bad) if bad else "yes" if (t or m) else "-"
            out.append("| %s | %s | %s | %s | %s | %s |" % (
                name, cells[0], t[1] if t else "-", cells[1], m[1] if m else "-", verdict))

    deep = [r for r in results if r["kind"] == "deep"]
    if deep:
        out.append("\nDeep nesting, each kind as deep as the compiler allows; targets: accepted "
                   "(exit status 0 and no failure reported) and well under 1 s, taken as under "
                   "%.1f s.\n" % DEEP_LIMIT)
        out.append("| program | levels | source bytes | zvc s | peak MiB | accepted | "
                   "under %.1f s |" % DEEP_LIMIT)
        out.append("|---|---:|---:|---:|---:|---|---|")
        for r in deep:
            if not ok(r):
                out.append("| %s | %d | %d | | | NO: %s | |" % (
                    r["name"], r["params"][0], r["bytes"], failed(r)))
                continue
            t = r["zvc"]["median"]
            out.append("| %s | %d | %d | %s | %s | yes | %s |" % (
                r["name"], r["params"][0], r["bytes"], fmt_s(t), mib(r["zvc"]["peak"]),
                "yes" if t < DEEP_LIMIT else "NO (%s s)" % fmt_s(t)))
    return "\n".join(out) + "\n"


def summary(info, results):
    """The table "Against the targets": one line per target with the figures behind it."""
    by = {r["name"]: r for r in results}
    rows = []

    def status(good, what="met", bad="missed"):
        return what if good else bad

    mixes = [r for r in results if r["kind"] == "mix"]
    pairs = [(r, r["zvc"], r["luac"]) for r in mixes if ok(r) and ok(r, "luac")]
    if mixes:
        for label, key, limit in (("time at most %.1fx luac's" % MIX_TIME, "median", MIX_TIME),
                                  ("peak memory at most %.1fx luac's" % MIX_MEMORY, "peak", MIX_MEMORY)):
            figs = ["%.2f (%s)" % (z[key] / l[key], r["name"]) for r, z, l in pairs]
            bad = [r["name"] for r, z, l in pairs if z[key] / l[key] > limit]
            bad += [r["name"] for r in mixes if not (ok(r) and ok(r, "luac"))]
            rows.append(("realistic mix, zvc " + label, ", ".join(figs) or "-",
                         status(not bad, bad="missed by " + ", ".join(bad))))
        if "mix4" in by and "mix16" in by and ok(by["mix4"]) and ok(by["mix16"]):
            tr = by["mix16"]["zvc"]["median"] / by["mix4"]["zvc"]["median"]
            rows.append(("mix16 at most %.1fx mix4" % MIX_GROWTH, "%.2fx" % tr,
                         status(tr <= MIX_GROWTH)))

    for r in (r for r in results if r["kind"] == "tiny"):
        if ok(r) and ok(r, "luac"):
            t = r["zvc"]["median"] / r["luac"]["median"]
            zi, li = r["zvc"].get("instructions"), r["luac"].get("instructions")
            fig = "%.2f" % t + ("; instructions %s" % ratio(zi, li) if zi and li else "")
            rows.append(("tiny program, zvc time at most %.1fx luac's" % TINY_TIME, fig,
                         status(t <= TINY_TIME)))
        else:
            rows.append(("tiny program, zvc time at most %.1fx luac's" % TINY_TIME,
                         failed(r) if not ok(r) else "luac failed or missing", "not measured"))

    steps = shape_steps(results)
    if steps:
        for label, key in (("time", "time"), ("peak memory", "mem")):
            fits = {name: fitted(rows_, key) for name, rows_ in steps.items()}
            small = [n for n, f in fits.items() if f is None]
            fits = {n: f[0] for n, f in fits.items() if f is not None}
            bad = [n for n, f in fits.items() if f > DOUBLING]
            good = [f for n, f in fits.items() if f <= DOUBLING]
            fig = ["%s %.2fx" % (n, fits[n]) for n in bad]
            if good:
                fig.append("%s %.2fx to %.2fx" % ("the others" if bad else "the rest"
                                                  if small else "all", min(good), max(good)))
            if small:
                fig.append("too small to tell: " + ", ".join(small))
            rows.append(("every shape linear in %s (fitted cost of doubling at most %.1fx)" % (
                label, DOUBLING), "; ".join(fig),
                "missed by " + ", ".join(bad) if bad else "met" if fits else "not measured"))
        tops = [rows_[-1]["r"] for rows_ in steps.values()]
        slow = max((r for r in tops if ok(r)), key=lambda r: r["zvc"]["median"], default=None)
        fails = [r["name"] for r in tops if not ok(r)]
        fig = "slowest is %s, %s s" % (slow["name"], fmt_s(slow["zvc"]["median"])) if slow else ""
        if fails:
            fig += "; failed: " + ", ".join(fails)
        rows.append(("every shape under %.0f s at full size" % SHAPE_LIMIT, fig,
                     status(not fails and slow and slow["zvc"]["median"] < SHAPE_LIMIT)))

    deep = [r for r in results if r["kind"] == "deep"]
    if deep:
        slow = max((r for r in deep if ok(r)), key=lambda r: r["zvc"]["median"], default=None)
        fails = [r["name"] for r in deep if not ok(r)]
        fig = "slowest is %s, %s s" % (slow["name"], fmt_s(slow["zvc"]["median"])) if slow else ""
        if fails:
            fig += "; not accepted: " + ", ".join(fails)
        rows.append(("%d levels of every kind accepted, each under %.1f s" % (
            deep[0]["params"][0], DEEP_LIMIT), fig,
            status(not fails and slow and slow["zvc"]["median"] < DEEP_LIMIT)))

    out = ["\n### Against the targets (run of %s at commit %s)\n" % (
               info["date"], info.get("commit") or "?"),
           "| target | figure | status |", "|---|---|---|"]
    out += ["| %s | %s | %s |" % row for row in rows]
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    sys.exit(main())
