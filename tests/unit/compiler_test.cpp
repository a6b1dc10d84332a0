// Tests of the compiler object: a compiler works on the compilation it is given and on no
// other. Two compilations on one thread, interleaved (a host's include reader or code sink
// compiling another program through the library while its own compilation stands in the
// middle of a statement, or two compiler objects driven turn by turn), each end exactly as
// when compiled alone.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "compiler.h"
#include "context.h"
#include "zv.hpp"

namespace {

// Everything a host sees of one compile, as text: status, code (with the pieces handed to
// the sink in front), description map, included files, and every diagnostic as `zv check`
// prints it.
std::string summary(const zv::result& r, const std::vector<std::uint8_t>& sunk) {
    std::string out = "status ";
    out.append(std::to_string(r.status)).append(": ").append(r.message).append("\n");
    std::vector<std::uint8_t> code = sunk;
    code.insert(code.end(), r.code.begin(), r.code.end());
    out.append("code ").append(code.begin(), code.end()).append("\n");
    out.append("map ").append(r.description.begin(), r.description.end()).append("\n");
    for (const std::string& file : r.included) out.append("included ").append(file).append("\n");
    for (const zv::diagnostic& d : r.diagnostics) out += zv::format(d, r.sources);
    return out;
}

// The program another compile runs in the middle of the first one: warnings, an escaped
// string, a long bracket group, an include, and (unless `valid`) a failing statement, so
// that every kind of state a compilation keeps is used by both.
std::string nestedprogram(bool valid) {
    std::string text = "also inner\nf(1,)\ns = \"q\\nz\"\nbig = [";
    for (int i = 0; i < 80; ++i) text.append(std::to_string(i)).append(", ");
    text += "0]\n";
    if (!valid) text += "bad = 1 +\n";
    return text + "t = g(2,)\n";
}

// A program large enough that its code reaches the sink between statements, with its
// include in the middle and statements after it that use the same kinds of state.
std::string outerprogram(bool failing) {
    std::string text;
    for (int i = 0; i < 1200; ++i)
        text.append("x").append(std::to_string(i)).append(" = [1, 2, f(3, 4)]\n");
    text += "if a {\n    also lib\n    q = \"e\\ns\"\n}\nh(5,)\n";
    if (failing) text += "w = 2 +\nz = 1 2\n";
    for (int i = 0; i < 1200; ++i)
        text.append("y").append(std::to_string(i)).append(" = {\"k\": [7, 8]}\n");
    return text + "done = 1\n";
}

const std::map<std::string, std::string> files = {
    {"lib.ZVEX", "libvalue = m(1,)\nalso leaf\n"},
    {"leaf.ZVEX", "leafvalue = \"l\\nf\"\n"},
    {"inner.ZVEX", "innervalue = k(,3)\n"},
};

// Options that read `files`; `nested` runs before every read and every sink call.
zv::options optionsfor(const std::string& name, bool keepgoing, std::vector<std::uint8_t>* sunk,
                       std::function<void()> nested) {
    zv::options o;
    o.name = name;
    o.warn = true;
    o.description = true;
    o.keepgoing = keepgoing;
    o.reader = [nested](const zv::includerequest& asked) {
        if (nested) nested();
        zv::includefile file;
        const auto found = files.find(asked.path);
        if (found != files.end()) file.text = found->second;
        return file;
    };
    if (sunk != nullptr) {
        o.codesink = [sunk, nested](const std::uint8_t* data, std::size_t size) {
            if (nested) nested();
            sunk->insert(sunk->end(), data, data + size);
        };
    }
    return o;
}

struct interleaving {
    const char* name;
    bool outerfails, outerkeepgoing, nestedvalid, nestedkeepgoing;
};

// A stop list made ready on first use is one list for every thread that takes it first at
// once, and the same as one made eagerly from its entries.
TEST(compilerobject, readystoplistisoneforallthreads) {
    constexpr int threads = 8;
    std::vector<const stoplist*> taken(threads, nullptr);
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i)
        pool.emplace_back([&taken, i] { taken[i] = &static_cast<const stoplist&>(operatorstops); });
    for (std::thread& t : pool) t.join();
    for (const stoplist* list : taken) EXPECT_EQ(list, taken[0]);
    const stoplist eager(operators);
    EXPECT_EQ(taken[0]->entries, &operators);
    EXPECT_EQ(std::memcmp(taken[0]->classes, eager.classes, sizeof eager.classes), 0);
    EXPECT_EQ(taken[0]->order, eager.order);
}

