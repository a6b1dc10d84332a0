// The compiler as a library, for C++ hosts: compile one program text into byte code and
// get back everything the compilation found (the byte code, the description map, the files
// it included, located diagnostics, the statement parser's messages). Every call runs in a
// compilation context of its own, so any number of threads may compile at once; nothing is
// printed, and no compile error ends the process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zv.h" // the version macros ZV_VERSION_MAJOR, _MINOR, _PATCH

namespace zv {

// A place in a source text. Lines and columns are 1-based; a column counts characters (a
// UTF-8 sequence is one, any other byte is one, a tab is one). `endline`/`endcolumn` is the
// position just after the last character of the range. Offsets are byte offsets in the
// file as stored (a CR LF line end counts two bytes), `endoffset` one past the range.
struct location {
    // The program's name, or an included file's path as opened; set (to the program's
    // name when nothing more is known) even when the diagnostic has no place.
    std::string file;
    std::uint32_t line = 0, column = 0;
    std::uint32_t endline = 0, endcolumn = 0;
    std::uint64_t offset = 0, endoffset = 0;
};

enum class severity { error, warning };

struct diagnostic {
    severity level = severity::error;
    // A stable name of the kind: "operator-without-operand", "cannot-open", ...,
    // "unclosed", "stray-brace", "stray-parenthesis", "stray-bracket", or a warning's name
    // ("empty-element", ...); "compile-error" for a message without a code of its own.
    std::string code;
    std::string message; // the compiler's own words
    bool located = false;
    location where;
    // The `also` statements through which the file of `where` was reached, innermost first.
    std::vector<location> includedfrom;
    // Plain-word explanations of terms the message uses.
    std::vector<std::string> notes;
};

// A message of the statement parser, in the order it came: "PARSER FAILURE" goes to
// standard error with a line end, the unclosed-nesting line to standard output without one.
struct parsermessage {
    bool tostderr = true;
    std::string text;
};

// The warnings, each with its stable name. A name that holds punctuation, a name that
// begins with a digit, an empty list element or argument, a decimal with more than one
// digit after its point, two strings side by side in one operand, a definition whose name
// begins with the global prefix G, and `not(...)` read as a call.
struct warninginfo {
    const char* name;
    const char* summary;
};
const std::vector<warninginfo>& warnings();

// An included file asked of options::reader.
struct includerequest {
    std::string path;     // NAME.ZVEX, as written after `also` plus the extension
    std::string includer; // the name of the file whose `also` statement asks for it
};

// What options::reader hands back: the file's text as stored, or why it cannot be read.
struct includefile {
    std::optional<std::string> text;
    std::string error; // without text: shown in a note of the located error
};

struct options {
    // The program's name in diagnostics.
    std::string name = "<input>";
    // Reads an included file. Unset (with `readinclude` unset too): read it from the
    // working directory as the `zvc` command does. An exception thrown here fails the
    // compilation with "Could not open file with name: PATH" on the `also` statement and
    // the exception's text in a note. Runs on the thread that calls zv::compile unless the
    // nesting needs a larger stack than that thread has left (see zv.h, zv_compile).
    std::function<includefile(const includerequest& request)> reader;
    // The older form of `reader`, given only the path; std::nullopt when it cannot be read.
    std::function<std::optional<std::string>(const std::string& path)> readinclude;
    // Fill `result::description`. A map of more than 1 GiB (a literal of tens of thousands
    // of elements) is not handed out: the compile fails with "Description map too large".
    bool description = false;
    bool sources = true;  // fill `result::sources`
    bool origins = false; // fill `result::nodes` and `result::origins`
    // Fill `result::compactorigins`: the same nodes and origins in a compact form, without
    // the per-byte and per-node vectors (a large program has millions of nodes).
    bool compactorigins = false;
    bool warn = false; // look for the warnings that `enabled` names
    // Warning names; empty with `warn`: all of them. An unknown name fails the call with
    // status `invalidargument` and an error of code "unknown-warning".
    std::vector<std::string> enabled;
    // Keep going after errors: a fatal error inside a statement is recorded as an error
    // diagnostic and compiling goes on with the next statement at the same level (inside
    // blocks too); the failed statement's code, map records, origins, blocks and titles
    // are taken back. Unbalanced brackets are reported where they stand and the text
    // around them is split as well as can be. `result::status` and `result::message` are
    // those of the first error; `code`, `description`, `nodes` and `origins` hold what
    // every other statement compiled to. `codesink` is not used in this mode. A stray "]"
    // is an error diagnostic (code "stray-bracket") that sets no status, as `zvc` goes on
    // after it; its statement is left out, unless it stands in a block, whose own split
    // leaves out the statement in the block that holds it.
    bool keepgoing = false;
    // When set, the byte code is handed here in order, in pieces, as statements are
    // finished, and `result::code` stays empty: a host that writes the code to a file
    // never holds all of it. Pieces handed before a failure are not taken back. Not used
    // with `origins` or `compactorigins`. An exception thrown here fails the compilation (code
    // "code-sink-failed", the exception's text in a note).
    std::function<void(const std::uint8_t* data, std::size_t size)> codesink;
};

// A title block of the description map, for listings: its title, the enclosing block
// (-1 for the root) and where its construct stands in the source.
struct titleinfo {
    std::string title;
    std::int32_t parent = -1;
    bool statement = false; // the title block of a statement
    bool located = false;
    location where;
};

class originmap;

struct sourceinfo {
    std::string name;
    std::string text; // as the compiler read it: every line ends in one line feed
};

// result::status of options the library cannot follow (an unknown warning name).
constexpr int invalidargument = -1;

struct result {
    // 0 compiled, 1 compile error, 51, 52 and 54 the statement parser's exits,
    // `invalidargument` for options that cannot be followed.
    int status = 0;
    std::string message; // the error's message, when status is not 0
    std::vector<std::uint8_t> code;
    std::vector<std::uint8_t> description;
    std::vector<diagnostic> diagnostics; // warnings and errors, in the order found
    std::vector<parsermessage> parsermessages;
    std::vector<std::string> included; // every file reached through `also`, as opened
    std::vector<sourceinfo> sources;   // the program and every included file
    std::vector<titleinfo> nodes;      // with options::origins; node 0 is the root
    std::vector<std::int32_t> origins; // parallel to `code`: the node of each byte
    // With options::compactorigins (or options::origins): the nodes and origins, compact.
    std::shared_ptr<const originmap> compactorigins;
    bool ok() const { return status == 0; }
};

// The title blocks of a compilation and the node of each byte of its code, kept compact:
// what `result::nodes` and `result::origins` hold, read node by node and stretch by
// stretch. It keeps the texts compiled (titles are read from them), and stays valid
// without the result it came with.
class originmap {
  public:
    std::size_t size() const; // the nodes; node 0 is the root
    std::int32_t parent(std::size_t node) const;
    bool statement(std::size_t node) const;
    bool located(std::size_t node) const;
    // Of a located node: the name of its file, and its bytes in the file as stored.
    const std::string& file(std::size_t node) const;
    std::uint64_t offset(std::size_t node) const;
    std::uint64_t endoffset(std::size_t node) const;
    // Its place with lines and columns, as in titleinfo.
    location where(std::size_t node) const;
    std::string title(std::size_t node) const;
    // The title, without a copy, when it is the text at the node's place as the compiler
    // read it (every line end one line feed); std::nullopt for other titles.
    std::optional<std::string_view> placetitle(std::size_t node) const;
    // Everything of a node, as `result::nodes` holds it.
    titleinfo info(std::size_t node) const;
    // What a reader walking every node asks of each, read in one step: its parent, whether
    // it is a statement's, whether its title is the text at its place, and where it is
    // (its file by index, see `fileindex`, and its bytes in the file as stored).
    struct brief {
        std::int32_t parent = -1;
        bool statement = false, located = false, placetitle = false;
        std::int32_t file = -1; // -1 when not located
        std::uint64_t offset = 0, endoffset = 0;
    };
    brief briefof(std::size_t node) const;
    // The index `briefof` gives the file named `name`; -1 when no node is in it.
    std::int32_t fileindex(const std::string& name) const;

