// The compact record of byte origins: nodes, title pieces, runs of code bytes and the
// rewrites of block lengths, their marks and rollback, and reading them back.
#include "origins.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>

#include "context.h"

namespace {

constexpr std::uint8_t sourcetag = 0xFD, copiedtag = 0xFE, endtag = 0xFF;
static_assert(TW_COUNT < sourcetag);

template <typename Bytes> std::uint64_t getvarint(const Bytes& bytes, std::size_t& at) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t b = bytes[at++];
        value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return value;
    }
}

template <typename Bytes> void putvarint(Bytes& bytes, std::uint64_t value) {
    while (value >= 0x80) {
        bytes.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
}

// The bytes of a piece before they are appended at once: a tag and up to three varints.
struct piecestaging {
    std::array<std::uint8_t, 1 + 3 * 10> bytes;
    std::size_t used = 0;
    void push_back(std::uint8_t b) { bytes[used++] = b; }
};

std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

} // namespace

void originrecord::clear() {
    nodes.clear();
    fileruns.clear();
    haspieces.clear();
    titlenodes.clear();
    titles.clear();
    piecebytes.clear();
    opennodes.clear();
    runbytes.clear();
    sealed = last = run{};
    rewrites.clear();
    sorted = false;
    // The root's title is the word "PACK_ROOT".
    nodes.push_back(packednode{0, unplaced, 0});
    haspieces.push_back(1);
    titlenodes.push_back(0);
    titles.push_back(0);
    piecebytes.push_back(TW_ROOT);
    piecebytes.push_back(endtag);
}

void originrecord::seal(std::size_t codesize, std::int32_t now) {
    const std::uint64_t step = last.start - sealed.start;
    const std::uint64_t turn = zigzag(static_cast<std::int64_t>(last.node) - sealed.node);
    if (step < 0x80 && turn < 0x80) {
        // A byte each, as for most runs.
        runbytes.push_back(static_cast<std::uint8_t>(step));
        runbytes.push_back(static_cast<std::uint8_t>(turn));
    } else {
        putvarint(runbytes, step);
        putvarint(runbytes, turn);
    }
    sealed = last;
    last = run{codesize, now};
}

bool originrecord::nextrun(runplace& p) const {
    if (p.next < runbytes.size()) {
        p.at.start += getvarint(runbytes, p.next);
        p.at.node = static_cast<std::int32_t>(p.at.node + unzigzag(getvarint(runbytes, p.next)));
        return true;
    }
    if (p.next > runbytes.size()) return false;
    p.at = last;
    ++p.next;
    return true;
}

void originrecord::openany(span where, bool statement, const piece* pieces, std::size_t n,
                           std::size_t codesize) {
    const auto index = static_cast<std::uint32_t>(nodes.size());
    packednode made{static_cast<std::uint32_t>(innermost() + 1) | (statement ? statementbit : 0),
                    unplaced, 0};
    if (where.known()) {
        made.begin = where.begin;
        made.end = where.end;
        if (fileruns.empty() || fileruns.back().file != where.file)
            fileruns.push_back(filerun{index, where.file});
    }
    if (index % 64 == 0) haspieces.push_back(0);
    if (n > 0 || !where.known()) {
        haspieces.back() |= std::uint64_t{1} << (index % 64);
        titlenodes.push_back(index);
        titles.push_back(piecebytes.size());
        for (std::size_t i = 0; i < n; ++i) {
            const piece& p = pieces[i];
            piecestaging staged;
            if (p.is == piece::word) {
                staged.push_back(static_cast<std::uint8_t>(p.w));
            } else if (p.is == piece::source) {
                staged.push_back(sourcetag);
                putvarint(staged, static_cast<std::uint64_t>(p.where.file));
                putvarint(staged, p.where.begin);
                putvarint(staged, p.where.end - p.where.begin);
            } else {
                staged.push_back(copiedtag);
                putvarint(staged, p.text.size());
            }
            piecebytes.append(staged.bytes.data(), staged.used);
            if (p.is == piece::copied)
                piecebytes.append(reinterpret_cast<const std::uint8_t*>(p.text.data()),
                                  p.text.size());
        }
        piecebytes.push_back(endtag);
    }
    nodes.push_back(made);
    opennodes.push_back(static_cast<std::int32_t>(nodes.size() - 1));
    changed(codesize);
}

void originrecord::lengthwritten(std::size_t offset) {
    rewrites.push_back(rewrite{offset, innermost()});
    sorted = false;
}

