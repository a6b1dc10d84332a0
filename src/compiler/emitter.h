// The emitter: everything a compilation emits and the state of emitting it. It owns the
// byte code, the origin of every code byte and the title nodes, the description map and
// its count, and one stack of pending blocks (length-prefixed blocks whose length is still
// to be written in front of their bytes). `where` and `rollback` take back everything
// emitted since a mark, which is how a failed statement leaves no trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "packer.h"

struct emitter {
    bytelist code;
    descriptionmap desc;
    bool inrecord = false; // a title record is being written to `desc`
    // Bytes emitted outside every block since the innermost title opened (-1 before the
    // first title), the count of the title's closing record.
    std::int32_t currentdesclength = -1;

    // The pending blocks, outermost first: the offset in `code` of each one's reserved
    // length. A block reserves its length when its first byte comes, and every block
    // outside it has by then, so the blocks without a length are the innermost ones: from
    // `reserved` on, they stand as `unreserved`.
    static constexpr std::size_t unreserved = static_cast<std::size_t>(-1);
    std::vector<std::size_t> pending;
    std::size_t reserved = 0;
    bool inblock() const { return !pending.empty(); }
    // Opens a block: its bytes follow its length, written when it closes (`closeblock`,
    // in compiler.h as `negatebyteoperand`).
    void beginblock() { pending.push_back(unreserved); }

    // Told of every record of the map as it is written, when set: whether it opens a title,
    // its count (or none) and the title's text. A second, independent account of the map
    // for checking its compact record. Not told of records taken back by `rollback`.
    std::function<void(bool opens, bool hascount, std::int32_t count, std::string_view title)>
        recordlistener;

    // Origins, while `traceorigins`: the title node of every code byte.
    bool traceorigins = false;
    std::vector<titlenode> titlenodes;
    std::vector<std::int32_t> codeorigins;
    std::vector<std::int32_t> opennodes;
    bool statementnext = false; // the next title block is a statement's

    void resetemitter();

    // A point to come back to.
    struct mark {
        std::size_t code = 0, origins = 0, nodes = 0, opennodes = 0, pending = 0, reserved = 0;
        std::int32_t currentdesclength = -1;
        descriptionmap::mark desc;
    };
    mark where() const;
    // Takes back everything emitted since `m`: bytes, origins and nodes, map records and
    // titles opened, blocks opened and lengths reserved.
    void rollback(const mark& m);
};
