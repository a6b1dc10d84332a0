// Reading byte code back: a decoder that walks a byte-code file instruction by instruction
// (descending into length-prefixed blocks without recursion), the verifier built on it, and
// the text listings that zvdis prints, plain or annotated with the source constructs that
// produced each instruction. Opcode facts come from the compiler's own table (packer.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "packer.h"

// The first thing wrong in a byte-code file. `offset` is the offset of the instruction at
// fault: of its opcode byte, or of the byte that stands where an instruction should.
struct bytecodefault {
    std::size_t offset;
    std::string what;
};

// Verifies a whole byte-code file; std::nullopt when sound.
// Faults: an unknown opcode; the end mark 0xFF where an instruction should stand (0x07 there
// is DESCEND, an instruction that carries a name, not a stray item mark); a missing or
// unknown type byte; a type byte the opcode may not carry (names take only TYPE_STRING,
// counts only TYPE_INT, blocks only TYPE_BLOCK); an operand cut off, a string without its
// 0x00, a list or dictionary payload that is not item marks closed by the end mark (an even
// number of them for a dictionary), and a block longer than what is left of the block or
// file holding it. Every operand must end inside the innermost block around it.
std::optional<bytecodefault> verifybytecode(const std::vector<std::uint8_t>& code);

// One decoded instruction. For a TYPE_BLOCK operand the instruction is its six-byte header
// (opcode, type byte, length); the block's own instructions follow it one level deeper.
struct instruction {
    std::size_t offset = 0;
    std::size_t size = 0;  // bytes of the instruction as listed
    std::size_t depth = 0; // number of blocks around it
    const opcodeinfo* info = nullptr;
    bool typed = false;     // a type byte follows the opcode
    byte type = 0;          // that type byte
    std::int32_t value = 0; // int, count, block length or whole part of a decimal
    std::int32_t digit = 0; // first decimal digit of a decimal
    std::string text;       // string operand, without its 0x00
    std::size_t items = 0;  // list elements or dictionary pairs
    // Every field as a new instruction at `at` has it, but the string's storage, which the
    // next string operand reuses: a walk allocates nothing per instruction.
    void reset(std::size_t at) {
        offset = at;
        size = depth = items = 0;
        info = nullptr;
        typed = false;
        type = 0;
        value = digit = 0;
        text.clear();
    }
};

// Decodes `code` in order and hands every instruction to `visit`, a block's header before
// the block's instructions. Stops at the first fault and returns it; the instructions
// before the fault have been visited.
std::optional<bytecodefault> walkbytecode(const std::vector<std::uint8_t>& code,
                                          const std::function<void(const instruction&)>& visit);
// The same for the instructions from `from` to `to` alone, read as if they were the whole
// code: `from` must begin an instruction, and depths count the blocks opened from there.
std::optional<bytecodefault> walkbytecode(const std::vector<std::uint8_t>& code, std::size_t from,
                                          std::size_t to,
                                          const std::function<void(const instruction&)>& visit);

// `text` in double quotes: printable ASCII as it is, except that the double quote and the
// backslash are escaped; \n, \r, \t for those controls; every other byte as \xHH.
std::string quotetext(std::string_view text);

// The operand part of the listing line: `LOAD "a"`, `PUSH int 5`, `IF block (14 bytes)`.
std::string describeinstruction(const instruction& ins);

// One listing line: the offset in decimal, the raw bytes in hexadecimal (the first eight and
// "..." when longer), then `indent` levels of two blanks and the instruction.
std::string listingline(const instruction& ins, const std::vector<std::uint8_t>& code,
                        std::size_t indent);

// The plain listing: one line per instruction, block contents indented one level deeper.
// Returns the fault that ended the listing, if any.
std::optional<bytecodefault> listbytecode(const std::vector<std::uint8_t>& code, std::ostream& out);

// The annotated listing: every instruction under the title block that was innermost when
// its first byte was generated (`origins`, parallel to `code`, indexes `nodes`), title
// blocks nested as in the program and shown by their quoted titles, each behind its label
// when it has one. Instructions of the root block stand at the left margin.
std::optional<bytecodefault> listannotated(const std::vector<std::uint8_t>& code,
                                           const std::vector<titlenode>& nodes,
                                           const std::vector<std::int32_t>& origins,
                                           std::ostream& out);

// "zvdis: offset 12: unknown opcode 0x2a"
std::string faultline(const bytecodefault& fault);

// `bytes` as two-digit lower-case hexadecimal with no separators.
std::string hexstring(const std::vector<std::uint8_t>& bytes);
