#!/usr/bin/env python3
# Publishes a benchmark run into bench/README.md: replaces what lies between the lines
# <!-- figures:begin --> and <!-- figures:end --> with the tables of results.md and links to
# the two plots, and copies growth.svg and memory.svg next to the README.
#
# Usage: publish.py OUTDIR README.md

import os
import shutil
import sys

BEGIN, END = "<!-- figures:begin -->", "<!-- figures:end -->"


def main():
    out, readme = sys.argv[1], sys.argv[2]
    with open(os.path.join(out, "results.md")) as f:
        tables = f.read().strip()
    with open(readme) as f:
        lines = f.read().split("\n")
    begin = [i for i, x in enumerate(lines) if x.strip() == BEGIN]
    end = [i for i, x in enumerate(lines) if x.strip() == END]
    if len(begin) != 1 or len(end) != 1 or begin[0] > end[0]:
        sys.exit("%s: needs one line %s and one line %s after it" % (readme, BEGIN, END))
    block = [tables, "", "![Compile time against source size](growth.svg)", "",
             "![Peak memory against source size](memory.svg)"]
    for name in ("growth.svg", "memory.svg"):
        src = os.path.join(out, name)
        dst = os.path.join(os.path.dirname(os.path.abspath(readme)), name)
        if not os.path.exists(dst) or not os.path.samefile(src, dst):
            shutil.copyfile(src, dst)
    with open(readme, "w") as f:
        f.write("\n".join(lines[:begin[0] + 1] + block + lines[end[0]:]))
    print("published %s into %s" % (out, readme))


if __name__ == "__main__":
    sys.exit(main())
