// zv build, end to end: every case of zvc's corpus (tests/e2e/cases) compiled by both
// tools must give the same byte-code file, or fail in both without touching the older one;
// dependency files as make and ninja read them; many programs on many threads; failures
// that must leave an older file alone; usage errors.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "buildfiles.h"

namespace zvbuildtest {
namespace {

// ---------------------------------------------------------------------------------------
// The corpus of zvc, read as far as it describes the files of a case (the format is in
// tests/e2e/cases/README.md). Cases that need what zv build does not take (arguments of
// their own, a file size limit, unreadable or sparse files) are left out.

struct casefile {
    std::string path, content;
    bool dir = false;
};

struct corpuscase {
    std::string name, problem;
    std::string sourcepath = "prog.zv", output = "prog.zvbc";
    std::vector<casefile> files; // the source first
    bool usable = true;
    friend void PrintTo(const corpuscase& c, std::ostream* os) { *os << c.name; }
};

std::string expandrepeats(std::string text) {
    for (std::size_t at = 0; (at = text.find("@@", at)) != std::string::npos;) {
        const std::size_t star = text.find('*', at), end = text.find("@@", star);
        std::string copies;
        for (long n = std::stol(text.substr(at + 2, star - at - 2)); n > 0; --n)
            copies += text.substr(star + 1, end - star - 1);
        text.replace(at, end + 2 - at, copies);
        at += copies.size();
    }
    return text;
}

std::string parsehex(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (text[i] == '#') {
            i = std::min(text.size(), text.find('\n', i));
        } else if (text[i] == '"') {
            const std::size_t end = text.find('"', i + 1);
            out += text.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

std::string linefeeds(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool marker = text.compare(at, 4, "{LF}") == 0;
        out += marker ? '\n' : text[at];
        if (marker) at += 3;
    }
    return out;
}

void addsection(corpuscase& c, const std::vector<std::string>& head,
                std::vector<std::string> lines) {
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string body, path;
    for (const auto& l : lines) body += l + "\n";
    std::set<std::string> flags;
    for (std::size_t i = 1; i < head.size(); ++i) {
        static const std::set<std::string> known = {"hex", "crlf", "noeol", "prefix", "any"};
        if (known.count(head[i]))
            flags.insert(head[i]);
        else if (path.empty())
            path = linefeeds(head[i]);
        else
            c.usable = false; // unreadable, size=N: not files zv build can be handed
    }
    if (flags.count("hex")) body = parsehex(body);
    if (flags.count("noeol") && !body.empty()) body.pop_back();
    if (flags.count("crlf")) {
        std::string crlf;
        for (const char c : body) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        body = crlf;
    }
    const std::string& kind = head[0];
    if (kind == "source") {
        if (!path.empty()) c.sourcepath = path;
        c.files.insert(c.files.begin(), {c.sourcepath, body});
    } else if (kind == "file" || kind == "dir") {
        c.files.push_back({path, body, kind == "dir"});
    } else if (kind == "output") {
        c.output = path;
    } else if (kind == "args" || kind == "fsizelimit") {
        c.usable = false;
    }
}

std::vector<corpuscase> loadcorpus() {
    std::vector<fs::path> paths;
    for (const auto& e : fs::directory_iterator(ZV_CASES_DIR))
        if (e.path().extension() == ".case") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    std::vector<corpuscase> all;
    for (const auto& file : paths) {
        std::istringstream text(expandrepeats(slurp(file)));
        std::vector<std::string> head, lines;
        auto flush = [&] {
            if (!head.empty() && !all.empty()) addsection(all.back(), head, lines);
            head.clear(), lines.clear();
        };
        for (std::string l; std::getline(text, l);) {
            if (!l.starts_with("=== ") && !l.starts_with("--- ")) {
                if (!head.empty()) lines.push_back(l);
                continue;
            }
            flush();
            std::istringstream words(l.substr(4));
            for (std::string w; words >> w;) head.push_back(w);
            if (l[0] == '=') {
                all.push_back({});
                for (char ch : file.stem().string() + "_" + head.at(0))
                    all.back().name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                head.clear();
            }
        }
        flush();
    }
    std::erase_if(all, [](const corpuscase& c) { return !c.usable || c.files.empty(); });
    return all;
}

void plant(const fs::path& dir, const corpuscase& c) {
    for (const auto& f : c.files) {
        if (f.dir)
            fs::create_directories(dir / f.path);
        else
            spit(dir / f.path, f.content);
    }
}

const std::string older = "older byte code\n";

class corpus : public ::testing::TestWithParam<corpuscase> {};

// zvc and zv build, each in a directory of its own holding the case's files and an older
// byte-code file: the same status (zvc's non-zero statuses are zv build's 1) and the same
// byte-code file, or the older one left alone by both.
TEST_P(corpus, sameasaszvc) {
    const corpuscase& c = GetParam();
    scratchdir scratch;
    const fs::path byzvc = scratch.path / "zvc", bybuild = scratch.path / "build";
    for (const auto& dir : {byzvc, bybuild}) {
        fs::create_directories(dir);
        plant(dir, c);
        std::error_code toolong;
        if (!fs::exists(dir / c.output, toolong)) spit(dir / c.output, older);
    }
    const runresult zvc = run(ZVC_PATH, byzvc, {c.sourcepath});
    const runresult built = run(ZV_PATH, bybuild, {"build", "-q", c.sourcepath});
    EXPECT_EQ(built.status, zvc.status == 0 ? 0 : 1) << built.err;
    EXPECT_EQ(slurp(bybuild / c.output), slurp(byzvc / c.output));
    EXPECT_EQ(listing(bybuild), listing(byzvc));
    scratch.keep = HasFailure();
}

INSTANTIATE_TEST_SUITE_P(cases, corpus, ::testing::ValuesIn(loadcorpus()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------
// Dependency files.

struct depcase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files; // path, content
    std::vector<std::string> args;
    std::string depfile, expected;
};

const std::string printx = "print(x)\n";

// Paths are written as opened, escaped as gcc escapes them for make.
TEST(depfile, contentandescaping) {
    const std::vector<depcase> cases = {
        {"no includes",
         {{"main.zv", printx}},
         {"-MD", "main.zv"},
         "main.zvbc.d",
         "main.zvbc: main.zv\n"},
        {"nested includes in the order read",
         {{"main.zv", "also a\nalso c\n"},
          {"a.ZVEX", "also b\n"},
          {"b.ZVEX", "x = 1\n"},
          {"c.ZVEX", "y = 2\n"}},
         {"-MD", "main.zv"},
         "main.zvbc.d",
         "main.zvbc: main.zv \\\n  a.ZVEX \\\n  b.ZVEX \\\n  c.ZVEX\n"},
        {"blanks, hash and dollar",
         {{"my prog.zv", "also l$1#x\n"}, {"l$1#x.ZVEX", "x = 1\n"}},
         {"-MD", "-o", "out dir.zvbc", "my prog.zv"},
         "out dir.zvbc.d",
         "out\\ dir.zvbc: my\\ prog.zv \\\n  l$$1\\#x.ZVEX\n"},
        {"backslashes before a blank are doubled",
         {{"a\\ b.zv", printx}},
         {"-MD", "-o", "out.zvbc", "a\\ b.zv"},
         "out.zvbc.d",
         "out.zvbc: a\\\\\\ b.zv\n"},
        {"-MF, -MT as given, -MP for every include",
         {{"main.zv", "also a\n"}, {"a.ZVEX", "x = 1\n"}},
         {"-MD", "-MF", "deps/main.d", "-MT", "all $(X)", "-MP", "main.zv"},
         "deps/main.d",
         "all $(X): main.zv \\\n  a.ZVEX\n\na.ZVEX:\n"},
        {"--out-dir names the target",
         {{"sub/main.zv", printx}},
         {"-MD", "--out-dir", "bin", "sub/main.zv"},
         "bin/main.zvbc.d",
         "bin/main.zvbc: sub/main.zv\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratchdir scratch;
        for (const auto& [path, content] : c.files) spit(scratch.path / path, content);
        fs::create_directories(scratch.path / "deps");
        fs::create_directories(scratch.path / "bin");
        std::vector<std::string> args = {"build", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const runresult r = run(ZV_PATH, scratch.path, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(slurp(scratch.path / c.depfile), c.expected);
    }
}

// --absolute-deps resolves every path against the working directory.
TEST(depfile, absolute) {
    scratchdir scratch;
    spit(scratch.path / "main.zv", "also a\n");
    spit(scratch.path / "a.ZVEX", "x = 1\n");
    const runresult r = run(ZV_PATH, scratch.path, {"build", "-MD", "--absolute-deps", "main.zv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string dir = fs::canonical(scratch.path).string();
    EXPECT_EQ(slurp(scratch.path / "main.zvbc.d"),
              dir + "/main.zvbc: " + dir + "/main.zv \\\n  " + dir + "/a.ZVEX\n");
}

// make and ninja read the dependency file of a program whose source and include names
// hold a blank, '$' and '#': nothing to do after a build, a rebuild after touching the
// include, and after deleting it (-MP) no error from make.
TEST(depfile, readbymakeandninja) {
    const std::string zv = ZV_PATH;
    struct tool {
        const char *name, *file, *text;
        std::vector<std::string> command;
        std::string idle; // what the tool prints when nothing is to be done
    };
    const std::vector<tool> tools = {
        {"make",
         "Makefile",
         "out.zvbc:\n\t@echo COMPILING\n\t@'$(ZV)' build -q -MD -MP -o out.zvbc 'my prog.zv'\n"
         "-include out.zvbc.d\n",
         {"make", "ZV=" + zv},
         "is up to date"},
        {"ninja",
         "build.ninja",
         "rule zv\n  command = echo COMPILING && '$zv' build -q -MD -o $out 'my prog.zv'\n"
         "  depfile = $out.d\n  deps = gcc\nbuild out.zvbc: zv\n",
         {"ninja", "-v"},
         "no work to do"},
    };
    for (const auto& t : tools) {
        SCOPED_TRACE(t.name);
        scratchdir scratch;
        spit(scratch.path / "my prog.zv", "also l$1#x\nprint(x)\n");
        spit(scratch.path / "l$1#x.ZVEX", "x = 1\n");
        std::string text = t.text;
        if (t.name == std::string("ninja")) text = "zv = " + zv + "\n" + text;
        spit(scratch.path / t.file, text);
        auto build = [&] {
            return run(t.command[0], scratch.path, {t.command.begin() + 1, t.command.end()});
        };
        runresult r = build();
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("COMPILING"), std::string::npos) << r.out;
        r = build();
        EXPECT_NE(r.out.find(t.idle), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("COMPILING"), std::string::npos) << r.out;
        touchlater(scratch.path / "l$1#x.ZVEX");
        r = build();
        EXPECT_NE(r.out.find("COMPILING"), std::string::npos) << r.out;
        touchlater(scratch.path / "my prog.zv");
        r = build();
        EXPECT_NE(r.out.find("COMPILING"), std::string::npos) << r.out;
        scratch.keep = HasFailure();
    }
}

// ---------------------------------------------------------------------------------------
// Many programs on many threads.

// Forty programs (every fifth includes a file, one fails) on eight threads: every byte-code
// file is zvc's, the progress lines come in the order the programs were named, and the one
// failure is reported without stopping the others.
TEST(parallel, manysources) {
    scratchdir scratch;
    const fs::path dir = scratch.path / "build", reference = scratch.path / "zvc";
    fs::create_directories(dir);
    fs::create_directories(reference);
    std::vector<std::string> args = {"build", "-j", "8"};
    const int programs = 40, failing = 23;
    for (int i = 0; i < programs; ++i) {
        const std::string number = std::to_string(i);
        std::string text = i % 5 == 0 ? "also lib\n" : "";
        text.append("n").append(number).append(" = [").append(number).append(", \"s\"]\n");
        for (int k = 0; k < i; ++k)
            text.append("print(n")
                .append(number)
                .append(" + ")
                .append(std::to_string(k))
                .append(")\n");
        if (i == failing) text += "y = (1 +\n";
        const std::string name = std::string("p").append(number).append(".zv");
        for (const auto& d : {dir, reference}) spit(d / name, text);
        args.push_back(name);
    }
    for (const auto& d : {dir, reference})
        spit(d / "lib.ZVEX", "def twice(x) {\n    return 2*x\n}\n");
    const runresult r = run(ZV_PATH, dir, args);
    EXPECT_EQ(r.status, 1);
    std::string expectedlines;
    for (int i = 0; i < programs; ++i) {
        const std::string stem = std::string("p").append(std::to_string(i));
        const runresult zvc = run(ZVC_PATH, reference, {stem + ".zv"});
        if (i == failing) {
            EXPECT_NE(zvc.status, 0);
            EXPECT_FALSE(fs::exists(dir / (stem + ".zvbc")));
            EXPECT_NE(r.err.find(stem + ".zv:" + std::to_string(failing + 2) + ":5: error"),
                      std::string::npos)
                << r.err;
            continue;
        }
        ASSERT_EQ(zvc.status, 0) << zvc.err;
        EXPECT_EQ(slurp(dir / (stem + ".zvbc")), slurp(reference / (stem + ".zvbc"))) << stem;
        expectedlines += "compiled " + stem + ".zv -> " + stem + ".zvbc";
    }
    std::string lines;
    std::istringstream out(r.out);
    for (std::string l; std::getline(out, l);) lines += l.substr(0, l.find(" ("));
    EXPECT_EQ(lines, expectedlines);
}

// ---------------------------------------------------------------------------------------
// Failures.

struct failurecase {
    const char* name;
    std::string source;            // the program (main.zv); empty: none
    std::vector<std::string> args; // after "build"
    std::string message;           // expected in standard error
};

// A failed program leaves no new file and the older byte-code and dependency files as they
// were, and no temporary file behind.
TEST(failure, keepsolderfiles) {
    const std::vector<failurecase> cases = {
        {"compile error", "x = 1\ny = * 2\n", {"-MD", "main.zv"}, "main.zv:2:3: error"},
        {"unclosed at the end", "x = (1 +\n", {"-MD", "main.zv"}, "main.zv:1:5: error"},
        {"missing include", "also gone\n", {"-MD", "main.zv"}, "gone.ZVEX"},
        {"unreadable source", "", {"-MD", "main.zv"}, "Could not open file with name: main.zv"},
        {"output cannot be written",
         printx,
         {"-o", "nodir/main.zvbc", "main.zv"},
         "Could not open file with name: nodir/main.zvbc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratchdir scratch;
        if (!c.source.empty()) spit(scratch.path / "main.zv", c.source);
        spit(scratch.path / "main.zvbc", older);
        spit(scratch.path / "main.zvbc.d", "main.zvbc: main.zv\n");
        const auto before = listing(scratch.path);
        std::vector<std::string> args = {"build"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const runresult r = run(ZV_PATH, scratch.path, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(slurp(scratch.path / "main.zvbc"), older);
        EXPECT_EQ(slurp(scratch.path / "main.zvbc.d"), "main.zvbc: main.zv\n");
        EXPECT_EQ(listing(scratch.path), before);
    }
}

// Usage errors: status 2, a message naming the problem, nothing written.
TEST(usage, errors) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no SOURCE"},
        {{"-o", "x.zvbc", "a.zv", "b.zv"}, "-o needs exactly one SOURCE"},
        {{"-o", "x.zvbc", "--out-dir", "d", "a.zv"}, "exclude each other"},
        {{"-MD", "-MF", "x.d", "a.zv", "b.zv"}, "need exactly one SOURCE"},
        {{"-MF", "x.d", "a.zv"}, "need -MD"},
        {{"-j", "0", "a.zv"}, "-j needs a number"},
        {{"-j", "2x", "a.zv"}, "-j needs a number"},
        {{"-o"}, "-o needs a value"},
        {{"--frobnicate", "a.zv"}, "unknown option '--frobnicate'"},
        {{"-"}, "'-' is not read"},
    };
    for (const auto& [args, message] : cases) {
        scratchdir scratch;
        spit(scratch.path / "a.zv", printx);
        spit(scratch.path / "b.zv", printx);
        std::vector<std::string> full = {"build"};
        full.insert(full.end(), args.begin(), args.end());
        const runresult r = run(ZV_PATH, scratch.path, full);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(listing(scratch.path), (std::set<std::string>{"a.zv", "b.zv"})) << message;
    }
}

// The attached spellings of the options take their values as the separate ones do.
TEST(usage, attachedvalues) {
    scratchdir scratch;
    fs::create_directories(scratch.path / "d");
    spit(scratch.path / "a.zv", printx);
    const runresult r = run(ZV_PATH, scratch.path,
                            {"build", "-j3", "--out-dir=d", "-MD", "-MFa.dep", "-MTgoal", "a.zv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(scratch.path / "d/a.zvbc"));
    EXPECT_EQ(slurp(scratch.path / "a.dep"), "goal: a.zv\n");
}

// --out-dir makes its folder (and the folders above it) when missing; -o keeps its
// meaning and makes nothing; a folder that cannot be made fails each program's write.
TEST(outdir, madewhenmissing) {
    struct outcase {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> written; // files that must exist afterwards
    };
    const std::vector<outcase> cases = {
        {{"--out-dir", "new", "a.zv", "b.zv"}, 0, {"new/a.zvbc", "new/b.zvbc"}},
        {{"--out-dir=deep/er/out", "-MD", "a.zv"},
         0,
         {"deep/er/out/a.zvbc", "deep/er/out/a.zvbc.d"}},
        {{"--out-dir", "existing", "a.zv"}, 0, {"existing/a.zvbc"}},
        {{"-o", "missing/a.zvbc", "a.zv"}, 1, {}},
        {{"--out-dir", "plainfile", "a.zv"}, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.at(1));
        scratchdir scratch;
        spit(scratch.path / "a.zv", printx);
        spit(scratch.path / "b.zv", printx);
        spit(scratch.path / "plainfile", "");
        fs::create_directories(scratch.path / "existing");
        std::vector<std::string> args = {"build"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const runresult r = run(ZV_PATH, scratch.path, args);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const auto& file : c.written) {
            EXPECT_EQ(slurp(scratch.path / file).empty(), false) << file;
        }
        EXPECT_FALSE(fs::exists(scratch.path / "missing"));
        if (c.status != 0) {
            EXPECT_NE(r.err.find("Could not open file"), std::string::npos) << r.err;
        }
    }
}

} // namespace
} // namespace zvbuildtest
