// Code emission: the compiler's emitting members (compiler.h) with the one funnel
// `compiler::addbytes`, length-prefixed blocks, operand encoders, title blocks of the
// description map and the fatal-error routine, each working on the compiler's compilation;
// the description map's record, source and output files, and the opcode table. See packer.h
// for the contracts. At the end, the free shims over the thread's current compilation.
#include "packer.h"
#include "sourcefile.h"

#include "compiler.h"
#include "context.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------
// Instruction set.

const std::vector<opcodeinfo> opcodetable = {
    {ADD, "ADD", operandkind::none},
    {SUB, "SUB", operandkind::none},
    {MUL, "MUL", operandkind::none},
    {DIV, "DIV", operandkind::none},
    {LOAD, "LOAD", operandkind::name},
    {STORE, "STORE", operandkind::name},
    {LEAVE, "LEAVE", operandkind::none},
    {DESCEND, "DESCEND", operandkind::name},
    {CALL, "CALL", operandkind::count},
    {LOADMEMBER, "LOADMEMBER", operandkind::name},
    {STOREMEMBER, "STOREMEMBER", operandkind::name},
    {LOADGLOBAL, "LOADGLOBAL", operandkind::name},
    {STOREGLOBAL, "STOREGLOBAL", operandkind::name},
    {PUSH, "PUSH", operandkind::anytype},
    {COPY, "COPY", operandkind::none},
    {RETURN, "RETURN", operandkind::none},
    {EQ, "EQ", operandkind::none},
    {GT, "GT", operandkind::none},
    {LT, "LT", operandkind::none},
    {LE, "LE", operandkind::none},
    {GE, "GE", operandkind::none},
    {NOT, "NOT", operandkind::none},
    {AND, "AND", operandkind::none},
    {OR, "OR", operandkind::none},
    {XOR, "XOR", operandkind::none},
    {ARGS, "ARGS", operandkind::none},
    {ENDARGS, "ENDARGS", operandkind::none},
    {LOADREF, "LOADREF", operandkind::name},
    {MEMBERREF, "MEMBERREF", operandkind::name},
    {GLOBALREF, "GLOBALREF", operandkind::name},
    {RESULTREF, "RESULTREF", operandkind::none},
    {IF, "IF", operandkind::block},
    {LOOP, "LOOP", operandkind::block},
    {FOREACH, "FOREACH", operandkind::block},
    {ACCESS, "ACCESS", operandkind::none},
    {PRECALL, "PRECALL", operandkind::none},
    {CLASS, "CLASS", operandkind::none},
    {ENTER, "ENTER", operandkind::none},
};

const opcodeinfo* findopcode(byte value) {
    static const std::vector<const opcodeinfo*> byvalue = [] {
        std::vector<const opcodeinfo*> table(256, nullptr);
        for (const opcodeinfo& info : opcodetable) table[info.value] = &info;
        return table;
    }();
    return byvalue[value];
}

const char* typebytename(byte value) {
    static const char* const names[] = {"TYPE_INT",  "TYPE_DECIMAL", "TYPE_STRING", "TYPE_OBJECT",
                                        "TYPE_LIST", "TYPE_DICT",    "TYPE_BLOCK"};
    return value < std::size(names) ? names[value] : nullptr;
}

// ---------------------------------------------------------------------------------------
// Emission state.

// The title words, one after another in one array: a piece of a title is known as one of
// them by its address.
namespace {
constexpr char wordtext[] =
    " = $@  if  <code>while forever <code>for  as def class  <definition>also <datastack>PACK_ROOT";
constexpr std::uint8_t wordstart[TW_COUNT + 1] = {0,  3,  6,  7,  10, 17, 23, 37,
                                                  41, 45, 49, 55, 68, 73, 84, 93};
static_assert(sizeof wordtext - 1 == wordstart[TW_COUNT]);

// Record kinds, in the top two bits of a record's first byte.
enum : byte { opennocount = 0, openwithcount = 1, closing = 2, rawrun = 3 };
// Piece kinds, in the low two bits of a piece's first number.
enum : std::uint64_t { sourcepiece = 0, copiedpiece = 1, wordpiece = 2 };

std::uint64_t readvarint(const byte*& at) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const byte b = *at++;
        value |= std::uint64_t{static_cast<byte>(b & 0x7F)} << shift;
        if (b < 0x80) return value;
    }
}

