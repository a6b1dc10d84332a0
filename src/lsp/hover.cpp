// The construct under the cursor and its byte-code listing.
#include "hover.h"

#include <algorithm>
#include <limits>
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

placement analysis::mapped(const zv::originmap::brief& b) const {
    placement out;
    if (!b.located || b.file != fileid) return out;
    const std::uint64_t begin = b.offset, end = b.endoffset;
    if (end > text->size()) return out;
    out.placed = out.sourcetitle = true;
    out.begin = static_cast<std::uint32_t>(begin);
    out.end = static_cast<std::uint32_t>(end);
    return out;
}

std::vector<std::pair<std::uint32_t, placement>>::const_iterator
analysis::unusualfrom(std::size_t node) const {
    return std::lower_bound(
        unusual.begin(), unusual.end(), node,
        [](const std::pair<std::uint32_t, placement>& u, std::size_t n) { return u.first < n; });
}

placement analysis::at(std::size_t node) const {
    const auto found = unusualfrom(node);
    if (found != unusual.end() && found->first == node) return found->second;
    return mapped(node);
}

std::size_t analysis::groupof(std::size_t node) const {
    const auto after =
        std::upper_bound(groups.begin(), groups.end(), node,
                         [](std::size_t n, const analysis::group& each) { return n < each.first; });
    return after == groups.begin() ? groups.size()
                                   : static_cast<std::size_t>(after - groups.begin()) - 1;
}

std::shared_ptr<const analysis> analyse(zv::result& r, std::shared_ptr<const std::string> shared,
                                        const std::string& file) {
    auto made = std::make_shared<analysis>();
    analysis& a = *made;
    a.text = std::move(shared);
    const std::string& text = *a.text;
    a.file = file;
    a.code = std::move(r.code);
    a.origins = std::move(r.compactorigins);
    if (!a.origins || text.size() > std::numeric_limits<std::uint32_t>::max()) return made;
    const zv::originmap& nodes = *a.origins;
    a.fileid = nodes.fileindex(file);
    // The nodes are in the order they were opened, each after its parent: the path from the
    // root to the node at hand is a stack, with each node's placement and where the search
    // for its next child starts.
    struct open {
        std::size_t node;
        placement place;
        std::size_t cursor;
    };
    std::vector<open> path;
    std::string joined;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const zv::originmap::brief b = nodes.briefof(i);
        while (!path.empty() && static_cast<std::int32_t>(path.back().node) != b.parent)
            path.pop_back();
        const placement usual = a.mapped(b);
        placement place;
        if (usual.placed) {
            std::string_view title;
            const auto view = b.placetitle ? nodes.placetitle(i) : std::nullopt;
            if (view) {
                title = *view;
            } else {
                joined = nodes.title(i);
                title = joined;
            }
            const std::size_t begin = usual.begin, end = usual.end;
            // The nearest placed ancestor.
            open* up = nullptr;
            for (std::size_t k = path.size(); k-- > 0;) {
                if (path[k].place.placed) {
                    up = &path[k];
                    break;
                }
            }
            const bool exact = std::string_view(text).substr(begin, end - begin) == title;
            if (b.statement || up == nullptr || exact) {
                place = usual;
            } else {
                // Text the compiler made from the source (escapes resolved) is placed on the
                // whole of what it was made from: look for the title there instead.
                const placement& p = up->place;
                const bool inside =
                    begin >= p.begin && end <= p.end && end - begin < p.end - p.begin;
                if (inside) {
                    place = usual;
                } else if (!title.empty()) {
                    const std::size_t from = std::max<std::size_t>(up->cursor, p.begin);
                    const std::size_t limit = std::min<std::size_t>(p.end, from + maxsearch);
                    for (std::size_t at = from; at < limit; ++at) {
                        const std::size_t stop = matchat(text, at, p.end, title);
                        if (stop == std::string_view::npos) continue;
                        place.placed = true;
                        place.begin = static_cast<std::uint32_t>(at);
                        place.end = static_cast<std::uint32_t>(stop);
                        break;
                    }
                }
                if (place.placed) up->cursor = place.end;
            }
            place.sourcetitle = place.placed && std::string_view(text).substr(
                                                    place.begin, place.end - place.begin) == title;
            const bool same = place.placed == usual.placed && place.begin == usual.begin &&
                              place.end == usual.end && place.sourcetitle == usual.sourcetitle;
            if (!same) a.unusual.emplace_back(static_cast<std::uint32_t>(i), place);
        }
        path.push_back(open{i, place, place.placed ? place.begin : 0u});
        if (b.parent == 0) a.groups.push_back(analysis::group{static_cast<std::uint32_t>(i)});
        if (place.placed && !a.groups.empty() && i > 0) {
            analysis::group& g = a.groups.back();
            if (g.begin == g.end) {
                g.begin = place.begin, g.end = place.end;
            } else {
                g.begin = std::min(g.begin, place.begin), g.end = std::max(g.end, place.end);
            }
        }
    }
    a.unusual.shrink_to_fit();
    if (a.code.size() > std::numeric_limits<std::uint32_t>::max()) a.groups.clear();
    a.groups.shrink_to_fit();
    // Each group's code: the stretches come in the order of the code, and a group's bytes
    // mostly follow the group before's.
    std::size_t g = 0;
    nodes.stretches([&](std::size_t begin, std::size_t end, std::int32_t node) {
        if (node <= 0 || a.groups.empty() || end > std::numeric_limits<std::uint32_t>::max())
            return;
        const auto n = static_cast<std::uint32_t>(node);
        if (n < a.groups[g].first || n >= a.groupend(g)) g = a.groupof(n);
        analysis::group& at = a.groups[g];
        const auto from = static_cast<std::uint32_t>(begin), to = static_cast<std::uint32_t>(end);
        if (at.codebegin == at.codeend) {
            at.codebegin = from, at.codeend = to;
        } else {
            at.codebegin = std::min(at.codebegin, from);
            at.codeend = std::max(at.codeend, to);
        }
    });
    return made;
}

