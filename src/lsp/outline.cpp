// The statement tree of a document, split by the compiler's own splitter.
#include "outline.h"

#include <array>

#include "context.h"
#include "parser.h"

namespace zvlsp {

namespace {

// Blocks deeper than this are not split; the compiler stops at 2000 anyway, and the tree
// is walked recursively.
constexpr int maxdepth = 200;

// Statement keywords and the index of their body word.
struct form {
    std::string_view keyword;
    int body;
};
constexpr std::array<form, 9> forms = {{{"if", 2},
                                        {"while", 2},
                                        {"for", 4},
                                        {"forever", 1},
                                        {"def", 2},
                                        {"class", 2},
                                        {"$@", 2},
                                        {"return", -1},
                                        {"also", -1}}};

bool blankword(std::string_view w) {
    return w.find_first_not_of(" \t\n") == std::string_view::npos;
}

std::vector<statement> split(std::string_view text, std::string_view whole, int depth, bool& ok) {
    std::vector<statement> out;
    parsedviews parsed;
    try {
        parsed = parsewords(text, 0);
    } catch (const parserexit&) {
        ok = false;
        return out;
    }
    for (const auto& words : parsed) {
        statement s;
        for (const std::string_view w : words) {
            if (blankword(w)) continue;
            s.words.push_back(word{static_cast<std::size_t>(w.data() - whole.data()), w});
        }
        if (s.words.empty()) continue;
        const bool assignment = s.words.size() >= 2 && s.words[1].text == "=";
        for (const form& f : forms) {
            if (assignment || s.first() != f.keyword) continue;
            s.keyword = true;
            if (f.body >= 0 && static_cast<std::size_t>(f.body) < s.words.size())
                s.bodyword = f.body;
        }
        if (s.bodyword >= 0) {
            const word& body = s.words[static_cast<std::size_t>(s.bodyword)];
            s.block = body.text.size() >= 2 && body.text.front() == '{' && body.text.back() == '}';
            if (s.block && depth < maxdepth) {
                s.body = split(body.text.substr(1, body.text.size() - 2), whole, depth + 1, ok);
            }
        }
        out.push_back(std::move(s));
    }
    return out;
}

} // namespace

outline::outline(std::string text) : source(std::move(text)) {
    for (std::size_t at = 0; (at = source.find("\r\n", at)) != std::string::npos; ++at) {
        source[at] = ' ';
    }
    // The splitter records its messages in the current compilation context: give it one of
    // its own, so that nothing accumulates in the thread's.
    compilation context;
    const usecompilation use(context);
    top = zvlsp::split(source, source, 0, split);
}

bool namechar(char c) {
    return std::string_view(" \t\r\n\"'()[]{}.,:+-*/=<>!").find(c) == std::string_view::npos;
}

std::string_view defname(std::string_view word) {
    return word.substr(0, word.find('('));
}

std::string_view targetname(std::string_view target) {
    return target.substr(0, target.find_first_of(".[("));
}

std::optional<std::string> alsofile(const statement& s) {
    if (!s.keyword || s.first() != "also" || s.words.size() != 2) return std::nullopt;
    return std::string(s.words[1].text) + ".ZVEX";
}

} // namespace zvlsp
