// End-to-end harness for zvc. Every case of the corpus in cases/*.case becomes one test: it
// gets a fresh directory holding its source and extra files (and an older byte-code file
// under the expected output name), runs the built zvc there, and checks standard output,
// standard error, the exit status, the byte-code file byte for byte and that no other file
// appeared or vanished. Successful runs are also checked with `zvdis --check` when the
// listing tool is built. The case format is described in cases/README.md.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace fs = std::filesystem;

namespace {

struct extrafile {
    std::string path, content;
    bool dir = false, unreadable = false;
    std::uint64_t sparsesize = 0; // non-zero: a sparse file of this size
};

struct testcase {
    std::string name, problem; // problem: the corpus could not be read as intended
    std::string sourcepath = "prog.zv";
    std::optional<std::string> source;
    std::vector<extrafile> files;
    std::optional<std::vector<std::string>> args;
    std::string output = "prog.zvbc";
    std::optional<std::string> zvbc, error, out, err;
    bool anyzvbc = false, outprefix = false;
    std::optional<int> status;
    long fsizelimit = 0;
    friend void PrintTo(const testcase& tc, std::ostream* os) { *os << tc.name; }
};

// The ten quips of the error report, each between line feeds.
const std::string quips = "\nWhat did you do again?\nWell that wasn't supposed to happen...\n"
                          "I swear it wasn't my fault!\nMist.\nWas it my fault?\nStop doing that!\n"
                          "Something ain't right...\nFull steam ahead!\n"
                          "This message will come to haunt me, Tamsel.\nGRRRRRRRR\n";
const std::string quipline = "// <quip>";
const std::string started = "reading file...\nfile read. compiling...\n";
const std::string stalecontent = "older byte code\n";

std::string report(const std::string& message) {
    return "COMPILER ERROR\n" + quipline + "\nExperienced error during compilation:\n" + message +
           "\n";
}

std::string transcript(const std::string& bytes) {
    std::string echo;
    char buf[8];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, "%x ", b);
        echo += buf;
    }
    return started + "compilation finished. writing to zvbc file...\n" + echo +
           "\nwriting to desc.zvdc...\n\nfinished writing.\n";
}

// Every standard-error line that is "// " and one of the quips reads as "// <quip>".
std::string maskquips(const std::string& text) {
    std::string out, line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (line.starts_with("// ") && quips.find("\n" + line.substr(3) + "\n") != quips.npos)
            line = quipline;
        out += line + (in.eof() ? "" : "\n");
    }
    return out;
}

// `@@N*TEXT@@` stands for N copies of TEXT (which may span lines).
std::string expandrepeats(std::string text, std::string& problem) {
    for (std::size_t at = 0; (at = text.find("@@", at)) != std::string::npos;) {
        std::size_t star = text.find('*', at), end = text.find("@@", star);
        std::string count = text.substr(at + 2, star - at - 2);
        if (end == std::string::npos || count.empty() ||
            count.find_first_not_of("0123456789") != std::string::npos) {
            problem = "malformed @@ repeat";
            return text;
        }
        std::string body = text.substr(star + 1, end - star - 1), copies;
        for (long n = std::stol(count); n > 0; --n) copies += body;
        text.replace(at, end + 2 - at, copies);
        at += copies.size();
    }
    return text;
}

// Hex bytes ("0e", "00000001"), "quoted text" as its raw bytes, `#` comments to line end.
std::string parsehex(const std::string& text, std::string& problem) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#') {
            i = text.find('\n', i);
        } else if (c == '"') {
            std::size_t end = text.find('"', i + 1);
            if (end == std::string::npos) end = text.size(), problem = "unterminated text in hex";
            out += text.substr(i + 1, end - i - 1);
            i = end + 1;
        } else if (std::isxdigit(static_cast<unsigned char>(c)) && i + 1 < text.size() &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
            i += 2;
        } else {
            problem = "bad hex at: " + text.substr(i, 20);
            return out;
        }
    }
    return out;
}

