// Fuzz target: the byte-code reader on arbitrary bytes. The verifier, the decoder walk and
// both listings must agree on the first fault (or on none), the walk must tile the bytes
// before that fault with instructions in order, and a fault must point into the input.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <vector>

#include "bytecodereader.h"
#include "report.h"

namespace {

[[noreturn]] void broken(const char* what, std::size_t at) {
    zvfuzz::broken("byte-code reader: %s (offset %zu)", what, at);
}

bool same(const std::optional<bytecodefault>& a, const std::optional<bytecodefault>& b) {
    if (!a || !b) return !a && !b;
    return a->offset == b->offset && a->what == b->what;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto verdict = verifybytecode(bytes);
    if (verdict &&
        (verdict->offset >= size || verdict->what.empty() || faultline(*verdict).empty()))
        broken("fault outside the input or without a text", verdict ? verdict->offset : 0);

    std::size_t next = 0;
    const auto walked = walkbytecode(bytes, [&](const instruction& ins) {
        if (ins.offset != next) broken("walk skipped or repeated bytes", ins.offset);
        if (ins.info == nullptr || ins.size == 0 || ins.offset + ins.size > size)
            broken("walk visited an instruction outside the input", ins.offset);
        // A block header is six bytes; the block's own instructions follow it.
        next = ins.offset + ins.size;
        (void)describeinstruction(ins);
        (void)listingline(ins, bytes, ins.depth);
    });
    if (!same(walked, verdict)) broken("walk and verifier disagree", next);
    if (!walked && next != size) broken("sound code not covered by the walk", next);
    if (walked && walked->offset != next) broken("walk fault is not at the next instruction", next);

    std::ostringstream plain;
    if (!same(listbytecode(bytes, plain), verdict)) broken("listing and verifier disagree", 0);

    const std::vector<titlenode> nodes{{"PACK_ROOT", -1}};
    const std::vector<std::int32_t> origins(size, 0);
    std::ostringstream annotated;
    if (!same(listannotated(bytes, nodes, origins, annotated), verdict))
        broken("annotated listing and verifier disagree", 0);
    return 0;
}
