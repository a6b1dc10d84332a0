// The base protocol's framing: messages as "Content-Length: N" headers, an empty line and
// N bytes of JSON. The reader works on any std::istream, so tests and the fuzzer feed it
// strings; it never reads more than one header line or one body into memory at a time and
// bounds both.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "pieces.h"

namespace zvlsp {

struct frame {
    enum class kind {
        message, // `body` holds the message's bytes
        bad,     // malformed headers or a body over the limit; `problem` says what
        end,     // the stream ended (possibly in the middle of a message)
    };
    kind what = kind::end;
    std::string body;
    std::string problem;
};

class framereader {
  public:
    static constexpr std::size_t defaultlimit = std::size_t{64} << 20; // 64 MiB
    static constexpr std::size_t headerlimit = 4096;                   // one header line

    explicit framereader(std::istream& in, std::size_t limit = defaultlimit)
        : in(in), limit(limit) {}

    // The next frame. After a bad frame the reader skips to the next header block that has a
    // Content-Length, so a stream can recover from one broken message.
    frame next();

  private:
    enum class line { ok, end, toolong };
    line readline(std::string& out);

    std::istream& in;
    std::size_t limit;
    bool skipping = false; // after a bad header block: skip lines up to a Content-Length
};

// Writes `body` as one framed message and flushes.
void writeframe(std::ostream& out, std::string_view body);
// Writes a message of `length` bytes as `body` makes them, piece by piece, and flushes.
void writeframe(std::ostream& out, std::size_t length, const bodywriter& body);

} // namespace zvlsp
