// The statement outline as it was first written, kept as a reference for the flat outline
// the server uses: every statement with its own vectors of words and body statements. The
// outline tests split the same texts with both and compare every statement.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zvlspref {

struct word {
    std::size_t offset = 0; // byte offset in the document
    std::string_view text;  // a view of the outline's text
    std::size_t end() const { return offset + text.size(); }
};

struct statement {
    std::vector<word> words;
    std::vector<statement> body;
    int bodyword = -1;
    bool keyword = false;
    bool block = false;
    std::size_t begin() const { return words.front().offset; }
    std::size_t end() const { return words.back().end(); }
};

class outline {
  public:
    explicit outline(std::string text);
    outline(const outline&) = delete;
    outline& operator=(const outline&) = delete;

    const std::vector<statement>& statements() const { return top; }

  private:
    std::string source; // with each CR of a CR LF made a blank
    std::vector<statement> top;
};

} // namespace zvlspref
