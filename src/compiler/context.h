// The compilation context: everything one compilation owns (byte code, open blocks, the
// title stack and description map, byte origins, nesting, the include stack, the source
// texts and where every scanned text came from, parser messages and warnings), behind one
// reset. The compiler object (compiler.h), the scanners and the statement splitter are handed
// the compilation they work on. Each thread also has a current context, over which the
// free-function shims of tests, fuzzers and tools work.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "emitter.h"
#include "packer.h"
#include "parser.h"
#include "sourceindex.h"

// A source text the compiler works on: the program or a file reached through `also`.
struct sourcefile {
    std::string name;      // as opened
    std::string owned;     // the text, when the context read it
    std::string_view text; // as read: CR LF pairs became one line feed
    // Offsets in `text` of the line feeds whose carriage return was dropped, ascending.
    std::vector<std::uint32_t> droppedcrs;
    std::int32_t parent = -1; // the file holding the `also` that reached this one
    span includedat;          // that `also` statement
    // Offsets of the line starts, made when first asked for.
    mutable std::vector<std::uint32_t> linestarts;
};

// A line and a column (both 1-based, the column in characters) and the byte offset in the
// file as stored.
struct sourceposition {
    std::uint32_t line = 0, column = 0;
    std::uint64_t offset = 0;
};

sourceposition positionof(const sourcefile& file, std::uint32_t offset);

// Text that a scan made by resolving escapes no longer stands in the source; it is kept
// here, with the text it was made from, until the statement that made it is compiled.
class textarena {
  public:
    struct mark {
        std::size_t entries = 0, block = 0, used = 0;
    };
    // Keeps a copy of `text`, made from `from`, and returns the copy.
    std::string_view keep(std::string_view text, std::string_view from);
    mark where() const;
    void release(const mark& m);
    void clear();
    // The text that `text` (a view of kept text) was made from.
    std::optional<std::string_view> origin(std::string_view text) const;

  private:
    struct entry {
        std::size_t block;
        const char* begin;
        std::size_t size;
        std::string_view from;
    };
    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<std::size_t> sizes;
    std::size_t current = 0, used = 0; // the block being filled and its fill
    std::vector<entry> entries;
};

// Lengths of stretches of text by the address of their first character, with a filter
// that answers most misses without a lookup.
class endmemo {
  public:
    void remember(const char* at, std::uint32_t length) {
        const std::size_t b = bit(at);
        filter[b >> 6] |= std::uint64_t{1} << (b & 63);
        ends[at] = length;
    }
    // The length remembered for `at`, or 0.
    std::uint32_t find(const char* at) const {
        const std::size_t b = bit(at);
        if (!(filter[b >> 6] >> (b & 63) & 1)) return 0;
        const auto found = ends.find(at);
        return found == ends.end() ? 0 : found->second;
    }
    void clear() {
        filter.fill(0);
        ends.clear();
    }

  private:
    static std::size_t bit(const char* at) {
        return static_cast<std::size_t>(
            (reinterpret_cast<std::uintptr_t>(at) * 0x9E3779B97F4A7C15ull) >> 48);
    }
    std::array<std::uint64_t, 1024> filter{};
    std::unordered_map<const char*, std::uint32_t> ends;
};

enum class warningkind : std::uint8_t {
    namepunctuation,
    namedigit,
    emptyelement,
    decimaldigits,
    adjacentstrings,
    globaldefinition,
    notcall,
    count
};

struct warningentry {
    warningkind kind;
    const char* name;
    const char* summary;
};
extern const warningentry warningtable[static_cast<int>(warningkind::count)];

struct foundwarning {
    warningkind kind;
    std::string message;
    span where;
};

// A message of the statement parser, with the place it is about.
struct parserevent {
    int status = 0; // 0: "PARSER FAILURE", compilation goes on; else the exit status
    std::string text;
    span where;
};

struct compilation : emitter {
    // Takes finished code off `code` between statements, when set (and not tracing).
    std::function<void(const byte* data, std::size_t size)> codesink;

    // Where long bracketed stretches end, by the address of their opening character in a
    // source text: code blocks as the statement splitter runs over them, and bracket
    // groups as the scanners do. A text nested n levels deep is split and scanned at each
    // of the n levels; these make every level after the first skip it at once.
    endmemo blockends;
    endmemo groupends;
    // Where the forward scans may stop and where groups end, a window of a source text at a
    // time.
    sourceindex scanindex;
    // Code blocks that the keep-going split found free of a list open across their end,
    // by the address of their "{".
    std::unordered_set<const char*> cleanblocks;
    // The shortest stretch worth remembering: shorter ones cost less to scan again.
    static constexpr std::uint32_t rememberfrom = 256;

    // The compiler's recursion, and the statement splits of the texts it is in, by level.
    int nesting = 0;
    std::vector<std::unique_ptr<splitwords>> splits;
    std::vector<std::string> includestack;

