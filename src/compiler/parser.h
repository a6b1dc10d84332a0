// Statement splitting: `parse` cuts a text into statements and each statement into words,
// tracking braces, parentheses, square brackets and both kinds of quotes. It is the only
// lexical step of the compiler; everything later works on its words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Statements in source order, each a list of words in source order.
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