// Paths and arguments cannot hold a line feed as written in a case; `{LF}` stands for one.
std::string linefeeds(std::string text) {
    for (std::size_t at = 0; (at = text.find("{LF}", at)) != std::string::npos; ++at)
        text.replace(at, 4, "\n");
    return text;
}

// Applies one finished section to the case.
void addsection(testcase& tc, const std::vector<std::string>& head,
                std::vector<std::string> lines) {
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string body, path;
    for (auto& l : lines) body += l + "\n";
    static const std::set<std::string> known = {"hex",    "crlf",       "noeol",
                                                "prefix", "unreadable", "any"};
    std::set<std::string> flags;
    std::uint64_t size = 0;
    for (std::size_t i = 1; i < head.size(); ++i) {
        bool flag = known.count(head[i]), sized = head[i].starts_with("size=");
        if (flag) flags.insert(head[i]);
        if (sized) size = std::stoull(head[i].substr(5));
        if (!flag && !sized) (path.empty() ? path : tc.problem) = linefeeds(head[i]);
    }
    auto has = [&](const char* flag) { return flags.count(flag) > 0; };
    if (has("hex")) body = parsehex(body, tc.problem);
    if (has("noeol") && !body.empty() && body.back() == '\n') body.pop_back();
    if (has("crlf"))
        for (std::size_t at = 0; (at = body.find('\n', at)) != std::string::npos; at += 2)
            body.insert(at, "\r");
    const std::string& kind = head[0];
    auto line = [&] { return body.empty() ? std::string() : body.substr(0, body.size() - 1); };
    if (kind == "source") {
        tc.source = body;
        if (!path.empty()) tc.sourcepath = path;
    } else if (kind == "file") {
        tc.files.push_back({path, body, false, has("unreadable"), size});
    } else if (kind == "dir") {
        tc.files.push_back({path, "", true});
    } else if (kind == "args") {
        tc.args = lines;
        for (std::string& arg : *tc.args) arg = linefeeds(arg);
    } else if (kind == "output") {
        tc.output = path;
    } else if (kind == "zvbc") {
        tc.anyzvbc = has("any");
        if (!tc.anyzvbc) tc.zvbc = parsehex(body, tc.problem);
    } else if (kind == "error") {
        tc.error = line();
    } else if (kind == "stdout") {
        tc.out = body, tc.outprefix = has("prefix");
    } else if (kind == "stderr") {
        tc.err = body;
    } else if (kind == "status") {
        tc.status = std::stoi(path);
    } else if (kind == "fsizelimit") {
        tc.fsizelimit = std::stol(path);
    } else {
        tc.problem = "unknown section " + kind;
    }
}

std::vector<testcase> loadfile(const fs::path& file) {
    std::string problem;
    const std::string text = expandrepeats(zvtest::slurp(file), problem);
    std::vector<testcase> cases;
    for (const zvtest::casetext& c : zvtest::readcases(text, file.stem().string())) {
        testcase& tc = cases.emplace_back();
        tc.name = c.name;
        tc.problem = problem;
        for (const zvtest::section& s : c.sections) {
            std::vector<std::string> head = {s.kind};
            head.insert(head.end(), s.words.begin(), s.words.end());
            addsection(tc, head, s.lines);
        }
    }
    return cases;
}

std::vector<testcase> loadcorpus() {
    std::vector<fs::path> files;
    for (auto& e : fs::directory_iterator(ZV_CASES_DIR))
        if (e.path().extension() == ".case") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<testcase> all;
    for (auto& f : files)
        for (auto& c : loadfile(f)) all.push_back(std::move(c));
    return all;
}

using zvtest::runresult;
using zvtest::slurp;
using zvtest::spit;