originrecord::mark originrecord::where(std::size_t codesize) const {
    mark m;
    m.nodes = nodes.size();
    m.titles = titles.size();
    m.piecebytes = piecebytes.size();
    m.open = opennodes.size();
    m.runbytes = runbytes.size();
    m.sealed = sealed;
    m.last = last;
    m.rewrites = rewrites.size();
    m.code = codesize;
    return m;
}

void originrecord::rollback(const mark& m) {
    nodes.truncate(m.nodes);
    while (!fileruns.empty() && fileruns.back().first >= m.nodes) fileruns.pop_back();
    haspieces.truncate((m.nodes + 63) / 64);
    if (m.nodes % 64 != 0) haspieces.back() &= (std::uint64_t{1} << (m.nodes % 64)) - 1;
    titlenodes.truncate(m.titles);
    titles.truncate(m.titles);
    piecebytes.truncate(m.piecebytes);
    // As the nodes open at the mark were: those closed since and others opened in their
    // place are not told apart, the count alone is kept.
    opennodes.resize(m.open);
    runbytes.truncate(m.runbytes);
    sealed = m.sealed;
    last = m.last;
    // Rewrites since the mark of bytes that are gone go with them; those of bytes still
    // there stand, as their bytes do.
    const auto gone =
        std::remove_if(rewrites.begin() + static_cast<std::ptrdiff_t>(m.rewrites), rewrites.end(),
                       [&](const rewrite& r) { return r.offset >= m.code; });
    rewrites.erase(gone, rewrites.end());
    sorted = false;
}

originrecord::node originrecord::at(std::size_t n) const {
    const packednode& p = nodes[n];
    node out;
    out.parent = static_cast<std::int32_t>(p.parentandstatement & ~statementbit) - 1;
    out.isstatement = (p.parentandstatement & statementbit) != 0;
    out.pieces = (haspieces[n / 64] >> (n % 64) & 1) != 0;
    if (p.begin != unplaced) {
        // The last run that starts at or before the node.
        const auto run =
            std::upper_bound(fileruns.begin(), fileruns.end(), n,
                             [](std::size_t node, const filerun& r) { return node < r.first; });
        out.place = span{std::prev(run)->file, p.begin, p.end};
    }
    return out;
}

std::string
originrecord::title(std::size_t n,
                    const std::function<std::string_view(std::int32_t file)>& textof) const {
    const node at = this->at(n);
    if (!at.pieces) {
        const span w = at.where();
        return std::string(textof(w.file).substr(w.begin, w.end - w.begin));
    }
    // The node's entry among those with pieces.
    std::size_t low = 0, high = titlenodes.size();
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (titlenodes[middle] <= n) {
            low = middle;
        } else {
            high = middle;
        }
    }
    std::string out;
    for (std::size_t i = static_cast<std::size_t>(titles[low]);;) {
        const std::uint8_t tag = piecebytes[i++];
        if (tag == endtag) return out;
        if (tag == sourcetag) {
            const auto file = static_cast<std::int32_t>(getvarint(piecebytes, i));
            const std::size_t begin = getvarint(piecebytes, i);
            const std::size_t length = getvarint(piecebytes, i);
            out.append(textof(file).substr(begin, length));
        } else if (tag == copiedtag) {
            const std::size_t length = getvarint(piecebytes, i);
            for (const std::size_t end = i + length; i < end; ++i)
                out.push_back(static_cast<char>(piecebytes[i]));
        } else {
            out.append(word(static_cast<titleword>(tag)));
        }
    }
}

void originrecord::finish() {
    if (sorted) return;
    // By place, and of rewrites of one place the last.
    std::stable_sort(rewrites.begin(), rewrites.end(),
                     [](const rewrite& a, const rewrite& b) { return a.offset < b.offset; });
    std::vector<rewrite> last;
    for (const rewrite& r : rewrites) {
        if (!last.empty() && last.back().offset == r.offset) {
            last.back() = r;
        } else {
            last.push_back(r);
        }
    }
    rewrites = std::move(last);
    rewrites.shrink_to_fit();
    sorted = true;
}

