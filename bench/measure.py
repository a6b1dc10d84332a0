#!/usr/bin/env python3
# Whole-process runner of the zvc benchmarks. Reads the manifest that bench/gen.py wrote,
# runs `zvc FILE` on every program (standard output to /dev/null, in a scratch working
# directory, since zvc writes <stem>.zvbc there) several times, and records the median wall
# time and the peak resident memory. The Lua twins of the realistic mix are compiled by
# `luac5.4 -o /dev/null` in the same run. Writes results.json and results.md (the tables of
# bench/README.md) into the output folder, and prints the tables.
#
# Peak memory comes from `/usr/bin/time -v` ("Maximum resident set size") when that program
# exists, otherwise from the child's resource usage (wait4, the getrusage of the child).
#
# Usage: measure.py --zvc PATH --manifest FILE --out DIR [--luac luac5.4] [--runs N]

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TIMEOUT = 300.0
GNU_TIME = "/usr/bin/time"
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
        tail = err.read()[-400:].decode("latin-1").strip().splitlines()
        return dt, ru.ru_maxrss * 1024, p.returncode, (tail[-1] if tail else "")


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
        r = dict(m)
        r["zvc"] = measure([zvc, src], work, args.runs)
        if m["kind"] == "mix" and luac:
            r["luac"] = measure([luac, "-o", "/dev/null", os.path.abspath(m["lua"])], work,
                                args.runs)
        results.append(r)
        z = r["zvc"]
        line = "%-11s %10d B  " % (m["name"], m["bytes"])
        if z["status"] == 0:
            line += "zvc %s s  %s MiB" % (fmt_s(z["median"]), mib(z["peak"]))
        else:
            line += "zvc FAILED (%s): %s" % (z["status"], z["message"])
        if "luac" in r and r["luac"]["status"] == 0:
            line += "  luac %s s" % fmt_s(r["luac"]["median"])
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
    md = tables(info, results) + microtable(os.path.join(args.out, "micro.json"))
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


def missed(results):
    """Source paths of the programs that miss a target, for profiling."""
    by = {r["name"]: r for r in results}
    base = by.get("empty")
    base_time = base["zvc"]["median"] if base and ok(base) else 0.0
    out = []
    for r in results:
        if r["kind"] == "mix":
            if not ok(r) or (ok(r, "luac") and r["zvc"]["median"] > r["luac"]["median"]):
                out.append(r["path"])
        elif r["kind"] == "shape" and r["size"] == "full":
            h = by.get(r["shape"] + "_half")
            slow = not ok(r) or r["zvc"]["median"] >= 1.0
            if not slow and h and ok(h) and h["zvc"]["median"] - base_time >= 0.005:
                slow = (r["zvc"]["median"] - base_time) / (h["zvc"]["median"] - base_time) > 2.2
            if slow:
                out.append(r["path"])
    return out


def ok(r, tool="zvc"):
    return tool in r and r[tool]["status"] == 0


