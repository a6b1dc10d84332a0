// zv build: compiles programs to byte-code files, writing exactly the bytes `zvc` writes,
// each through a temporary file beside the target that replaces it only when complete.
// Diagnostics are printed in the text form of `zv check` (on standard error), and `-MD`
// writes a Make-syntax dependency file naming the program and every file it included.
// Several programs compile in parallel on `-j N` threads; what each one printed comes out
// in the order the programs were named. Exit status 0 when all compiled, 1 when any failed,
// 2 for a usage error.
//
// The options follow the compilers' spelling (-MD, -MF FILE, ...), which CLI11 cannot
// express, so the subcommand takes its arguments unparsed and reads them here.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "commands.h"
#include "flags.h"
#include "packer.h"

namespace zvtool {

namespace {

namespace fs = std::filesystem;

struct buildoptions {
    std::vector<std::string> sources;
    std::string output, outdir, depfile, deptarget;
    bool md = false, mp = false, quiet = false, absolutedeps = false;
    unsigned jobs = 1;
};

struct usageerror {
    std::string message;
};

const char* const optionhelp =
    "Options:\n"
    "  -o FILE              the byte-code file (one SOURCE only); default: the source's\n"
    "                       stem with .zvbc, in the working directory (as zvc names it)\n"
    "  --out-dir DIR        write the byte-code files into DIR (made when missing)\n"
    "  -MD                  also write a dependency file in Make syntax (FILE.d)\n"
    "  -MF FILE             name the dependency file (one SOURCE only)\n"
    "  -MT TARGET           name the target of the dependency file (one SOURCE only)\n"
    "  -MP                  add a phony target for every included file\n"
    "  --absolute-deps      write the dependency file's paths as absolute paths\n"
    "  -j N, --jobs N       compile N programs at a time (default 1)\n"
    "  -q, --quiet          do not print a line for every compiled program\n"
    "Included files (also NAME) are read as NAME.ZVEX from the working directory.\n"
    "Exit status: 0 all compiled, 1 a program failed, 2 usage error.\n";

// The value of an option given as `-XVALUE`, `--name=VALUE` or as the next argument.
std::string takevalue(const std::vector<std::string>& args, std::size_t& i,
                      const std::string& name) {
    const std::string& arg = args[i];
    if (arg.size() > name.size()) {
        return arg.substr(name.size() + (arg[name.size()] == '=' ? 1 : 0));
    }
    if (i + 1 == args.size()) throw usageerror{name + " needs a value"};
    return args[++i];
}

unsigned parsejobs(const std::string& text) {
    unsigned n = 0;
    const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (failed != std::errc() || end != text.data() + text.size() || n == 0 || n > 1024)
        throw usageerror{"-j needs a number of threads from 1 to 1024, not '" + text + "'"};
    return n;
}

// Whether `arg` is the option `name`, alone or with its value attached.
bool isoption(const std::string& arg, const std::string& name, bool longform) {
    if (!arg.starts_with(name)) return false;
    if (arg.size() == name.size()) return true;
    return longform ? arg[name.size()] == '=' : true;
}

buildoptions parseargs(const std::vector<std::string>& args) {
    buildoptions o;
    bool onlysources = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlysources || arg == "-" || !arg.starts_with("-")) {
            o.sources.push_back(arg);
        } else if (arg == "--") {
            onlysources = true;
        } else if (arg == "-MD") {
            o.md = true;
        } else if (arg == "-MP") {
            o.mp = true;
        } else if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--absolute-deps") {
            o.absolutedeps = true;
        } else if (isoption(arg, "-MF", false)) {
            o.depfile = takevalue(args, i, "-MF");
        } else if (isoption(arg, "-MT", false)) {
            o.deptarget = takevalue(args, i, "-MT");
        } else if (isoption(arg, "--out-dir", true)) {
            o.outdir = takevalue(args, i, "--out-dir");
        } else if (isoption(arg, "--output", true)) {
            o.output = takevalue(args, i, "--output");
        } else if (isoption(arg, "-o", false)) {
            o.output = takevalue(args, i, "-o");
        } else if (isoption(arg, "--jobs", true)) {
            o.jobs = parsejobs(takevalue(args, i, "--jobs"));
        } else if (isoption(arg, "-j", false)) {
            o.jobs = parsejobs(takevalue(args, i, "-j"));
        } else {
            throw usageerror{"unknown option '" + arg + "'"};
        }
    }
    if (o.sources.empty()) throw usageerror{"no SOURCE given"};
    if (std::find(o.sources.begin(), o.sources.end(), "-") != o.sources.end())
        throw usageerror{"a SOURCE must be a file ('-' is not read)"};
    const bool one = o.sources.size() == 1;
    if (!o.output.empty() && !o.outdir.empty())
        throw usageerror{"-o and --out-dir exclude each other"};
    if (!one && !o.output.empty()) throw usageerror{"-o needs exactly one SOURCE"};
    if (!one && (!o.depfile.empty() || !o.deptarget.empty()))
        throw usageerror{"-MF and -MT need exactly one SOURCE"};
    if (!o.md && (o.mp || !o.depfile.empty() || !o.deptarget.empty() || o.absolutedeps))
        throw usageerror{"-MF, -MT, -MP and --absolute-deps need -MD"};
    return o;
}

