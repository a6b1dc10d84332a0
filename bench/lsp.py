#!/usr/bin/env python3
# The language server's latency and peak memory on large documents, beside `zv check` on
# the same file. For each size it writes a realistic program (the mix of bench/gen.py),
# runs `zv check` on it (wall time and peak resident memory), then drives `zv lsp` over its
# pipes: open -> diagnostics, hover, document symbols, folding ranges, semantic tokens, a
# one-character change -> diagnostics, and five changes sent at once -> diagnostics of the
# last. A step is timed from its first byte sent to the last byte of its answer received:
# the client's encoding of its messages and decoding of the answer (a 1 MB document's
# semantic tokens are megabytes of JSON, which Python takes longer to parse than the
# server takes to write) are not the server's. The whole session runs --runs times, each with a new server, and each step
# keeps its best time, as `zv check` does. Each figure is also given as a ratio to
# `zv check`'s whole run, with the server's peak memory after the step (which step makes
# the peak; the highest of the runs). Nothing is asserted:
# the targets (every request on 1 MB within 1.5x of zv check, peak memory at most 3x) are
# for comparing against.
#
# Usage: bench/lsp.py ZV [--sizes 1,20] [--out FILE.md] [--runs N]
#   ZV is the zv binary (a Release build: build-bench/src/zv/zv after bench/run.sh).
#   --sizes in MB; --runs takes the best of N sessions and N runs of zv check.

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen  # noqa: E402

MB = 1024 * 1024


def peak_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class Client:
    def __init__(self, zv):
        self.proc = subprocess.Popen([zv, "lsp"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.nextid = 1
        self.arrived = 0.0  # when the last byte of the message last read came in
        self.started = None  # when the first message of a step began to be written

    def send(self, message):
        body = json.dumps(dict(jsonrpc="2.0", **message)).encode()
        if self.started is None:
            self.started = time.perf_counter()
        self.proc.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.proc.stdin.flush()

    def read(self):
        length = 0
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("zv lsp closed its output")
            line = line.strip()
            if not line:
                break
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
        body = self.proc.stdout.read(length)
        self.arrived = time.perf_counter()
        return json.loads(body)

    def request(self, method, params):
        rid = self.nextid
        self.nextid += 1
        self.send({"id": rid, "method": method, "params": params})
        while True:
            m = self.read()
            if m.get("id") == rid:
                return m

    def diagnostics(self, uri, version):
        while True:
            m = self.read()
            if m.get("method") == "textDocument/publishDiagnostics" and \
                    m["params"]["uri"] == uri and m["params"].get("version") == version:
                return m["params"]["diagnostics"]

    def close(self):
        self.send({"id": 0, "method": "shutdown"})
        self.send({"method": "exit"})
        self.proc.wait(timeout=60)


def step(rows, client, name, action):
    """Times `action` as the row `name`, up to the arrival of the message it waited for,
    with the server's peak memory (KB) after it."""
    client.started = None
    result = action()
    rows.append((name, client.arrived - client.started, peak_kb(client.proc.pid)))
    return result


def check(zv, path, runs):
    """Best wall time and peak memory (KB) of `zv check PATH`. The peak is read from the
    process itself (VmHWM, polled until it ends), not from the rusage of the child, which
    counts the memory of the forked Python before the exec."""
    best, peak = None, 0
    for _ in range(runs):
        start = time.perf_counter()
        proc = subprocess.Popen([zv, "check", path], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        high = 0
        while proc.poll() is None:
            try:
                high = max(high, peak_kb(proc.pid))
            except (OSError, ValueError):
                pass
            time.sleep(0.002)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
        peak = max(peak, high)
    return best, peak


def middle(text):
    """A position on a line in the middle of the text, on its first non-blank character."""
    lines = text.split("\n")
    n = len(lines) // 2
    while n < len(lines) and not lines[n].strip():
        n += 1
    return n, len(lines[n]) - len(lines[n].lstrip())


def measure(zv, size_mb, runs, workdir):
    text, _ = gen.Mix(seed=size_mb).build(int(size_mb * MB))
    path = os.path.join(workdir, "doc%d.zv" % size_mb)
    with open(path, "w", newline="\n") as f:
        f.write(text)
    check_time, check_peak = check(zv, path, runs)
    best, peak = None, 0
    for _ in range(runs):
        rows, high = session(zv, text, path)
        peak = max(peak, high)
        if best is None:
            best = rows
        else:
            best = [(name, min(took, other), max(mem, othermem))
                    for (name, took, mem), (_, other, othermem) in zip(best, rows)]
    return {"size": size_mb, "bytes": len(text), "check": check_time, "checkpeak": check_peak,
            "rows": best, "peak": peak}


def session(zv, text, path):
    """One server from start to exit: each step's time and peak memory, and the peak."""
    uri = "file://" + path
    c = Client(zv)
    c.request("initialize", {"processId": None, "capabilities": {}})
    c.send({"method": "initialized", "params": {}})
    rows = []
    version = 1

    def opened():
        c.send({"method": "textDocument/didOpen", "params": {"textDocument": {
            "uri": uri, "languageId": "zv", "version": 1, "text": text}}})
        return c.diagnostics(uri, 1)

    step(rows, c, "open -> diagnostics", opened)
    line, col = middle(text)
    at = {"textDocument": {"uri": uri}, "position": {"line": line, "character": col}}
    doc = {"textDocument": {"uri": uri}}
    step(rows, c, "hover", lambda: c.request("textDocument/hover", at))
    step(rows, c, "document symbols", lambda: c.request("textDocument/documentSymbol", doc))
    step(rows, c, "folding ranges", lambda: c.request("textDocument/foldingRange", doc))
    step(rows, c, "semantic tokens",
         lambda: c.request("textDocument/semanticTokens/full", doc))

    def change(count):
        nonlocal version
        for _ in range(count):
            version += 1
            c.send({"method": "textDocument/didChange", "params": {
                "textDocument": {"uri": uri, "version": version},
                "contentChanges": [{"range": {"start": {"line": line, "character": col},
                                              "end": {"line": line, "character": col}},
                                    "text": " "}]}})
        return c.diagnostics(uri, version)

    step(rows, c, "one-character change -> diagnostics", lambda: change(1))
    step(rows, c, "five changes at once -> diagnostics", lambda: change(5))
    peak = peak_kb(c.proc.pid)
    c.close()
    return rows, peak


def report(results):
    out = []
    for r in results:
        out.append("### %d MB document (%d bytes)\n" % (r["size"], r["bytes"]))
        out.append("| step | seconds | ratio to zv check | server's peak memory after it, MB |")
        out.append("|---|---:|---:|---:|")
        out.append("| zv check, whole run | %.3f | 1.00 | |" % r["check"])
        for name, took, high in r["rows"]:
            out.append("| %s | %.3f | %.2f | %.0f |" % (name, took, took / r["check"], high / 1024))
        out.append("")
        out.append("| peak memory | MB | ratio |")
        out.append("|---|---:|---:|")
        out.append("| zv check | %.0f | 1.00 |" % (r["checkpeak"] / 1024))
        out.append("| zv lsp | %.0f | %.2f |" % (r["peak"] / 1024, r["peak"] / r["checkpeak"]))
        out.append("")
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("zv")
    ap.add_argument("--sizes", default="1,20")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--out")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as work:
        results = [measure(os.path.abspath(args.zv), int(s), args.runs, work)
                   for s in args.sizes.split(",")]
    text = report(results)
    print(text)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text + "\n")


if __name__ == "__main__":
    main()
