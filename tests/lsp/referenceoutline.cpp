// The reference outline: the splitter of the first outline, unchanged but for its result's
// types (its limits are its own copies, so that a change to the server's shows).
#include "referenceoutline.h"

#include <algorithm>
#include <iterator>

#include "context.h"
#include "language.h"
#include "parser.h"

namespace zvlspref {

namespace {

constexpr int maxdepth = 200;
constexpr std::size_t maxcuts = 1000;

constexpr int bodyindex(const statementform& f) {
    return f.body < 0 ? -1 : f.body + 1;
}

bool blankchar(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool blankword(std::string_view w) {
    return w.find_first_not_of(" \t\n") == std::string_view::npos;
}

bool startsstatement(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && !blankchar(text[end])) ++end;
    if (end == at) return false;
    const std::string_view first = text.substr(at, end - at);
    return findform(first) != nullptr || text.substr(end).starts_with(" = ");
}

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

std::vector<statement> split(std::string_view text, std::string_view whole, int depth,
                             std::size_t& cuts) {
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
        const std::size_t cut =
            cuts < maxcuts ? runon(whole, s.begin(), s.end()) : std::string_view::npos;
        std::string_view rest;
        if (cut != std::string_view::npos) {
            ++cuts;
            rest = whole.substr(cut + 1, s.end() - cut - 1);
            std::erase_if(s.words, [&](const word& w) { return w.offset >= cut; });
            for (word& w : s.words) {
                if (w.end() > cut) w.text = w.text.substr(0, cut - w.offset);
            }
        }
        const bool assignment = s.words.size() >= 2 && s.words[1].text == "=";
        if (const statementform* f = assignment ? nullptr : findform(s.words.front().text)) {
            s.keyword = true;
            const int body = bodyindex(*f);
            if (body >= 0 && static_cast<std::size_t>(body) < s.words.size()) s.bodyword = body;
        }
        if (s.bodyword >= 0) {
            const word& body = s.words[static_cast<std::size_t>(s.bodyword)];
            s.block = !body.text.empty() && body.text.front() == '{';
            if (s.block && depth < maxdepth) {
                std::string_view inner = body.text.substr(1);
                if (!inner.empty() && inner.back() == '}') inner.remove_suffix(1);
                s.body = split(inner, whole, depth + 1, cuts);
            }
        }
        out.push_back(std::move(s));
        if (!rest.empty()) {
            std::vector<statement> after = split(rest, whole, depth, cuts);
            std::move(after.begin(), after.end(), std::back_inserter(out));
        }
    }
    return out;
}

} // namespace

outline::outline(std::string text) : source(std::move(text)) {
    for (std::size_t at = 0; (at = source.find("\r\n", at)) != std::string::npos; ++at)
        source[at] = ' ';
    compilation context;
    const usecompilation use(context);
    std::size_t cuts = 0;
    top = split(source, source, 0, cuts);
}

} // namespace zvlspref
