#!/usr/bin/env python3
# Program generator for the zvc benchmarks. Writes source programs of chosen sizes and
# shapes into an output folder: the realistic mix (many functions with parameters, control
# statements, calls, member paths, indexes, lists, dictionaries and strings) together with a
# Lua 5.4 twin of each mix program that holds the same functions, statements and literals one
# for one; the pathological shapes (huge list, expression, dictionary, function body, line,
# block nesting, call nesting and a library included thousands of times), each at a series of sizes (1/8, 1/4, 1/2 and 1 of full;
# `nest` at 1/2 and 1) so that growth can be read from a curve; and the deep programs, 2000
# levels of each kind of nesting; the empty program; and a tiny program of a few lines with
# its Lua twin. bench/measure.py times zvc (and luac) on what this writes.
#
# Usage: gen.py OUTDIR [--only NAME ...] [--scale F]
#   --only takes program names (mix4, tiny) or shape names (list, nest_depth, deep).
#   --scale multiplies every size (0.05 gives a quick smoke run); the deep programs stay at
#   2000 levels, the limit they exist to check, and the tiny program as it is.
#   Prints one line per file: name, path, bytes. manifest.json lists them all.

import argparse
import json
import os
import random
import sys

MB = 1024 * 1024

# ---------------------------------------------------------------------------------------
# Realistic mix. Every construct is built twice, as zvc text and as Lua text, by the same
# random choices, so both programs have the same functions, statements and literals.

WORDS = ["alpha", "beta", "gamma", "delta", "node", "item", "value", "count", "total",
         "index", "name", "size", "left", "right", "next", "prev", "key", "data", "state",
         "limit", "score", "level", "color", "width", "height", "offset", "buffer"]
FIELDS = ["x", "y", "pos", "items", "count", "name", "parent", "child", "first", "last",
          "config", "size", "data"]
