// Unit tests of code emission: byte routing and length-prefixed blocks, the operand
// encoders, the title records of the description map, the error routine, and the file
// helpers (source reading, output stem, byte-code writer and its hexadecimal echo).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "compiler.h"
#include "context.h"
#include "packer.h"
#include "unittools.h"

namespace {

namespace fs = std::filesystem;

// The current compilation context, where the emitted bytes and the map are.
compilation& state() {
    return current();
}

class packer : public ::testing::Test {
  protected:
    void SetUp() override { resetcompiler(); }
};

// Description records: a count (left out when negative) and a title.
bytelist records(std::initializer_list<std::pair<int, std::string>> list) {
    bytelist out;
    for (auto& [count, title] : list) {
        if (count >= 0)
            for (int shift = 24; shift >= 0; shift -= 8) out.push_back(byte(count >> shift));
        out.insert(out.end(), title.begin(), title.end());
        out.push_back(0);
    }
    return out;
}

TEST_F(packer, addcodeoutsideblocks) {
    addcode(0x10);
    EXPECT_EQ(state().code, hex("10"));
    std::int32_t before = state().currentdesclength;
    addcode(bytelist{0x01, 0x02});
    addcode(bytelist{});
    EXPECT_EQ(state().code, hex("10 01 02"));
    EXPECT_EQ(state().currentdesclength, before + 2);
    EXPECT_TRUE(state().desc.empty());
}

TEST_F(packer, blocks) {
    // Steps: "{" opens a block, "}" closes it, hex pairs are emitted bytes.
    const std::pair<const char*, const char*> rows[] = {
        {"{ 01 02 03 }", "00000003 010203"},
        {"{ }", "00000000"},
        {"{ aa { 01 02 } }", "00000007 aa 00000002 0102"},
        {"21 { aa { } bb }", "21 00000006 aa 00000000 bb"},
        {"{ aa { 01 } { 02 } }", "0000000b aa 00000001 01 00000001 02"},
        {"{ } 05 { 06 }", "00000000 05 00000001 06"}};
    for (auto& [steps, bytes] : rows) {
        resetcompiler();
        std::istringstream in(steps);
        for (std::string step; in >> step;) {
            if (step == "{") state().beginblock();
            if (step == "}") negatebyteoperand();
            if (std::isxdigit(step[0])) addcode(hex(step));
        }
        EXPECT_EQ(state().code, hex(bytes)) << steps;
        EXPECT_FALSE(state().inblock()) << steps;
        EXPECT_EQ(state().reserved, 0u) << steps;
    }
}

TEST_F(packer, blockbytescountedwhenclosed) {
    state().beginblock();
    std::int32_t before = state().currentdesclength;
    addcode(bytelist{1, 2, 3});
    EXPECT_EQ(state().currentdesclength, before);
    negatebyteoperand();
    EXPECT_EQ(state().currentdesclength, before + 7);
}

TEST_F(packer, titlesinsideablockgotodesc) {
    state().beginblock();
    gotitle("t");
    addcode(5);
    goout();
    EXPECT_EQ(state().desc, records({{-1, "t"}, {0, "PACK_ROOT"}}));
    negatebyteoperand();
    EXPECT_EQ(state().code, hex("00000001 05"));
}

TEST_F(packer, encoders) {
    const std::pair<std::int32_t, const char*> ints[] = {
        {0, "00000000"},  {1, "00000001"},          {256, "00000100"},    {-1, "ffffffff"},
        {-2, "fffffffe"}, {2147483647, "7fffffff"}, {INT_MIN, "80000000"}};
    for (auto& [v, bytes] : ints) {
        resetcompiler();
        compileint(v);
        EXPECT_EQ(state().code, hex(bytes)) << v;
    }
    const std::pair<float, const char*> floats[] = {
        {3.14f, "00000003 00000001"},  {-2.5f, "fffffffe 00000005"},  {0.05f, "00000000 00000000"},
        {-0.7f, "00000000 00000007"},  {12.96f, "0000000c 00000009"}, {0.7f, "00000000 00000007"},
        {2.3f, "00000002 00000003"},   {100.1f, "00000064 00000001"}, {2.99f, "00000002 00000009"},
        {-13.25f, "fffffff3 00000002"}};
    for (auto& [v, bytes] : floats) {
        resetcompiler();
        compilefloat(v);
        EXPECT_EQ(state().code, hex(bytes)) << v;
    }
    const std::pair<std::string, const char*> strings[] = {
        {"get", "67657400"}, {"", "00"}, {"a\xff\n", "61ff0a00"}};
    for (auto& [v, bytes] : strings) {
        resetcompiler();
        compilestring(v);
        EXPECT_EQ(state().code, hex(bytes)) << v;
    }
}

TEST_F(packer, encodersfollowrouting) {
    state().inrecord = true;
    compileint(1);
    compilestring("x");
    state().inrecord = false;
    EXPECT_EQ(state().desc, hex("00000001 7800"));
    EXPECT_TRUE(state().code.empty());
    state().beginblock();
    compilefloat(1.5f);
    negatebyteoperand();
    EXPECT_EQ(state().code, hex("00000008 00000001 00000005"));
}

TEST_F(packer, titlerecords) {
    gotitle("t");
    addcode(1);
    addcode(2);
    goout();
    EXPECT_EQ(state().currentdesclength, -1);
    gotitle("u");
    gotitle("v");
    goout();
    goout();
    EXPECT_EQ(
        state().desc,
        records({{-1, "t"}, {2, "PACK_ROOT"}, {-1, "u"}, {0, "v"}, {0, "u"}, {0, "PACK_ROOT"}}));
    EXPECT_EQ(state().desc.opentitles(), 1u) << "only the root is open";
}

TEST_F(packer, descriptionmapofprograms) {
    struct row {
        const char *program, *bytes;
        bytelist map;
    } rows[] = {
        {"f\n", "25 04 02 66 00", records({{-1, "f"}, {0, "f"}, {5, "f"}, {0, "PACK_ROOT"}})},
        {"f\nf\n", "25 04 02 66 00 25 04 02 66 00",
         records({{-1, "f"},
                  {0, "f"},
                  {5, "f"},
                  {0, "PACK_ROOT"},
                  {-1, "f"},
                  {0, "f"},
                  {5, "f"},
                  {0, "PACK_ROOT"}})},
        {"if a {}\n", "25 04 02 61 00 21 06 00000000",
         records({{-1, "if a <code>"},
                  {0, "a"},
                  {0, "a"},
                  {5, "a"},
                  {0, "if a <code>"},
                  {6, "PACK_ROOT"}})},
        {"if a {b()}\n", "25 04 02 61 00 21 06 0000000f 25 04 02 62 00 26 1a 1b 09 00 00000000 25",
         records({{-1, "if a <code>"},
                  {0, "a"},
                  {0, "a"},
                  {5, "a"},
                  {0, "if a <code>"},
                  {2, "b()"},
                  {0, "b()"},
                  {0, "b()"},
                  {0, "if a <code>"},
                  {19, "PACK_ROOT"}})},
        {"if a {return}\n", "25 04 02 61 00 21 06 00000001 10",
         records({{-1, "if a <code>"},
                  {0, "a"},
                  {0, "a"},
                  {5, "a"},
                  {0, "if a <code>"},
                  {7, "PACK_ROOT"}})},
        {"while a {}\n", "0e 00 00000001 23 06 00000005 25 04 02 61 00",
         records({{-1, "while a <code>"},
                  {8, "a"},
                  {0, "a"},
                  {0, "a"},
                  {0, "while a <code>"},
                  {9, "PACK_ROOT"}})},
        {"forever {}\n", "0e 00 00000001 23 06 00000006 0e 00 00000001",
         records({{-1, "forever <code>"}, {18, "PACK_ROOT"}})},
        {"for xs in x {}\n", "25 04 02 \"xs\" 00 24 06 0000000e 04 02 \"ELEMENT\" 00 05 02 78 00",
         records({{-1, "for xs as x <code>"},
                  {0, "xs"},
                  {0, "xs"},
                  {6, "xs"},
                  {0, "for xs as x <code>"},
                  {20, "PACK_ROOT"}})},
        {"$@ o {}\n", "25 04 02 6f 00 29 06",
         records(
             {{-1, "$@ o {}"}, {0, "o"}, {0, "o"}, {5, "o"}, {0, "$@ o {}"}, {2, "PACK_ROOT"}})},
        {"return x\n", "25 04 02 78 00 10",
         records({{-1, "x"}, {0, "x"}, {5, "x"}, {0, "PACK_ROOT"}})},
        {"def f(a) {}\n",
         "0e 06 0000000b 04 02 \"arg0\" 00 05 02 61 00 25 0e 03 05 02 66 00 1c 02 66 00 "
         "29 0a 02 \"set\" 00 09 00 00000001 06",
         records({{-1, "def f <code>"}, {17, "f"}, {11, "def f <code>"}, {14, "PACK_ROOT"}})},
        {"class C {def m() {}}\n",
         "0e 03 28 29 0e 06 00000000 25 0e 03 0b 02 6d 00 1d 02 6d 00 "
         "29 0a 02 \"set\" 00 09 00 00000001 06 06 25 0e 03 05 02 43 00 1c 02 43 00 "
         "29 0a 02 \"set\" 00 09 00 00000001 06",
         records({{-1, "class C <definition>"},
                  {4, "def @m <code>"},
                  {6, "@m"},
                  {11, "def @m <code>"},
                  {14, "class C <definition>"},
                  {1, "C"},
                  {11, "class C <definition>"},
                  {14, "PACK_ROOT"}})},
        {"x = a+1\n",
         "25 04 02 61 00 1a 25 0e 00 00000001 1b 00 25 0e 03 05 02 78 00 1c 02 78 00 "
         "29 0a 02 \"set\" 00 09 00 00000001 06",
         records({{-1, "x = a+1"},
                  {0, "a+1"},
                  {0, "a"},
                  {5, "a+1"},
                  {0, "<datastack>+1"},
                  {1, "1"},
                  {7, "<datastack>+1"},
                  {2, "a+1"},
                  {0, "x = a+1"},
                  {0, "x"},
                  {11, "x = a+1"},
                  {14, "PACK_ROOT"}})}};
    for (auto& r : rows) {
        resetcompiler();
        compileprogram(r.program);
        EXPECT_EQ(state().code, hex(r.bytes)) << r.program;
        EXPECT_EQ(state().desc, r.map) << r.program;
        EXPECT_FALSE(state().inblock());
    }
}

TEST_F(packer, errorreport) {
    expectfatal([] { error("boom"); }, "boom");
    ASSERT_EQ(errormessages.size(), 10u);
    EXPECT_EQ(errormessages[0], "What did you do again?");
    EXPECT_EQ(errormessages[9], "GRRRRRRRR");
    for (std::string message : {"msg", ""}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(reporterror(message), 1);
        std::istringstream lines(::testing::internal::GetCapturedStderr());
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, "COMPILER ERROR");
        std::getline(lines, line);
        EXPECT_TRUE(line.starts_with("// ") && std::find(errormessages.begin(), errormessages.end(),
                                                         line.substr(3)) != errormessages.end())
            << line;
        std::getline(lines, line);
        EXPECT_EQ(line, "Experienced error during compilation:");
        std::getline(lines, line);
        EXPECT_EQ(line, message);
        EXPECT_FALSE(std::getline(lines, line)) << "more than four lines";
    }
}

