// The instruction set, the description map's record, title words, the errors the compiler
// throws, and the source and output files. The emitting functions (the one funnel every
// byte goes through into the byte code or the description map, length-prefixed blocks, the
// three operand encoders, title blocks) are members of the compiler object (compiler.h),
// defined in packer.cpp; free functions of the same names here are shims over the thread's
// current compilation (context.h), for tests and fuzzers.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sourcefile.h"

typedef std::uint8_t byte;
typedef std::vector<byte> bytelist;

// A byte range of one source text of a compilation: `file` indexes its files, -1 when
// unknown.
struct span {
    std::int32_t file = -1;
    std::uint32_t begin = 0, end = 0;
    bool known() const { return file >= 0; }
};

// ---------------------------------------------------------------------------------------
// Instruction set. Opcodes, type bytes and marks, and a table that names each of them;
// the listing tool reads the same table.

enum opcode : byte {
    ADD = 0x00,
    SUB = 0x01,
    MUL = 0x02,
    DIV = 0x03,
    LOAD = 0x04,
    STORE = 0x05,
    LEAVE = 0x06,
    DESCEND = 0x07,
    CALL = 0x09,
    LOADMEMBER = 0x0A,
    STOREMEMBER = 0x0B,
    LOADGLOBAL = 0x0C,
    STOREGLOBAL = 0x0D,
    PUSH = 0x0E,
    COPY = 0x0F,
    RETURN = 0x10,
    EQ = 0x11,
    GT = 0x12,
    LT = 0x13,
    LE = 0x14,
    GE = 0x15,
    NOT = 0x16,
    AND = 0x17,
    OR = 0x18,
    XOR = 0x19,
    ARGS = 0x1A,
    ENDARGS = 0x1B,
    LOADREF = 0x1C,
    MEMBERREF = 0x1D,
    GLOBALREF = 0x1E,
    RESULTREF = 0x1F,
    IF = 0x21,
    LOOP = 0x23,
    FOREACH = 0x24,
    ACCESS = 0x25,
    PRECALL = 0x26,
    CLASS = 0x28,
    ENTER = 0x29,
};

enum typebyte : byte {
    TYPE_INT = 0x00,
    TYPE_DECIMAL = 0x01,
    TYPE_STRING = 0x02,
    TYPE_OBJECT = 0x03,
    TYPE_LIST = 0x04,
    TYPE_DICT = 0x05,
    TYPE_BLOCK = 0x06,
};

// Marks inside a list or dictionary payload.
constexpr byte ITEM_MARK = 0x07;
constexpr byte END_MARK = 0xFF;

// What follows an opcode in the byte code.
enum class operandkind : byte {
    none,    // the opcode stands alone
    name,    // TYPE_STRING and a string operand, nothing else
    count,   // TYPE_INT and an int operand (the argument count of CALL)
    block,   // TYPE_BLOCK and a length-prefixed block
    anytype, // any typed operand (PUSH)
};

struct opcodeinfo {
    byte value;
    const char* mnemonic;
    operandkind operand;
};

// Every opcode the compiler emits, in byte order.
extern const std::vector<opcodeinfo> opcodetable;
// The entry for `value`, or nullptr when `value` is no opcode.
const opcodeinfo* findopcode(byte value);
// The name of a type byte ("TYPE_INT" ...), or nullptr when `value` is no type byte.
const char* typebytename(byte value);

// ---------------------------------------------------------------------------------------
// Emission.

// The words the compiler puts into titles beside source text.
enum titleword : std::uint8_t {
    TW_ASSIGN,     // " = "
    TW_SCOPE,      // "$@ "
    TW_BLANK,      // " "
    TW_IF,         // "if "
    TW_CODE,       // " <code>"
    TW_WHILE,      // "while "
    TW_FOREVER,    // "forever <code>"
    TW_FOR,        // "for "
    TW_AS,         // " as "
    TW_DEF,        // "def "
    TW_CLASS,      // "class "
    TW_DEFINITION, // " <definition>"
    TW_ALSO,       // "also "
    TW_DATASTACK,  // "<datastack>"
    TW_ROOT,       // "PACK_ROOT"
    TW_COUNT
};
std::string_view word(titleword w);
// The number of the title word that `piece` is, known by where it begins (a view of
// `word`'s text), or TW_COUNT.
std::size_t wordof(std::string_view piece);

