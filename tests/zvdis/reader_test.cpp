// The byte-code reader on hand-made byte arrays: every verifier fault with its offset, sound
// files of every operand form, deep nesting, and the listing and annotation formats.
#include <gtest/gtest.h>

#include <sstream>

#include "bytecodereader.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct faultcase {
    bytes code;
    std::size_t offset;
    const char* what;
};

TEST(Verifier, ReportsFirstFaultWithItsOffset) {
    const faultcase cases[] = {
        {{0x25, 0x2a}, 1, "unknown opcode 0x2a"},
        {{0x08}, 0, "unknown opcode 0x08"},
        {{0x25, 0xff}, 1, "end mark 0xff where an instruction should stand"},
        {{0x07}, 0, "DESCEND: type byte missing"},
        {{0x0e, 0x07}, 0, "PUSH: unknown type byte 0x07"},
        {{0x04, 0x00, 0, 0, 0, 1}, 0, "LOAD: operand of type TYPE_INT, expected TYPE_STRING"},
        {{0x09, 0x02, 'a', 0}, 0, "CALL: operand of type TYPE_STRING, expected TYPE_INT"},
        {{0x21, 0x03}, 0, "IF: operand of type TYPE_OBJECT, expected TYPE_BLOCK"},
        {{0x0e, 0x00, 0, 0, 0}, 0, "PUSH: int operand truncated (needs 4 bytes, 3 left)"},
        {{0x0e, 0x01, 0, 0, 0, 1, 0, 0, 0}, 0, "decimal operand truncated (needs 8 bytes, 7"},
        {{0x23, 0x06, 0, 0}, 0, "LOOP: block operand truncated (needs 4 bytes, 2 left)"},
        {{0x04, 0x02, 'a', 'b'}, 0, "LOAD: string operand without its terminating 0x00"},
        // The string's 0x00 lies just past the block that holds it.
        {{0x21, 0x06, 0, 0, 0, 3, 0x04, 0x02, 'a', 0}, 6, "string operand without"},
        {{0x21, 0x06, 0, 0, 0, 5, 0x25}, 0, "block of 5 bytes runs past the end of the file"},
        {{0x0e, 0x06, 0xff, 0xff, 0xff, 0xff}, 0, "block of 4294967295 bytes runs past"},
        {{0x21, 0x06, 0, 0, 0, 7, 0x24, 0x06, 0, 0, 0, 2, 0x25, 0x25},
         6,
         "FOREACH: block of 2 bytes runs past the end of the enclosing block (1 byte left)"},
        {{0x0e, 0x04, 0x07, 0x25}, 0, "list payload holds byte 0x25 where a mark should"},
        {{0x0e, 0x04, 0x07, 0x07}, 0, "list payload without its end mark"},
        {{0x21, 0x06, 0, 0, 0, 3, 0x0e, 0x04, 0x07, 0xff}, 6, "list payload without its end"},
        {{0x0e, 0x05, 0x07, 0x07, 0x07, 0xff}, 0, "dict payload holds an odd number of item"},
        {{0x21, 0x06, 0, 0, 0, 1, 0x0e, 0x03}, 6, "PUSH: type byte missing"},
        {{0x21, 0x06, 0, 0, 0, 1, 0x25, 0x2a}, 7, "unknown opcode 0x2a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto fault = verifybytecode(c.code);
        ASSERT_TRUE(fault.has_value());
        EXPECT_EQ(fault->offset, c.offset);
        EXPECT_NE(fault->what.find(c.what), std::string::npos) << fault->what;
    }
}

TEST(Verifier, AcceptsEveryOperandForm) {
    const std::pair<const char*, bytes> cases[] = {
        {"empty file", {}},
        {"x = 5", {0x25, 0x0e, 0x00, 0,    0,    0,   5, 0x25, 0x0e, 0x03, 0x05,
                   0x02, 'x',  0,    0x1c, 0x02, 'x', 0, 0x29, 0x0a, 0x02, 's',
                   'e',  't',  0,    0x09, 0x00, 0,   0, 0,    1,    0x06}},
        {"descend is 0x07 at instruction position", {0x29, 0x07, 0x02, 'b', 0, 0x06}},
        {"forever {}", {0x0e, 0x00, 0, 0, 0, 1, 0x23, 0x06, 0, 0, 0, 6, 0x0e, 0x00, 0, 0, 0, 1}},
        {"empty blocks", {0x0e, 0x06, 0, 0, 0, 0, 0x21, 0x06, 0, 0, 0, 0}},
        {"empty string, list and dict",
         {0x0e, 0x02, 0, 0x0e, 0x04, 0xff, 0x0e, 0x05, 0xff, 0x0e, 0x03}},
        {"dict of two pairs", {0x0e, 0x05, 7, 7, 7, 7, 0xff}},
        {"nested blocks ending together",
         {0x21, 0x06, 0, 0, 0, 7, 0x24, 0x06, 0, 0, 0, 1, 0x10, 0x10}},
    };
    for (const auto& [name, code] : cases) {
        const auto fault = verifybytecode(code);
        EXPECT_FALSE(fault.has_value()) << name << ": " << fault->what;
    }
}

// `depth` IF blocks, each holding the next, around `inner`.
bytes nested(std::size_t depth, const bytes& inner) {
    bytes code;
    for (std::size_t level = 0; level < depth; ++level) {
        const std::size_t length = (depth - level - 1) * 6 + inner.size();
        code.push_back(0x21);
        code.push_back(0x06);
        for (int shift = 24; shift >= 0; shift -= 8) code.push_back((length >> shift) & 0xff);
    }
    for (byte b : inner) code.push_back(b);
    return code;
}

TEST(Verifier, DeepNestingNeedsNoCallStack) {
    constexpr std::size_t depth = 300000;
    EXPECT_FALSE(verifybytecode(nested(depth, {0x10})).has_value());
    const auto fault = verifybytecode(nested(depth, {0x10, 0xff}));
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->offset, depth * 6 + 1);
}