// Runs `argv` in `dir`, collecting both output streams through pipes (a file size limit set
// for the child applies to the files it writes, not to what it prints).
runresult run(const fs::path& dir, const std::vector<std::string>& argv, long fsizelimit) {
    zvtest::process p;
    p.argv = argv;
    p.dir = dir;
    p.filelimit = static_cast<rlim_t>(std::max(fsizelimit, 0L));
    p.seconds = 120;
    return zvtest::run(p);
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (auto& e : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
    return names;
}

void runcase(const testcase& tc) {
    ASSERT_EQ(tc.problem, "") << "malformed case";
    for (auto& f : tc.files)
        if (f.unreadable && geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    zvtest::scratchdir scratch("zv_e2e");
    ASSERT_FALSE(scratch.path.empty());
    const fs::path dir = scratch.path;
    if (tc.source) spit(dir / tc.sourcepath, *tc.source);
    for (auto& f : tc.files) {
        f.dir ? (void)fs::create_directories(dir / f.path) : spit(dir / f.path, f.content);
        if (f.sparsesize) fs::resize_file(dir / f.path, f.sparsesize);
        if (f.unreadable) fs::permissions(dir / f.path, fs::perms::none);
    }
    std::error_code ec;
    bool stale = false;
    if (!fs::exists(dir / tc.output, ec)) {
        std::ofstream(dir / tc.output, std::ios::binary) << stalecontent;
        stale = fs::exists(dir / tc.output, ec);
    }
    auto before = listing(dir);

    std::vector<std::string> argv = {ZVC_PATH};
    for (auto& a : tc.args.value_or(std::vector<std::string>{tc.sourcepath})) argv.push_back(a);
    runresult r = run(dir, argv, tc.fsizelimit);

    int status = tc.status.value_or(tc.error ? 1 : 0);
    bool success = status == 0;
    EXPECT_EQ(r.status, status);
    std::string written = slurp(dir / tc.output);
    if (success && !tc.zvbc && !tc.anyzvbc) ADD_FAILURE() << "a successful case needs --- zvbc";
    std::string bytes = tc.zvbc.value_or(written);
    std::string out = tc.out.value_or(success ? transcript(bytes) : started);
    EXPECT_EQ(tc.outprefix ? r.out.substr(0, out.size()) : r.out, out);
    std::string err = tc.err.value_or(success    ? "WARNING; desc disabled.\n"
                                      : tc.error ? report(*tc.error)
                                                 : "");
    EXPECT_EQ(maskquips(r.err), err);

    auto after = listing(dir);
    if (success && !stale) before.insert(tc.output);
    EXPECT_EQ(after, before) << "files appeared or vanished";
    if (success) {
        EXPECT_EQ(written, bytes) << "byte-code file " << tc.output;
    } else if (stale) {
        EXPECT_EQ(written, stalecontent) << "older byte-code file was changed";
    }
#ifdef ZVDIS_PATH
    if (success && r.status == 0) {
        runresult check = run(dir, {ZVDIS_PATH, "--check", tc.output}, 0);
        EXPECT_EQ(check.status, 0) << "zvdis --check: " << check.out << check.err;
    }
#endif
    if (::testing::Test::HasFailure()) {
        scratch.keep = true;
        std::cout << "case directory kept: " << dir << "\n";
    }
}

class corpus : public ::testing::TestWithParam<testcase> {};

TEST_P(corpus, run) {
    runcase(GetParam());
}

INSTANTIATE_TEST_SUITE_P(cases, corpus, ::testing::ValuesIn(loadcorpus()),
                         [](const auto& info) { return info.param.name; });

// A chain of `depth` included files, each including the next; the last reads the name f.
testcase includechain(int depth) {
    testcase tc;
    tc.source = "also lib0\n";
    for (int i = 0; i < depth; ++i)
        tc.files.push_back({"lib" + std::to_string(i) + ".ZVEX",
                            i + 1 < depth ? "also lib" + std::to_string(i + 1) + "\n" : "f\n"});
    return tc;
}

TEST(includes, thousandlevelscompile) {
    testcase tc = includechain(1000);
    tc.zvbc = std::string("\x25\x04\x02\x66\x00", 5);
    runcase(tc);
}

TEST(includes, beyondmaxnestingfails) {
    testcase tc = includechain(2001);
    tc.error = "Nesting too deep!";
    runcase(tc);
}

// A program whose byte code runs to megabytes reaches the output file in many pieces while
// it is compiled. Top-level statements compile to the same bytes wherever they stand, so
// the file and its echo must be one copy's byte code repeated.
const std::string repeatedstatement = "def f(a) {\n    x = [a, 2, \"s\"]\n    if a {\n"
                                      "        y = a+1\n    }\n}\n";

std::string onecopycode() {
    const zvtest::scratchdir scratch("zv_e2e");
    spit(scratch.path / "one.zv", repeatedstatement);
    run(scratch.path, {ZVC_PATH, "one.zv"}, 0);
    return slurp(scratch.path / "one.zvbc");
}

testcase largeprogram(int copies, std::string& code) {
    const std::string one = onecopycode();
    testcase tc;
    tc.source = std::string();
    for (int i = 0; i < copies; ++i) {
        tc.source->append(repeatedstatement);
        code.append(one);
    }
    return tc;
}

TEST(largeoutput, piecesmakethewholefile) {
    std::string code;
    testcase tc = largeprogram(40000, code);
    ASSERT_GT(code.size(), std::size_t{2} << 20) << "the code should span many pieces";
    tc.zvbc = code;
    runcase(tc);
}

TEST(largeoutput, filesizelimithalfwayfails) {
    // Writing stops half way through the compile; the report comes after it, as for a file
    // that could not be written at the end, and the older file is left as it was.
    std::string code;
    testcase tc = largeprogram(40000, code);
    tc.fsizelimit = static_cast<long>(code.size() / 2);
    tc.error = "Could not write file with name: prog.zvbc";
    tc.out = started + "compilation finished. writing to zvbc file...\n";
    runcase(tc);
}

TEST(largeoutput, compileerrorafterpiecesleavesnofile) {
    // Code already handed to the output file is dropped when a later statement fails.
    std::string code;
    testcase tc = largeprogram(40000, code);
    tc.source->append("x = (1 +)\n");
    tc.error = "handleexpr: operator without operand: '+'";
    runcase(tc);
}

} // namespace

// Standard output and standard error sent to one place (a pipe, a file) keep the order in
// which zvc wrote them: what went to standard output is out before each standard-error
// message, whichever way the two are buffered.
TEST(streams, oneplacekeepstheorderofwriting) {
    struct interleaved {
        std::string source, expected;
    };
    const std::string stray = "25 4 2 66 0 26 1a 25 4 2 5d 0 1b 9 0 0 0 0 1 25 ";
    const std::vector<interleaved> cases = {
        // A parser message mid-compile, then the echo, the map's warning, the last line.
        {"f(])\n", started + "PARSER FAILURE\ncompilation finished. writing to zvbc file...\n" +
                       stray + "\nwriting to desc.zvdc...\nWARNING; desc disabled.\n\n" +
                       "finished writing.\n"},
        // The error report after the progress lines.
        {"x = [1]]\n", started + report("handleget: malformed list: '[1]]'")},
        // The parser's exit: its message on standard output, nothing after it.
        {"x = (\n",
         started + "parser error, markers over 1, grammatically not valid." + "0/1/0/0/0/0/"},
    };
    for (const char* into : {"2>&1 | cat", "> both.txt 2>&1; cat both.txt"}) {
        for (const interleaved& c : cases) {
            const zvtest::scratchdir scratch("zv_e2e");
            spit(scratch.path / "prog.zv", c.source);
            const std::string command = std::string("'") + ZVC_PATH + "' prog.zv " + into;
            const zvtest::runresult r = run(scratch.path, {"sh", "-c", command}, 0);
            EXPECT_EQ(maskquips(r.out), c.expected) << c.source << " " << into;
        }
    }
}
