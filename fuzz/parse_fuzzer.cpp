// Fuzz target: the statement splitter `parse` alone on arbitrary bytes. Besides crashes it
// traps when the result breaks the splitter's promises: only the statuses 51, 52 and 54
// end it early, there is at least one statement, at least one word per statement, and no
// more word bytes than the text holds (words are cut from the text, never repeated).
// The same bytes, as a source text, are then scanned by the forward scanner, the operator
// run and the argument split from the places scans begin, which must agree with the
// reference scanners that read every byte (tests/unit/scannercheck.h).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "packer.h"
#include "parser.h"
#include "report.h"
#include "scannercheck.h"

namespace {

// The scanners on the text, against the reference.
void checkscanners(std::string_view text) {
    resetcompiler();
    current().addfile("<input>", text);
    if (const auto differs = scannercheck::compare(text, scannercheck::scanstarts(text, 32), 1024))
        zvfuzz::broken("scanners disagree: %s", differs->c_str());
    if (const auto differs = scannercheck::comparenesting(text, scannercheck::scanstarts(text, 32)))
        zvfuzz::broken("nesting checks disagree: %s", differs->c_str());
    if (const auto differs = scannercheck::comparesplit(text, 32))
        zvfuzz::broken("statement splitters disagree: %s", differs->c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkscanners(text);
    parsed statements;
    try {
        statements = parse(text, 0);
    } catch (const parserexit& e) {
        if (e.status != 51 && e.status != 52 && e.status != 54)
            zvfuzz::broken("parser exit with unknown status %d", e.status);
        return 0;
    }
    if (statements.empty()) zvfuzz::broken("parse returned no statement");
    std::size_t wordbytes = 0;
    for (const auto& words : statements) {
        if (words.empty()) zvfuzz::broken("parse returned a statement without words");
        for (const auto& word : words) wordbytes += word.size();
    }
    if (wordbytes > size)
        zvfuzz::broken("parse returned %zu word bytes from %zu bytes", wordbytes, size);
    return 0;
}
