// The shared test support: scratch directories, files, the process runner and the case
// reader.
#include "support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zvtest {

scratchdir::scratchdir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data())) path = pattern;
}

scratchdir::~scratchdir() {
    std::error_code ignored;
    if (!keep && !path.empty()) {
        // Entries made unreadable by a test are made removable again first.
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto it = fs::recursive_directory_iterator(path, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path, ignored);
    }
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& p, const std::string& content) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string replaceall(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// ---------------------------------------------------------------------------------------
// Running.

namespace {

// The read end and write end of the channel that becomes the child's standard output.
bool outputchannel(const process& p, int ends[2]) {
    if (p.discardout) {
        ends[0] = -1;
        ends[1] = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        return ends[1] >= 0;
    }
    if (!p.tty) return pipe2(ends, O_CLOEXEC) == 0;
    termios raw{};
    cfmakeraw(&raw);
    return openpty(&ends[0], &ends[1], nullptr, &raw, nullptr) == 0;
}

[[noreturn]] void child(const process& p, int in, int out, int err) {
    if (!p.dir.empty() && chdir(p.dir.c_str()) != 0) _exit(127);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    signal(SIGPIPE, SIG_DFL);
    // A known start, whatever the environment of the test run holds.
    unsetenv("NO_COLOR");
    setenv("TERM", "xterm", 1);
    for (const auto& setting : p.env) putenv(const_cast<char*>(setting.c_str()));
    if (p.filelimit != 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{p.filelimit, p.filelimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (p.memorylimit != 0) {
        const rlimit limit{p.memorylimit, p.memorylimit};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (p.stacklimit != 0) {
        rlimit limit{};
        if (getrlimit(RLIMIT_STACK, &limit) != 0) _exit(126);
        limit.rlim_cur = p.stacklimit;
        if (setrlimit(RLIMIT_STACK, &limit) != 0) _exit(126);
    }
    std::vector<char*> argv;
    for (const auto& a : p.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Feeds `input` and drains both outputs until they close (a terminal reports EIO then);
// false when the deadline came first.
bool exchange(int in, int out, int err, const std::string& input,
              std::chrono::steady_clock::time_point deadline, runresult& r) {
    pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    std::size_t fed = 0;
    if (input.empty()) close(in), fds[2].fd = -1;
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 3, 100) <= 0) continue;
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

// Waits for `pid` until the deadline; kills it then.
int reap(pid_t pid, std::chrono::steady_clock::time_point deadline, bool& timedout) {
    int ws = 0;
    while (waitpid(pid, &ws, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            timedout = true;
            kill(pid, SIGKILL);
            waitpid(pid, &ws, 0);
            break;
        }
        usleep(2000);
    }
    return ws;
}

} // namespace

runresult run(const process& p) {
    runresult r;
    if (p.argv.empty()) return r;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return r;
    if (!outputchannel(p, out) || pipe2(err, O_CLOEXEC) != 0) return r;
    signal(SIGPIPE, SIG_IGN);
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(p.seconds);
    const pid_t pid = fork();
    if (pid == 0) child(p, in[0], out[1], err[1]);
    close(in[0]), close(out[1]), close(err[1]);
    if (pid < 0) {
        close(in[1]), close(err[0]);
        if (out[0] >= 0) close(out[0]);
        return r;
    }
    if (!exchange(in[1], out[0], err[0], p.input, deadline, r)) r.timedout = true;
    if (r.timedout) kill(pid, SIGKILL);
    const int ws = reap(pid, deadline, r.timedout);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFSIGNALED(ws)) r.signal = WTERMSIG(ws), r.status = 128 + r.signal;
    if (WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
    return r;
}

// ---------------------------------------------------------------------------------------
// Case files.

std::string section::body() const {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

std::vector<casetext> readcases(const std::string& text, const std::string& filestem) {
    std::vector<casetext> cases;
    std::istringstream in(text);
    section* open = nullptr;
    auto close = [&] {
        if (!open) return;
        while (!open->lines.empty() && open->lines.back().empty()) open->lines.pop_back();
        open = nullptr;
    };
    for (std::string l; std::getline(in, l);) {
        const bool head = l.starts_with("=== ") || l.starts_with("--- ");
        if (!head) {
            if (open) open->lines.push_back(l);
            continue;
        }
        close();
        std::istringstream words(l.substr(4));
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;
        if (l[0] == '=') {
            std::string name = filestem + "_" + w[0];
            std::replace_if(
                name.begin(), name.end(),
                [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
            cases.push_back({name, {}});
        } else if (!cases.empty()) {
            cases.back().sections.push_back({w[0], {w.begin() + 1, w.end()}, {}});
            open = &cases.back().sections.back();
        }
    }
    close();
    return cases;
}

std::vector<casetext> readcasedir(const fs::path& dir) {
    std::vector<fs::path> files;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".case") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<casetext> all;
    for (const auto& f : files)
        for (auto& c : readcases(slurp(f), f.stem().string())) all.push_back(std::move(c));
    return all;
}

std::vector<casesource> readcasesources(const fs::path& dir) {
    std::vector<casesource> out;
    for (const casetext& c : readcasedir(dir)) {
        for (const section& s : c.sections) {
            if (s.kind != "source" && s.kind != "file") continue;
            if (std::find(s.words.begin(), s.words.end(), "hex") != s.words.end()) continue;
            out.push_back({c.name, s.body()});
        }
    }
    return out;
}

} // namespace zvtest