TEST_F(packer, firstline) {
    const std::pair<const char*, const char*> rows[] = {
        {"abc", "abc"}, {"ab\ncd", "ab..."}, {"", ""}, {"\nx", "..."}, {"a\rb", "a\rb"}};
    for (auto& [in, out] : rows) EXPECT_EQ(firstline(in), out) << in;
}

TEST_F(packer, sourcestem) {
    const std::pair<const char*, const char*> rows[] = {{"examples/demo.txt", "demo"},
                                                        {"demo", "demo"},
                                                        {"a.b.c", "a.b"},
                                                        {".profile", ".profile"},
                                                        {"dir/", ""},
                                                        {"a\\b.c", "b"},
                                                        {"C:prog.txt", "prog"},
                                                        {"C:\\x\\y.z", "y"},
                                                        {"x\\", ""},
                                                        {"../a/b", "b"},
                                                        {"a/.hidden.txt", ".hidden"},
                                                        {"a/b\\c/d.e.f", "d.e"},
                                                        {"/abs/path.zv", "path"}};
    for (auto& [in, out] : rows) EXPECT_EQ(sourcestem(in), out) << in;
}

TEST_F(packer, hexecho) {
    EXPECT_EQ(hexecho(hex("0e 00 00000005")), "e 0 0 0 0 5 ");
    EXPECT_EQ(hexecho(hex("ff 0a 10 7f")), "ff a 10 7f ");
    EXPECT_EQ(hexecho({}), "");
}

