// The description map's compact record against a straightforward construction: random
// programs are compiled while a listener writes every record's bytes the plain way (count,
// title text, NUL; a closing record repeats the title open again, kept on a stack of
// strings), and the map's bytes must equal them, for programs that compile and for
// programs that fail half way.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "plainmap.h"
#include "randomprograms.h"
#include "zv.hpp"

namespace {

// Compiles `text` while writing the map the plain way, and returns the plain bytes; `ok`
// tells whether the program compiled.
bytelist compilewithplainmap(const std::string& text, bool* ok = nullptr) {
    resetcompiler();
    compilation& c = current();
    c.readinclude = [](const std::string&, std::vector<std::uint32_t>*) {
        return std::string("libvalue = [1, 2, \"three\"]\ndef helper(a) {\n    return a*2\n}\n");
    };
    zvcheck::plainmap plain;
    plain.listen(c);
    bool compiled = false;
    try {
        compileprogram(text);
        compiled = true;
    } catch (const fatalerror&) {
    } catch (const parserexit&) {}
    if (ok != nullptr) *ok = compiled;
    c.recordlistener = nullptr;
    return plain.bytes;
}

TEST(descriptionmap, compactrecordequalsplainbytes) {
    programs source(20261208);
    int compiled = 0;
    std::size_t largest = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string text = source.next();
        bool ok = false;
        const bytelist plain = compilewithplainmap(text, &ok);
        if (getenv("DUMPFAIL") && !ok) {
            static int k = 0;
            std::ofstream("/tmp/fail" + std::to_string(k++) + ".zv") << text;
        }
        const compilation& c = current();
        ASSERT_EQ(c.desc.size(), plain.size()) << text;
        ASSERT_TRUE(c.desc == plain) << text;
        compiled += ok ? 1 : 0;
        largest = std::max(largest, plain.size());
    }
    // The programs reach the interesting cases: most compile, and some maps are large.
    EXPECT_GT(compiled, 80);
    EXPECT_GT(largest, std::size_t{20000});
}

// A compilation that keeps no records follows the titles all the same: the map's size is
// the size of the map a recording compilation writes, and the code, the status and every
// diagnostic are those of a recording one, in whole-program and in keep-going mode.
TEST(descriptionmap, followingwithoutrecordsgivesthesamecompile) {
    programs source(20261209);
    int failed = 0;
    for (int i = 0; i < 150; ++i) {
        const std::string text = source.next();
        bytelist plain = compilewithplainmap(text);
        resetcompiler();
        compilation& c = current();
        c.desc.keeprecords(false);
        try {
            compileprogram(text);
        } catch (const fatalerror&) {
        } catch (const parserexit&) {}
        EXPECT_EQ(c.desc.size(), plain.size()) << text;
        EXPECT_EQ(c.desc.recordsize(), 0u) << text;
        for (const bool keepgoing : {false, true}) {
            // Keep-going on a program of many inclusions is slow: a sample of them.
            if (keepgoing && i % 15 != 0) continue;
            zv::options kept, followed;
            kept.description = true;
            kept.keepgoing = followed.keepgoing = keepgoing;
            kept.readinclude = followed.readinclude = [](const std::string&) {
                return std::optional<std::string>("lib = 1\n");
            };
            const zv::result a = zv::compile(text, kept), b = zv::compile(text, followed);
            EXPECT_EQ(a.code, b.code) << text;
            EXPECT_EQ(a.status, b.status) << text;
            ASSERT_EQ(a.diagnostics.size(), b.diagnostics.size()) << text;
            for (std::size_t d = 0; d < a.diagnostics.size(); ++d)
                EXPECT_EQ(a.diagnostics[d].message, b.diagnostics[d].message) << text;
            EXPECT_TRUE(b.description.empty());
            failed += a.status != 0 ? 1 : 0;
        }
    }
    // Some of the programs fail, so that taking back a failed statement is followed too.
    EXPECT_GT(failed, 0);
}

// The record's edges, each against the plain bytes: counts at the limits of their short
// forms (14, 15; 62, 63), negative counts, titles of every length class, pieces that are
// no source text, and a title that reads "PACK_ROOT".
TEST(descriptionmap, recordedges) {
    const std::string texts[] = {
        cat({"x = ", std::string(13, 'a')}),          // count 13 + 1
        cat({"x = f(", std::string(60, 'a'), ")"}),   // a long name: counts past 63
        cat({"x = \"", std::string(200, 'z'), "\""}), // a long title
        "PACK_ROOT\nx = 1\n",                         // a title that reads "PACK_ROOT"
        "x = (\"a\\nb\" + \"c\\\\d\")\n",             // escapes: copied pieces
        "for l as e {\n    forever {\n    }\n}\n",
        "class K {\n    def m(a) {\n        return a\n    }\n}\n",
    };
    for (const std::string& text : texts) {
        bool ok = false;
        const bytelist plain = compilewithplainmap(text, &ok);
        EXPECT_TRUE(ok) << text;
        EXPECT_TRUE(current().desc == plain) << text;
    }
}

// A count as the record writes it: four bytes, most significant first.
void putcount(bytelist& out, std::int32_t count) {
    const auto bytes = intoperand(count);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Titles of 1 to 32 pieces mixing title words, source text and copied text (some longer
// than the room a record takes at a time), with counts at the edges of their short forms,
// opened and closed on a map that reserved nothing, against the plain bytes.
TEST(descriptionmap, titlesofmanypieces) {
    const std::string source = "alpha beta gamma delta epsilon"; // outlives the map's use
    const std::int32_t counts[] = {0, 14, 15, 62, 63, 64, 100000, -1};
    descriptionmap map;
    bytelist plain;
    std::vector<std::string> open{"PACK_ROOT"};
    const auto close = [&](std::int32_t count) {
        map.close(count);
        putcount(plain, count);
        open.pop_back();
        plain.insert(plain.end(), open.back().begin(), open.back().end());
        plain.push_back(0);
    };
    for (std::size_t n = 1; n <= 32; ++n) {
        std::vector<std::string> copies(n);
        std::vector<std::string_view> pieces;
        std::uint32_t lasting = 0;
        std::string title;
        for (std::size_t i = 0; i < n; ++i) {
            switch ((i + n) % 3) {
            case 0:
                pieces.push_back(word(static_cast<titleword>((i * 5 + n) % TW_COUNT)));
                break;
            case 1:
                pieces.push_back(std::string_view(source).substr(i % 7, 1 + i * 3 % 11));
                lasting |= std::uint32_t{1} << i;
                break;
            default:
                copies[i] = std::string(1 + (i * 37 + n * 11) % 300, static_cast<char>('a' + i));
                pieces.push_back(copies[i]);
            }
            title.append(pieces.back());
        }
        const bool hascount = n % 4 != 0;
        const std::int32_t count = counts[n % std::size(counts)];
        map.open(hascount, count, pieces.data(), n, lasting);
        if (hascount) putcount(plain, count);
        plain.insert(plain.end(), title.begin(), title.end());
        plain.push_back(0);
        open.push_back(title);
        if (n % 3 == 0) close(counts[(n / 3) % std::size(counts)]);
    }
    while (open.size() > 1) close(static_cast<std::int32_t>(open.size()) * 9);
    EXPECT_EQ(map.size(), plain.size());
    EXPECT_TRUE(map == plain);
}

} // namespace