// The description map, kept as a compact record of what the compiler did rather than as its
// bytes: every closing record repeats the title of the block it returns to, so the bytes
// can grow with the square of a long construct's text (a list literal of many elements
// repeats its whole text once per element). Each record is a byte or two of kind and count
// followed, for an opening record, by its title's pieces: source text as the distance from
// the previous piece of source text and a length, title words as their number, other text
// copied. A closing record names no title: the title open again is known by replaying the
// records. The bytes are produced on demand and are exactly those of the records written
// in order; the map is read while the compiled texts live.
class descriptionmap {
  public:
    // Appends bytes that are routed here outside a title record.
    void push_back(byte b) { append(&b, 1); }
    void append(const byte* data, std::size_t size);
    // Opens a title: the record is the int operand of `count` when `hascount`, then the
    // string operand of the title joined from `pieces`. The first title opened finds the
    // root title "PACK_ROOT" open below it, which has no record.
    // Pieces are source text that lives as long as the map (bit i of `lasting` set), title
    // words, or any other text, which the map copies.
    void open(bool hascount, std::int32_t count, const std::string_view* pieces, std::size_t n,
              std::uint32_t lasting);
    // Closes the innermost title: the record is `count`, then the title open again. True
    // when that title reads "PACK_ROOT".
    bool close(std::int32_t count);
    // Whether records are kept. A compilation whose map nobody reads keeps none: the
    // titles are still followed, for the counts and the root, and `size` stays the size
    // the map would have, but `bytes` and `write` give nothing.
    void keeprecords(bool on) { recording = on; }
    // The titles open, the root included.
    std::size_t opentitles() const { return opened.size(); }

    // Room for `bytes` bytes of records, taken up front so that the record never moves
    // while it grows; room never written costs no memory.
    void reserve(std::size_t bytes) { record.reserve(bytes); }
    std::size_t size() const { return length; }
    bool empty() const { return length == 0; }
    void clear();
    // The map's bytes, in order, handed to `sink` in pieces.
    void write(void (*sink)(void* context, const byte* data, std::size_t size),
               void* context) const;
    bytelist bytes() const;
    operator bytelist() const { return bytes(); }
    bool operator==(const descriptionmap& other) const { return bytes() == other.bytes(); }
    bool operator==(const bytelist& other) const { return bytes() == other; }
    // The bytes of the record itself, for measuring it.
    std::size_t recordsize() const { return record.size(); }

    // A point of the record to come back to: `rollback` forgets every record written
    // since `where` was taken, titles opened since included.
    struct mark {
        std::size_t record = 0, opened = 0, length = 0;
        std::uintptr_t lastsource = 0;
    };
    mark where() const { return {record.size(), opened.size(), length, lastsource}; }
    void rollback(const mark& m);

  private:
    struct opentitle {
        std::uint32_t length; // of the title's text
        bool root;            // the text reads "PACK_ROOT"
    };
    bool recording = true;
    // Follows the title opened: its length and whether it reads "PACK_ROOT".
    void follow(bool hascount, std::size_t total, const std::string_view* pieces, std::size_t n);
    // The record's bytes: a buffer that hands out room to write into and is told where the
    // writing ended, so that a record costs no check per byte and no zero-filling.
    class recordbytes {
      public:
        // Room for `n` more bytes at the end, to be written and then taken by `take`.
        byte* room(std::size_t n) {
            if (capacity - used < n) grow(n);
            return bytes.get() + used;
        }
        // Takes the bytes written from `room()` up to `end`.
        void take(const byte* end) { used = static_cast<std::size_t>(end - bytes.get()); }
        void append(const byte* data, std::size_t n) {
            byte* at = room(n);
            if (n != 0) std::memcpy(at, data, n);
            used += n;
        }
        void reserve(std::size_t n) {
            if (n > capacity) grow(n - used);
        }
        // Forgets the bytes from `n` on.
        void truncate(std::size_t n) { used = n < used ? n : used; }
        void clear() { used = 0; }
        std::size_t size() const { return used; }
        const byte* data() const { return bytes.get(); }

      private:
        // Moves the bytes to a buffer with room for `n` more, at least twice as large.
        void grow(std::size_t n);
        std::unique_ptr<byte[]> bytes;
        std::size_t used = 0, capacity = 0;
    };
    recordbytes record;
    std::uintptr_t lastsource = 0; // where the last piece of source text began
    std::vector<opentitle> opened;
    std::size_t length = 0;
};

// The four bytes of an int operand, most significant first.
inline std::array<byte, 4> intoperand(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return {static_cast<byte>(bits >> 24), static_cast<byte>(bits >> 16),
            static_cast<byte>(bits >> 8), static_cast<byte>(bits)};
}

// Shims over the thread's current compilation, for tests and fuzzers: each calls the
// compiler member of the same name (compiler.h) on `current()`.

// Puts the current context back to its start values.
void resetstate();
void addcode(byte b);
void addcode(const bytelist& bytes);
void addcode(std::initializer_list<byte> bytes);
void addnamed(byte op, std::string_view name);
void negatebyteoperand();
void compileint(std::int32_t target);
void compilefloat(float target);
void compilestring(std::string_view target);
void gotitle(std::string_view target);
void gotitle(std::string_view target, std::string_view source);
void gotitle(std::initializer_list<std::string_view> pieces, std::string_view source);
void goout();

// The largest block; -1 means no limit.
extern const std::int32_t maxasopsize;
extern const std::string packroot; // "PACK_ROOT"

// ---------------------------------------------------------------------------------------
// Origins, for the annotated listing: while tracing, every byte-code byte remembers the
// title block that was innermost when the byte was generated. It changes no emitted byte.

struct titlenode {
    titlenode(std::string text, std::int32_t up, span at = {})
        : title(std::move(text)), parent(up), where(at) {}
    std::string title;
    std::int32_t parent; // index into the nodes, -1 for the root
    span where{};
    bool statement = false; // the title block of a statement
    std::string label;      // shown in front of the title in listings
};

