// Micro benchmarks of the compiler core, in process: the forward scanner `seekstring`, the
// operator-run scanner `reversedseekstring`, the statement parser `parse`, and a whole
// compile through `compileprogram`, each over inputs of growing size. Google Benchmark fits
// each family to linear growth (the `BigO` rows); the `RMS` row says how far the times
// stray from that line, so a large RMS marks growth faster than linear. The whole-process
// figures come from bench/measure.py; these isolate the parts of the core. Compiles are
// timed in real time, since `compileprogram` runs on a thread of its own; their counters
// give the sizes of the source, the byte code and the description map.
#include <benchmark/benchmark.h>

#include <exception>
#include <string>
#include <string_view>

#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "parser.h"
#include "rawapi.h"

namespace {

// One realistic function: parameters, assignments with operators, "if", "while", "for",
// calls, member paths, indexes, lists, dictionaries and strings. `n` makes its names unique.
std::string function(int n) {
    const std::string k = std::to_string(n);
    const std::string prev = std::to_string(n > 0 ? n - 1 : 0);
    return "def f" + k +
           "(a, b, c) {\n"
           "    x = a+b*2-c.size\n"
           "    if x>10 {\n"
           "        y = f" +
           prev +
           "(x, b, [1, 2, a])\n"
           "        items[0] = y\n"
           "    }\n"
           "    while i<n {\n"
           "        i = i+1\n"
           "        total = total+items[i]*2.5\n"
           "    }\n"
           "    for obj.items as it {\n"
           "        it.count = it.count+1\n"
           "        log(\"item seen\", it.name, {\"k\": " +
           k +
           ", \"j\": b})\n"
           "    }\n"
           "    cfg = {\"name\": \"node\", \"size\": 3, \"parent\": obj.parent}\n"
           "    l = [1, 2, a, \"text with blanks\"]\n"
           "    r = (a and b)\n"
           "    return x+y\n"
           "}\n";
}

// A realistic program of about `bytes` bytes.
std::string program(std::size_t bytes) {
    std::string out;
    for (int n = 0; out.size() < bytes; ++n) out += function(n);
    return out;
}

// A blank-free expression of `ops` operators: "a0+n1*2-n3...".
std::string expression(int ops) {
    static const char* const symops[] = {"+", "-", "*", "/", "==", "!=", ">=", "<=", ">", "<"};
    std::string out = "a0";
    for (int i = 1; i <= ops; ++i) {
        out += symops[i % 10];
        if (i % 3) out += 'n';
        out += std::to_string(i);
    }
    return out;
}

std::string listliteral(int n) {
    std::string out = "[";
    for (int i = 0; i < n; ++i) {
        if (i) out += ", ";
        if (i % 2) out += 'n';
        out += std::to_string(i);
    }
    return out + "]";
}

std::string dictliteral(int n) {
    std::string out = "{";
    for (int i = 0; i < n; ++i) {
        if (i) out += ", ";
        out += "\"k";
        out += std::to_string(i);
        out += "\": ";
        out += std::to_string(i);
    }
    return out + "}";
}

// One line: `head`, `rest` and a line end.
std::string statement(const char* head, const std::string& rest) {
    std::string out = head;
    out += rest;
    out += '\n';
    return out;
}

// `levels` nested blocks around `body`.
std::string nested(int levels, const std::string& body) {
    std::string out;
    for (int i = 0; i < levels; ++i) {
        out += "if c";
        out += std::to_string(i);
        out += " {\n";
    }
    out += body;
    for (int i = 0; i < levels; ++i) out += "}\n";
    return out;
}

// Compiles `text` once per iteration; a compile error ends the benchmark with its message.
// The growth is fitted against `n`, the benchmark's own size argument.
void compileloop(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        resetcompiler();
        try {
            compileprogram(text);
        } catch (const fatalerror& e) {
            state.SkipWithError(("compile error: " + e.message).c_str());
            break;
        } catch (const parserexit& e) {
            state.SkipWithError(("parser exit " + std::to_string(e.status)).c_str());
            break;
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
        benchmark::DoNotOptimize(current().code.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
    state.SetComplexityN(state.range(0));
    state.counters["source_bytes"] = static_cast<double>(text.size());
    state.counters["code_bytes"] = static_cast<double>(current().code.size());
    state.counters["desc_bytes"] = static_cast<double>(current().desc.size());
}

void bytes(benchmark::State& state, std::size_t n) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(n));
    state.SetComplexityN(static_cast<std::int64_t>(n));
}

// ---------------------------------------------------------------------------------------
// Scanners.

// The operand scan of the expression compiler over a name that holds no operator: every
// character is tested against all fourteen operators at top level.
void BM_SeekOperandTopLevel(benchmark::State& state) {
    const std::string text(static_cast<std::size_t>(state.range(0)), 'a');
    for (auto _ : state) {
        std::string_view v = text;
        benchmark::DoNotOptimize(seekstring(v, operatorstops, GIM, 0, true));
    }
    bytes(state, text.size());
}
BENCHMARK(BM_SeekOperandTopLevel)
    ->RangeMultiplier(8)
    ->Range(64, 1 << 20)
    ->Complexity(benchmark::oN);

// The same scan over one parenthesised group: everything is inside a delimiter.
void BM_SeekInsideGroup(benchmark::State& state) {
    std::string text = "f(";
    while (text.size() < static_cast<std::size_t>(state.range(0))) text += "a+b, [c], \"s\", ";
    text += ")";
    for (auto _ : state) {
        std::string_view v = text;
        benchmark::DoNotOptimize(seekstring(v, operatorstops, GIM, 0, true));
    }
    bytes(state, text.size());
}
BENCHMARK(BM_SeekInsideGroup)->RangeMultiplier(8)->Range(64, 1 << 20)->Complexity(benchmark::oN);

// Cutting a whole expression into operands and operators, as the expression compiler does.
void BM_SplitExpression(benchmark::State& state) {
    const std::string text = expression(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::string_view v = text;
        while (!v.empty()) {
            benchmark::DoNotOptimize(seekstring(v, operatorstops, GIM, 0, true));
            benchmark::DoNotOptimize(reversedseekstring(v, operatorstops, GIM));
        }
    }
    bytes(state, text.size());
}
BENCHMARK(BM_SplitExpression)->RangeMultiplier(8)->Range(8, 1 << 17)->Complexity(benchmark::oN);

// Reading one operator with the blanks around it, the common case.
void BM_ReversedSeekOne(benchmark::State& state) {
    const std::string text = " >= b";
    for (auto _ : state) {
        std::string_view v = text;
        benchmark::DoNotOptimize(reversedseekstring(v, operatorstops, GIM));
    }
}
BENCHMARK(BM_ReversedSeekOne);

// A long run of operators taken as one run.
void BM_ReversedSeekRun(benchmark::State& state) {
    std::string text;
    while (text.size() < static_cast<std::size_t>(state.range(0))) text += "+-*/";
    text += "x";
    for (auto _ : state) {
        std::string_view v = text;
        benchmark::DoNotOptimize(reversedseekstring(v, operatorstops, GIM));
    }
    bytes(state, text.size());
}
BENCHMARK(BM_ReversedSeekRun)->RangeMultiplier(8)->Range(64, 1 << 18)->Complexity(benchmark::oN);

// Splitting a dictionary's entries off one by one with its two stop lists.
void BM_SeekDictEntries(benchmark::State& state) {
    const std::string text = dictliteral(static_cast<int>(state.range(0))).substr(1);
    const stringlist keylist = {": ", ":"};
    const stringlist valuelist = {", ", ",", "}"};
    const stoplist keystop(keylist), valstop(valuelist);
    for (auto _ : state) {
        std::string_view v = text;
        while (!v.empty() && v.front() != '}') {
            benchmark::DoNotOptimize(seekstring(v, keystop, GIM, 0, false));
            v.remove_prefix(1);
            while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
            benchmark::DoNotOptimize(seekstring(v, valstop, GIM, 0, false));
            if (!v.empty()) v.remove_prefix(1);
            while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        }
    }
    bytes(state, text.size());
}
BENCHMARK(BM_SeekDictEntries)->RangeMultiplier(8)->Range(8, 1 << 16)->Complexity(benchmark::oN);

// ---------------------------------------------------------------------------------------
// Statement parser.

void BM_ParseProgram(benchmark::State& state) {
    const std::string text = program(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(parse(text, 0));
    bytes(state, text.size());
}
BENCHMARK(BM_ParseProgram)->RangeMultiplier(8)->Range(1 << 10, 1 << 22)->Complexity(benchmark::oN);

// One long line: a single string literal.
void BM_ParseLongLine(benchmark::State& state) {
    std::string text = "s = \"";
    text.append(static_cast<std::size_t>(state.range(0)), 'a');
    text += "\"\n";
    for (auto _ : state) benchmark::DoNotOptimize(parse(text, 0));
    bytes(state, text.size());
}
BENCHMARK(BM_ParseLongLine)->RangeMultiplier(8)->Range(1 << 10, 1 << 23)->Complexity(benchmark::oN);

// ---------------------------------------------------------------------------------------
// Whole compiles in process.

void BM_CompileProgram(benchmark::State& state) {
    compileloop(state, program(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_CompileProgram)
    ->RangeMultiplier(4)
    ->Range(1 << 12, 1 << 22)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

void BM_CompileList(benchmark::State& state) {
    compileloop(state, statement("x = ", listliteral(static_cast<int>(state.range(0)))));
}
BENCHMARK(BM_CompileList)
    ->RangeMultiplier(4)
    ->Range(1024, 1 << 17)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

void BM_CompileExpression(benchmark::State& state) {
    compileloop(state, statement("x = ", expression(static_cast<int>(state.range(0)))));
}
BENCHMARK(BM_CompileExpression)
    ->RangeMultiplier(4)
    ->Range(1024, 1 << 17)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

void BM_CompileDict(benchmark::State& state) {
    compileloop(state, statement("d = ", dictliteral(static_cast<int>(state.range(0)))));
}
BENCHMARK(BM_CompileDict)
    ->RangeMultiplier(4)
    ->Range(1024, 1 << 17)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

// Blocks nested `range(0)` deep around a fixed body of about 64 KiB.
void BM_CompileNested(benchmark::State& state) {
    compileloop(state, nested(static_cast<int>(state.range(0)), program(1 << 16)));
}
BENCHMARK(BM_CompileNested)
    ->RangeMultiplier(4)
    ->Range(4, 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

// Calls nested `range(0)` deep: f(a, f(a, ... 1 ...)).
void BM_CompileNestedCalls(benchmark::State& state) {
    const int levels = static_cast<int>(state.range(0));
    std::string text = "x = ";
    for (int i = 0; i < levels; ++i) text += "f(a, ";
    text += '1';
    text.append(static_cast<std::size_t>(levels), ')');
    text += '\n';
    compileloop(state, text);
}
BENCHMARK(BM_CompileNestedCalls)
    ->RangeMultiplier(4)
    ->Range(16, 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
