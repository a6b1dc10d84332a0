// Lines of the language that compile alone and lines that fail alone, independent of each
// other wherever they stand, for the differential tests of keep-going compilation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Lines that compile alone, and lines that fail alone (statement errors and unbalanced
// brackets). Every line starts a statement with a name, a keyword or a call. A line that
// leaves a "[" or a string open runs, for the statement splitter, up to the next "]" or
// quote lines later; keep-going compilation must end it at its own line.
const std::vector<std::string> validlines = {
    "x = 1",
    "y = x+2",
    "print(\"hi\")",
    "z = [1, 2, 3]",
    "d = {a: 1, b: 2}",
    "if x>1 {print(x)}",
    "while y<3 {y = y+1}",
    "for z as e {print(e)}",
    "q = f(1)(2)",
    "w = a.b.c",
    "s = \"a\"+\"b\"",
    "n = (not x)",
    "m = g(a, [1, 2])",
    "h.k[1] = 3",
};
const std::vector<std::string> failinglines = {
    "x = 1+", "y = +2",   "z = f(1) g", "a = 2147483648", "b = (1)2",
    "if x",   "for a as", "def f {x}",  "e = g(1))",      "v = (1",
    "r = [}", "p = [)",   "k = x[1",    "u = [1",         "t = \"abc",
};

// How the lines are placed: at the top, in a function body, two blocks deep.
struct wrapping {
    const char* name;
    const char* before;
    const char* indent;
    const char* after;
    std::uint32_t firstline;
};
const wrapping wrappings[] = {
    {"top", "", "", "", 1},
    {"body", "def f(a) {\n", "    ", "}\n", 2},
    {"nested", "while w {\n    if v {\n", "        ", "    }\n}\n", 3},
};

std::string program(const wrapping& w, const std::vector<const std::string*>& lines) {
    std::string out = w.before;
    for (const std::string* line : lines) out += w.indent + *line + "\n";
    return out + w.after;
}

} // namespace