// The echo of `bytes` formatted the plain way, one byte at a time.
std::string plainecho(const bytelist& bytes) {
    std::string out;
    for (const byte b : bytes) {
        char text[8];
        std::snprintf(text, sizeof text, "%x ", static_cast<unsigned>(b));
        out += text;
    }
    return out;
}

// Bytes of every value in an order that puts each value next to every kind of neighbour.
bytelist scrambled(std::size_t size) {
    bytelist out(size);
    std::uint32_t state = 2463534242u;
    for (byte& b : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<byte>(state);
    }
    return out;
}

// The echo's table against plain formatting: every byte value alone and in every position
// of a word, and the echo never writes past the room it asks for.
TEST_F(packer, hexechotableagainstformatting) {
    for (int value = 0; value < 256; ++value) {
        const bytelist one{static_cast<byte>(value)};
        EXPECT_EQ(hexecho(one), plainecho(one)) << value;
    }
    for (std::size_t size = 0; size < 12; ++size) {
        for (const int fill : {0x00, 0x0f, 0x10, 0xff}) {
            const bytelist bytes(size, static_cast<byte>(fill));
            constexpr char guard = '#';
            std::string out(hexechoroom(size) + 8, guard);
            const std::size_t length = hexechoto(bytes.data(), size, out.data());
            EXPECT_EQ(out.substr(0, length), plainecho(bytes)) << size << " " << fill;
            EXPECT_EQ(out.find_first_not_of(guard, hexechoroom(size)), std::string::npos)
                << "written past the room, " << size << " bytes of " << fill;
        }
    }
    const bytelist mixed = scrambled(4096);
    EXPECT_EQ(hexecho(mixed), plainecho(mixed));
}

