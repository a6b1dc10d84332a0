// The messages the compiler and its library report, in one table: for each, the message's
// text (or the prefix every message of the kind begins with), a stable code that tools and
// hosts tell errors apart by, a note in plain words for the compiler's own terms, and the
// rule description of the SARIF log. The library, the C API, `zv check` and the language
// server read codes and notes from here. Warnings keep their codes in the warning table
// (their names); `ruletext` covers both. Entries are only ever added: a code, once
// published, never changes.
#pragma once

#include <cstddef>
#include <string_view>

namespace zvmessages {

enum class kind : unsigned char { compile, parser, host };

struct message {
    const char* text; // the message, or the prefix of every message of this kind
    const char* code; // stable
    const char* note; // plain words, or nullptr
    const char* rule; // what the code stands for, as a SARIF rule's short description
    kind source = kind::compile;
    int status = 1; // the statement parser's exit status (0: it goes on)
};

// The code of a compile error no entry names; kept for messages added before their entry.
inline constexpr std::string_view fallbackcode = "compile-error";

inline constexpr message table[] = {
    // Expressions, values and assignment targets.
    {"handleexpr: operator without operand", "operator-without-operand",
     "an operator needs an operand after it", "An operator has no operand after it"},
    {"handleexpr: expression begins with operator", "expression-begins-with-operator",
     "an expression begins with a value or a name, not with an operator",
     "An expression begins with an operator"},
    {"handleexpr: expression empty", "empty-expression",
     "an expression is needed here and there is none", "An expression is empty"},
    {"handleexpr: unexpected text", "text-after-expression",
     "text follows the closing parenthesis of the expression; join it with an operator",
     "Text follows a parenthesised expression"},
    {"getargs:", "malformed-arguments",
     "a list or an argument list does not end where it should: check its commas and its "
     "closing bracket",
     "A list or argument list does not end where it should"},
    {"handleget: malformed list", "malformed-list",
     "text follows the list's closing ']' that is no suffix", "A list literal is malformed"},
    {"handleget: malformed dictionary", "malformed-dictionary",
     "each dictionary entry is 'key: value', entries separated by ',', closed by '}'",
     "A dictionary literal is malformed"},
    {"handleget: malformed string literal", "malformed-string",
     "text follows the string's closing quote", "Text follows a string literal"},
    {"handleget: missing ']'", "unclosed-index", "an index is opened with '[' and never closed",
     "An index is never closed"},
    {"handleset: missing ']'", "unclosed-index", "an index is opened with '[' and never closed",
     "An index is never closed"},
    {"handleget: unexpected text", "text-after-value",
     "text follows a call or index that begins no further '.', '(' or '['",
     "Text follows a call or index"},
    {"handleset: unexpected text", "text-after-value",
     "text follows a call or index that begins no further '.', '(' or '['",
     "Text follows a call or index"},
    {"handleset: name empty", "empty-name",
     "an assignment or definition needs a name to store into",
     "An assignment or definition has no name"},
    {"Unknown operator", "unknown-operator",
     "operators side by side, blanks or not, are read as one operator", "An operator is unknown"},
    {"stoi invalid", "invalid-integer", "an integer must fit in 32 bits",
     "An integer literal is invalid or out of range"},
    {"stof invalid", "invalid-decimal", nullptr, "A decimal literal is invalid"},
    {"Decimal cannot be encoded", "unencodable-decimal",
     "a decimal between -1 and 0 loses its sign in the byte code",
     "A decimal cannot be encoded in the byte code"},
    {"String or name holds a NUL byte", "nul-byte", nullptr, "A string or name holds a NUL byte"},
    // Statements.
    {"Unexpected words after statement", "extra-words",
     "blanks split a statement into words; put an expression with blanks in parentheses, as "
     "in x = (a + b)",
     "A statement has more words than its form takes"},
    {"Incomplete statement", "incomplete-statement",
     "the statement has fewer words than its form needs", "A statement has too few words"},
    {"def: parameter list missing", "missing-parameter-list",
     "a def names its parameters in parentheses after its name, as in def f(a, b) {...}",
     "A def has no parameter list"},
    {"Only def allowed in class definition", "class-body",
     "a class body holds only def and class statements", "A class body holds another statement"},
    {"Only def & class allowed in class definition", "class-body",
     "a class body holds only def and class statements", "A class body holds another statement"},
    {"Nesting too deep", "nesting-too-deep",
     "blocks, brackets and inclusions may nest 2000 levels deep", "Nesting is too deep"},
    // Files.
    {"Inclusion cycle", "inclusion-cycle", nullptr, "A file includes itself"},
    {"Could not open file with name", "cannot-open", nullptr, "A file cannot be opened or read"},
    {"Could not write file with name", "cannot-write", nullptr, "A file cannot be written"},
    {"Source too large", "source-too-large", nullptr, "A source file is larger than 2 GiB"},
    {"Description map too large", "description-too-large",
     "the description map repeats a construct's title once for each of its parts, so a "
     "literal of many elements makes it grow with the square of its length",
     "The description map is too large to hand out"},
    {"@negatebyteoperand", "block-too-large", nullptr,
     "A block's byte code is too long for its length field"},
    // The statement parser's complaints, in plain words (`%`: the character at the place);
    // the unclosed one's note is the parser's own line.
    {"this '%' is never closed", "unclosed", nullptr,
     "A brace, parenthesis, list or string is still open at the end of the text", kind::parser, 51},
    {"this '}' closes no '{'", "stray-brace",
     "inside brackets a '}' must close a '{'; the statement parser stops here with exit "
     "status 52",
     "A '}' inside brackets closes no brace", kind::parser, 52},
    {"this ')' closes no '('", "stray-parenthesis",
     "inside brackets a ')' must close a '('; the statement parser stops here with exit "
     "status 54",
     "A ')' inside brackets closes no parenthesis", kind::parser, 54},
    {"this ']' closes no '['", "stray-bracket",
     "the statement parser writes PARSER FAILURE here",
     "A ']' inside brackets closes no list", kind::parser, 0},
    // What the host asked for or handed in.
    {"Unknown warning name", "unknown-warning", nullptr,
     "A warning asked for by name does not exist", kind::host},
    {"Byte code could not be handed to the host", "code-sink-failed", nullptr,
     "The host's code sink failed", kind::host},
    // The code of any message not named above.
    {"", "compile-error", nullptr, "The program cannot be compiled"},
};

inline constexpr std::size_t count = sizeof table / sizeof table[0];

// The entry of an error message (not the parser's): the first whose text begins it, else the
// fallback entry (code "compile-error").
inline const message& classify(std::string_view text) {
    for (const message& m : table) {
        if (m.source != kind::parser && *m.text != '\0' && text.starts_with(m.text)) return m;
    }
    return table[count - 1];
}

// The entry whose code is `code`, or nullptr (warnings are not in this table).
inline const message* bycode(std::string_view code) {
    for (const message& m : table) {
        if (code == m.code) return &m;
    }
    return nullptr;
}

// The entry of a message the statement parser or the library itself gives, by its code.
inline const message& byfixedcode(std::string_view code) {
    const message* m = bycode(code);
    return m ? *m : table[count - 1];
}

} // namespace zvmessages