std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

} // namespace

std::size_t wordof(std::string_view piece) {
    static const auto starts = [] {
        std::array<std::uint8_t, sizeof wordtext> table{};
        table.fill(TW_COUNT);
        for (std::uint8_t w = 0; w < TW_COUNT; ++w) table[wordstart[w]] = w;
        return table;
    }();
    const auto at = reinterpret_cast<std::uintptr_t>(piece.data());
    const auto words = reinterpret_cast<std::uintptr_t>(wordtext);
    if (at < words || at >= words + sizeof wordtext - 1) return TW_COUNT;
    const std::size_t w = starts[at - words];
    if (w == TW_COUNT || static_cast<std::size_t>(wordstart[w + 1] - wordstart[w]) != piece.size())
        return TW_COUNT;
    return w;
}

std::string_view word(titleword w) {
    return {wordtext + wordstart[w], static_cast<std::size_t>(wordstart[w + 1] - wordstart[w])};
}

namespace {
// The most bytes a number of up to 64 bits takes as a varint.
constexpr std::size_t varintroom = 10;

// Writes `value` as a varint at `at` and returns the end.
byte* putvarint(byte* at, std::uint64_t value) {
    while (value >= 0x80) {
        *at++ = static_cast<byte>(value | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<byte>(value);
    return at;
}
} // namespace

void descriptionmap::recordbytes::grow(std::size_t n) {
    const std::size_t wanted = std::max(used + n, 2 * capacity);
    // Left unfilled: room reserved and never written costs no memory.
    std::unique_ptr<byte[]> larger(new byte[wanted]);
    if (used != 0) std::memcpy(larger.get(), bytes.get(), used);
    bytes = std::move(larger);
    capacity = wanted;
}

void descriptionmap::append(const byte* data, std::size_t size) {
    if (size == 0) return;
    if (!recording) {
        length += size;
        return;
    }
    byte* at = record.room(1 + varintroom);
    *at++ = rawrun << 6;
    record.take(putvarint(at, size));
    record.append(data, size);
    length += size;
}

void descriptionmap::open(bool hascount, std::int32_t count, const std::string_view* pieces,
                          std::size_t n, std::uint32_t lasting) {
    constexpr std::size_t rootlength = wordstart[TW_ROOT + 1] - wordstart[TW_ROOT];
    if (opened.empty()) opened.push_back(opentitle{rootlength, true});
    if (!recording) {
        std::size_t total = 0;
        for (std::size_t i = 0; i < n; ++i) total += pieces[i].size();
        follow(hascount, total, pieces, n);
        return;
    }
    // Room for the head (a byte and up to two numbers) and two numbers a piece; copied
    // text takes room of its own.
    constexpr std::size_t pieceroom = 2 * varintroom;
    byte* at = record.room(1 + 2 * varintroom + n * pieceroom);
    // First byte: kind, number of pieces (1 to 3, else 0 and the number follows) and the
    // count (0 to 14, else 15 and the count follows).
    const auto bits = static_cast<std::uint32_t>(count);
    const byte few = n >= 1 && n <= 3 ? static_cast<byte>(n) : 0;
    const byte small = !hascount ? 0 : bits < 15 ? static_cast<byte>(bits) : 15;
    *at++ = static_cast<byte>((hascount ? openwithcount : opennocount) << 6 | few << 4 | small);
    if (hascount && small == 15) at = putvarint(at, bits);
    if (few == 0) at = putvarint(at, n);
    std::size_t total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view piece = pieces[i];
        total += piece.size();
        const auto from = reinterpret_cast<std::uintptr_t>(piece.data());
        if (lasting >> i & 1) {
            // Source text (never a title word, which lives in no source).
            at = putvarint(at, std::uint64_t{piece.size()} << 2 | sourcepiece);
            at = putvarint(at, zigzag(static_cast<std::int64_t>(from - lastsource)));
            lastsource = from;
        } else if (const std::size_t w = wordof(piece); w != TW_COUNT) {
            // A title word, known by where it begins.
            at = putvarint(at, std::uint64_t{w} << 2 | wordpiece);
        } else {
            at = putvarint(at, std::uint64_t{piece.size()} << 2 | copiedpiece);
            record.take(at);
            record.append(reinterpret_cast<const byte*>(piece.data()), piece.size());
            at = record.room((n - i - 1) * pieceroom);
        }
    }
    record.take(at);
    follow(hascount, total, pieces, n);
}

void descriptionmap::follow(bool hascount, std::size_t total, const std::string_view* pieces,
                            std::size_t n) {
    constexpr std::size_t rootlength = wordstart[TW_ROOT + 1] - wordstart[TW_ROOT];
    bool root = false;
    if (total == rootlength) {
        // Compared piece by piece against the root's text.
        std::string_view rest = word(TW_ROOT);
        root = true;
        for (std::size_t i = 0; i < n && root; ++i) {
            root = rest.starts_with(pieces[i]);
            rest.remove_prefix(pieces[i].size());
        }
    }
    opened.push_back(opentitle{static_cast<std::uint32_t>(total), root});
    length += (hascount ? 4 : 0) + total + 1;
}

bool descriptionmap::close(std::int32_t count) {
    if (!recording) {
        opened.pop_back();
        length += 4 + opened.back().length + 1;
        return opened.back().root;
    }
    const auto bits = static_cast<std::uint32_t>(count);
    const byte small = bits < 63 ? static_cast<byte>(bits) : 63;
    byte* at = record.room(1 + varintroom);
    *at++ = static_cast<byte>(closing << 6 | small);
    record.take(small == 63 ? putvarint(at, bits) : at);
    opened.pop_back();
    length += 4 + opened.back().length + 1;
    return opened.back().root;
}

void descriptionmap::rollback(const mark& m) {
    record.truncate(m.record);
    opened.resize(m.opened);
    length = m.length;
    lastsource = m.lastsource;
}

void descriptionmap::clear() {
    record.clear();
    lastsource = 0;
    opened.clear();
    length = 0;
}

void descriptionmap::write(void (*sink)(void*, const byte*, std::size_t), void* context) const {
    static const byte terminator = 0;
    const byte* at = record.data();
    const byte* const end = record.data() + record.size();
    std::uintptr_t source = 0;
    // The titles open: where each one's pieces stand in the record and where the source
    // text stood before them. The root has no pieces.
    struct place {
        const byte* pieces;
        std::uintptr_t source;
    };
    std::vector<place> open{{nullptr, 0}};
    // Hands the title whose pieces begin at `from` to the sink; returns what follows them.
    const auto title = [&](const byte* from, std::uintptr_t& base) {
        const byte first = from[-1];
        std::uint64_t n = first >> 4 & 3;
        if ((first >> 6) == openwithcount && (first & 15) == 15) readvarint(from);
        if (n == 0) n = readvarint(from);
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::uint64_t tag = readvarint(from);
            const std::uint64_t size = tag >> 2;
            if ((tag & 3) == wordpiece) {
                const std::string_view w = word(static_cast<titleword>(size));
                sink(context, reinterpret_cast<const byte*>(w.data()), w.size());
            } else if ((tag & 3) == sourcepiece) {
                base += static_cast<std::uintptr_t>(unzigzag(readvarint(from)));
                sink(context, reinterpret_cast<const byte*>(base), size);
            } else {
                sink(context, from, size);
                from += size;
            }
        }
        return from;
    };
    while (at < end) {
        const byte first = *at++;
        const byte kind = first >> 6;
        if (kind == rawrun) {
            const std::uint64_t size = readvarint(at);
            sink(context, at, size);
            at += size;
            continue;
        }
        if (kind == closing) {
            std::uint32_t value = first & 63;
            if (value == 63) value = static_cast<std::uint32_t>(readvarint(at));
            sink(context, intoperand(static_cast<std::int32_t>(value)).data(), 4);
            open.pop_back();
            const place& back = open.back();
            if (back.pieces == nullptr) {
                const std::string_view root = word(TW_ROOT);
                sink(context, reinterpret_cast<const byte*>(root.data()), root.size());
            } else {
                std::uintptr_t base = back.source;
                title(back.pieces, base);
            }
            sink(context, &terminator, 1);
            continue;
        }
        if (kind == openwithcount) {
            std::uint32_t value = first & 15;
            const byte* probe = at;
            if (value == 15) value = static_cast<std::uint32_t>(readvarint(probe));
            sink(context, intoperand(static_cast<std::int32_t>(value)).data(), 4);
        }
        open.push_back(place{at, source});
        at = title(at, source);
        sink(context, &terminator, 1);
    }
}

