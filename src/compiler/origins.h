// Byte origins, kept compact: the title nodes of a compilation (a node per title block,
// its parent, its place and its title) and the node of every byte of byte code. A node's
// title is not copied when it is the source text at the node's place (most are); else it
// is kept as pieces, as the description map keeps titles: source text by place, the
// compiler's words by number, other text copied. The node of each code byte is kept as
// runs (a run per stretch of bytes of one node), each a few bytes: its start and node as
// differences from the run before; and the few later rewrites of a block's length bytes.
// Everything grows in chunks, never copied. The record can take back everything since a
// mark, as the emitter does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "chunked.h"
#include "packer.h"

class originrecord {
  public:
    // A node as read back.
    struct node {
        std::int32_t parent = -1; // -1 for the root
        bool isstatement = false; // the node of a statement
        bool pieces = false;      // its title is kept as pieces, not the text at its place
        span place{};             // unknown when the node has no place
        span where() const { return place; }
        bool statement() const { return isstatement; }
    };

    // A piece of a title as `open` takes it: source text at a place, a title word, or
    // text copied.
    struct piece {
        enum kind : std::uint8_t { source, word, copied } is = copied;
        span where{};           // source text
        titleword w = TW_COUNT; // a word
        std::string_view text;  // copied text
    };

    // Back to one node, the root ("PACK_ROOT"), that every code byte belongs to.
    void clear();

    // Opens a node inside the innermost open one, placed at `where`; its title is the
    // source text there when `pieces` is empty. `codesize` is the code emitted so far:
    // from there on, bytes belong to the new node.
    void open(span where, bool statement, const piece* pieces, std::size_t n,
              std::size_t codesize) {
        // Most nodes are placed and titled by their place's text: those take the short way,
        // inline, as a large program opens hundreds of thousands.
        const auto index = static_cast<std::uint32_t>(nodes.size());
        if (n == 0 && where.known() && index % 64 != 0 && !fileruns.empty() &&
            fileruns.back().file == where.file) [[likely]] {
            nodes.push_back(packednode{static_cast<std::uint32_t>(innermost() + 1) |
                                           (statement ? statementbit : 0),
                                       where.begin, where.end});
            opennodes.push_back(static_cast<std::int32_t>(index));
            changed(codesize);
            return;
        }
        openany(where, statement, pieces, n, codesize);
    }
    // Closes the innermost open node; the bytes from `codesize` on belong to the one open
    // again.
    void close(std::size_t codesize) {
        if (opennodes.empty()) return;
        opennodes.pop_back();
        changed(codesize);
    }
    // The four length bytes of a block at `offset` are written now: they belong to the
    // innermost open node.
    void lengthwritten(std::size_t offset);

    // A point to come back to, and taking back everything recorded since.
    // A run: the code bytes from `start` to the next run's start belong to `node`.
    struct run {
        std::uint64_t start = 0;
        std::int32_t node = 0;
    };
    struct mark {
        std::size_t nodes = 0, titles = 0, piecebytes = 0, open = 0, runbytes = 0, rewrites = 0,
                    code = 0;
        run sealed, last;
    };
    mark where(std::size_t codesize) const;
    void rollback(const mark& m);

    // Reading. The node of the byte at `offset` of code emitted; node 0 for bytes past it.
    std::size_t size() const { return nodes.size(); }
    node at(std::size_t n) const;
    // The title of node `n`, joined; `textof` gives the text of a file by its index.
    std::string title(std::size_t n,
                      const std::function<std::string_view(std::int32_t file)>& textof) const;
    // The node of every byte of `codesize` bytes of code, as one value per byte.
    std::vector<std::int32_t> perbyte(std::size_t codesize) const;
    // Calls `each(begin, end, node)` for the stretches of `codesize` bytes, in order; each
    // stretch belongs to one node, and neighbouring stretches may belong to the same one.
    void stretches(std::size_t codesize,
                   const std::function<void(std::size_t, std::size_t, std::int32_t)>& each) const;
    // Where a read of the runs stands: the run it is in, and the next run's bytes.
    struct runplace {
        run at;
        std::size_t next = 0; // past the bytes of the runs read; one more past the last run
        std::size_t rewrite = 0;
    };
    // The node of the byte at `offset`, once finished; `from` is where the last read
    // stopped, for reads at offsets that do not decrease (a new place to start).
    std::int32_t nodeat(std::size_t offset, runplace& from) const;
    // Sorts the length rewrites by place, for `stretches`; done once the code is final.
    void finish();