// A path as Make and Ninja read it in a rule: blanks escaped with a backslash (doubling
// the backslashes in front of them), '#' as \#, '$' as $$. A line feed cannot be written.
std::optional<std::string> makeescape(const std::string& path) {
    std::string out;
    std::size_t backslashes = 0;
    for (const char c : path) {
        if (c == '\n' || c == '\r') return std::nullopt;
        if (c == ' ' || c == '\t') {
            out.append(backslashes, '\\');
            out += '\\';
        } else if (c == '#') {
            out += '\\';
        } else if (c == '$') {
            out += '$';
        }
        backslashes = c == '\\' ? backslashes + 1 : 0;
        out += c;
    }
    return out;
}

struct job {
    std::string source, output, depfile, deptarget;
};

struct outcome {
    bool ok = false;
    std::string out; // the progress line
    report diagnostics;
};

// A failure outside the compiler (an unreadable source, a file that cannot be written),
// reported like the compiler reports its own.
zv::diagnostic failure(const std::string& message, const std::string& file) {
    zv::diagnostic d;
    d.code = "compile-error";
    d.message = message;
    d.where.file = file;
    return d;
}

std::string deppath(const std::string& path, bool absolute) {
    if (!absolute) return path;
    return fs::absolute(fs::path(path)).lexically_normal().string();
}

// The dependency file's text, or nullopt when a path cannot be written in Make syntax.
std::optional<std::string> deptext(const job& j, const std::vector<std::string>& included,
                                   const buildoptions& o) {
    const auto target = j.deptarget.empty() ? makeescape(deppath(j.output, o.absolutedeps))
                                            : std::optional<std::string>(j.deptarget);
    if (!target) return std::nullopt;
    std::vector<std::string> deps;
    for (const auto& path : included) {
        const auto escaped = makeescape(deppath(path, o.absolutedeps));
        if (!escaped) return std::nullopt;
        deps.push_back(*escaped);
    }
    const auto source = makeescape(deppath(j.source, o.absolutedeps));
    if (!source) return std::nullopt;
    std::string text = *target + ": " + *source;
    for (const auto& dep : deps) text += " \\\n  " + dep;
    text += "\n";
    if (o.mp)
        for (const auto& dep : deps) text += "\n" + dep + ":\n";
    return text;
}

void writefile(const std::string& path, const std::string& text) {
    replacefile(path, bytelist(text.begin(), text.end()));
}