bytelist descriptionmap::bytes() const {
    bytelist out;
    out.reserve(length);
    write(
        [](void* context, const byte* data, std::size_t size) {
            auto* bytes = static_cast<bytelist*>(context);
            bytes->insert(bytes->end(), data, data + size);
        },
        &out);
    return out;
}

const std::string packroot = "PACK_ROOT";
const std::int32_t maxasopsize = -1;

// The funnel's detour (emitter.h): routes `size` bytes into `desc` while a title record is
// written, else onto `code`. Blocks are written in place: the first byte inside a block
// that has none yet reserves the block's length in front of it. Bytes inside a block reach
// the count of the description map only when the outermost block closes.
void emitter::emitrouted(const byte* data, std::size_t size) {
    if (inrecord) {
        desc.append(data, size);
        return;
    }
    for (; reserved < pending.size(); ++reserved) {
        pending[reserved] = code.size();
        code.insert(code.end(), 4, 0);
        if (traceorigins) tracebytes(pending[reserved], 4);
    }
    code.insert(code.end(), data, data + size);
    if (!inblock()) currentdesclength += static_cast<std::int32_t>(size);
    if (traceorigins) tracebytes(code.size() - size, size);
}

inline void compiler::addbytes(const byte* data, std::size_t size) {
    c.emit(data, size);
}

