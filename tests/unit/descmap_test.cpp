// The description map's compact record against a straightforward construction: random
// programs are compiled while a listener writes every record's bytes the plain way (count,
// title text, NUL; a closing record repeats the title open again, kept on a stack of
// strings), and the map's bytes must equal them, for programs that compile and for
// programs that fail half way.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "plainmap.h"
#include "randomprograms.h"

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

} // namespace