    // Source texts and located text.
    std::vector<std::unique_ptr<sourcefile>> files;
    // The source texts by their place in memory, sorted, for `fileholding` to find a
    // view's text without reading every one (a program may include thousands). Separate
    // strings never overlap; should two texts overlap or touch, every text is read, the
    // latest first.
    struct textplace {
        std::uintptr_t begin = 0, end = 0;
        std::int32_t file = -1;
    };
    std::vector<textplace> byplace;
    bool textsoverlap = false;
    mutable textplace recent; // the text that held the view asked for last
    static std::uintptr_t address(const char* p) { return reinterpret_cast<std::uintptr_t>(p); }
    // Adds `made`, its text set, to the files and to `byplace`; its index.
    std::int32_t placetext(std::unique_ptr<sourcefile> made);
    textarena arena;
    std::vector<std::string_view> constructs; // being compiled, innermost last
    // Reads an included file as the compiler reads source files, noting the carriage
    // returns it drops; fails through `error`.
    std::function<std::string(const std::string& path, std::vector<std::uint32_t>* droppedcrs)>
        readinclude;
    std::vector<std::string> included;

    // Reports.
    // Keep-going mode: a fatal error inside a statement is recorded in `failures` and the
    // statement is taken back (`mark`/`rollback`); compiling goes on with the next one.
    bool keepgoing = false;
    std::vector<failure> failures;
    std::vector<parserevent> events;
    bool warn = false;
    std::uint32_t warningsenabled = 0; // bit per warningkind
    std::vector<foundwarning> warnings;

    compilation();
    void reset();

    // Everything a statement adds, to be taken back when it fails: what it emitted, and
    // the inclusions it left open.
    struct mark {
        emitter::mark emitted;
        std::size_t includes = 0;
    };
    mark where() const;
    void rollback(const mark& m);

    // Registers a source text (kept as a view) and returns its index.
    std::int32_t addfile(std::string name, std::string_view text);
    // The same for a text the file owns (an included file's).
    std::int32_t addownedfile(std::string name, std::string text);
    // The place of `text` when it is a view of one of the source texts themselves.
    span directspan(std::string_view text) const {
        const std::int32_t file = fileholding(text);
        if (file < 0) return {};
        const auto begin = static_cast<std::uint32_t>(
            text.data() - files[static_cast<std::size_t>(file)]->text.data());
        return span{file, begin, begin + static_cast<std::uint32_t>(text.size())};
    }
    bool insource(std::string_view text) const { return fileholding(text) >= 0; }
    // The index of the source text that `text` is a view of, or -1; of texts that overlap
    // in memory, the latest.
    std::int32_t fileholding(std::string_view text) const {
        const std::uintptr_t at = address(text.data()), end = at + text.size();
        if (!textsoverlap) {
            // Apart in memory, a view lies in one text at most: most often the one that
            // held the last, else the one that begins nearest before it.
            if (at >= recent.begin && end <= recent.end && recent.file >= 0) return recent.file;
            if (byplace.size() <= 1) return -1; // the one text is the recent one
            const auto after = std::upper_bound(
                byplace.begin(), byplace.end(), at,
                [](std::uintptr_t at, const textplace& each) { return at < each.begin; });
            if (after == byplace.begin() || end > std::prev(after)->end) return -1;
            recent = *std::prev(after);
            return recent.file;
        }
        for (std::size_t i = files.size(); i-- > 0;) {
            const std::string_view whole = files[i]->text;
            if (at >= address(whole.data()) && end <= address(whole.data()) + whole.size())
                return static_cast<std::int32_t>(i);
        }
        return -1;
    }
    // The place of `text`, a view of a source text or of text made from one.
    span locate(std::string_view text) const;
    // The innermost construct being compiled.
    span innermost() const;
    // Records a warning about `text` when warnings of `kind` are on.
    bool warning(warningkind kind) const {
        return warn && (warningsenabled >> static_cast<int>(kind) & 1);
    }
    void addwarning(warningkind kind, std::string message, std::string_view text);
};

namespace detail {
// The context installed on this thread, if any.
extern thread_local constinit compilation* active;
compilation& owncompilation();
} // namespace detail

// The current thread's context. Every emitted byte asks for it, so the common case is
// inline: a thread that installed none compiles in a context of its own.
inline compilation& current() {
    compilation* const installed = detail::active;
    return installed != nullptr ? *installed : detail::owncompilation();
}

// Makes `c` the current context of this thread for as long as it lives.
class usecompilation {
  public:
    explicit usecompilation(compilation& c);
    ~usecompilation();
    usecompilation(const usecompilation&) = delete;
    usecompilation& operator=(const usecompilation&) = delete;

  private:
    compilation* previous;
};

// A construct of `c` being compiled, for as long as it is: the place errors fall back to.
class constructscope {
  public:
    constructscope(compilation& c, std::string_view text) : c(c) { c.constructs.push_back(text); }
    ~constructscope() { c.constructs.pop_back(); }
    constructscope(const constructscope&) = delete;
    constructscope& operator=(const constructscope&) = delete;

  private:
    compilation& c;
};