// ---------------------------------------------------------------------------------------
// Errors. `error` never returns: it throws `fatalerror`, which the driver turns into the
// four-line report and exit status 1. The statement parser throws `parserexit` with its
// own exit status after printing its own message.

struct fatalerror {
    std::string message;
    span where{};
    std::vector<std::string> notes{}; // said by the host (a reader's or sink's failure)
};

struct parserexit {
    int status;
    span where{};
};

// A fatal error recorded instead of thrown, in keep-going mode: the exit status it would
// have had (1, or the statement parser's 51, 52 and 54), the compiler's own message (for
// the parser's exits its own line, or empty when it prints none) and its place.
struct failure {
    int status = 1;
    std::string message;
    span where{};
    std::vector<std::string> notes{}; // said by the host (a reader's or sink's failure)
};

// Fails at the innermost construct of the current compilation (the compiler's own `error`
// fails at its compilation's); the scanners and the file writers fail through this one.
[[noreturn]] void error(const std::string& message);
// Fails at `quoted`, the source text the message is about.
[[noreturn]] void error(const std::string& message, std::string_view quoted);

// The ten quips of the report, one chosen at random per error.
inline constexpr std::array<std::string_view, 10> errormessages = {
    "What did you do again?",
    "Well that wasn't supposed to happen...",
    "I swear it wasn't my fault!",
    "Mist.",
    "Was it my fault?",
    "Stop doing that!",
    "Something ain't right...",
    "Full steam ahead!",
    "This message will come to haunt me, Tamsel.",
    "GRRRRRRRR",
};

// Writes the four-line report for `message` to standard error and returns the exit
// status (1).
int reporterror(const std::string& message);

// Source text quoted in a message: its first line only, "..." appended when cut.
std::string firstline(std::string_view text);

// ---------------------------------------------------------------------------------------
// Files.

// The largest source text the compiler reads.
constexpr std::uint64_t maxsourcesize = 2ull * 1024 * 1024 * 1024;

// Reads a source file as text: every CR LF pair becomes one line end, and every line, the
// last one included, ends in one line feed. A file that cannot be opened or read is the
// fatal "Could not open file with name: " + `path`; one over `maxsourcesize` bytes is
// "Source too large: " + `path`.
std::string readsourcefile(const std::string& path);
// The same, recording the offsets of the line feeds whose carriage return was dropped.
std::string readsourcefile(const std::string& path, std::vector<std::uint32_t>* droppedcrs);

// Rewrites line ends as the compiler reads them: every CR LF pair becomes one line feed and
// the last line gets a line feed when it has none. Records in `droppedcrs` (when given) the
// offsets, in the result, of the line feeds whose carriage return was dropped.
void normalizelineends(std::string& text, std::vector<std::uint32_t>* droppedcrs);

// The output stem of a source path: the last component after "/" or "\" (and after a
// leading drive such as "C:"), without its last extension.
std::string sourcestem(std::string_view path);

// Writes `bytes` to `name` + ".zvbc" through a temporary file that replaces the target only
// when complete, then echoes the bytes in hexadecimal on standard output.
void writecode(const std::string& name, const bytelist& bytes);
// Writes `bytes` to `path` through a temporary file beside it that replaces `path` only when
// complete. Failures are the fatal "Could not open/write file with name: " + `path`.
void replacefile(const std::string& path, const bytelist& bytes);

// The same, written in pieces: the temporary file is made when the replacement is, takes
// the pieces as they come, and replaces `path` at `commit`, which reports the first failure
// of all the steps exactly as `replacefile` does. Without a commit the temporary file is
// removed.
class replacement {
  public:
    explicit replacement(std::string path);
    ~replacement();
    replacement(const replacement&) = delete;
    replacement& operator=(const replacement&) = delete;
    // True when the temporary file could be made.
    bool opened() const { return fd >= 0; }
    void write(const byte* data, std::size_t size);
    void commit();

  private:
    std::string path, temporary;
    int fd = -1;
    bool failed = false, committed = false;
};

// Prints the hexadecimal echo of the file at `path` on standard output, read in pieces.
void echofile(const std::string& path);
// The description file is switched off: prints a warning on standard error.
void writedesc(const std::string& name);

// The hexadecimal echo of `bytes`: each byte in lower case without leading zeros, followed
// by one blank.
std::string hexecho(const bytelist& bytes);
// The room the echo of `size` bytes needs: three characters a byte and one spare.
constexpr std::size_t hexechoroom(std::size_t size) {
    return size * 3 + 1;
}
// Writes the echo of `size` bytes from `data` at `out`, which has `hexechoroom(size)` bytes
// of room, and returns its length.
std::size_t hexechoto(const byte* data, std::size_t size, char* out);
// The bytes the echo formats at a time: large enough to cost one write each.
constexpr std::size_t echopiece = std::size_t{1} << 16;
// Prints the echo of `size` bytes from `data` on standard output, `echopiece` at a time.
void echobytes(const byte* data, std::size_t size);
