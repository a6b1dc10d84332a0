// The compact record of byte origins against the plain account (fuzz/plainorigins.h), which
// keeps a whole title per node and a node per code byte as the compiler traces them: for
// random programs, the e2e corpus and the examples, compiled whole and in keep-going mode
// (where failed statements are taken back), the record must give the same nodes (title,
// parent, place, statement) and the same node for every byte. Then the library's two
// faces: `result::nodes`/`origins` and `result::compactorigins` say the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler.h"
#include "context.h"
#include "independentlines.h"
#include "plainorigins.h"
#include "randomprograms.h"
#include "zv.hpp"

namespace {

struct traced {
    bool ok = false;
    std::size_t nodes = 0, runs = 0;
};

// Compiles `text` with origins traced both ways and compares them; `keepgoing` as the
// library's mode of that name.
traced compareorigins(const std::string& text, bool keepgoing) {
    resetcompiler();
    compilation& c = current();
    c.readinclude = [](const std::string&, std::vector<std::uint32_t>*) {
        return std::string("libvalue = [1, \"t\\nu\"]\ndef helper(a) {\n    return a*2\n}\n");
    };
    c.keepgoing = keepgoing;
    c.traceorigins = true;
    c.addfile("t.zv", text);
    zvcheck::plainorigins plain;
    plain.listen(c);
    traced out;
    try {
        compileprogram(text);
        out.ok = c.failures.empty();
    } catch (const fatalerror&) {
    } catch (const parserexit&) {}
    c.originlistener = nullptr;
    c.traceorigins = false;
    c.keepgoing = false;
    originrecord& record = c.origins;
    record.finish();
    const auto textof = [&c](std::int32_t file) {
        return c.files[static_cast<std::size_t>(file)]->text;
    };
    EXPECT_EQ(record.size(), plain.nodes.size()) << text;
    for (std::size_t n = 0; n < record.size() && n < plain.nodes.size(); ++n) {
        const titlenode& want = plain.nodes[n];
        const originrecord::node& got = record.at(n);
        const span at = got.where();
        EXPECT_EQ(record.title(n, textof), want.title) << "node " << n << " of\n" << text;
        EXPECT_EQ(got.parent, want.parent) << "node " << n << " of\n" << text;
        EXPECT_EQ(got.statement(), want.statement) << "node " << n << " of\n" << text;
        EXPECT_EQ(at.file, want.where.file) << "node " << n << " of\n" << text;
        if (at.known()) {
            EXPECT_EQ(at.begin, want.where.begin) << "node " << n << " of\n" << text;
            EXPECT_EQ(at.end, want.where.end) << "node " << n << " of\n" << text;
        }
    }
    // The failed compile leaves code behind that the origins still cover.
    EXPECT_EQ(plain.codeorigins.size(), c.code.size()) << text;
    EXPECT_EQ(record.perbyte(c.code.size()), plain.codeorigins) << text;
    // The stretches cover the code in order, each byte with the node of the plain account.
    std::size_t next = 0;
    bool agree = true;
    record.stretches(c.code.size(), [&](std::size_t begin, std::size_t end, std::int32_t node) {
        agree = agree && begin == next && end > begin;
        for (std::size_t i = begin; i < end && i < plain.codeorigins.size(); ++i)
            agree = agree && plain.codeorigins[i] == node;
        next = end;
        ++out.runs;
    });
    EXPECT_TRUE(agree) << text;
    EXPECT_EQ(next, c.code.size()) << text;
    out.nodes = record.size();
    return out;
}

TEST(origins, randomprogramsmatchtheplainaccount) {
    programs source(20261209);
    int compiled = 0;
    std::size_t most = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string text = source.next();
        for (const bool keepgoing : {false, true}) {
            // Keep-going on a program of many inclusions is slow: a sample of them.
            if (keepgoing && i % 20 != 0) continue;
            const traced t = compareorigins(text, keepgoing);
            if (::testing::Test::HasFailure()) return;
            compiled += t.ok ? 1 : 0;
            most = std::max(most, t.nodes);
        }
    }
    // The programs reach the interesting cases: most compile, and some are large.
    EXPECT_GT(compiled, 40);
    EXPECT_GT(most, std::size_t{500});
}