// The funnel appends at the code buffer's capacity (the byte that grows it and the one
// after), outside blocks and inside one whose length is still to be reserved.
TEST_F(packer, funnelatcapacity) {
    for (const bool inblock : {false, true}) {
        resetcompiler();
        gotitle("t");
        if (inblock) state().beginblock();
        bytelist expected;
        // Past two growths of the buffer, so that some byte lands at N and one at N + 1.
        for (int growths = 0; growths < 2;) {
            const byte next = static_cast<byte>(expected.size() * 7);
            const bool pair = expected.size() % 3 == 0;
            const std::size_t room = state().code.capacity() - state().code.size();
            const bool full = room < (pair ? 2u : 1u);
            if (pair) {
                addcode({next, static_cast<byte>(next + 1)});
                expected.push_back(next);
                expected.push_back(static_cast<byte>(next + 1));
            } else {
                addcode(next);
                expected.push_back(next);
            }
            growths += full ? 1 : 0;
        }
        const std::int32_t count = state().currentdesclength;
        if (inblock) {
            negatebyteoperand();
            const auto length = intoperand(static_cast<std::int32_t>(expected.size()));
            expected.insert(expected.begin(), length.begin(), length.end());
            EXPECT_EQ(count, 0) << "bytes inside a block count when it closes";
        } else {
            EXPECT_EQ(count, static_cast<std::int32_t>(expected.size()));
        }
        EXPECT_EQ(state().code, expected) << inblock;
        EXPECT_EQ(state().currentdesclength, static_cast<std::int32_t>(expected.size()));
    }
}

class files : public packer {
  protected:
    fs::path dir;
    void SetUp() override {
        packer::SetUp();
        char pattern[] = "/tmp/zv_unit_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    }
};

TEST_F(files, readsourcefile) {
    const std::pair<std::string, std::string> rows[] = {
        {"a\r\nb", "a\nb\n"}, {"a\rb\n", "a\rb\n"}, {"", ""},
        {"x\n\n", "x\n\n"},   {"\r\n\r\n", "\n\n"}, {"a\r", "a\r\n"}};
    for (auto& [content, text] : rows) EXPECT_EQ(readsourcefile(write("s", content)), text);
    for (std::string path : {(dir / "missing").string(), dir.string()})
        expectfatal([&] { readsourcefile(path); }, "Could not open file with name: " + path);
}

TEST_F(files, includetitle) {
    std::string lib = (dir / "lib").string();
    write("lib.ZVEX", "f\n");
    // The map keeps titles that are source text as views: the program outlives its reading.
    const std::string program = "also " + lib + "\n";
    compileprogram(program);
    EXPECT_EQ(state().code, hex("25 04 02 66 00"));
    EXPECT_EQ(state().desc, records({{-1, "also " + lib},
                                     {0, "f"},
                                     {0, "f"},
                                     {5, "f"},
                                     {0, "also " + lib},
                                     {0, "PACK_ROOT"}}));
}

TEST_F(files, writecode) {
    write("out.zvbc", "an older and longer file");
    const bytelist code = hex("0e 00 00000005 0a");
    ::testing::internal::CaptureStdout();
    writecode((dir / "out").string(), code);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "e 0 0 0 0 5 a ");
    std::ifstream in(dir / "out.zvbc", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, std::string("\x0e\0\0\0\0\x05\x0a", 7));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "temporary file left";
    std::string missing = (dir / "no" / "out").string();
    expectfatal([&] { writecode(missing, code); },
                "Could not open file with name: " + missing + ".zvbc");
}

// The echo goes out a piece at a time: sizes at a piece's end (N - 1, N, N + 1) and past
// two pieces echo alike from memory and from the file.
TEST_F(files, echoacrosspieces) {
    for (const std::size_t size :
         {std::size_t{0}, echopiece - 1, echopiece, echopiece + 1, 2 * echopiece + 1}) {
        const bytelist code = scrambled(size);
        const std::string expected = plainecho(code);
        ::testing::internal::CaptureStdout();
        writecode((dir / "out").string(), code);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected) << size;
        ::testing::internal::CaptureStdout();
        echofile((dir / "out.zvbc").string());
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected) << size;
    }
}

TEST_F(files, writedesc) {
    ::testing::internal::CaptureStderr();
    writedesc("desc");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "WARNING; desc disabled.\n");
    EXPECT_FALSE(fs::exists("desc.zvdc"));
}

} // namespace
