// The statement tree of a document, split by the compiler's own splitter.
#include "outline.h"

#include <algorithm>
#include <array>
#include <vector>

#include "context.h"
#include "language.h"
#include "parser.h"

namespace zvlsp {

// What a word and a statement take: a 20 MB document has millions of words.
static_assert(sizeof(word) <= 16);
static_assert(sizeof(statement) <= 40);

namespace {

// The index in a statement's words (the keyword is word 0) of the body of `f`, or -1.
constexpr int bodyindex(const statementform& f) {
    return f.body < 0 ? -1 : f.body + 1;
}

bool blankchar(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool blankword(std::string_view w) {
    return w.find_first_not_of(" \t\n") == std::string_view::npos;
}

// What splitting a document keeps between its lists: the document, the cuts made, the
// stores the outline keeps its words and lists in, and the lists being split.
struct splitting {
    std::string_view whole;
    std::size_t cuts = 0;
    runstore<word>& words;
    runstore<statement>& lists;
    // The words of the statement being split: they go to the store before its body is split.
    std::vector<word> statementwords;
    // The list being split at each depth, to go to the store once complete.
    std::vector<std::vector<statement>> open;
};

// Splits `text` (a view of the document) into a list of its own at `depth`, as the compiler
// does in its keep-going mode: a text with unbalanced brackets is split with the compiler's
// repairs, so that the statements around a mistake keep their place in the outline. A
// statement the split had to repair stays in the outline too (a `def` being typed still
// names its function); its block, cut where the split closed it, has no closing brace.
std::span<const statement> split(std::string_view text, int depth, splitting& state);

// Whether the line at `at` of `text` starts a statement: a statement keyword, or a name
// followed by " = ".
bool startsstatement(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && !blankchar(text[end])) ++end;
    if (end == at) return false;
    const std::string_view first = text.substr(at, end - at);
    return findform(first) != nullptr || text.substr(end).starts_with(" = ");
}

// The line feed ending the first line of a statement that runs on over lines it should
// not have: its first line leaves a '(' or '[' open, and a later line at no deeper
// indentation starts a statement (a line being typed, `total = clamp(`, before the next
// statement). The splitter counts such brackets loosely (a stray ']' of a later line can
// balance them), so the statement swallows what follows; the outline ends it at its first
// line instead. npos when the statement is not of that kind.
std::size_t runon(std::string_view text, std::size_t begin, std::size_t end) {
    const std::size_t feed = text.find('\n', begin);
    if (feed == std::string_view::npos || feed >= end) return std::string_view::npos;
    const std::size_t linestart = begin == 0 ? 0 : text.rfind('\n', begin - 1) + 1;
    std::size_t indent = linestart;
    while (indent < begin && blankchar(text[indent])) ++indent;
    long open = 0;
    bool instring = false;
    for (std::size_t i = begin; i < feed; ++i) {
        const char c = text[i];
        if (c == '"') instring = !instring;
        if (instring) continue;
        if (c == '(' || c == '[') ++open;
        if ((c == ')' || c == ']') && open > 0) --open;
    }
    if (open == 0) return std::string_view::npos;
    for (std::size_t line = feed + 1; line < end;) {
        std::size_t first = line;
        while (first < end && (text[first] == ' ' || text[first] == '\t')) ++first;
        if (first < end && text[first] != '\n' && first - line <= indent - linestart &&
            startsstatement(text, first)) {
            return feed;
        }
        const std::size_t next = text.find('\n', line);
        if (next == std::string_view::npos || next >= end) break;
        line = next + 1;
    }
    return std::string_view::npos;
}

// Appends the statements of `text` to the list being split at `depth`.
void splitinto(std::string_view text, int depth, splitting& state) {
    splitwords parsed;
    splitrepairs repairs;
    parsekeepgoing(text, parsed, repairs);
    const std::string_view whole = state.whole;
    std::vector<word>& words = state.statementwords;
    std::size_t from = 0;
    for (const std::size_t end : parsed.ends) {
        words.clear();
        for (std::size_t i = from; i < end; ++i) {
            const std::string_view w = parsed.words[i];
            if (blankword(w)) continue;
            words.push_back(word{w.data(), static_cast<std::uint32_t>(w.data() - whole.data()),
                                 static_cast<std::uint32_t>(w.size())});
        }
        from = end;
        if (words.empty()) continue;
        // Each cut splits the rest one level deeper: their number is bounded.
        const std::size_t cut = state.cuts < maxoutlinecuts
                                    ? runon(whole, words.front().offset, words.back().end())
                                    : std::string_view::npos;
        std::string_view rest;
        if (cut != std::string_view::npos) {
            ++state.cuts;
            rest = whole.substr(cut + 1, words.back().end() - cut - 1);
            std::erase_if(words, [&](const word& w) { return w.offset >= cut; });
            for (word& w : words) {
                if (w.end() > cut) w.size = static_cast<std::uint32_t>(cut - w.offset);
            }
        }
        statement s;
        const bool assignment = words.size() >= 2 && words[1].text() == "=";
        if (const statementform* f = assignment ? nullptr : findform(words.front().text())) {
            s.keyword = true;
            const int body = bodyindex(*f);
            if (body >= 0 && static_cast<std::size_t>(body) < words.size()) s.bodyword = body;
        }
        // The words go to the store before the body is split: the body's statements reuse
        // the scratch list.
        s.words = state.words.add(words);
        if (s.bodyword >= 0) {
            const std::string_view body = s.words[static_cast<std::size_t>(s.bodyword)].text();
            s.block = !body.empty() && body.front() == '{';
            if (s.block && depth < maxoutlinedepth) {
                std::string_view inner = body.substr(1);
                if (!inner.empty() && inner.back() == '}') inner.remove_suffix(1);
                s.body = split(inner, depth + 1, state);
            }
        }
        state.open[static_cast<std::size_t>(depth)].push_back(s);
        if (!rest.empty()) splitinto(rest, depth, state);
    }
}

std::span<const statement> split(std::string_view text, int depth, splitting& state) {
    state.open[static_cast<std::size_t>(depth)].clear();
    splitinto(text, depth, state);
    return state.lists.add(state.open[static_cast<std::size_t>(depth)]);
}

} // namespace

namespace {

// `text` with the CR of each CR LF made a blank.
std::shared_ptr<const std::string> blanked(std::string text) {
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; ++at)
        text[at] = ' ';
    return std::make_shared<const std::string>(std::move(text));
}

} // namespace

