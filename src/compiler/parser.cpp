// Statement splitting. One pass over the text with five nesting counters; while their sum
// is positive, blanks and line ends are ordinary characters of the current word, so a
// code block in braces is one word however many lines it spans.
#include "parser.h"

#include <cstdint>
#include <iostream>

#include "packer.h"

namespace {

bool isblank(char c) {
    return c == ' ' || c == '\t';
}

// Characters that can change the parser's state: quotes and brackets everywhere, and at
// depth zero also blanks and line ends. Runs of other characters are copied whole.
struct specialtable {
    bool inside[256] = {};
    bool outside[256] = {};
    specialtable() {
        for (unsigned char c : std::string_view("\"'[]{}()")) inside[c] = outside[c] = true;
        for (unsigned char c : std::string_view(" \t\n")) outside[c] = true;
    }
};
const specialtable special;

// The five nesting counters. 64 bits wide, so that no text the compiler accepts can
// overflow them.
struct markers {
    std::int64_t codeblock = 0;  // "{" ... "}"
    std::int64_t expression = 0; // "(" ... ")"
    std::int64_t list = 0;       // "[" ... "]"
    std::int64_t string1 = 0;    // double quote
    std::int64_t string2 = 0;    // single quote

    std::int64_t sum() const { return codeblock + expression + list + string1 + string2; }
    bool outsidestrings() const { return string1 <= 0 && string2 <= 0; }

    // Raises the counter that `c` opens, if any.
    void open(char c) {
        if (c == '"' && string1 <= 0) {
            ++string1;
        } else if (c == '\'' && string2 <= 0) {
            ++string2;
        } else if (c == '[' && outsidestrings() && list <= 0) {
            ++list;
        } else if (c == '{' && outsidestrings() && expression <= 0) {
            ++codeblock;
        } else if (c == '(' && outsidestrings() && codeblock <= 0) {
            ++expression;
        }
    }

    // Lowers the counter that `c` closes, if any; only called at positive depth.
    void close(char c) {
        if (c == '}' && outsidestrings() && expression <= 0) {
            if (codeblock <= 0) throw parserexit{52};
            --codeblock;
        } else if (c == ')' && outsidestrings() && codeblock <= 0) {
            if (expression <= 0) throw parserexit{54};
            --expression;
        } else if (c == '"') {
            --string1;
        } else if (c == '\'') {
            --string2;
        } else if (c == ']') {
            if (list <= 0) std::cerr << "PARSER FAILURE" << std::endl;
            --list;
        }
    }
};

} // namespace

parsed parse(std::string_view target, int debug) {
    if (debug == 1) {
        std::cout << "debugging mode is activated, printing debug information while parsing."
                  << std::endl;
    }
    parsed out;
    std::vector<std::string> tout;
    std::string temp;
    markers depth;
    bool ignspace = false;

    for (std::size_t index = 0; index < target.size(); ++index) {
        const char TS = target[index];
        if (debug != 0) {
            std::cout << index << "/" << TS << std::endl;
            if (TS == '\n') std::cout << "detected newline, reset" << std::endl;
        }
        const std::int64_t markersum = depth.sum();
        if (debug == 0 && markersum > 0) {
            // Inside brackets only quotes and brackets change anything, and no blank is
            // being dropped (the opening character that raised the depth ended that): run
            // the counters over the text up to the character that brings the depth back to
            // zero, and add the whole stretch to the word at once.
            const std::size_t start = index;
            while (index < target.size()) {
                const char c = target[index++];
                if (!special.inside[static_cast<unsigned char>(c)]) continue;
                depth.open(c);
                depth.close(c);
                if (depth.sum() <= 0) break;
            }
            temp.append(target.data() + start, index - start);
            ignspace = false;
            --index;
            continue;
        }
        if (debug == 0 && !special.outside[static_cast<unsigned char>(TS)]) {
            // A run of ordinary characters at depth zero joins the word at once.
            const std::size_t start = index;
            while (index < target.size() &&
                   !special.outside[static_cast<unsigned char>(target[index])]) {
                ++index;
            }
            temp.append(target.data() + start, index - start);
            ignspace = false;
            --index;
            continue;
        }
        if (TS == '\n' && markersum <= 0) {
            tout.push_back(std::move(temp));
            out.push_back(std::move(tout));
            temp.clear();
            tout.clear();
            ignspace = true;
            continue;
        }
        depth.open(TS);
        if (markersum > 0) depth.close(TS);
        if (isblank(TS) && ignspace) continue;
        ignspace = false;
        if (depth.sum() <= 0 && isblank(TS)) {
            // A blank at depth zero cuts the word and is not part of it.
            tout.push_back(std::move(temp));
            temp.clear();
            continue;
        }
        temp.push_back(TS);
    }
    tout.push_back(std::move(temp));
    out.push_back(std::move(tout));

    if (depth.sum() > 0) {
        std::cout << "parser error, markers over 1, grammatically not valid." << depth.codeblock
                  << "/" << depth.expression << "/" << depth.string1 << "/" << depth.string2 << "/"
                  << 0 << "/" << depth.list << "/";
        std::cout.flush();
        throw parserexit{51};
    }
    return out;
}