TEST(compilerobject, compilesinsideanotherscallbacksstayindependent) {
    const interleaving cases[] = {
        {"both valid", false, false, true, false},
        {"nested one fails", false, false, false, false},
        {"nested one keeps going", false, false, false, true},
        {"outer one keeps going past its errors", true, true, false, false},
        {"both keep going", true, true, false, true},
        {"outer one stops at its error", true, false, true, true},
    };
    for (const interleaving& t : cases) {
        const std::string outer = outerprogram(t.outerfails);
        const std::string nested = nestedprogram(t.nestedvalid);
        const auto compilenested = [&] {
            std::vector<std::uint8_t> sunk;
            const zv::options o = optionsfor("nested.zv", t.nestedkeepgoing, &sunk, {});
            const zv::result r = zv::compile(nested, o);
            return summary(r, sunk);
        };
        const std::string nestedalone = compilenested();
        std::vector<std::uint8_t> sunkalone;
        const zv::result outeralone =
            zv::compile(outer, optionsfor("outer.zv", t.outerkeepgoing, &sunkalone, {}));
        // The nested compiles run in the reader, mid-statement, and in the sink, between
        // statements; each one's result is checked against the one compiled alone.
        std::vector<std::string> nestedseen;
        std::vector<std::uint8_t> sunk;
        const zv::result interleaved =
            zv::compile(outer, optionsfor("outer.zv", t.outerkeepgoing, &sunk,
                                          [&] { nestedseen.push_back(compilenested()); }));
        EXPECT_EQ(summary(interleaved, sunk), summary(outeralone, sunkalone)) << t.name;
        for (const std::string& seen : nestedseen) EXPECT_EQ(seen, nestedalone) << t.name;
        // The programs compile, or fail, as they were written to.
        EXPECT_EQ(outeralone.status, t.outerfails ? 1 : 0) << t.name;
        EXPECT_EQ(nestedalone.starts_with("status 0:"), t.nestedvalid) << t.name;
        // Two reads (lib and leaf); without keep-going, the outer program is large enough
        // that its code went to the sink between statements, before the include.
        EXPECT_GE(nestedseen.size(), t.outerkeepgoing ? 2u : 3u) << t.name;
        EXPECT_EQ(sunkalone.empty(), t.outerkeepgoing) << t.name;
    }
}

// One turn of a compilation: a statement compiled, or bytes and titles emitted directly.
typedef std::function<void(compiler&)> turn;

// The code and map that `turns` leave in a compilation of their own.
std::pair<bytelist, bytelist> alone(const std::vector<turn>& turns) {
    compilation c;
    compiler k{c};
    for (const turn& t : turns) t(k);
    return {c.code, c.desc.bytes()};
}

TEST(compilerobject, twocompilersdriventurnbyturnwriteonlytheirown) {
    // Blocks and titles stay open across the other compiler's turns.
    const std::vector<turn> first = {
        [](compiler& k) { k.gotitle("first"); },
        [](compiler& k) { k.compilecode("a = [1, 2]\nif a {\n b = f(a)\n}\n", 0); },
        [](compiler& k) {
            k.addcode({IF, TYPE_BLOCK});
            k.c.beginblock();
        },
        [](compiler& k) { k.handleexpr("a + b.c[1] * g(2)"); },
        [](compiler& k) { k.handleset("d.e[\"k\"]"); },
        [](compiler& k) { k.negatebyteoperand(); },
        [](compiler& k) { k.goout(); },
    };
    const std::vector<turn> second = {
        [](compiler& k) { k.compilecode("class P {\n def m(x) {\n  return x\n }\n}\n", 0); },
        [](compiler& k) { k.gotitle("second"); },
        [](compiler& k) {
            k.addcode({LOOP, TYPE_BLOCK});
            k.c.beginblock();
        },
        [](compiler& k) { k.compilecode("while (n < 3) {\n n = (n + 1)\n}\n", 0); },
        [](compiler& k) {
            k.callfunc({"1", "\"s\"", "[3]"});
        },
        [](compiler& k) { k.negatebyteoperand(); },
        [](compiler& k) { k.compilestring("tail"); },
        [](compiler& k) { k.goout(); },
    };
    const auto firstalone = alone(first);
    const auto secondalone = alone(second);
    ASSERT_FALSE(firstalone.first.empty());
    ASSERT_FALSE(secondalone.first.empty());

    resetcompiler();
    compilation a, b;
    compiler ka{a}, kb{b};
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < second.size()) second[i](kb);
        if (i < first.size()) first[i](ka);
    }
    EXPECT_EQ(a.code, firstalone.first);
    EXPECT_EQ(a.desc.bytes(), firstalone.second);
    EXPECT_EQ(b.code, secondalone.first);
    EXPECT_EQ(b.desc.bytes(), secondalone.second);
    // Nothing went to the thread's current compilation.
    EXPECT_TRUE(current().code.empty());
    EXPECT_TRUE(current().desc.empty());
}

} // namespace