std::optional<std::size_t> constructat(const analysis& a, std::size_t offset) {
    std::optional<std::size_t> best;
    std::size_t bestsize = 0;
    // The nodes from `first` to `end`, in order.
    const auto scan = [&](std::size_t first, std::size_t end) {
        auto next = a.unusualfrom(first);
        for (std::size_t i = first; i < end; ++i) {
            placement n;
            if (next != a.unusual.end() && next->first == i) {
                n = (next++)->second;
            } else {
                n = a.mapped(i);
            }
            if (!n.placed || offset < n.begin || offset >= n.end) continue;
            if (best && n.end - n.begin > bestsize) continue;
            best = i;
            bestsize = n.end - n.begin;
        }
    };
    if (a.size() == 0) return best;
    // The root, then the groups whose nodes cover the offset: the others hold no node that
    // does.
    scan(0, a.groups.empty() ? a.size() : a.groups.front().first);
    for (std::size_t g = 0; g < a.groups.size(); ++g) {
        const analysis::group& each = a.groups[g];
        if (offset >= each.begin && offset < each.end) scan(each.first, a.groupend(g));
    }
    return best;
}

namespace {

// The end of the nodes `top` and its descendants: they are numbered in the order they
// were opened, so they are `top` and the nodes after it up to the first whose parent
// comes before `top`.
std::size_t subtreeend(const zv::originmap& nodes, std::size_t top) {
    std::size_t end = top + 1;
    while (end < nodes.size() && nodes.parent(end) >= static_cast<std::int32_t>(top)) ++end;
    return end;
}

} // namespace

std::vector<std::pair<std::size_t, std::string>> listingof(const analysis& a, std::size_t top) {
    std::vector<instruction> picked;
    const std::size_t end = subtreeend(*a.origins, top);
    const std::size_t traced = a.origins->codesize();
    const auto pick = [&](std::size_t from, std::size_t to) {
        picked.clear();
        zv::originmap::reader origin(*a.origins);
        return walkbytecode(a.code, from, to, [&](const instruction& ins) {
            if (ins.offset >= traced) return;
            const std::int32_t node = origin(ins.offset);
            if (node >= static_cast<std::int32_t>(top) && node < static_cast<std::int32_t>(end))
                picked.push_back(ins);
        });
    };
    // A node of a group compiled to code within the group's: that alone is read, unless it
    // does not decode on its own.
    const std::size_t g = top == 0 ? a.groups.size() : a.groupof(top);
    if (g == a.groups.size() || pick(a.groups[g].codebegin, a.groups[g].codeend).has_value())
        pick(0, a.code.size());
    std::size_t outer = picked.empty() ? 0 : picked.front().depth;
    for (const instruction& ins : picked) outer = std::min(outer, ins.depth);
    std::vector<std::pair<std::size_t, std::string>> lines;
    for (const instruction& ins : picked) {
        lines.emplace_back(ins.size, listingline(ins, a.code, ins.depth - outer));
    }
    return lines;
}

namespace {

// The hover of the construct at `offset` of the text `a` was compiled from.
std::optional<hoverinfo> hoverin(const analysis& a, std::size_t offset) {
    const auto node = constructat(a, offset);
    if (!node) return std::nullopt;
    const placement n = a.at(*node);
    const auto lines = listingof(a, *node);
    std::size_t bytes = 0;
    for (const auto& line : lines) bytes += line.first;
    hoverinfo out{n.begin, n.end, {}};
    out.markdown = "```zv\n" + a.title(*node, n) + "\n```\n" +
                   (a.origins->statement(*node) ? "statement" : "construct") + ", " +
                   std::to_string(lines.size()) + " instructions, " + std::to_string(bytes) +
                   " bytes of byte code\n\n```text\n";
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
    const unchanged same(*before->text, *doc.text);
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