    // The code's bytes in order, in stretches each of one node: `each(begin, end, node)`.
    void stretches(const std::function<void(std::size_t begin, std::size_t end, std::int32_t node)>&
                       each) const;
    // The node of every byte, as `result::origins` holds it.
    std::vector<std::int32_t> origins() const;
    // Reads the node of single bytes: each read costs constant time on average while the
    // offsets read do not decrease.
    class reader {
      public:
        explicit reader(const originmap& map) : map(&map) {}
        std::int32_t operator()(std::size_t offset);

      private:
        const originmap* map;
        // Where the last read stopped: the run it found and what follows it.
        std::uint64_t runstart = 0;
        std::int32_t runnode = 0;
        std::size_t nextrun = 0, rewrite = 0, last = 0;
    };
    std::size_t codesize() const;

    struct store;
    explicit originmap(std::unique_ptr<store> kept);
    ~originmap();
    originmap(const originmap&) = delete;
    originmap& operator=(const originmap&) = delete;

  private:
    std::unique_ptr<store> kept;
};

// Compiles `source`, the program's text as stored, as a whole program. Its line ends are
// read as from a file: every CR LF pair is one line end, and a missing last line end makes
// no difference.
result compile(std::string_view source, const options& opts = {});
// The same for a program text the caller shares: the compact origins keep `source` itself
// rather than a copy of it (unless its line ends had to be rewritten), so that a host
// holding a large text and its origins holds the text once. `source` must not be null.
result compile(std::shared_ptr<const std::string> source, const options& opts = {});

// One diagnostic exactly as `zv check` prints it: the include chain (unless `includes` is
// false), FILE:LINE:COLUMN: error: MESSAGE, the source line (from `sources`, as in
// result::sources) with a caret under the range, and the notes; every line ends in a line
// feed. `color` adds ANSI colours as on a terminal.
std::string format(const diagnostic& d, const std::vector<sourceinfo>& sources, bool color = false,
                   bool includes = true);

// The same for many diagnostics of one result: each source's lines are indexed once, when
// a diagnostic in it is first formatted, so formatting every diagnostic of a file costs
// time linear in the file and the diagnostics. `sources` must outlive the formatter.
class formatter {
  public:
    explicit formatter(const std::vector<sourceinfo>& sources);
    std::string operator()(const diagnostic& d, bool color = false, bool includes = true) const;

  private:
    std::optional<std::string_view> sourceline(const std::string& file, std::uint32_t line) const;
    const std::vector<sourceinfo>& sources;
    mutable std::vector<std::vector<std::size_t>> linestarts; // per source, when first asked
};

// The library's version, "MAJOR.MINOR.PATCH".
const char* version();

} // namespace zv