// Programs of independent lines, some failing: keep-going takes back every failed
// statement, at the top, in a body and two blocks deep.
TEST(origins, takenbackstatementsleavenotrace) {
    for (const wrapping& w : wrappings) {
        for (std::size_t f = 0; f < failinglines.size(); ++f) {
            std::vector<const std::string*> lines;
            for (std::size_t v = 0; v < validlines.size(); ++v) {
                lines.push_back(&validlines[v]);
                if (v == f % validlines.size()) lines.push_back(&failinglines[f]);
            }
            lines.push_back(&failinglines[(f + 3) % failinglines.size()]);
            compareorigins(program(w, lines), true);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

// The sources of the e2e corpus ("--- source" sections) and the examples.
std::vector<std::string> corpus() {
    std::vector<std::string> out;
    const std::filesystem::path root(ZV_SOURCE_DIR);
    for (const auto& entry : std::filesystem::directory_iterator(root / "tests/e2e/cases")) {
        std::ifstream in(entry.path());
        std::string line, *current = nullptr;
        while (std::getline(in, line)) {
            if (line.starts_with("=== ") || line.starts_with("--- ")) {
                current = nullptr;
                if (line == "--- source") current = &out.emplace_back();
                continue;
            }
            if (current != nullptr) current->append(line).push_back('\n');
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(root / "examples")) {
        if (entry.path().extension() != ".zv") continue;
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        out.push_back(text.str());
    }
    return out;
}

TEST(origins, corpusmatchestheplainaccount) {
    const std::vector<std::string> texts = corpus();
    ASSERT_GT(texts.size(), std::size_t{100});
    for (const std::string& text : texts) {
        for (const bool keepgoing : {false, true}) {
            compareorigins(text, keepgoing);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

// The library's per-node and per-byte vectors and its compact map say the same, for
// programs with CR LF line ends (places in the file as stored), escapes, included files
// and errors in keep-going mode.
TEST(origins, compactmapequalsthevectors) {
    const std::string texts[] = {
        "x = 1\r\nif x {\r\n    print(\"a\\nb\" + y)\r\n}\r\n",
        "also lib\ny = helper(libvalue)\n",
        "def f(a) {\n    x = (1\n    return a\n}\nz = [1, 2\nw = f(3)\n",
        "class K {\n    def m(a) {\n        return a.b[2]\n    }\n}\n",
        "",
    };
    for (const std::string& text : texts) {
        zv::options o;
        o.origins = true;
        o.compactorigins = true;
        o.keepgoing = true;
        o.readinclude = [](const std::string&) -> std::optional<std::string> {
            return std::string(
                "libvalue = [1, \"t\\nu\"]\r\ndef helper(a) {\r\n    return a\r\n}\r\n");
        };
        zv::result r = zv::compile(text, o);
        ASSERT_TRUE(r.compactorigins) << text;
        const zv::originmap& m = *r.compactorigins;
        ASSERT_EQ(m.size(), r.nodes.size()) << text;
        EXPECT_EQ(m.codesize(), r.code.size()) << text;
        EXPECT_EQ(m.origins(), r.origins) << text;
        // Single bytes read forward, then every third byte backward, as the vector says.
        zv::originmap::reader read(m);
        for (std::size_t i = 0; i < r.origins.size(); ++i)
            ASSERT_EQ(read(i), r.origins[i]) << i << " of\n" << text;
        for (std::size_t i = r.origins.size(); i-- > 0;) {
            if (i % 3 != 0) continue;
            ASSERT_EQ(read(i), r.origins[i]) << i << " of\n" << text;
        }
        for (std::size_t n = 0; n < m.size(); ++n) {
            const zv::titleinfo& want = r.nodes[n];
            const zv::titleinfo got = m.info(n);
            EXPECT_EQ(got.title, want.title) << n << " of\n" << text;
            EXPECT_EQ(got.parent, want.parent) << n << " of\n" << text;
            EXPECT_EQ(got.statement, want.statement) << n << " of\n" << text;
            ASSERT_EQ(got.located, want.located) << n << " of\n" << text;
            if (!got.located) continue;
            EXPECT_EQ(got.where.file, want.where.file) << n << " of\n" << text;
            EXPECT_EQ(got.where.line, want.where.line) << n << " of\n" << text;
            EXPECT_EQ(got.where.column, want.where.column) << n << " of\n" << text;
            EXPECT_EQ(got.where.endcolumn, want.where.endcolumn) << n << " of\n" << text;
            EXPECT_EQ(m.offset(n), want.where.offset) << n << " of\n" << text;
            EXPECT_EQ(m.endoffset(n), want.where.endoffset) << n << " of\n" << text;
            EXPECT_EQ(m.file(n), want.where.file) << n << " of\n" << text;
            // A title that is its place's text, as read, is handed out without a copy.
            if (const auto place = m.placetitle(n)) { EXPECT_EQ(*place, want.title); }
        }
        // The map outlives the result it came with.
        const std::shared_ptr<const zv::originmap> kept = r.compactorigins;
        const std::vector<zv::titleinfo> nodes = r.nodes;
        { const zv::result gone = std::move(r); }
        for (std::size_t n = 0; n < kept->size(); ++n) EXPECT_EQ(kept->title(n), nodes[n].title);
    }
    // Without either option there is nothing.
    EXPECT_FALSE(zv::compile("x = 1\n").compactorigins);
}

// A shared program text is kept by the map itself, not copied; a text whose line ends
// are rewritten is copied. Either way the map says what a map of a copied text says.
TEST(origins, sharedtextiskeptnotcopied) {
    const struct {
        std::string text;
        bool kept;
    } cases[] = {
        {"x = 1\nif x {\n    print(\"a\\nb\" + y)\n}\n", true},
        {"def f(a) {\n    return a*2\n}\nz = f(3)\n", true},
        {"x = 1\r\ny = x\r\n", false},
        {"x = 1", false},
    };
    for (const auto& c : cases) {
        zv::options o;
        o.compactorigins = true;
        o.keepgoing = true;
        const auto shared = std::make_shared<const std::string>(c.text);
        const zv::result copied = zv::compile(std::string_view(c.text), o);
        const zv::result r = zv::compile(shared, o);
        ASSERT_TRUE(r.compactorigins && copied.compactorigins) << c.text;
        EXPECT_EQ(shared.use_count() > 1, c.kept) << c.text;
        EXPECT_EQ(r.code, copied.code) << c.text;
        const zv::originmap &m = *r.compactorigins, &want = *copied.compactorigins;
        ASSERT_EQ(m.size(), want.size()) << c.text;
        bool viewed = false;
        for (std::size_t n = 0; n < m.size(); ++n) {
            EXPECT_EQ(m.title(n), want.title(n)) << n << " of\n" << c.text;
            EXPECT_EQ(m.located(n), want.located(n)) << n << " of\n" << c.text;
            if (const auto place = m.placetitle(n)) {
                const char* const begin = shared->data();
                viewed |= place->data() >= begin && place->data() < begin + shared->size();
            }
        }
        EXPECT_EQ(viewed, c.kept) << c.text;
    }
}

// The record's nodes are packed: the bit of titles kept as pieces is one of a word per 64
// nodes, and files are kept in runs of nodes. Taking back to a mark at either side of a
// word's edge, or inside a run of another file, leaves the nodes before the mark as they
// were and the nodes opened after it as they are opened.
TEST(origins, packednodestakenbackatwordedges) {
    const originrecord::piece word{originrecord::piece::word, {}, TW_ROOT, {}};
    for (const std::size_t before : {62u, 63u, 64u, 65u, 127u, 128u, 129u}) {
        originrecord record;
        record.clear();
        // Nodes 1 .. before: placed in file 0, every third with pieces.
        for (std::size_t n = 1; n <= before; ++n) {
            const bool pieces = n % 3 == 0;
            record.open(span{0, static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(n + 1)},
                        false, pieces ? &word : nullptr, pieces ? 1 : 0, n);
            record.close(n);
        }
        const originrecord::mark m = record.where(before + 1);
        // Taken back: nodes in file 1, all with pieces, one unplaced.
        for (std::size_t n = 0; n < 70; ++n) {
            record.open(n == 5 ? span{} : span{1, 0, 1}, true, &word, 1, before + 1);
            record.close(before + 1);
        }
        record.rollback(m);
        // Then nodes in file 0 again, none with pieces.
        for (std::size_t n = 0; n < 70; ++n) {
            record.open(span{0, 7, 9}, false, nullptr, 0, before + 1);
            record.close(before + 1);
        }
        ASSERT_EQ(record.size(), before + 71) << before;
        const auto textof = [](std::int32_t) { return std::string_view("0123456789abcdefghij"); };
        for (std::size_t n = 1; n < record.size(); ++n) {
            const originrecord::node got = record.at(n);
            const bool old = n <= before;
            EXPECT_EQ(got.parent, 0) << before << ": node " << n;
            EXPECT_FALSE(got.statement()) << before << ": node " << n;
            EXPECT_EQ(got.where().file, 0) << before << ": node " << n;
            EXPECT_EQ(got.where().begin, old ? n : 7u) << before << ": node " << n;
            EXPECT_EQ(got.pieces, old && n % 3 == 0) << before << ": node " << n;
            if (!got.pieces) {
                const std::string want = old ? std::string(textof(0).substr(n % 20, 1)) : "78";
                if (n < 20 || !old) {
                    EXPECT_EQ(record.title(n, textof), want) << before << ": " << n;
                }
            } else {
                EXPECT_EQ(record.title(n, textof), "PACK_ROOT") << before << ": node " << n;
            }
        }
    }
}

} // namespace