outcome buildone(const job& j, const buildoptions& o) {
    outcome result;
    result.diagnostics.program = j.source;
    std::string text;
    try {
        text = readrawfile(j.source);
    } catch (const fatalerror& e) {
        result.diagnostics.diagnostics.push_back(failure(e.message, j.source));
        return result;
    }
    zv::options options;
    options.name = j.source;
    zv::result compiled = zv::compile(text, options);
    result.diagnostics.diagnostics = std::move(compiled.diagnostics);
    result.diagnostics.sources = std::move(compiled.sources);
    if (!compiled.ok()) return result;
    std::optional<std::string> deps;
    if (o.md) {
        deps = deptext(j, compiled.included, o);
        if (!deps) {
            result.diagnostics.diagnostics.push_back(
                failure("A path holding a line end cannot be written to the dependency file " +
                            firstline(j.depfile),
                        j.source));
            return result;
        }
    }
    try {
        writefile(j.output, std::string(compiled.code.begin(), compiled.code.end()));
        if (deps) writefile(j.depfile, *deps);
    } catch (const fatalerror& e) {
        result.diagnostics.diagnostics.push_back(failure(e.message, j.source));
        return result;
    }
    result.ok = true;
    if (!o.quiet)
        result.out = "compiled " + j.source + " -> " + j.output + " (" +
                     std::to_string(compiled.code.size()) + " bytes)\n";
    return result;
}

std::vector<job> plan(const buildoptions& o) {
    std::vector<job> jobs;
    for (const auto& source : o.sources) {
        job j{source, o.output, o.depfile, o.deptarget};
        if (j.output.empty()) {
            const std::string name = sourcestem(source) + ".zvbc";
            j.output = o.outdir.empty() ? name : (fs::path(o.outdir) / name).string();
        }
        if (j.depfile.empty()) j.depfile = j.output + ".d";
        jobs.push_back(std::move(j));
    }
    return jobs;
}

// Compiles every job on up to `o.jobs` threads and prints each one's output in order, as
// soon as it and all before it are done.
int runbuild(const buildoptions& o) {
    const std::vector<job> jobs = plan(o);
    // The output folder is made as compilers make theirs; when it cannot be, writing each
    // file into it fails and says so.
    if (!o.outdir.empty()) {
        std::error_code ignored;
        fs::create_directories(o.outdir, ignored);
    }
    std::vector<outcome> outcomes(jobs.size());
    std::vector<char> done(jobs.size(), 0);
    std::mutex lock;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            outcome result = buildone(jobs[i], o);
            const std::lock_guard guard(lock);
            outcomes[i] = std::move(result);
            done[i] = 1;
            finished.notify_all();
        }
    };
    const std::size_t threads = std::min<std::size_t>(o.jobs, jobs.size());
    std::vector<std::jthread> pool;
    for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(worker);

    const bool color = usecolor("auto", STDERR_FILENO);
    std::vector<report> reports;
    bool failed = false;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::unique_lock guard(lock);
        finished.wait(guard, [&] { return done[i] != 0; });
        const outcome& result = outcomes[i];
        guard.unlock();
        std::cout << result.out << std::flush;
        std::cerr << rendertext(result.diagnostics, color) << std::flush;
        failed = failed || !result.ok;
        reports.push_back(result.diagnostics);
    }
    std::cerr << summary(count(reports));
    return failed ? 1 : 0;
}

} // namespace

command addbuild(CLI::App& parent) {
    CLI::App* app = parent.add_subcommand(
        "build", "Compile programs to byte-code files, as zvc does, with dependency files");
    // CLI11 hands every argument it does not know, in order, to parseargs. It does not
    // accept "--" before the first source: a source named -NAME is written ./-NAME.
    app->prefix_command();
    app->allow_extras();
    app->positionals_at_end(false);
    app->footer(std::string("Usage: zv build SOURCE... [-o FILE | --out-dir DIR] [-MD] [-MF "
                            "FILE] [-MT TARGET] [-MP] [-j N] [-q]\n") +
                optionhelp);
    return {app, [app] {
                try {
                    return runbuild(parseargs(app->remaining()));
                } catch (const usageerror& e) {
                    std::cerr << "zv build: " << e.message
                              << "\nRun with --help for more "
                                 "information.\n";
                    return 2;
                }
            }};
}

} // namespace zvtool
