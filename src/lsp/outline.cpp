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

// Splits `text` (a view of `whole`) as the compiler does in its keep-going mode: a text
// with unbalanced brackets is split with the compiler's repairs, so that the statements
// around a mistake keep their place in the outline. A statement the split had to repair
// stays in the outline too (a `def` being typed still names its function); its block, cut
// where the split closed it, has no closing brace.
std::vector<statement> split(std::string_view text, std::string_view whole, int depth) {
    std::vector<statement> out;
    splitwords parsed;
    splitrepairs repairs;
    parsekeepgoing(text, parsed, repairs);
    std::size_t from = 0;
    for (const std::size_t end : parsed.ends) {
        statement s;
        for (std::size_t i = from; i < end; ++i) {
            const std::string_view w = parsed.words[i];
            if (blankword(w)) continue;
            s.words.push_back(word{static_cast<std::size_t>(w.data() - whole.data()), w});
        }
        from = end;
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
            s.block = !body.text.empty() && body.text.front() == '{';
            if (s.block && depth < maxdepth) {
                std::string_view inner = body.text.substr(1);
                if (!inner.empty() && inner.back() == '}') inner.remove_suffix(1);
                s.body = split(inner, whole, depth + 1);
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
    top = zvlsp::split(source, source, 0);
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