void originrecord::stretches(
    std::size_t codesize,
    const std::function<void(std::size_t, std::size_t, std::int32_t)>& each) const {
    // The runs, with the rewritten length bytes cut out of them; `done` is where the
    // stretches handed out so far end.
    std::size_t rewrite = 0, done = 0;
    runplace p;
    for (bool more = nextrun(p); more;) {
        const run r = p.at;
        more = nextrun(p);
        const std::size_t to =
            more ? std::min(static_cast<std::size_t>(p.at.start), codesize) : codesize;
        while (rewrite < rewrites.size() && rewrites[rewrite].offset < to) {
            const auto at = static_cast<std::size_t>(rewrites[rewrite].offset);
            const std::size_t stop = std::min(at + 4, codesize);
            if (at > done) each(done, at, r.node);
            if (stop > at) each(at, stop, rewrites[rewrite].node);
            done = std::max(done, stop);
            ++rewrite;
        }
        if (to > done) {
            each(done, to, r.node);
            done = to;
        }
    }
}

std::int32_t originrecord::nodeat(std::size_t offset, runplace& from) const {
    if (from.next == 0) nextrun(from);
    for (runplace ahead = from; nextrun(ahead) && ahead.at.start <= offset;) from = ahead;
    std::size_t& rewrite = from.rewrite;
    while (rewrite < rewrites.size() && rewrites[rewrite].offset + 4 <= offset) ++rewrite;
    if (rewrite < rewrites.size() && rewrites[rewrite].offset <= offset)
        return rewrites[rewrite].node;
    return from.at.node;
}

std::vector<std::int32_t> originrecord::perbyte(std::size_t codesize) const {
    std::vector<std::int32_t> out(codesize, 0);
    runplace p;
    for (bool more = nextrun(p); more;) {
        const run r = p.at;
        more = nextrun(p);
        const std::size_t from = std::min(static_cast<std::size_t>(r.start), codesize);
        const std::size_t to =
            more ? std::min(static_cast<std::size_t>(p.at.start), codesize) : codesize;
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(from),
                  out.begin() + static_cast<std::ptrdiff_t>(to), r.node);
    }
    // Rewrites in the order they were made (or sorted, the last of a place kept): the
    // later one of a place wins.
    for (const rewrite& r : rewrites) {
        const auto at = static_cast<std::size_t>(r.offset);
        for (std::size_t i = at; i < at + 4 && i < codesize; ++i) out[i] = r.node;
    }
    return out;
}

namespace {

// Opens the node of `pieces` at `where` in the origins of `c`, its title kept as pieces:
// title words by number, source text by place, other text copied.
void openpieces(compilation& c, span where, std::initializer_list<std::string_view> pieces) {
    // Titles are joined from a few pieces.
    constexpr std::size_t fewpieces = 8;
    // Raw room for a few: only the pieces used are constructed (all eight for every title
    // cost more than the pieces themselves).
    alignas(originrecord::piece) std::byte few[fewpieces * sizeof(originrecord::piece)];
    std::vector<originrecord::piece> many;
    auto* kept = reinterpret_cast<originrecord::piece*>(few);
    std::size_t n = 0;
    if (pieces.size() == 0) n = 1; // no text at all: one empty piece
    if (pieces.size() > fewpieces) {
        many.resize(pieces.size());
        kept = many.data();
    }
    if (n == 1) new (kept) originrecord::piece{};
    for (const std::string_view text : pieces) {
        originrecord::piece& p = *new (kept + n++) originrecord::piece{};
        p.w = static_cast<titleword>(wordof(text));
        if (p.w != TW_COUNT) {
            p.is = originrecord::piece::word;
        } else if (const span at = c.directspan(text); at.known()) {
            p.is = originrecord::piece::source;
            p.where = at;
        } else {
            p.text = text;
        }
    }
    c.origins.open(where, c.statementnext, kept, n, c.code.size());
}

} // namespace

void traceopen(compilation& c, std::initializer_list<std::string_view> pieces,
               std::string_view source) {
    // Most titles are views of the source; the others lead back to it.
    const span direct = c.directspan(source);
    const span where = direct.known() ? direct : c.locate(source);
    // A title that is the source text at its place keeps no pieces (most are).
    const auto onlysource = [&] {
        if (pieces.size() != 1 || !where.known()) return false;
        const std::string_view only = *pieces.begin();
        if (only.data() == source.data() && only.size() == source.size()) return direct.known();
        const span at = c.directspan(only);
        return at.file == where.file && at.begin == where.begin && at.end == where.end;
    };
    if (onlysource()) {
        c.origins.open(where, c.statementnext, nullptr, 0, c.code.size());
    } else {
        openpieces(c, where, pieces);
    }
    if (c.originlistener) {
        originevent opened = originevent::of(originevent::opened);
        for (const std::string_view text : pieces) opened.title.append(text);
        opened.where = where;
        opened.statement = c.statementnext;
        c.originlistener(opened);
    }
}