std::string listing(const bytes& code, std::optional<bytecodefault>* fault = nullptr) {
    std::ostringstream out;
    auto result = listbytecode(code, out);
    if (fault != nullptr) *fault = result;
    return out.str();
}

TEST(Listing, ShowsOperandsReadably) {
    const std::pair<bytes, const char*> cases[] = {
        {{0x0e, 0x00, 0xff, 0xff, 0xff, 0xfe}, "PUSH int -2"},
        {{0x0e, 0x01, 0xff, 0xff, 0xff, 0xfe, 0, 0, 0, 5}, "PUSH decimal -2.5"},
        {{0x0e, 0x01, 0, 0, 0, 0, 0, 0, 0, 7}, "PUSH decimal 0.7"},
        {{0x0e, 0x01, 0x80, 0, 0, 0, 0xff, 0xff, 0xff, 0xf8}, "PUSH decimal -2147483648 digit -8"},
        {{0x0e, 0x02, 'a', '"', '\\', '\n', '\r', '\t', 0x01, 0xe9, 0},
         R"(PUSH string "a\"\\\n\r\t\x01\xe9")"},
        {{0x0e, 0x03}, "PUSH object"},
        {{0x0e, 0x04, 0xff}, "PUSH list (0 elements)"},
        {{0x0e, 0x04, 7, 0xff}, "PUSH list (1 element)"},
        {{0x0e, 0x05, 7, 7, 7, 7, 0xff}, "PUSH dict (2 pairs)"},
        {{0x0e, 0x06, 0, 0, 0, 0}, "PUSH block (0 bytes)"},
        {{0x1e, 0x02, 0}, R"(GLOBALREF "")"},
        {{0x09, 0x00, 0, 0, 0, 2}, "CALL 2"},
        {{0x24, 0x06, 0, 0, 0, 1, 0x1f}, "FOREACH block (1 byte)"},
    };
    for (const auto& [code, text] : cases) {
        std::optional<bytecodefault> fault;
        const std::string line = listing(code, &fault);
        ASSERT_FALSE(fault.has_value()) << text << ": " << fault->what;
        EXPECT_EQ(line.substr(37, line.find('\n') - 37), text);
    }
}

TEST(Listing, IndentsBlocksAndShortensLongBytes) {
    const bytes code = {0x04, 0x02, 'l', 'o', 'n',  'g',  'n',  'a', 'm', 'e', 0, 0x21, 0x06,
                        0,    0,    0,   8,   0x25, 0x23, 0x06, 0,   0,   0,   1, 0x10, 0x06};
    EXPECT_EQ(listing(code), "     0  04 02 6c 6f 6e 67 6e 61 ...  LOAD \"longname\"\n"
                             "    11  21 06 00 00 00 08            IF block (8 bytes)\n"
                             "    17  25                             ACCESS\n"
                             "    18  23 06 00 00 00 01              LOOP block (1 byte)\n"
                             "    24  10                               RETURN\n"
                             "    25  06                           LEAVE\n");
}

TEST(Listing, StopsBeforeTheFault) {
    std::optional<bytecodefault> fault;
    const std::string out = listing({0x25, 0x10, 0x2a, 0x25}, &fault);
    EXPECT_EQ(out, "     0  25                           ACCESS\n"
                   "     1  10                           RETURN\n");
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(faultline(*fault), "zvdis: offset 2: unknown opcode 0x2a");
}

TEST(Listing, AnnotatesWithNestedTitles) {
    // "x = 1" holds the expression "1" and the target "x"; the set call's bytes belong to
    // the assignment again, and RETURN to the root.
    const std::vector<titlenode> nodes = {
        {"PACK_ROOT", -1}, {"x = 1", 0}, {"1", 1}, {"1", 2}, {"x\n", 1}};
    const bytes code = {0x25, 0x0e, 0x03, 0x1c, 0x02, 'x', 0, 0x06, 0x10};
    const std::vector<std::int32_t> origins = {3, 3, 3, 4, 4, 4, 4, 1, 0};
    std::ostringstream out;
    EXPECT_FALSE(listannotated(code, nodes, origins, out).has_value());
    const std::string pad(37, ' ');
    EXPECT_EQ(out.str(), pad + "\"x = 1\"\n" + pad + "  \"1\"\n" + pad +
                             "    \"1\"\n"
                             "     0  25                                 ACCESS\n"
                             "     1  0e 03                              PUSH object\n" +
                             pad +
                             "  \"x\\n\"\n"
                             "     3  1c 02 78 00                      LOADREF \"x\"\n"
                             "     7  06                             LEAVE\n"
                             "     8  10                           RETURN\n");
}

TEST(Listing, HexString) {
    EXPECT_EQ(hexstring({0x00, 0x0e, 0xff, 0x5a}), "000eff5a");
    EXPECT_EQ(hexstring({}), "");
}

} // namespace
