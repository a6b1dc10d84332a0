// The chunked sequence the origins record grows in: elements stay where they were put
// across chunk boundaries, and truncating at and around a boundary keeps exactly the
// elements before it and the chunks they need.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "chunked.h"

namespace {

using small = chunked<std::uint32_t, 4>;

// The value put at index `i`, distinct per index.
std::uint32_t valueat(std::size_t i) {
    return static_cast<std::uint32_t>(i * 2654435761u);
}

void fill(small& c, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) c.push_back(valueat(i));
}

void expectvalues(const small& c, std::size_t n) {
    ASSERT_EQ(c.size(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(c[i], valueat(i)) << i;
    if (n > 0) { EXPECT_EQ(c.back(), valueat(n - 1)); }
}

TEST(Chunked, GrowsAcrossChunksAtTheBoundaryAndPastIt) {
    constexpr std::size_t n = small::chunksize;
    const struct {
        std::size_t count, chunks;
    } table[] = {{0, 0}, {1, 1}, {n - 1, 1}, {n, 1}, {n + 1, 2}, {2 * n, 2}, {2 * n + 1, 3}};
    for (const auto& row : table) {
        small c;
        fill(c, 0, row.count);
        expectvalues(c, row.count);
        EXPECT_EQ(c.chunkcount(), row.chunks) << row.count;
    }
}

TEST(Chunked, TruncatesAtAndAroundABoundaryAndGrowsAgain) {
    constexpr std::size_t n = small::chunksize;
    const struct {
        std::size_t keep, chunks;
    } table[] = {{0, 0}, {1, 1}, {n - 1, 1}, {n, 1}, {n + 1, 2}, {2 * n, 2}, {3 * n, 3}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.keep);
        small c;
        fill(c, 0, 3 * n);
        c.truncate(row.keep);
        expectvalues(c, row.keep);
        EXPECT_EQ(c.chunkcount(), row.chunks);
        // What grows back is read as written, in a chunk made anew or the one kept.
        fill(c, row.keep, 3 * n + 1);
        expectvalues(c, 3 * n + 1);
        EXPECT_EQ(c.chunkcount(), 4u);
    }
}

TEST(Chunked, TruncatingPastTheSizeChangesNothing) {
    small c;
    fill(c, 0, 6);
    c.truncate(7);
    expectvalues(c, 6);
    c.clear();
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(c.chunkcount(), 0u);
}

TEST(Chunked, AMoveLeavesTheSourceEmptyAndBothGrowApart) {
    constexpr std::size_t n = small::chunksize;
    small from;
    fill(from, 0, n + 1);
    small to = std::move(from);
    EXPECT_TRUE(from.empty());
    EXPECT_EQ(from.chunkcount(), 0u);
    fill(from, 0, 2);
    fill(to, n + 1, 2 * n + 1);
    expectvalues(from, 2);
    expectvalues(to, 2 * n + 1);
    small again;
    again = std::move(to);
    expectvalues(again, 2 * n + 1);
}

TEST(Chunked, AppendsARangeAcrossABoundary) {
    const std::string text = "abcdefghij";
    chunked<char, 4> c;
    c.append(text.begin(), text.end());
    ASSERT_EQ(c.size(), text.size());
    for (std::size_t i = 0; i < text.size(); ++i) EXPECT_EQ(c[i], text[i]);
}

// Elements appended at once from memory are copied a chunk's room at a time: from a
// sequence empty, one short of a boundary and at one, appends of 0, 1, N-1, N, N+1 and
// 2N+1 elements (N the chunk size), then one more pushed, read back as pushed one by one.
TEST(Chunked, AppendsFromMemoryAcrossBoundaries) {
    constexpr std::size_t n = small::chunksize;
    std::vector<std::uint32_t> source(4 * n);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = valueat(i);
    for (const std::size_t before : {std::size_t{0}, n - 1, n, n + 1}) {
        for (const std::size_t count :
             {std::size_t{0}, std::size_t{1}, n - 1, n, n + 1, 2 * n + 1}) {
            SCOPED_TRACE(std::to_string(before) + " then " + std::to_string(count));
            small c;
            fill(c, 0, before);
            c.append(source.data() + before, count);
            fill(c, before + count, before + count + 1);
            expectvalues(c, before + count + 1);
        }
    }
}

} // namespace
