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

// The parts two texts share: a common head and a common tail. Offsets in them map from
// one text to the other; offsets in the changed middle map nowhere.
class unchanged {
  public:
    unchanged(std::string_view then, std::string_view now) : then(then), now(now) {
        const std::size_t most = std::min(then.size(), now.size());
        while (head < most && then[head] == now[head]) ++head;
        while (tail < most - head && then[then.size() - 1 - tail] == now[now.size() - 1 - tail])
            ++tail;
    }
    std::optional<std::size_t> tothen(std::size_t offset) const {
        if (offset < head) return offset;
        if (offset >= now.size() - tail && offset < now.size())
            return offset - (now.size() - tail) + (then.size() - tail);
        return std::nullopt;
    }
    std::optional<std::size_t> tonow(std::size_t offset) const {
        if (offset < head) return offset;
        if (offset >= then.size() - tail && offset < then.size())
            return offset - (then.size() - tail) + (now.size() - tail);
        return std::nullopt;
    }

  private:
    std::string_view then, now;
    std::size_t head = 0, tail = 0;
};

} // namespace

std::shared_ptr<const analysis> analyse(zv::result& r, const std::string& text,
                                        const std::string& file) {
    auto made = std::make_shared<analysis>();
    analysis& a = *made;
    a.text = text;
    a.code = std::move(r.code);
    a.origins = std::move(r.origins);
    const auto& nodes = r.nodes;
    std::vector<placement>& out = a.nodes;
    out.resize(nodes.size());
    // Per node, where the search for its next child starts.
    std::vector<std::size_t> cursor(nodes.size(), 0);
    const auto keeptitle = [&](placement& p, const std::string& title) {
        p.title = static_cast<std::uint32_t>(a.made.size());
        a.made.push_back(title);
    };
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const zv::titleinfo& n = nodes[i];
        placement& place = out[i];
        place.parent = n.parent;
        place.statement = n.statement;
        if (!n.located || n.where.file != file || n.where.endoffset > text.size()) {
            keeptitle(place, n.title);
            continue;
        }
        const std::size_t begin = n.where.offset, end = n.where.endoffset;
        // The nearest placed ancestor.
        std::int32_t up = n.parent;
        for (std::size_t steps = 0;
             up >= 0 && steps < nodes.size() && !out[static_cast<std::size_t>(up)].placed;
             ++steps) {
            up = nodes[static_cast<std::size_t>(up)].parent;
        }
        const bool exact = std::string_view(text).substr(begin, end - begin) == n.title;
        if (n.statement || up < 0 || exact) {
            place.placed = true, place.begin = begin, place.end = end;
        } else {
            // Text the compiler made from the source (escapes resolved) is placed on the
            // whole of what it was made from: look for the title there instead.
            const auto parent = static_cast<std::size_t>(up);
            const placement& p = out[parent];
            const bool inside = begin >= p.begin && end <= p.end && end - begin < p.end - p.begin;
            if (inside) {
                place.placed = true, place.begin = begin, place.end = end;
            } else if (!n.title.empty()) {
                const std::size_t from = std::max(cursor[parent], p.begin);
                const std::size_t limit = std::min(p.end, from + maxsearch);
                for (std::size_t at = from; at < limit; ++at) {
                    const std::size_t stop = matchat(text, at, p.end, n.title);
                    if (stop == std::string_view::npos) continue;
                    place.placed = true, place.begin = at, place.end = stop;
                    break;
                }
            }
            if (place.placed) cursor[parent] = place.end;
        }
        if (place.placed) cursor[i] = place.begin;
        if (!place.placed || a.titleof(place) != n.title) keeptitle(place, n.title);
    }
    // The nodes are all kept in their small form: release the compiler's.
    std::vector<zv::titleinfo>().swap(r.nodes);
    return made;
}

namespace {

// The innermost placed node of `a` whose range holds `offset`: the shortest range, and
// of equal ranges the later (deeper) node.
std::optional<std::size_t> innermost(const analysis& a, std::size_t offset) {
    std::optional<std::size_t> best;
    const auto& nodes = a.nodes;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const placement& n = nodes[i];
        if (!n.placed || offset < n.begin || offset >= n.end) continue;
        if (best && n.end - n.begin > nodes[*best].end - nodes[*best].begin) continue;
        best = i;
    }
    return best;
}

// Whether `node` is `top` or one of its descendants.
bool within(const std::vector<placement>& nodes, std::int32_t node, std::int32_t top) {
    for (std::size_t steps = 0; node >= 0 && steps <= nodes.size(); ++steps) {
        if (node == top) return true;
        if (static_cast<std::size_t>(node) >= nodes.size()) return false;
        node = nodes[static_cast<std::size_t>(node)].parent;
    }
    return false;
}

// The listing lines of the instructions whose first byte `top` or a descendant produced,
// indented relative to the outermost of them.
std::vector<std::pair<std::size_t, std::string>> listing(const analysis& a, std::int32_t top) {
    std::vector<instruction> picked;
    walkbytecode(a.code, [&](const instruction& ins) {
        if (ins.offset < a.origins.size() && within(a.nodes, a.origins[ins.offset], top)) {
            picked.push_back(ins);
        }
    });
    std::size_t outer = picked.empty() ? 0 : picked.front().depth;
    for (const instruction& ins : picked) outer = std::min(outer, ins.depth);
    std::vector<std::pair<std::size_t, std::string>> lines;
    for (const instruction& ins : picked) {
        lines.emplace_back(ins.size, listingline(ins, a.code, ins.depth - outer));
    }
    return lines;
}

// The hover of the construct at `offset` of the text `a` was compiled from.
std::optional<hoverinfo> hoverin(const analysis& a, std::size_t offset) {
    const auto node = innermost(a, offset);
    if (!node) return std::nullopt;
    const placement& n = a.nodes[*node];
    const auto lines = listing(a, static_cast<std::int32_t>(*node));
    std::size_t bytes = 0;
    for (const auto& line : lines) bytes += line.first;
    hoverinfo out{n.begin, n.end, {}};
    out.markdown = "```zv\n" + std::string(a.titleof(n)) + "\n```\n" +
                   (n.statement ? "statement" : "construct") + ", " + std::to_string(lines.size()) +
                   " instructions, " + std::to_string(bytes) + " bytes of byte code\n\n```text\n";
    for (std::size_t i = 0; i < lines.size() && i < maxlines; ++i) {
        out.markdown += lines[i].second + "\n";
    }
    if (lines.size() > maxlines) out.markdown += "...\n";
    out.markdown += "```\n";
    return out;
}

} // namespace

std::optional<hoverinfo> hoverat(const workspace& ws, document& doc, std::size_t offset) {
    const analysis& now = ws.current(doc);
    if (auto found = hoverin(now, offset)) return found;
    // A part of the text that has not changed since the last compilation without errors:
    // its construct as compiled then.
    const analysis* before = ws.lastgood(doc);
    if (!before || before == &now) return std::nullopt;
    const unchanged same(before->text, doc.text);
    const auto at = same.tothen(offset);
    if (!at) return std::nullopt;
    auto found = hoverin(*before, *at);
    if (!found) return std::nullopt;
    const auto begin = same.tonow(found->begin), end = same.tonow(found->end - 1);
    if (!begin || !end) return std::nullopt;
    found->begin = *begin;
    found->end = *end + 1;
    return found;
}

} // namespace zvlsp
