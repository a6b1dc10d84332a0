// Storage for runs of plain values that must each stay contiguous and where they were put:
// the words of each statement of an outline, and each list of statements. Runs are copied
// into chunks that never move; a chunk holds as many elements as the store held before it
// (at least `firstchunk`, at most `lastchunk`), so that a small document takes little room
// and a large one wastes at most a chunk's unused end, and a run too long for a chunk gets
// a chunk of its own, of its exact length.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <vector>

namespace zvlsp {

template <typename T, std::size_t firstchunk = 16, std::size_t lastchunk = 16384> class runstore {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "a run holds plain values");
    static_assert(0 < firstchunk && firstchunk <= lastchunk, "chunks grow");

  public:
    static constexpr std::size_t smallestchunk = firstchunk;
    static constexpr std::size_t largestchunk = lastchunk;

    runstore() = default;
    runstore(const runstore&) = delete;
    runstore& operator=(const runstore&) = delete;

    // Copies `run` into the store: the span returned stays valid as long as the store.
    std::span<const T> add(std::span<const T> run) {
        if (run.empty()) return {};
        const std::size_t n = run.size();
        T* at = nullptr;
        if (n <= static_cast<std::size_t>(tailend - tail)) {
            at = tail;
            tail += n;
        } else {
            const std::size_t next = std::clamp(held, firstchunk, lastchunk);
            if (n > next) {
                // Its own chunk; the chunk being filled goes on being filled.
                at = allocate(n);
            } else {
                at = allocate(next);
                tail = at + n;
                tailend = at + next;
            }
        }
        std::copy(run.begin(), run.end(), at);
        held += n;
        return {at, n};
    }

    // The elements held, and the room taken for them (in elements).
    std::size_t size() const { return held; }
    std::size_t capacity() const { return room; }

  private:
    T* allocate(std::size_t n) {
        chunks.emplace_back(static_cast<T*>(::operator new(n * sizeof(T))));
        room += n;
        return chunks.back().get();
    }

    struct release {
        void operator()(T* chunk) const { ::operator delete(chunk); }
    };
    std::vector<std::unique_ptr<T, release>> chunks;
    T* tail = nullptr; // where the next run goes, in the chunk being filled
    T* tailend = nullptr;
    std::size_t held = 0;
    std::size_t room = 0;
};

} // namespace zvlsp