void compiler::addnamed(byte op, std::string_view name) {
    // Short names go out in one piece.
    constexpr std::size_t shortname = 62;
    if (name.size() > shortname || c.inrecord || name.find('\0') != std::string_view::npos) {
        // Long names, names that go to the map, and names that fail on a NUL byte.
        addcode({op, TYPE_STRING});
        compilestring(name);
        return;
    }
    byte bytes[shortname + 3];
    bytes[0] = op;
    bytes[1] = TYPE_STRING;
    if (!name.empty()) std::memcpy(bytes + 2, name.data(), name.size());
    bytes[name.size() + 2] = 0;
    addbytes(bytes, name.size() + 3);
}

void compiler::negatebyteoperand() {
    const std::size_t start = c.pending.back();
    c.pending.pop_back();
    if (start == emitter::unreserved) {
        // The block received no byte: its length is 0 and stands where it is emitted.
        compileint(0);
        return;
    }
    --c.reserved;
    const std::size_t size = c.code.size() - start - 4;
    // The limit is compared as an unsigned 64-bit size, so -1 never fails.
    const auto limit = static_cast<std::uint64_t>(static_cast<std::int64_t>(maxasopsize));
    if (limit < size) {
        error("@negatebyteoperand: bytecode operand size over maxasopsize! {" +
              std::to_string(maxasopsize) + "}");
    }
    const auto bits = static_cast<std::uint32_t>(size);
    for (int i = 0; i < 4; ++i) c.code[start + i] = static_cast<byte>(bits >> (24 - 8 * i));
    if (c.traceorigins) c.tracelength(start);
    if (!c.inblock()) c.currentdesclength += static_cast<std::int32_t>(size + 4);
}

