// Runs the built zv for the tests: in a given directory, with standard input fed from a
// string, extra environment variables, and standard output on a pipe or on a terminal
// (a pseudo-terminal in raw mode, so that no line end is rewritten).
#include "support.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zvtest {

namespace {

// The read end and write end of the channel that becomes the child's standard output.
bool outputchannel(bool tty, int ends[2]) {
    if (!tty) return pipe(ends) == 0;
    termios raw{};
    cfmakeraw(&raw);
    return openpty(&ends[0], &ends[1], nullptr, &raw, nullptr) == 0;
}

[[noreturn]] void child(const fs::path& dir, const invocation& how, int in, int out, int err) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    // A known start, whatever the environment of the test run holds.
    unsetenv("NO_COLOR");
    setenv("TERM", "xterm", 1);
    for (const auto& setting : how.env) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv = {const_cast<char*>(ZV_PATH)};
    for (const auto& a : how.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Feeds `input` and drains both outputs until they close (a terminal reports EIO then);
// false when that took too long.
bool exchange(int in, int out, int err, const std::string& input, runresult& r) {
    pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    std::size_t fed = 0;
    if (input.empty()) close(in), fds[2].fd = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 3, 1000) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) sinks[i]->append(buf, static_cast<std::size_t>(n));
            if (n <= 0) close(fds[i].fd), fds[i].fd = -1;
        }
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(fds[2].fd, input.data() + fed, input.size() - fed);
            fed += n > 0 ? static_cast<std::size_t>(n) : input.size();
            if (fed >= input.size()) close(fds[2].fd), fds[2].fd = -1;
        }
    }
    const bool drained = fds[0].fd < 0 && fds[1].fd < 0;
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    return drained;
}

} // namespace

runresult runzv(const fs::path& dir, const invocation& how) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || !outputchannel(how.tty, out) || pipe(err) != 0) return {};
    signal(SIGPIPE, SIG_IGN);
    const pid_t pid = fork();
    if (pid == 0) {
        close(in[1]), close(out[0]), close(err[0]);
        child(dir, how, in[0], out[1], err[1]);
    }
    close(in[0]), close(out[1]), close(err[1]);
    runresult r;
    if (!exchange(in[1], out[0], err[0], how.input, r)) kill(pid, SIGKILL);
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    return r;
}

scratchdir::scratchdir() {
    std::string pattern = (fs::temp_directory_path() / "zvcheck-XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
}

scratchdir::~scratchdir() {
    std::error_code ignored;
    if (!keep && !path.empty()) fs::remove_all(path, ignored);
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& p, const std::string& content) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

std::string replaceall(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

} // namespace zvtest
