// Fuzz target: compiles arbitrary bytes as a program text in-process, the way the driver
// does, and traps on any broken invariant of the compile (see compilecheck.h). Compile
// errors and parser exits are ordinary outcomes; anything else that escapes is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "compilecheck.h"
#include "report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (auto broken = zvcheck::checkcompile(text))
        zvfuzz::broken("broken compile invariant: %s", broken->c_str());
    return 0;
}
