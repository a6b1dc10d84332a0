// The construct under the cursor and its byte-code listing.
#include "hover.h"

#include <vector>

#include "bytecodereader.h"

namespace zvlsp {

namespace {

// Listings longer than this are cut, so that a hover on a whole class stays readable.
constexpr std::size_t maxlines = 60;

// The innermost node of `doc`'s compilation whose range in the document holds `offset`:
// the shortest range, and of equal ranges the later (deeper) node.
std::optional<std::size_t> innermost(const document& doc, std::size_t offset) {
    std::optional<std::size_t> best;
    const auto& nodes = doc.compiled.nodes;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const zv::titleinfo& n = nodes[i];
        if (!n.located || n.where.file != doc.path) continue;
        if (offset < n.where.offset || offset >= n.where.endoffset) continue;
        if (best) {
            const zv::location& b = nodes[*best].where;
            if (n.where.endoffset - n.where.offset > b.endoffset - b.offset) continue;
        }
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
    const auto lines = listing(doc.compiled, static_cast<std::int32_t>(*node));
    std::size_t bytes = 0;
    for (const auto& line : lines) bytes += line.first;
    hoverinfo out{n.where.offset, n.where.endoffset, {}};
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
