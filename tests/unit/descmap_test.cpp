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

namespace {

// The pieces, joined (GCC 12 warns falsely about `"literal" + std::string`).
std::string cat(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (const std::string_view piece : pieces) out.append(piece);
    return out;
}

// Random programs: every statement form, nested blocks deep and long, names that repeat
// far apart, escapes (titles that are no source text), word operators, and now and then
// something malformed.
class programs {
  public:
    explicit programs(unsigned seed) : random(seed) {}

    std::string next() {
        std::string out;
        const int statements = pick(1, 12);
        for (int i = 0; i < statements; ++i) out += statement(pick(0, 6), 0);
        return out;
    }

  private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int percent) { return pick(1, 100) <= percent; }

    std::string name() {
        static const char* const names[] = {
            "a",     "b1",    "Gg",     "@m",
            "total", "x.y.z", "l[i+1]", "counter_with_a_rather_long_name_for_the_tag"};
        return names[pick(0, 7)];
    }

    std::string operand(int depth) {
        switch (depth <= 0 ? pick(0, 6) : pick(0, 12)) {
        case 0:
            return name();
        case 1:
            return std::to_string(pick(-5, 100000));
        case 2:
            return "3.25";
        case 3:
            return "\"text\"";
        case 4:
            return "\"line\\nbreak\"";
        case 5:
            return "\"esc\\ aped\"";
        case 6:
            return "f()";
        case 7:
            return cat({"f(", expression(depth - 1), ", ", expression(depth - 1), ")"});
        case 8:
            return cat({"[", expression(depth - 1), ", ", expression(depth - 1), "]"});
        case 9:
            return cat({"{\"k\": ", expression(depth - 1), "}"});
        case 10:
            return cat({"f((", expression(depth - 1), " and ", expression(depth - 1), "))"});
        case 11:
            return cat({"g(1)(2).", name()});
        default:
            return cat({"f((not ", name(), "))"});
        }
    }

    std::string expression(int depth) {
        static const char* const ops[] = {"+", "-", "*", "/", "==", "!=", ">=", "<"};
        std::string out = operand(depth);
        for (int i = pick(0, 3); i > 0; --i) out += cat({ops[pick(0, 7)], operand(depth)});
        return out;
    }

    std::string body(int depth, int indent) {
        std::string out;
        // Now and then a long body, so that counts and blocks grow large.
        const int statements = chance(10) ? pick(20, 60) : pick(0, 4);
        for (int i = 0; i < statements; ++i) out += statement(depth, indent + 4);
        return out;
    }

    std::string statement(int depth, int indent) {
        const std::string pad(static_cast<std::size_t>(indent), ' ');
        const std::string open = " {\n", close = pad + "}\n";
        const int form = depth > 0 ? pick(0, 12) : pick(0, 4);
        switch (form) {
        case 0:
            return pad + name() + " = " + expression(2) + "\n";
        case 1:
            return pad + expression(2) + "\n";
        case 2:
            return pad + "return " + expression(1) + "\n";
        case 3:
            return pad + "also lib\n";
        case 4:
            if (chance(20)) return pad + "x = (1\n"; // unclosed
            return pad + "y = " + expression(3) + "\n";
        case 5:
            return pad + "if " + expression(1) + open + body(depth - 1, indent) + close;
        case 6:
            return pad + "while " + expression(1) + open + body(depth - 1, indent) + close;
        case 7:
            return pad + "for " + expression(1) + " as e" + open + body(depth - 1, indent) + close;
        case 8:
            return pad + "forever" + open + body(depth - 1, indent) + close;
        case 9:
            return pad + "def f(a, b)" + open + body(depth - 1, indent) + close;
        case 10:
            return pad + "class C" + open + pad + "    def m(a)" + open +
                   body(depth - 1, indent + 4) + pad + "    }\n" + close;
        case 11:
            return pad + "$@ " + name() + open + body(depth - 1, indent) + close;
        default:
            return pad + "x = " + std::string(static_cast<std::size_t>(pick(1, 3)), ']') + "\n";
        }
    }

    std::mt19937 random;
};

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
