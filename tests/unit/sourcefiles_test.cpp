// Which source text a view lies in: the compiler asks for every title it opens, and a
// program may include thousands of files. Checked against reading every text, the latest
// first, for texts apart in memory and for texts that overlap; and end to end, the file of
// every node of a program that includes a library hundreds of times.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "context.h"
#include "zv.hpp"

namespace {

// Every text read, the latest first.
std::int32_t everytext(const compilation& c, std::string_view view) {
    for (std::size_t i = c.files.size(); i-- > 0;) {
        const std::string_view whole = c.files[i]->text;
        const auto at = reinterpret_cast<std::uintptr_t>(view.data());
        const auto from = reinterpret_cast<std::uintptr_t>(whole.data());
        if (at >= from && at + view.size() <= from + whole.size())
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

// Views in, across, around and past every text of `c`, and at their ends.
void agree(const compilation& c, std::mt19937& random) {
    for (const auto& file : c.files) {
        const std::string_view whole = file->text;
        const std::size_t n = whole.size();
        std::vector<std::string_view> views{whole.substr(0, 0), whole.substr(n), whole};
        for (int i = 0; i < 8 && n > 0; ++i) {
            const std::size_t from = std::uniform_int_distribution<std::size_t>(0, n)(random);
            const std::size_t length =
                std::uniform_int_distribution<std::size_t>(0, n - from)(random);
            views.push_back(whole.substr(from, length));
        }
        if (n > 0) {
            views.emplace_back(whole.data() - 1, 1);         // just before
            views.emplace_back(whole.data() + n - 1, 2);     // one past the end
            views.emplace_back(whole.data() + n / 2, n + 8); // well past it
        }
        for (const std::string_view view : views) {
            EXPECT_EQ(c.fileholding(view), everytext(c, view))
                << "view of " << view.size() << " bytes at " << view.data() - whole.data();
        }
    }
    EXPECT_EQ(c.fileholding("a title word"), -1);
}

TEST(SourceFiles, TextsApartAreFoundAsByReadingEveryText) {
    std::mt19937 random(11);
    for (const std::size_t count :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{2000}}) {
        SCOPED_TRACE(count);
        std::vector<std::unique_ptr<std::string>> texts;
        compilation c;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 300)(random);
            texts.push_back(std::make_unique<std::string>(size, 'x'));
            c.addfile(std::to_string(i), *texts.back());
        }
        agree(c, random);
        // Taken as a whole again, the index is empty.
        c.reset();
        EXPECT_EQ(c.fileholding(*texts.front()), -1);
    }
}

TEST(SourceFiles, OverlappingTextsGiveTheLatestThatHoldsTheView) {
    std::mt19937 random(12);
    const std::string buffer(4000, 'y');
    const std::string_view all = buffer;
    // Nested, overlapping, equal and touching texts of one buffer.
    const std::vector<std::pair<std::size_t, std::size_t>> layouts[] = {
        {{0, 4000}, {100, 200}},
        {{100, 200}, {0, 4000}},
        {{0, 2000}, {1500, 1000}, {1500, 1000}},
        {{0, 1000}, {1000, 1000}},
        {{1000, 0}, {0, 1000}, {1000, 3000}},
    };
    for (const auto& layout : layouts) {
        compilation c;
        for (const auto& [from, length] : layout) c.addfile("f", all.substr(from, length));
        agree(c, random);
    }
}

TEST(SourceFiles, EveryNodeOfAProgramIncludingALibraryHundredsOfTimesHasItsFile) {
    std::string program;
    constexpr int includes = 300;
    for (int i = 0; i < includes; ++i) {
        program += "also lib\nv = sq(";
        program += std::to_string(i);
        program += ")\n";
    }
    zv::options options;
    options.name = "main.zv";
    options.compactorigins = true;
    options.readinclude = [](const std::string&) -> std::optional<std::string> {
        return std::string("def sq(x) {\n  return x*x\n}\n");
    };
    const zv::result r = zv::compile(program, options);
    ASSERT_TRUE(r.ok());
    ASSERT_TRUE(r.compactorigins);
    const zv::originmap& nodes = *r.compactorigins;
    std::size_t inlib = 0, inmain = 0;
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        if (!nodes.located(n)) continue;
        const std::string title = nodes.title(n);
        if (nodes.file(n) == "main.zv") {
            ++inmain;
            EXPECT_EQ(program.substr(nodes.offset(n), title.size()), title) << n;
        } else {
            ++inlib;
            EXPECT_EQ(nodes.file(n), "lib.ZVEX");
            EXPECT_EQ(title.find("v = "), std::string::npos) << title;
        }
    }
    EXPECT_GE(inlib, static_cast<std::size_t>(includes) * 3);
    EXPECT_GE(inmain, static_cast<std::size_t>(includes) * 2);
    EXPECT_EQ(r.sources.size(), includes + 1u);
}

} // namespace