def tables(info, results):
    by = {r["name"]: r for r in results}
    base = by.get("empty")
    base_peak = base["zvc"]["peak"] if base and ok(base) else 0
    base_time = base["zvc"]["median"] if base and ok(base) else 0.0
    out = ["Measured %s at commit %s on %s (load average at the start: %s); median of up to "
           "%d runs; peak memory is the maximum resident set size, and the net figures "
           "subtract the empty program's %s MiB.\n" % (
               info["date"], info.get("commit") or "?", info["machine"], info.get("load", "?"),
               info["runs"], mib(base_peak))]

    out.append("| program | source bytes | zvc median s | min s | max s | MB/s | peak MiB | "
               "net memory bytes / source byte |")
    out.append("|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        z = r["zvc"]
        if z["status"] != 0:
            out.append("| %s | %d | FAILED (%s) %s | | | | | |" % (
                r["name"], r["bytes"], z["status"], z["message"].replace("|", "/")))
            continue
        rate = r["bytes"] / z["median"] / 1e6 if r["bytes"] else 0
        per = max(0, z["peak"] - base_peak) / r["bytes"] if r["bytes"] else 0
        out.append("| %s | %d | %s | %s | %s | %.1f | %s | %.2f |" % (
            r["name"], r["bytes"], fmt_s(z["median"]), fmt_s(z["min"]), fmt_s(z["max"]), rate,
            mib(z["peak"]), per))

    mixes = [r for r in results if r["kind"] == "mix"]
    if mixes:
        out.append("\nRealistic mix against the same program in Lua 5.4 (`luac5.4 -o /dev/null`); "
                   "target: ratio at most 1.0.\n")
        out.append("| program | zvc bytes | lua bytes | zvc s | luac s | zvc/luac | target |")
        out.append("|---|---:|---:|---:|---:|---:|---|")
        for r in mixes:
            if not (ok(r) and ok(r, "luac")):
                out.append("| %s | %d | %d | %s | %s | - | - |" % (
                    r["name"], r["bytes"], r.get("luabytes", 0),
                    fmt_s(r["zvc"].get("median")),
                    fmt_s(r.get("luac", {}).get("median"))))
                continue
            ratio = r["zvc"]["median"] / r["luac"]["median"]
            out.append("| %s | %d | %d | %s | %s | %.2f | %s |" % (
                r["name"], r["bytes"], r["luabytes"], fmt_s(r["zvc"]["median"]),
                fmt_s(r["luac"]["median"]), ratio, "met" if ratio <= 1.0 else
                "MISSED by %.0f%%" % ((ratio - 1.0) * 100)))
        if "mix4" in by and "mix16" in by and ok(by["mix4"]) and ok(by["mix16"]):
            a, b = by["mix4"], by["mix16"]
            tr = b["zvc"]["median"] / a["zvc"]["median"]
            sr = b["bytes"] / a["bytes"]
            mr = (b["zvc"]["peak"] - base_peak) / max(1, a["zvc"]["peak"] - base_peak)
            out.append("\nmix16 / mix4: source %.2fx, time %.2fx (target at most 4.4x: %s), "
                       "net memory %.2fx." % (sr, tr, "met" if tr <= 4.4 else "MISSED", mr))

    shapes = sorted({r["shape"] for r in results if r["kind"] == "shape"},
                    key=lambda s: [r["shape"] for r in results if r.get("shape")].index(s))
    if shapes:
        out.append("\nPathological shapes, full and half size; targets: full size under 1 s, "
                   "and doubling the size costs at most 2.2x the time (net of the empty program's "
                   "%s s).\n" % fmt_s(base_time))
        out.append("| shape | full params | full bytes | full s | half s | net time full/half | "
                   "full peak MiB | net memory full/half | under 1 s | linear |")
        out.append("|---|---|---:|---:|---:|---:|---:|---:|---|---|")
        for s in shapes:
            f, h = by.get(s + "_full"), by.get(s + "_half")
            if not (f and h and ok(f) and ok(h)):
                bad = [x for x in (f, h) if x and not ok(x)]
                msg = "; ".join("%s FAILED (%s) %s" % (x["name"], x["zvc"]["status"],
                                                       x["zvc"]["message"]) for x in bad)
                out.append("| %s | %s | %d | %s | | | | | | |" % (
                    s, f and f["params"], f["bytes"] if f else 0, msg.replace("|", "/")))
                continue
            tf, th = f["zvc"]["median"], h["zvc"]["median"]
            # Growth is judged on the time net of the process start-up (the empty program).
            tr = max(tf - base_time, 1e-6) / max(th - base_time, 1e-6)
            nf, nh = f["zvc"]["peak"] - base_peak, h["zvc"]["peak"] - base_peak
            # Below these amounts the process start-up hides the growth; zvbench measures it.
            timed = th - base_time >= 0.005
            sized = nh >= 1024 * 1024
            out.append("| %s | %s | %d | %s | %s | %s | %s | %s | %s | %s |" % (
                s, " ".join(map(str, f["params"])), f["bytes"], fmt_s(tf), fmt_s(th),
                "%.2f" % tr if timed else "start-up bound", mib(f["zvc"]["peak"]),
                "%.2f" % (nf / nh) if sized else "under 1 MiB",
                "yes" if tf < 1.0 else "NO (%.2f s)" % tf,
                ("yes" if tr <= 2.2 else "NO (%.2fx)" % tr) if timed else "see zvbench"))
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    sys.exit(main())