outline::outline(std::string text) : source(blanked(std::move(text))) {
    build();
}

outline::outline(std::shared_ptr<const std::string> text)
    : source(text->find("\r\n") == std::string::npos ? std::move(text)
                                                     : blanked(std::string(*text))) {
    build();
}

void outline::build() {
    // The splitter records its messages in the current compilation context: give it one of
    // its own, so that nothing accumulates in the thread's.
    compilation context;
    const usecompilation use(context);
    if (source->size() > maxoutlined) return;
    splitting state{*source, 0, words, lists, {}, {}};
    state.open.resize(maxoutlinedepth + 1);
    top = zvlsp::split(*source, 0, state);
}

std::size_t outline::storagebytes() const {
    return words.capacity() * sizeof(word) + lists.capacity() * sizeof(statement);
}

bool namechar(char c) {
    // Asked of nearly every byte by the token lexer and the name index: a table made once.
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> out;
        out.fill(true);
        for (const char stop : std::string_view(" \t\r\n\"'()[]{}.,:+-*/=<>!"))
            out[static_cast<unsigned char>(stop)] = false;
        return out;
    }();
    return table[static_cast<unsigned char>(c)];
}

std::string_view defname(std::string_view word) {
    return word.substr(0, word.find('('));
}

std::string_view targetname(std::string_view target) {
    return target.substr(0, target.find_first_of(".[("));
}

std::optional<std::string> alsofile(const statement& s) {
    if (!s.keyword || s.first() != "also" || s.words.size() != 2) return std::nullopt;
    return std::string(s.words[1].text()) + std::string(includeextension);
}

} // namespace zvlsp