  private:
    std::int32_t innermost() const { return opennodes.empty() ? 0 : opennodes.back(); }
    // The node of the bytes from `codesize` on is now the innermost open one.
    void changed(std::size_t codesize) {
        const std::int32_t now = innermost();
        if (last.node == now) return;
        if (last.start == codesize) {
            last.node = now; // no byte came since the last change
            return;
        }
        seal(codesize, now);
    }
    // Ends the last run, which has bytes, and starts one of `now` at `codesize`.
    void seal(std::size_t codesize, std::int32_t now);
    void openany(span where, bool statement, const piece* pieces, std::size_t n,
                 std::size_t codesize);
    // Steps `p` to the run after its own; false past the last run.
    bool nextrun(runplace& p) const;

    // A node as kept: 12 bytes, as a large program has millions. Its file is kept apart, in
    // runs of nodes, and whether its title is kept as pieces in a bit of `haspieces`.
    struct packednode {
        std::uint32_t parentandstatement; // the parent + 1; bit 31 for a statement's node
        std::uint32_t begin, end;         // `unplaced`, 0 for a node with no place
    };
    static constexpr std::uint32_t statementbit = 0x80000000u;
    static constexpr std::uint32_t unplaced = 0xFFFFFFFF;
    chunked<packednode> nodes;
    // The file of the placed nodes from `first` on (up to the next run's first).
    struct filerun {
        std::uint32_t first;
        std::int32_t file;
    };
    std::vector<filerun> fileruns;
    chunked<std::uint64_t> haspieces; // a bit per node
    // The pieces of titles that are not their place's text: a tag byte each (a title word's
    // number, `sourcetag`, `copiedtag`), then for source text its file, begin and length,
    // for copied text its length and bytes, all as varints; `endtag` after the last.
    chunked<std::uint32_t> titlenodes; // the nodes with pieces, ascending
    chunked<std::uint64_t> titles;     // where each one's pieces begin
    chunked<std::uint8_t, 65536> piecebytes;
    std::vector<std::int32_t> opennodes;
    // The runs but the last, each as the difference of its start from the run before's
    // and of its node (zigzag), as varints; the first run's from start 0 and node 0.
    chunked<std::uint8_t, 65536> runbytes;
    run sealed; // the last run in `runbytes`, or {0, 0}
    run last;   // the last run, still open to change
    // Block lengths written after their bytes were reserved: the four bytes at `offset`
    // belong to `node`, the later rewrite of a place winning.
    struct rewrite {
        std::uint64_t offset;
        std::int32_t node;
    };
    std::vector<rewrite> rewrites;
    bool sorted = false;
};

// The emitter's origins, told of each step as the per-byte account sees it: the plain
// account of fuzz/plainorigins.h listens, to check the record against.
struct originevent {
    enum kind : std::uint8_t { opened, closed, emitted, lengthset, rolledback } is = opened;
    // emitted: `count` bytes at `offset`; lengthset: the four at `offset`.
    std::size_t offset = 0, count = 0;
    std::string title;      // opened
    span where{};           // opened
    bool statement = false; // opened
    // rolledback: the code, nodes and open nodes left.
    std::size_t code = 0, nodes = 0, opennodes = 0;
    static originevent of(kind is, std::size_t offset = 0, std::size_t count = 0) {
        originevent out;
        out.is = is, out.offset = offset, out.count = count;
        return out;
    }
};

struct compilation;

// Opens the node of a title joined from `pieces`, made from the text `source`, in the
// origins of `c`: its place is where `source` stands (or what it was made from).
void traceopen(compilation& c, std::initializer_list<std::string_view> pieces,
               std::string_view source);