// ---------------------------------------------------------------------------------------
// Operand encoders.

void compiler::compileint(std::int32_t target) {
    addbytes(intoperand(target).data(), 4);
}

// Truncates toward zero into 32 bits; out-of-range values give the pattern 0x80000000, as
// the hardware conversion does.
static std::int32_t truncate32(float value) {
    if (!(value > -2147483649.0f && value < 2147483648.0f)) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

void compiler::compilefloat(float target) {
    compileint(truncate32(target));
    // The tenfold is rounded to single precision before it is truncated: 0.7f * 10 is 7.
    const volatile float tenfold = target * 10.0f;
    const std::int32_t whole = truncate32(tenfold);
    const std::int64_t magnitude = std::abs(static_cast<std::int64_t>(whole));
    compileint(static_cast<std::int32_t>(magnitude % 10));
}

void compiler::compilestring(std::string_view target) {
    // A string operand ends at its first 0x00, so a NUL byte inside a name or string would
    // cut it short and leave the rest to be read as instructions.
    if (!c.inrecord) {
        const std::size_t nul = target.find('\0');
        if (nul != std::string_view::npos) {
            error("String or name holds a NUL byte: '" + firstline(target.substr(0, nul)) + "'",
                  target);
        }
    }
    addbytes(reinterpret_cast<const byte*>(target.data()), target.size());
    addcode(0);
}

// ---------------------------------------------------------------------------------------
// Title blocks.

// Opens the title joined from `pieces`.
inline void compiler::opentitle(std::initializer_list<std::string_view> pieces,
                                std::string_view source) {
    // Which pieces are source text, which the map keeps as views (title words live in no
    // source text, and the map knows them by their address).
    std::uint32_t lasting = 0;
    std::size_t n = 0;
    for (const std::string_view piece : pieces) {
        if (c.insource(piece)) lasting |= std::uint32_t{1} << n;
        if (++n == 32) break;
    }
    // The title's text itself only for the record listener.
    if (c.recordlistener) {
        std::string title;
        for (const std::string_view piece : pieces) title.append(piece);
        c.recordlistener(true, c.currentdesclength >= 0, c.currentdesclength, title);
    }
    if (c.traceorigins) traceopen(c, pieces, source);
    c.statementnext = false;
    // The record: the count when there is one, then the title.
    c.desc.open(c.currentdesclength >= 0, c.currentdesclength, pieces.begin(), n, lasting);
    c.currentdesclength = 0;
}

void compiler::gotitle(std::string_view target) {
    opentitle({target}, target);
}

void compiler::gotitle(std::string_view target, std::string_view source) {
    opentitle({target}, source);
}

void compiler::gotitle(std::initializer_list<std::string_view> pieces, std::string_view source) {
    opentitle(pieces, source);
}

void compiler::goout() {
    // The record: the count, then the title that is current again, compared by text, as a
    // title may read "PACK_ROOT" too.
    const std::int32_t count = c.currentdesclength;
    c.currentdesclength = 0;
    if (c.recordlistener) c.recordlistener(false, true, count, {});
    if (c.desc.close(count)) c.currentdesclength = -1;
    if (c.traceorigins) c.traceclose();
}

// ---------------------------------------------------------------------------------------
// Errors.

void compiler::error(const std::string& message) {
    throw fatalerror{message, c.innermost()};
}

void compiler::error(const std::string& message, std::string_view quoted) {
    span where = c.locate(quoted);
    if (!where.known()) where = c.innermost();
    throw fatalerror{message, where};
}

int reporterror(const std::string& message) {
    // Seeded from the wall clock in seconds, so two errors in the same second share a quip.
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    const std::size_t quip = generator() % errormessages.size();
    // What went to standard output before goes out first, as a tied stream would do.
    std::fflush(stdout);
    std::fputs("COMPILER ERROR\n// ", stderr);
    std::fwrite(errormessages[quip].data(), 1, errormessages[quip].size(), stderr);
    std::fputs("\nExperienced error during compilation:\n", stderr);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fputc('\n', stderr);
    return 1;
}

std::string firstline(std::string_view text) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::string(text);
    return std::string(text.substr(0, end)) + "...";
}

