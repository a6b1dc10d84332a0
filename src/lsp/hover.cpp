// The construct under the cursor and its byte-code listing.
#include "hover.h"

#include <vector>

#include "bytecodereader.h"

namespace zvlsp {

namespace {

// Listings longer than this are cut, so that a hover on a whole class stays readable.
constexpr std::size_t maxlines = 60;

// How far past the end of its previous sibling a node made from the source is looked for,
// so that a long statement full of escapes costs time in proportion to its length.
constexpr std::size_t maxsearch = 4096;

// The end of `title` read at `at` of the source, where a backslash escape of the source may
// stand for the character of the title it resolves to (`\n`, `\r`, else the character
// itself); npos when the title is not there.
std::size_t matchat(std::string_view source, std::size_t at, std::size_t limit,
                    std::string_view title) {
    for (const char c : title) {
        if (at >= limit) return std::string_view::npos;
        if (source[at] == c) {
            ++at;
            continue;
        }
        if (source[at] != '\\' || at + 1 >= limit) return std::string_view::npos;
        const char e = source[at + 1];
        if ((e == 'n' ? '\n' : e == 'r' ? '\r' : e) != c) return std::string_view::npos;
        at += 2;
    }
    return at;
}

} // namespace

std::vector<placement> placenodes(const zv::result& r, std::string_view text,
                                  const std::string& file) {
    const auto& nodes = r.nodes;
    std::vector<placement> out(nodes.size());
    // Per node, where the search for its next child starts.
    std::vector<std::size_t> cursor(nodes.size(), 0);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const zv::titleinfo& n = nodes[i];
        if (!n.located || n.where.file != file || n.where.endoffset > text.size()) continue;
        const std::size_t begin = n.where.offset, end = n.where.endoffset;
        // The nearest placed ancestor.
        std::int32_t up = n.parent;
        for (std::size_t steps = 0;
             up >= 0 && steps < nodes.size() && !out[static_cast<std::size_t>(up)].placed;
             ++steps) {
            up = nodes[static_cast<std::size_t>(up)].parent;
        }
        const bool exact = text.substr(begin, end - begin) == n.title;
        if (n.statement || up < 0 || exact) {
            out[i] = {true, begin, end};
        } else {
            // Text the compiler made from the source (escapes resolved) is placed on the
            // whole of what it was made from: look for the title there instead.
            const auto parent = static_cast<std::size_t>(up);
            const placement& p = out[parent];
            const bool inside = begin >= p.begin && end <= p.end && end - begin < p.end - p.begin;
            if (inside) {
                out[i] = {true, begin, end};
            } else if (!n.title.empty()) {
                const std::size_t from = std::max(cursor[parent], p.begin);
                const std::size_t limit = std::min(p.end, from + maxsearch);
                for (std::size_t at = from; at < limit; ++at) {
                    const std::size_t stop = matchat(text, at, p.end, n.title);
                    if (stop == std::string_view::npos) continue;
                    out[i] = {true, at, stop};
                    break;
                }
            }
            if (out[i].placed) cursor[parent] = out[i].end;
        }
        if (out[i].placed) cursor[i] = out[i].begin;
    }
    return out;
}

namespace {

// The innermost placed node of `doc`'s compilation whose range holds `offset`: the
// shortest range, and of equal ranges the later (deeper) node.
std::optional<std::size_t> innermost(const document& doc, std::size_t offset) {
    std::optional<std::size_t> best;
    const auto& places = doc.places;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const placement& n = places[i];
        if (!n.placed || offset < n.begin || offset >= n.end) continue;
        if (best && n.end - n.begin > places[*best].end - places[*best].begin) continue;
        best = i;
    }
    return best;
}

// Whether `node` is `top` or one of its descendants.
bool within(const std::vector<zv::titleinfo>& nodes, std::int32_t node, std::int32_t top) {
    for (std::size_t steps = 0; node >= 0 && steps <= nodes.size(); ++steps) {
        if (node == top) return true;
        if (static_cast<std::size_t>(node) >= nodes.size()) return false;
        node = nodes[static_cast<std::size_t>(node)].parent;
    }
    return false;
}

// The listing lines of the instructions whose first byte `top` or a descendant produced,
// indented relative to the outermost of them.
std::vector<std::pair<std::size_t, std::string>> listing(const zv::result& r, std::int32_t top) {
    std::vector<instruction> picked;
    walkbytecode(r.code, [&](const instruction& ins) {
        if (ins.offset < r.origins.size() && within(r.nodes, r.origins[ins.offset], top)) {
            picked.push_back(ins);
        }
    });
    std::size_t outer = picked.empty() ? 0 : picked.front().depth;
    for (const instruction& ins : picked) outer = std::min(outer, ins.depth);
    std::vector<std::pair<std::size_t, std::string>> lines;
    for (const instruction& ins : picked) {
        lines.emplace_back(ins.size, listingline(ins, r.code, ins.depth - outer));
    }
    return lines;
}

} // namespace

std::optional<hoverinfo> hoverat(const document& doc, std::size_t offset) {
    const auto node = innermost(doc, offset);
    if (!node) return std::nullopt;
    const zv::titleinfo& n = doc.compiled.nodes[*node];
    const placement& where = doc.places[*node];
    const auto lines = listing(doc.compiled, static_cast<std::int32_t>(*node));
    std::size_t bytes = 0;
    for (const auto& line : lines) bytes += line.first;
    hoverinfo out{where.begin, where.end, {}};
    out.markdown = "```zv\n" + n.title + "\n```\n" + (n.statement ? "statement" : "construct") +
                   ", " + std::to_string(lines.size()) + " instructions, " + std::to_string(bytes) +
                   " bytes of byte code\n\n```text\n";
    for (std::size_t i = 0; i < lines.size() && i < maxlines; ++i) {
        out.markdown += lines[i].second + "\n";
    }
    if (lines.size() > maxlines) out.markdown += "...\n";
    out.markdown += "```\n";
    return out;
}

} // namespace zvlsp
