// Replies too large to hold whole, written in two passes: the first counts the bytes of the
// JSON text (so that a frame's Content-Length can go out before its body), the second hands
// the same text out in pieces of bounded size as it is made. The reply's shape is written
// once, against either output: a `piececounter` or a `piecewriter`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string_view>

namespace zvlsp {

// The bytes of one piece handed out: a reply of megabytes is written in this many at a time.
constexpr std::size_t replypiece = std::size_t{64} << 10; // 64 KiB

// Takes one piece of a reply's text.
using piecesink = std::function<void(std::string_view)>;
// Writes a whole message body to a sink, piece by piece.
using bodywriter = std::function<void(const piecesink&)>;

// The first pass's output: counts the bytes that would be written.
class piececounter {
  public:
    void text(std::string_view s) { counted += s.size(); }
    void number(std::uint32_t n) {
        std::size_t digits = 1;
        for (; n >= 10; n /= 10) ++digits;
        counted += digits;
    }
    std::size_t length() const { return counted; }

  private:
    std::size_t counted = 0;
};

// The second pass's output: gathers text in `room` and hands it to `sink` each time the room
// fills, so every piece but the last is exactly `room.size()` bytes. It allocates nothing and
// throws nothing but what `sink` throws. An empty room hands each text out as it comes.
class piecewriter {
  public:
    piecewriter(std::span<char> room, const piecesink& sink) : room(room), sink(sink) {}

    // Most of a reply's writes are a digit or a comma: they are copied here, and only a text
    // that fills the room goes the long way.
    void text(std::string_view s) {
        if (s.size() < room.size() - used) {
            std::memcpy(room.data() + used, s.data(), s.size());
            used += s.size();
        } else {
            spill(s);
        }
    }
    void number(std::uint32_t n) {
        if (n < 10 && used + 1 < room.size()) {
            room[used++] = static_cast<char>('0' + n);
        } else {
            spill(n);
        }
    }
    // Hands out what the room still holds; the writer may go on afterwards.
    void finish();

  private:
    void spill(std::string_view s);
    void spill(std::uint32_t n);

    std::span<char> room;
    const piecesink& sink;
    std::size_t used = 0;
};

// A reply whose length is known before it is written. `write` writes exactly `length` bytes
// and, for the input it was counted on, does not throw (a writer that sends pieces straight
// to the wire has already sent its header).
struct sizedreply {
    std::size_t length = 0;
    std::function<void(piecewriter&)> write;
};

} // namespace zvlsp
