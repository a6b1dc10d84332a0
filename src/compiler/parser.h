// Statement splitting: `parse` cuts a text into statements and each statement into words,
// tracking braces, parentheses, square brackets and both kinds of quotes. It is the only
// lexical step of the compiler; everything later works on its words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Statements in source order, each a list of words in source order.
struct compilation;

typedef std::vector<std::vector<std::string>> parsed;

// Splits `target`. A non-zero `debug` traces every character on standard output.
// Malformed nesting throws `parserexit` (statuses 51, 52 and 54) after printing the
// parser's own message; a stray "]" only prints "PARSER FAILURE" on standard error.
parsed parse(std::string_view target, int debug);

// The same split, each word a view of `target`.
typedef std::vector<std::vector<std::string_view>> parsedviews;
parsedviews parsewords(std::string_view target, int debug);

// The same split into one list of words: statement i is words[ends[i - 1]] up to
// words[ends[i]] (from 0 for the first). The lists are cleared first and can be used again.
struct splitwords {
    std::vector<std::string_view> words;
    std::vector<std::size_t> ends;
};
void parsewords(std::string_view target, int debug, splitwords& out);
// The split in the compilation `c` (its messages, places and remembered blocks); the forms
// without it split in the thread's current compilation (for tests and tools).
void parsewords(compilation& c, std::string_view target, int debug, splitwords& out);

// Keep-going splitting. A text that the split above refuses (an unclosed opener, or a "}"
// or ")" inside brackets that closes nothing) or complains of (a "]" that closes nothing)
// is split again with repairs: a stray closer is reported at its place and counted as if
// absent, and the openers left open are closed at a line end chosen by `closingline` (the
// line feed itself ending the statement), the latest of them reported. A statement that
// holds a problem is marked broken and is not to be compiled; except a statement whose
// open brackets were braces that end
// their lines (code blocks left open): its last block is cut there, with the line feed as
// its last character, and compiled. A stray "]" inside a code block leaves its statement
// whole, since the block's own split meets it. A text the plain split accepts without
// complaint is split exactly as by the plain split, with nothing broken. A stray "]" is
// reported as the plain split reports it (an event); the others are `problems`.
struct splitproblem {
    int status = 0;     // 51 unclosed, 52 stray "}", 54 stray ")", 0 stray "]"
    std::size_t at = 0; // offset in the text
    std::string own;    // the statement parser's own line, when it writes one
};
struct splitrepairs {
    std::vector<bool> broken; // per statement
    std::vector<splitproblem> problems;
};
void parsekeepgoing(std::string_view target, splitwords& out, splitrepairs& repairs);
void parsekeepgoing(compilation& c, std::string_view target, splitwords& out,
                    splitrepairs& repairs);

// The line feed at which the opener at `at` is closed when the text leaves it open: the
// first one after it that a line starting a statement follows (for "{", a line indented no
// deeper than the opener's own), or npos.
std::size_t closingline(std::string_view text, std::size_t at);
