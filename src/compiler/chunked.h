// A growing sequence kept in chunks of a fixed size: it grows without moving or copying
// what it holds (a vector that doubles holds its old and new storage at once, and copies),
// and the room it takes is at most one chunk more than its elements. The records of a large
// compilation (byte origins) grow to millions of elements this way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

template <typename T, std::size_t chunkelements = 16384> class chunked {
    static_assert(chunkelements > 0 && (chunkelements & (chunkelements - 1)) == 0,
                  "a chunk holds a power of two of elements");
    // A chunk is raw storage that each element is copied into: nothing is constructed or
    // destroyed in it.
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "a chunk holds plain values");

  public:
    static constexpr std::size_t chunksize = chunkelements;

    chunked() = default;
    // A move takes the chunks, which stay where they are; the source is left empty.
    chunked(chunked&& other) noexcept { *this = std::move(other); }
    chunked& operator=(chunked&& other) noexcept {
        chunks = std::move(other.chunks);
        count = std::exchange(other.count, 0);
        tail = std::exchange(other.tail, nullptr);
        tailend = std::exchange(other.tailend, nullptr);
        other.chunks.clear();
        return *this;
    }

    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T& operator[](std::size_t i) { return chunks[i / chunksize].get()[i % chunksize]; }
    const T& operator[](std::size_t i) const { return chunks[i / chunksize].get()[i % chunksize]; }
    T& back() { return (*this)[count - 1]; }
    const T& back() const { return (*this)[count - 1]; }

    void push_back(const T& value) {
        if (tail == tailend) grow();
        *tail++ = value;
        ++count;
    }
    template <typename It> void append(It first, It last) {
        for (; first != last; ++first) push_back(*first);
    }
    // Appends `n` elements from `data`, copied a chunk's room at a time.
    void append(const T* data, std::size_t n) {
        while (n > 0) {
            if (tail == tailend) grow();
            const std::size_t room = std::min(static_cast<std::size_t>(tailend - tail), n);
            std::memcpy(static_cast<void*>(tail), data, room * sizeof(T));
            tail += room;
            count += room;
            data += room;
            n -= room;
        }
    }
    // Keeps the first `n` elements (at most the size), and lets go of the chunks past them.
    void truncate(std::size_t n) {
        if (n >= count) return;
        count = n;
        chunks.resize((count + chunksize - 1) / chunksize);
        if (count % chunksize == 0) {
            // Full chunks only: the next element makes a chunk.
            tail = tailend = nullptr;
        } else {
            tail = chunks.back().get() + count % chunksize;
            tailend = chunks.back().get() + chunksize;
        }
    }
    void clear() { truncate(0); }
    // The chunks held, for measuring.
    std::size_t chunkcount() const { return chunks.size(); }

  private:
    void grow() {
        // Neither zeroed nor constructed: every element is written before it is read, and a
        // compile that records a few nodes touches only the first page of its chunk. (A
        // constructed chunk of nodes cost a two-line program a fifth of its instructions.)
        chunks.emplace_back(static_cast<T*>(::operator new(chunksize * sizeof(T))));
        tail = chunks.back().get();
        tailend = tail + chunksize;
    }

    struct release {
        void operator()(T* chunk) const { ::operator delete(chunk); }
    };
    std::vector<std::unique_ptr<T, release>> chunks;
    std::size_t count = 0;
    T* tail = nullptr; // where the next element goes, in the last chunk
    T* tailend = nullptr;
};