STRWORDS = ["hello", "world", "error", "ready", "done", "value", "is", "out", "of", "range",
            "the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "ok", "failed"]
SYMOPS = ["+", "-", "*", "/", "==", "!=", ">=", "<=", ">", "<"]
ARITH = ["+", "-", "*", "/"]
CMP = ["==", "!=", ">=", "<=", ">", "<"]


def lua_op(op):
    return "~=" if op == "!=" else op


class Mix:
    """Builds one realistic program as a pair of texts (zvc, Lua)."""

    def __init__(self, seed):
        self.r = random.Random(seed)
        self.zv = []
        self.lua = []
        self.zvsize = 0
        self.funcs = []  # (name, arity) of functions defined so far

    # -- helpers -------------------------------------------------------------------------
    def emit(self, indent, zv, lua):
        pad = "    " * indent
        self.zv.append(pad + zv + "\n")
        self.lua.append(pad + lua + "\n")
        self.zvsize += len(pad) + len(zv) + 1

    def ident(self, scope):
        return self.r.choice(scope)

    def string(self):
        n = self.r.randint(1, 5)
        s = " ".join(self.r.choice(STRWORDS) for _ in range(n))
        if self.r.random() < 0.1:
            s += "\\n"
        return '"' + s + '"'

    def number(self):
        x = self.r.random()
        if x < 0.75:
            return str(self.r.randint(0, 1000))
        if x < 0.9:
            return "%d.%d" % (self.r.randint(0, 99), self.r.randint(0, 9))
        return str(self.r.randint(0, 100))

    def member(self, scope):
        n = self.r.randint(1, 3)
        return self.ident(scope) + "".join("." + self.r.choice(FIELDS) for _ in range(n))

    # -- operands and expressions (both languages share the text unless noted) -----------
    def simple_operand(self, scope):
        """A blank-free operand without calls: name, number, member path or index."""
        x = self.r.random()
        if x < 0.35:
            t = self.ident(scope)
            return t, t
        if x < 0.6:
            t = self.number()
            return t, t
        if x < 0.8:
            t = self.member(scope)
            return t, t
        i = self.r.choice([self.ident(scope), str(self.r.randint(0, 9)),
                           self.ident(scope) + "+1"])
        t = "%s[%s]" % (self.ident(scope), i)
        return t, t

    def call(self, scope, depth):
        """A call of an earlier function or of a member path, arguments separated by ", "."""
        if self.funcs and self.r.random() < 0.7:
            name, arity = self.r.choice(self.funcs)
        else:
            name, arity = self.member(scope), self.r.randint(0, 3)
        za, la = [], []
        for _ in range(arity):
            z, l = self.argument(scope, depth + 1)
            za.append(z)
            la.append(l)
        return "%s(%s)" % (name, ", ".join(za)), "%s(%s)" % (name, ", ".join(la))

    def argument(self, scope, depth):
        x = self.r.random()
        if depth < 2 and x < 0.15:
            return self.call(scope, depth)
        if x < 0.25:
            return self.listlit(scope)
        if x < 0.3:
            return self.dictlit(scope)
        if x < 0.4:
            s = self.string()
            return s, s
        if x < 0.55:
            return self.compact_expr(scope, depth, 2)
        return self.simple_operand(scope)

    def operand(self, scope, depth):
        if depth < 2 and self.r.random() < 0.2:
            return self.call(scope, depth)
        return self.simple_operand(scope)

    def compact_expr(self, scope, depth, maxops=4):
        """A blank-free expression: operands joined by symbol operators."""
        z, l = self.operand(scope, depth)
        zs, ls = [z], [l]
        for _ in range(self.r.randint(1, maxops)):
            op = self.r.choice(SYMOPS)
            z, l = self.operand(scope, depth)
            zs.append(op + z)
            ls.append(lua_op(op) + l)
        return "".join(zs), "".join(ls)

    def spaced_expr(self, scope):
        """A parenthesised expression with blanks, possibly with word operators."""
        x = self.r.random()
        a, _ = self.simple_operand(scope)
        b, _ = self.simple_operand(scope)
        if x < 0.25:
            op = self.r.choice(["and", "or"])
            return "(%s %s %s)" % (a, op, b), "(%s %s %s)" % (a, op, b)
        if x < 0.35:
            return "(%s xor %s)" % (a, b), "(%s ~ %s)" % (a, b)
        if x < 0.45:
            return "(not %s)" % a, "(not %s)" % a
        op1, op2 = self.r.choice(SYMOPS), self.r.choice(ARITH)
        c, _ = self.simple_operand(scope)
        return ("(%s %s %s %s %s)" % (a, op1, b, op2, c),
                "(%s %s %s %s %s)" % (a, lua_op(op1), b, op2, c))

    def condition(self, scope):
        if self.r.random() < 0.5:
            a, _ = self.simple_operand(scope)
            b, _ = self.simple_operand(scope)
            op = self.r.choice(CMP)
            return a + op + b, a + lua_op(op) + b
        return self.spaced_expr(scope)

    def listlit(self, scope):
        n = self.r.randint(0, 6)
        items = []
        for _ in range(n):
            x = self.r.random()
            if x < 0.4:
                items.append(str(self.r.randint(0, 999)))
            elif x < 0.6:
                items.append(self.string())
            elif x < 0.8:
                items.append(self.ident(scope))
            elif x < 0.9:
                items.append("%s+%d" % (self.ident(scope), self.r.randint(1, 9)))
            else:
                items.append("-%d" % self.r.randint(1, 99))
        return "[" + ", ".join(items) + "]", "{" + ", ".join(items) + "}"

    def dictlit(self, scope):
        n = self.r.randint(1, 4)
        zs, ls = [], []
        for _ in range(n):
            k = '"%s"' % self.r.choice(WORDS)
            x = self.r.random()
            if x < 0.4:
                v = str(self.r.randint(0, 999))
            elif x < 0.6:
                v = self.string()
            elif x < 0.8:
                v = self.ident(scope)
            else:
                v = self.member(scope)
            zs.append("%s: %s" % (k, v))
            ls.append("[%s] = %s" % (k, v))
        return "{" + ", ".join(zs) + "}", "{" + ", ".join(ls) + "}"

    # -- statements ----------------------------------------------------------------------
    def statement(self, scope, indent, budget):
        """Emits one statement (possibly a block); returns the number of statements used."""
        x = self.r.random()
        target = self.r.choice(scope)
        if indent < 4 and x < 0.22 and budget > 3:
            return self.block(scope, indent, budget)
        if x < 0.42:
            z, l = self.compact_expr(scope, 0)
            self.emit(indent, "%s = %s" % (target, z), "%s = %s" % (target, l))
        elif x < 0.5:
            z, l = self.spaced_expr(scope)
            self.emit(indent, "%s = %s" % (target, z), "%s = %s" % (target, l))
        elif x < 0.62:
            z, l = self.call(scope, 0)
            self.emit(indent, z, l)
        elif x < 0.68:
            z, l = self.call(scope, 0)
            self.emit(indent, "%s = %s" % (target, z), "%s = %s" % (target, l))
        elif x < 0.74:
            z, l = self.listlit(scope)
            self.emit(indent, "%s = %s" % (target, z), "%s = %s" % (target, l))
        elif x < 0.79:
            z, l = self.dictlit(scope)
            self.emit(indent, "%s = %s" % (target, z), "%s = %s" % (target, l))
        elif x < 0.84:
            s = self.string()
            self.emit(indent, "%s = %s" % (target, s), "%s = %s" % (target, s))
        elif x < 0.9:
            m = self.member(scope)
            z, l = self.compact_expr(scope, 0, 2)
            self.emit(indent, "%s = %s" % (m, z), "%s = %s" % (m, l))
        elif x < 0.95:
            i = self.r.choice([self.ident(scope), str(self.r.randint(0, 9))])
            t = "%s[%s]" % (self.ident(scope), i)
            z, l = self.simple_operand(scope)
            self.emit(indent, "%s = %s" % (t, z), "%s = %s" % (t, l))
        elif x < 0.97:
            t = "%s = -%d" % (target, self.r.randint(1, 9))
            self.emit(indent, t, t)
        else:
            m = self.member(scope)
            self.emit(indent, "%s = %s" % (target, m), "%s = %s" % (target, m))
        return 1

    def block(self, scope, indent, budget):
        x = self.r.random()
        inner = self.r.randint(1, min(5, budget - 1))
        if x < 0.45:
            z, l = self.condition(scope)
            self.emit(indent, "if %s {" % z, "if %s then" % l)
        elif x < 0.7:
            z, l = self.condition(scope)
            self.emit(indent, "while %s {" % z, "while %s do" % l)
        elif x < 0.95:
            src = self.r.choice([self.ident(scope), self.member(scope)])
            var = self.r.choice(["it", "el", "entry", "each"])
            scope = scope + [var]
            self.emit(indent, "for %s as %s {" % (src, var), "for %s in %s do" % (var, src))
        else:
            self.emit(indent, "forever {", "while true do")
        used = 1
        while used < inner + 1:
            used += self.statement(scope, indent + 1, inner + 1 - used)
        self.emit(indent, "}", "end")
        return used

    def function(self, name, indent, classname=None):
        arity = self.r.randint(0, 4)
        params = self.r.sample(WORDS, arity)
        locs = ["v%d" % i for i in range(self.r.randint(2, 5))]
        scope = params + locs + ["obj", "items", "cfg"]
        lname = name if classname is None else "%s.%s" % (classname, name)
        self.emit(indent, "def %s(%s) {" % (name, ", ".join(params)),
                  "function %s(%s)" % (lname, ", ".join(params)))
        n = self.r.randint(8, 30)
        used = 0
        while used < n:
            used += self.statement(scope, indent + 1, n - used)
        z, l = self.compact_expr(scope, 0, 2)
        self.emit(indent + 1, "return %s" % z, "return %s" % l)
        self.emit(indent, "}", "end")
        self.funcs.append((lname, arity))

    def build(self, target_bytes):
        k = 0
        while self.zvsize < target_bytes:
            if self.r.random() < 0.08:
                cname = "Class%d" % k
                # A class body holds only definitions.
                self.emit(0, "class %s {" % cname, "%s = {}" % cname)
                for j in range(self.r.randint(1, 4)):
                    self.function("m%d" % j, 1, cname)
                self.emit(0, "}", "")
            else:
                self.function("f%d" % k, 0)
            k += 1
        # The program ends with a few top-level statements that use the functions.
        scope = ["obj", "items", "cfg", "result"]
        for _ in range(5):
            self.statement(scope, 0, 1)
        return "".join(self.zv), "".join(self.lua)


# ---------------------------------------------------------------------------------------
# Pathological shapes. Each builder takes its size parameters.


def names(i):
    return "n%d" % i


def shape_list(n):
    items = ", ".join(str(i) if i % 2 == 0 else names(i) for i in range(n))
    return "x = [%s]\n" % items


def shape_expr(n):
    parts = ["a0"]
    for i in range(1, n + 1):
        op = SYMOPS[i % len(SYMOPS)]
        operand = names(i) if i % 3 else str(i)
        parts.append(op + operand)
    return "x = %s\n" % "".join(parts)


def shape_dict(n):
    items = ", ".join('"k%d": %s' % (i, str(i) if i % 2 == 0 else names(i)) for i in range(n))
    return "d = {%s}\n" % items


def shape_stmts(n):
    out = ["def big(a, b) {\n"]
    for i in range(n):
        k = i % 4
        if k == 0:
            out.append("    v%d = a+%d\n" % (i % 100, i))
        elif k == 1:
            out.append("    v%d = b*v%d-1\n" % (i % 100, (i + 1) % 100))
        elif k == 2:
            out.append("    f(v%d, %d)\n" % (i % 100, i))
        else:
            out.append("    obj.count = obj.count+%d\n" % i)
    out.append("    return v0\n}\n")
    return "".join(out)


def shape_line(nbytes):
    # One statement on one line: a string literal filling the line.
    word = "abcdefghijklmnopqrstuvwxyz "
    body = (word * (nbytes // len(word) + 1))[: nbytes - 7]
    return 's = "%s"\n' % body


def shape_nest(levels, bodybytes):
    openers = ["if c%d {", "while c%d<10 {", "for xs%d as x {", "forever {"]
    out = []
    for i in range(levels):
        o = openers[i % len(openers)]
        out.append((o % i if "%d" in o else o) + "\n")
    size = 0
    i = 0
    while size < bodybytes:
        line = ["y%d = a+%d*b" % (i % 50, i), "g(y%d, %d)" % (i % 50, i),
                "z = [%d, %d, y%d]" % (i, i + 1, i % 50), 'm = {"k": %d}' % i][i % 4] + "\n"
        out.append(line)
        size += len(line)
        i += 1
    out.append("}\n" * levels)
    return "".join(out)


# The library the `includes` shape includes, written beside the programs; measure.py puts
# it in the working directory, where zvc reads included files.
INCLUDED_NAME = "benchlib"
INCLUDED_TEXT = """def sq(x) {
    return x*x
}
limit = 10
"""


def shape_includes(n):
    # A program that includes one library again before each use of it: every include is
    # another source file of the compilation.
    return "".join("also %s\nv%d = sq(%d)+limit\n" % (INCLUDED_NAME, i % 100, i)
                   for i in range(n))


def shape_calls(levels):
    return "x = " + "f(a, " * levels + "1" + ")" * levels + "\n"


def shape_deep(kind, levels):
    """One statement nested `levels` deep in one kind of bracket or block."""
    if kind == "blocks":
        return shape_nest(levels, 1)
    opener, closer = {"calls": ("f(a, ", ")"), "lists": ("[1, ", "]"),
                      "dicts": ('{"k": ', "}"), "parens": ("(a + ", ")")}[kind]
    return "x = " + opener * levels + "1" + closer * levels + "\n"


EIGHTHS = [("eighth", 8), ("quarter", 4), ("half", 2), ("full", 1)]
HALVES = [("half", 2), ("full", 1)]

# name -> (builder, full-size arguments, names of the arguments, indexes of the arguments
# that grow along the series, sizes as (tag, divisor)). Fixed arguments keep their full
# value at every size; --scale applies to all of them.
PATHOLOGICAL = {
    "list": (shape_list, [400000], ["elements"], [0], EIGHTHS),
    "expr": (shape_expr, [400000], ["operators"], [0], EIGHTHS),
    "dict": (shape_dict, [400000], ["entries"], [0], EIGHTHS),
    "stmts": (shape_stmts, [100000], ["statements"], [0], EIGHTHS),
    "line": (shape_line, [10 * MB], ["bytes"], [0], EIGHTHS),
    "nest": (shape_nest, [1000, 1 * MB], ["levels", "body bytes"], [0, 1], HALVES),
    # 1990 levels, not 2000: a bracket inside the innermost block is one more level, and the
    # compiler stops at 2000 (the body's calls, lists and dictionaries are 1 level deep).
    # Both full sizes are the same program, 1990 levels around 1 MB.
    "nest_depth": (shape_nest, [1990, 1 * MB], ["levels", "body bytes"], [0], EIGHTHS),
    "nest_body": (shape_nest, [1990, 1 * MB], ["levels", "body bytes"], [1], EIGHTHS),
    "calls": (shape_calls, [1000], ["levels"], [0], EIGHTHS),
    "includes": (shape_includes, [20000], ["includes"], [0], EIGHTHS),
}

# The deep programs: one per kind, exactly as deep as the compiler allows (2000 levels).
DEEP = ["blocks", "calls", "lists", "dicts", "parens"]
DEEP_LEVELS = 2000

MIXES = {"mix1": 1 * MB, "mix4": 4 * MB, "mix16": 16 * MB}

# The empty program: what the process costs before it reads any source.
BASELINE = "empty"

# The tiny program and its Lua twin: a few lines, the size of a file that a build system
# runs one compiler process for, so that the process's start and end decide its time.
# Never scaled.
TINY = "tiny"
TINY_ZV = """def area(w, h) {
    return w*h
}
x = area(3, 4)
if x>10 {
    print("big")
}
"""
TINY_LUA = """function area(w, h)
    return w*h
end
x = area(3, 4)
if x>10 then
    print("big")
end
"""


def write(path, text):
    with open(path, "w", newline="\n") as f:
        f.write(text)
    return os.path.getsize(path)


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("outdir")
    ap.add_argument("--only", nargs="*", default=None,
                    help="names to write (mix, mix4, list, nest_depth, deep, deep_calls, ...)")
    ap.add_argument("--scale", type=float, default=1.0)
    args = ap.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    manifest = []

    def wanted(name):
        return args.only is None or name in args.only

    if wanted(BASELINE):
        p = os.path.join(args.outdir, BASELINE + ".zv")
        manifest.append({"name": BASELINE, "kind": "baseline", "path": p,
                         "bytes": write(p, "")})

    if wanted(TINY):
        zp = os.path.join(args.outdir, TINY + ".zv")
        lp = os.path.join(args.outdir, TINY + ".lua")
        manifest.append({"name": TINY, "kind": "tiny", "path": zp, "bytes": write(zp, TINY_ZV),
                         "lua": lp, "luabytes": write(lp, TINY_LUA)})

    for name, size in MIXES.items():
        if not (wanted(name) or wanted("mix")):
            continue
        zv, lua = Mix(seed=size).build(int(size * args.scale))
        zp = os.path.join(args.outdir, name + ".zv")
        lp = os.path.join(args.outdir, name + ".lua")
        manifest.append({"name": name, "kind": "mix", "path": zp, "bytes": write(zp, zv),
                         "lua": lp, "luabytes": write(lp, lua)})

    for name, (builder, full, pnames, grow, sizes) in PATHOLOGICAL.items():
        if not wanted(name):
            continue
        for tag, div in sizes:
            a = [max(1, int(v * args.scale) // (div if k in grow else 1))
                 for k, v in enumerate(full)]
            p = os.path.join(args.outdir, "%s_%s.zv" % (name, tag))
            entry = {"name": "%s_%s" % (name, tag), "kind": "shape", "shape": name,
                     "size": tag, "fraction": 1 / div, "params": a,
                     "paramnames": pnames, "grows": [pnames[k] for k in grow],
                     "path": p, "bytes": write(p, builder(*a))}
            if builder is shape_includes:
                lib = os.path.join(args.outdir, INCLUDED_NAME + ".ZVEX")
                write(lib, INCLUDED_TEXT)
                entry["files"] = [lib]
            manifest.append(entry)

    for kind in DEEP:
        name = "deep_" + kind
        if not (wanted(name) or wanted("deep")):
            continue
        p = os.path.join(args.outdir, name + ".zv")
        manifest.append({"name": name, "kind": "deep", "shape": kind, "params": [DEEP_LEVELS],
                         "paramnames": ["levels"], "path": p,
                         "bytes": write(p, shape_deep(kind, DEEP_LEVELS))})

    for m in manifest:
        print("%-18s %10d  %s" % (m["name"], m["bytes"], m["path"]))
    with open(os.path.join(args.outdir, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)


if __name__ == "__main__":
    sys.exit(main())