// ---------------------------------------------------------------------------------------
// Files.

std::string readsourcefile(const std::string& path) {
    return readsourcefile(path, nullptr);
}

std::string readsourcefile(const std::string& path, std::vector<std::uint32_t>* droppedcrs) {
    std::string raw = readrawfile(path);
    normalizelineends(raw, droppedcrs);
    return raw;
}

void normalizelineends(std::string& raw, std::vector<std::uint32_t>* droppedcrs) {
    // Line by line: a CR LF pair ends a line like a bare LF, and every line gets one LF. The
    // text only shrinks on the way, so it is rewritten in place.
    const std::size_t size = raw.size();
    std::size_t written = 0;
    std::size_t start = 0;
    bool lastlineopen = false;
    while (start < size) {
        std::size_t end = raw.find('\n', start);
        const bool haslineend = end != std::string::npos;
        if (!haslineend) end = size;
        std::size_t lineend = end;
        const bool dropcr = haslineend && lineend > start && raw[lineend - 1] == '\r';
        if (dropcr) --lineend;
        const std::size_t length = lineend - start;
        if (written != start) std::memmove(&raw[written], &raw[start], length);
        written += length;
        if (haslineend) {
            if (dropcr && droppedcrs) droppedcrs->push_back(static_cast<std::uint32_t>(written));
            raw[written++] = '\n';
        } else {
            lastlineopen = true;
        }
        start = end + 1;
    }
    raw.resize(written);
    if (lastlineopen) raw.push_back('\n');
}

std::string sourcestem(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        path.remove_prefix(2);
    }
    const std::size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name == "." || name == "..") return std::string(name);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(name);
    return std::string(name.substr(0, dot));
}

namespace {
// The shift that puts a byte at offset `i` (0 to 3) of a word stored in memory.
constexpr unsigned byteshift(unsigned i) {
    return std::endian::native == std::endian::little ? 8 * i : 24 - 8 * i;
}

// Each byte's echo, "0 " to "ff ", as one word: its characters at the first offsets and its
// length at the last. A word is stored whole and the end moves on by its length, which is
// why the room of an echo has one spare byte.
constexpr std::array<std::uint32_t, 256> echowords = [] {
    std::array<std::uint32_t, 256> words{};
    constexpr char digits[] = "0123456789abcdef";
    for (unsigned value = 0; value < 256; ++value) {
        unsigned length = 0;
        std::uint32_t word = 0;
        if (value >= 16) word |= std::uint32_t(digits[value >> 4]) << byteshift(length++);
        word |= std::uint32_t(digits[value & 15]) << byteshift(length++);
        word |= std::uint32_t{' '} << byteshift(length++);
        words[value] = word | length << byteshift(3);
    }
    return words;
}();
} // namespace

std::size_t hexechoto(const byte* data, std::size_t size, char* out) {
    char* at = out;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t word = echowords[data[i]];
        std::memcpy(at, &word, 4);
        at += word >> byteshift(3) & 0xFF;
    }
    return static_cast<std::size_t>(at - out);
}

std::string hexecho(const bytelist& bytes) {
    std::string out(hexechoroom(bytes.size()), '\0');
    out.resize(hexechoto(bytes.data(), bytes.size(), out.data()));
    return out;
}

void echobytes(const byte* data, std::size_t size) {
    // Left unfilled (a plain new, not make_unique, which the WebAssembly build's library
    // lacks in its unfilled form).
    const std::unique_ptr<char[]> text(new char[hexechoroom(std::min(size, echopiece))]);
    for (std::size_t start = 0; start < size; start += echopiece) {
        const std::size_t length =
            hexechoto(data + start, std::min(echopiece, size - start), text.get());
        std::fwrite(text.get(), 1, length, stdout);
    }
}

