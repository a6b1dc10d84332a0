// Fuzz target: arbitrary bytes as a program and an included file (rendercheck.h), their
// diagnostics rendered as zv check's text output; traps when a location lies outside its
// file or the text form breaks its promise.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rendercheck.h"
#include "report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const zvtool::report r =
        rendercheck::compile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (auto broken = rendercheck::checklocations(r)) zvfuzz::broken("%s", broken->c_str());
    if (auto broken = rendercheck::checkcaret(r)) zvfuzz::broken("%s", broken->c_str());
    return 0;
}
