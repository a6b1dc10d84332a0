// The emitter: everything a compilation emits and the state of emitting it. It owns the
// byte code, the record of its origins (origins.h), the description map and
// its count, and one stack of pending blocks (length-prefixed blocks whose length is still
// to be written in front of their bytes). `where` and `rollback` take back everything
// emitted since a mark, which is how a failed statement leaves no trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "origins.h"
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

    // Origins, while `traceorigins`: the title nodes and the node of every code byte.
    bool traceorigins = false;
    originrecord origins;
    bool statementnext = false; // the next title block is a statement's
    // Told of every step of tracing when set: a second, plain account of the origins for
    // checking the record (fuzz/plainorigins.h).
    std::function<void(const originevent&)> originlistener;
    // Tracing steps, each told to the listener too. `traceopen` (origins.h) opens a node.
    void tracebytes(std::size_t offset, std::size_t count) {
        if (originlistener) originlistener(originevent::of(originevent::emitted, offset, count));
    }
    void traceclose() {
        origins.close(code.size());
        if (originlistener) originlistener(originevent::of(originevent::closed));
    }
    void tracelength(std::size_t offset) {
        origins.lengthwritten(offset);
        if (originlistener) originlistener(originevent::of(originevent::lengthset, offset));
    }

    // The one funnel of every emitted byte (the compiler's `addbytes` and `addcode`): into
    // `desc` while a title record is written, else onto `code`; inside an open block the
    // bytes stand in place behind the block's reserved length. The common case (no record,
    // no tracing, every open block's length reserved) appends and counts inline; the rest
    // goes through `emitrouted`.
    void emit(const byte* data, std::size_t size) {
        if (routed()) [[unlikely]] {
            emitrouted(data, size);
            return;
        }
        code.insert(code.end(), data, data + size);
        if (pending.empty()) currentdesclength += static_cast<std::int32_t>(size);
    }
    void emit(byte b) {
        if (routed() || code.size() == code.capacity()) [[unlikely]] {
            emitrouted(&b, 1);
            return;
        }
        code.push_back(b);
        if (pending.empty()) ++currentdesclength;
    }
    // True when emitted bytes need more than appending (packer.cpp). Traced origins change
    // only where titles open and close; emitted bytes are told only to a listener.
    bool routed() const {
        return inrecord || reserved != pending.size() || (traceorigins && originlistener);
    }
    void emitrouted(const byte* data, std::size_t size);

    void resetemitter();

    // A point to come back to.
    struct mark {
        std::size_t code = 0, pending = 0, reserved = 0;
        std::int32_t currentdesclength = -1;
        descriptionmap::mark desc;
        originrecord::mark origins;
    };
    mark where() const;
    // Takes back everything emitted since `m`: bytes, origins and nodes, map records and
    // titles opened, blocks opened and lengths reserved.
    void rollback(const mark& m);
};