// Writes all of `data` to `fd`; false on any failure.
static bool writeall(int fd, const byte* data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// Creates a new file beside `path` for writing, named in `temporary`. It is created with mode
// 0666 so that the kernel applies the umask, as for any new file; the process-wide umask is
// never read, which would race with other threads creating files.
static int createtemporary(const std::string& path, std::string& temporary) {
    static std::atomic<unsigned> sequence{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(sequence++) +
                    "." + std::to_string(entropy() % 100000);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

replacement::replacement(std::string target) : path(std::move(target)) {
    // The temporary file lives beside the target so that the rename stays on one file
    // system; the target is replaced only once every byte is on disk.
    fd = createtemporary(path, temporary);
}

replacement::~replacement() {
    if (committed) return;
    if (fd >= 0) {
        ::close(fd);
        ::unlink(temporary.c_str());
    }
}

void replacement::write(const byte* data, std::size_t size) {
    if (fd >= 0 && !failed) failed = !writeall(fd, data, size);
}

void replacement::commit() {
    const std::string quoted = firstline(path);
    if (fd < 0) error("Could not open file with name: " + quoted);
    const int file = fd;
    fd = -1;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        ::close(file);
        ::unlink(temporary.c_str());
        error("Could not open file with name: " + quoted);
    }
    const bool written = (::close(file) == 0) && !failed;
    if (!written) {
        ::unlink(temporary.c_str());
        error("Could not write file with name: " + quoted);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        error("Could not open file with name: " + quoted);
    }
    committed = true;
}

void replacefile(const std::string& path, const bytelist& bytes) {
    replacement file(path);
    file.write(bytes.data(), bytes.size());
    file.commit();
}

void echofile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    // Left unfilled: zeroing the piece took more instructions than compiling a small
    // program.
    const std::unique_ptr<byte[]> piece(new byte[echopiece]);
    for (;;) {
        const ssize_t got = ::read(fd, piece.get(), echopiece);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        echobytes(piece.get(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    std::fflush(stdout);
}

void writecode(const std::string& name, const bytelist& bytes) {
    replacefile(name + ".zvbc", bytes);
    echobytes(bytes.data(), bytes.size());
    std::fflush(stdout);
}

void writedesc(const std::string&) {
    std::fflush(stdout);
    std::fputs("WARNING; desc disabled.\n", stderr);
}

// ---------------------------------------------------------------------------------------
// Shims over the thread's current compilation.

void resetstate() {
    current().reset();
}

void addcode(byte b) {
    compiler{current()}.addcode(b);
}

void addcode(const bytelist& bytes) {
    compiler{current()}.addcode(bytes);
}

void addcode(std::initializer_list<byte> bytes) {
    compiler{current()}.addcode(bytes);
}

void addnamed(byte op, std::string_view name) {
    compiler{current()}.addnamed(op, name);
}

void negatebyteoperand() {
    compiler{current()}.negatebyteoperand();
}

void compileint(std::int32_t target) {
    compiler{current()}.compileint(target);
}

void compilefloat(float target) {
    compiler{current()}.compilefloat(target);
}

void compilestring(std::string_view target) {
    compiler{current()}.compilestring(target);
}

void gotitle(std::string_view target) {
    compiler{current()}.gotitle(target);
}

void gotitle(std::string_view target, std::string_view source) {
    compiler{current()}.gotitle(target, source);
}

void gotitle(std::initializer_list<std::string_view> pieces, std::string_view source) {
    compiler{current()}.gotitle(pieces, source);
}

void goout() {
    compiler{current()}.goout();
}

void error(const std::string& message) {
    compiler{current()}.error(message);
}

void error(const std::string& message, std::string_view quoted) {
    compiler{current()}.error(message, quoted);
}
