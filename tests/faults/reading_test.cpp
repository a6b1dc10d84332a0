// Bounded reading of source text. The reader itself at a small limit, at N and N+1 bytes,
// from a regular file (refused before a byte is read), a pipe (read stops one byte past
// the limit) and a device that never ends; then the tools end to end: a program or an
// included file too large for the compiler gives the same message and status in zvc,
// zv check and zv build, at once for a file whose size is known, and within bounded time
// and memory for /dev/zero.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "packer.h"
#include "sourcefile.h"
#include "support.h"

namespace {

using namespace zvtest;

constexpr std::uint64_t limit = 300000; // several of the reader's blocks

// What readsource gave: the text, or the fatal message.
struct outcome {
    std::string text, failure;
};

outcome readfd(int fd, std::uint64_t bound) {
    try {
        return {readsource(fd, "input", bound), ""};
    } catch (const fatalerror& e) { return {"", e.message}; }
}

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
    return text;
}

TEST(reading, RegularFilesAtTheLimit) {
    scratchdir dir;
    for (const std::uint64_t size : {std::uint64_t{0}, limit, limit + 1}) {
        SCOPED_TRACE(size);
        const std::string text = pattern(size);
        spit(dir.path / "f", text);
        const int fd = ::open((dir.path / "f").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const outcome got = readfd(fd, limit);
        if (size <= limit) {
            EXPECT_EQ(got.failure, "");
            EXPECT_EQ(got.text, text);
        } else {
            EXPECT_EQ(got.failure, "Source too large: input");
            EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0) << "read before the size was checked";
        }
        ::close(fd);
    }
}

TEST(reading, PipesStopOneBytePastTheLimit) {
    for (const std::uint64_t size : {limit - 1, limit, limit + 1, limit + 5000}) {
        SCOPED_TRACE(size);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const std::string text = pattern(size);
        std::jthread writer([&] {
            for (std::size_t at = 0; at < text.size();) {
                const ssize_t n = ::write(ends[1], text.data() + at, text.size() - at);
                if (n <= 0) break;
                at += static_cast<std::size_t>(n);
            }
            ::close(ends[1]);
        });
        const outcome got = readfd(ends[0], limit);
        std::string rest;
        char buffer[4096];
        for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            rest.append(buffer, static_cast<std::size_t>(n));
        writer.join();
        ::close(ends[0]);
        if (size <= limit) {
            EXPECT_EQ(got.failure, "");
            EXPECT_EQ(got.text, text);
        } else {
            EXPECT_EQ(got.failure, "Source too large: input");
            EXPECT_EQ(rest.size(), size - limit - 1) << "read past the limit";
        }
    }
}

TEST(reading, EndlessDevicesAndDirectories) {
    const int zero = ::open("/dev/zero", O_RDONLY);
    ASSERT_GE(zero, 0);
    EXPECT_EQ(readfd(zero, limit).failure, "Source too large: input");
    ::close(zero);
    const int dir = ::open("/", O_RDONLY);
    EXPECT_EQ(readfd(dir, limit).failure, "Could not open file with name: input");
    ::close(dir);
    try {
        readrawfile("/no/such/file");
        ADD_FAILURE() << "read a missing file";
    } catch (const fatalerror& e) {
        EXPECT_EQ(e.message, "Could not open file with name: /no/such/file");
    }
}

// ---------------------------------------------------------------------------------------
// The tools.

struct tool {
    const char* name;
    std::vector<std::string> argv; // the program's name follows
    std::string where;             // the message is found on this stream: "out" or "err"
};

const std::vector<tool> tools = {
    {"zvc", {ZVC_PATH}, "err"},
    {"zv check", {ZV_PATH, "check"}, "out"},
    {"zv build", {ZV_PATH, "build"}, "err"},
};

// An address-space limit for a tool, none when the tools run under AddressSanitizer (whose
// shadow memory takes more address space than any such limit allows).
rlim_t memorybound(rlim_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
    (void)bytes;
    return 0;
#else
    return bytes;
#endif
}

// A sparse file one byte over the compiler's limit: a size known without reading.
void toolarge(const fs::path& p) {
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(maxsourcesize + 1)), 0);
    ::close(fd);
}

TEST(reading, KnownSizeOverTheLimitRefusedAtOnce) {
    for (const bool included : {false, true}) {
        for (const tool& t : tools) {
            SCOPED_TRACE(std::string(t.name) + (included ? " include" : " program"));
            scratchdir dir;
            const std::string big = included ? "big.ZVEX" : "big.zv";
            toolarge(dir.path / big);
            spit(dir.path / "prog.zv", "x = 1\nalso big\n");
            process p;
            p.argv = t.argv;
            p.argv.push_back(included ? "prog.zv" : big);
            p.dir = dir.path;
            p.seconds = 20;
            p.memorylimit = memorybound(rlim_t{1} << 30);
            const runresult r = run(p);
            EXPECT_FALSE(r.timedout);
            EXPECT_EQ(r.status, 1) << r.err;
            const std::string& said = t.where == "out" ? r.out : r.err;
            EXPECT_NE(said.find("Source too large: " + big), std::string::npos) << said;
            EXPECT_FALSE(fs::exists(dir.path / "prog.zvbc"));
        }
    }
}

// An include that is /dev/zero: read up to the limit and refused, holding no more than
// the limit (the memory bound would fail a reader that held twice as much).
TEST(reading, EndlessIncludeBoundedInMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address space limits do not apply under AddressSanitizer";
#else
    scratchdir dir;
    fs::create_symlink("/dev/zero", dir.path / "z.ZVEX");
    spit(dir.path / "prog.zv", "x = 1\nalso z\n");
    process p;
    p.argv = {ZV_PATH, "check", "prog.zv"};
    p.dir = dir.path;
    p.seconds = 170;
    p.memorylimit = memorybound(maxsourcesize + (rlim_t{3} << 29)); // the limit and 1.5 GiB
    const runresult r = run(p);
    EXPECT_FALSE(r.timedout);
    EXPECT_EQ(r.signal, 0) << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("prog.zv:2:1: error: Source too large: z.ZVEX"), std::string::npos)
        << r.out;
#endif
}

} // namespace
