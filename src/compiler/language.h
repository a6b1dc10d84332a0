// The language's facts in one place: the statement forms (keyword, how many words follow
// it, which of them is a body, whether a class body accepts it), the operators with the
// bytes they compile to, in the order the scanners try them, and the extension of files
// included with `also`. The compiler reads them; so may any tool that splits or colours
// source text.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "packer.h"

enum class formkind : std::uint8_t {
    scope,
    ifform,
    whileform,
    forform,
    def,
    also,
    returnform,
    classform,
    forever
};

struct statementform {
    std::string_view keyword;
    formkind kind;
    std::uint8_t least, most; // words after the keyword
    std::int8_t body;         // the word after the keyword compiled as a body; -1: none
    bool inclass;             // accepted in a class body
};

// Every statement keyword, in the language's order.
inline constexpr std::array<statementform, 9> statementforms = {{
    {"$@", formkind::scope, 2, 2, 1, false},
    {"if", formkind::ifform, 2, 2, 1, false},
    {"while", formkind::whileform, 2, 2, 1, false},
    {"for", formkind::forform, 4, 4, 3, false},
    {"def", formkind::def, 2, 2, 1, true},
    {"also", formkind::also, 1, 1, -1, false},
    {"return", formkind::returnform, 0, 1, -1, false},
    {"class", formkind::classform, 2, 2, 1, true},
    {"forever", formkind::forever, 1, 1, 0, false},
}};

// The form `keyword` begins, or nullptr when it is no statement keyword.
constexpr const statementform* findform(std::string_view keyword) {
    for (const statementform& f : statementforms) {
        if (f.keyword == keyword) return &f;
    }
    return nullptr;
}

struct operatorinfo {
    std::string_view text;
    std::uint8_t size; // bytes it compiles to
    std::array<byte, 2> bytes;
    bool word; // a word operator, not punctuation
};

// The operators in the order the scanners try them (the first that fits wins, so ">=" is
// listed before ">").
inline constexpr std::array<operatorinfo, 14> operatortable = {{
    {"+", 1, {ADD, 0}, false},
    {"-", 1, {SUB, 0}, false},
    {"*", 1, {MUL, 0}, false},
    {"/", 1, {DIV, 0}, false},
    {"==", 1, {EQ, 0}, false},
    {"!=", 2, {EQ, NOT}, false},
    {">=", 1, {GE, 0}, false},
    {"<=", 1, {LE, 0}, false},
    {">", 1, {GT, 0}, false},
    {"<", 1, {LT, 0}, false},
    {"not", 1, {NOT, 0}, true},
    {"and", 1, {AND, 0}, true},
    {"or", 1, {OR, 0}, true},
    {"xor", 1, {XOR, 0}, true},
}};

// The operator `text` is, or nullptr.
constexpr const operatorinfo* findoperator(std::string_view text) {
    for (const operatorinfo& o : operatortable) {
        if (o.text == text) return &o;
    }
    return nullptr;
}

// The extension added to the name after `also`.
inline constexpr std::string_view includeextension = ".ZVEX";
