// Statement splitting. One pass over the text with five nesting counters; while their sum
// is positive, blanks and line ends are ordinary characters of the current word, so a
// code block in braces is one word however many lines it spans.
#include "parser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "context.h"
#include "language.h"
#include "packer.h"
#include "sourceindex.h"

namespace {

bool isblank(char c) {
    return c == ' ' || c == '\t';
}

// Characters that can change the parser's state: quotes and brackets everywhere, and at
// depth zero also blanks and line ends. Runs of other characters are copied whole.
constexpr char insidebytes[] = "\"'[]{}()";
constexpr char outsidebytes[] = "\"'[]{}() \t\n";
struct specialtable {
    bool inside[256] = {};
    bool outside[256] = {};
    // Inside braces with no string open, parentheses are not counted and a quote is raised
    // and lowered on the same character: only braces and square brackets matter.
    bool inbraces[256] = {};
    specialtable() {
        for (unsigned char c : std::string_view(insidebytes)) inside[c] = true;
        for (unsigned char c : std::string_view(outsidebytes)) outside[c] = true;
        for (unsigned char c : std::string_view("[]{}")) inbraces[c] = true;
    }
};
const specialtable special;

// The offset of the first brace or square bracket in `text`, or its size. Code blocks are
// parsed again at every level of nesting, so this scan carries most of the parser's work
// on deeply nested programs; it tests sixteen bytes at a time where the processor can.
std::size_t findbracket(std::string_view text) {
    std::size_t at = 0;
#if defined(__SSE2__)
    // "[" and "]" differ from "{" and "}" only in bit 0x20.
    const __m128i fold = _mm_set1_epi8(0x20);
    const __m128i brace = _mm_set1_epi8('{');
    const __m128i closing = _mm_set1_epi8('}');
    for (; at + 16 <= text.size(); at += 16) {
        const __m128i chunk =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at)), fold);
        const int hits = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, brace), _mm_cmpeq_epi8(chunk, closing)));
        if (hits != 0) return at + static_cast<std::size_t>(__builtin_ctz(hits));
    }
#endif
    while (at < text.size() && !special.inbraces[static_cast<unsigned char>(text[at])]) ++at;
    return at;
}

// The offset of the first byte of `text` that `table` marks, or its size; `set` holds the
// bytes it marks, tested sixteen at a time where the processor can. Words and the stretches
// between brackets are short, so most runs end in the first sixteen bytes.
template <std::size_t count>
std::size_t findfirst(std::string_view text, const bool* table,
                      [[maybe_unused]] const char (&set)[count]) {
    std::size_t at = 0;
#if defined(__SSE2__)
    for (; at + 16 <= text.size(); at += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        __m128i hits = _mm_setzero_si128();
        for (std::size_t i = 0; i + 1 < count; ++i)
            hits = _mm_or_si128(hits, _mm_cmpeq_epi8(chunk, _mm_set1_epi8(set[i])));
        const int mask = _mm_movemask_epi8(hits);
        if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    while (at < text.size() && !table[static_cast<unsigned char>(text[at])]) ++at;
    return at;
}

// The first quote or bracket, inside brackets other than braces.
std::size_t findinside(std::string_view text) {
    return findfirst(text, special.inside, insidebytes);
}

// The five nesting counters. 64 bits wide, so that no text the compiler accepts can
// overflow them.
struct markers {
    explicit markers(compilation& in) : owner(&in) {}
    compilation* owner;          // where messages go and places are found
    std::int64_t codeblock = 0;  // "{" ... "}"
    std::int64_t expression = 0; // "(" ... ")"
    std::int64_t list = 0;       // "[" ... "]"
    std::int64_t string1 = 0;    // double quote
    std::int64_t string2 = 0;    // single quote

    std::int64_t sum() const { return codeblock + expression + list + string1 + string2; }
    bool zero() const {
        return codeblock == 0 && expression == 0 && list == 0 && string1 == 0 && string2 == 0;
    }
    bool inbraces() const { return codeblock > 0 && string1 <= 0 && string2 <= 0; }
    bool outsidestrings() const { return string1 <= 0 && string2 <= 0; }

    // Raises the counter that `c` opens, if any.
    void open(char c) {
        if (c == '"' && string1 <= 0) {
            ++string1;
        } else if (c == '\'' && string2 <= 0) {
            ++string2;
        } else if (c == '[' && outsidestrings() && list <= 0) {
            ++list;
        } else if (c == '{' && outsidestrings() && expression <= 0) {
            ++codeblock;
        } else if (c == '(' && outsidestrings() && codeblock <= 0) {
            ++expression;
        }
    }

    // Lowers the counter that `c`, at `at`, closes, if any; only called at positive depth.
    void close(char c, const char* at) {
        if (c == '}' && outsidestrings() && expression <= 0) {
            if (codeblock <= 0) throw parserexit{52, owner->locate({at, 1})};
            --codeblock;
        } else if (c == ')' && outsidestrings() && codeblock <= 0) {
            if (expression <= 0) throw parserexit{54, owner->locate({at, 1})};
            --expression;
        } else if (c == '"') {
            --string1;
        } else if (c == '\'') {
            --string2;
        } else if (c == ']') {
            if (list <= 0) {
                owner->events.push_back(parserevent{0, "PARSER FAILURE", owner->locate({at, 1})});
            }
            --list;
        }
    }
};

// The statement parser's own line for a text that ends with brackets open.
std::string unclosedline(const markers& depth) {
    return "parser error, markers over 1, grammatically not valid." +
           std::to_string(depth.codeblock) + "/" + std::to_string(depth.expression) + "/" +
           std::to_string(depth.string1) + "/" + std::to_string(depth.string2) + "/0/" +
           std::to_string(depth.list) + "/";
}

// The opening character that leaves `target` unclosed: the counters are run again, each
// with the places of the characters that raised it, and the latest opening still open is
// the one. Only called for a text that ends unclosed.
std::string_view unclosed(compilation& comp, std::string_view target) {
    markers depth(comp);
    std::vector<std::size_t> opened[5];
    std::int64_t* counters[5] = {&depth.codeblock, &depth.expression, &depth.list, &depth.string1,
                                 &depth.string2};
    for (std::size_t index = 0; index < target.size(); ++index) {
        const char c = target[index];
        const std::int64_t markersum = depth.sum();
        if (c == '\n' && markersum <= 0) continue;
        std::int64_t before[5];
        for (int k = 0; k < 5; ++k) before[k] = *counters[k];
        depth.open(c);
        try {
            if (markersum > 0) depth.close(c, target.data() + index);
        } catch (const parserexit&) { return target.substr(index, 1); }
        for (int k = 0; k < 5; ++k) {
            if (*counters[k] > before[k]) opened[k].push_back(index);
            if (*counters[k] < before[k] && !opened[k].empty()) opened[k].pop_back();
        }
    }
    std::size_t latest = target.size();
    for (int k = 0; k < 5; ++k) {
        if (*counters[k] > 0 && !opened[k].empty() &&
            (latest == target.size() || opened[k].back() > latest)) {
            latest = opened[k].back();
        }
    }
    return latest < target.size() ? target.substr(latest, 1) : target.substr(0, 0);
}

// Records where code blocks end while the splitter runs over a block that opened with every
// counter at zero (the root). A block is remembered when its run raised no message and the
// list counter stood at zero where it opened and where it closed: a run starting at its "{"
// alone would then take exactly the same steps and end at its "}" with every counter at
// zero. Only long blocks are remembered, and only in the source texts, whose addresses stay.
class blockrecorder {
  public:
    blockrecorder(compilation& in, std::string_view text, std::size_t root)
        : owner(in), text(text) {
        open.push_back({root, true});
    }
    bool active() const { return !open.empty(); }
    // Called with the character at `at` and the counters before it is counted.
    void before(char c, std::size_t at, const markers& depth) {
        if (c == '{') {
            open.push_back({at, depth.list == 0});
        } else if (c == ']' && depth.list <= 0) {
            // A message: no block open now can be skipped.
            cleanfrom = open.size();
        }
    }
    // Called after a "}" at `at` closed a block.
    void closed(std::size_t at, const markers& depth) {
        const auto [begin, clean] = open.back();
        open.pop_back();
        const bool same = clean && open.size() >= cleanfrom && depth.list == 0;
        cleanfrom = std::min(cleanfrom, open.size());
        const std::size_t length = at + 1 - begin;
        if (!same || length < compilation::rememberfrom) return;
        if (!insource) insource = owner.insource(text) ? 1 : -1;
        if (insource > 0)
            owner.blockends.remember(text.data() + begin, static_cast<std::uint32_t>(length));
    }

  private:
    compilation& owner;
    std::string_view text;
    std::vector<std::pair<std::size_t, bool>> open;
    std::size_t cleanfrom = 0; // blocks open below this depth ran over a message
    int insource = 0;
};

// Whether the line at the start of `line` (its indentation skipped) starts a statement: it
// begins with a statement keyword standing alone, or with a name followed by " = ".
bool startsstatement(std::string_view line) {
    std::size_t end = 0;
    while (end < line.size() && !isblank(line[end]) && line[end] != '\n') ++end;
    if (end == 0) return false;
    if (findform(line.substr(0, end)) != nullptr) return true;
    return line.substr(end).starts_with(" = ");
}

std::size_t indentation(std::string_view text, std::size_t linestart) {
    std::size_t at = linestart;
    while (at < text.size() && isblank(text[at])) ++at;
    return at - linestart;
}

std::size_t linestartof(std::string_view text, std::size_t at) {
    return at == 0 ? 0 : text.rfind('\n', at - 1) + 1;
}

// Whether the line after the line feed at `feed` starts a statement, for a text that left
// open the opener at `opener`: it does as `startsstatement` says, or when it begins with a
// call no deeper indented than the opener's line (as an expression statement does).
bool nextstartsstatement(std::string_view text, std::size_t feed, std::size_t opener) {
    const std::size_t indent = indentation(text, feed + 1);
    const std::size_t first = feed + 1 + indent;
    if (first >= text.size()) return false;
    if (startsstatement(text.substr(first))) return true;
    // A call: a name, possibly with members, and "(".
    std::size_t end = first;
    const auto namechar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '@' || c == '.';
    };
    while (end < text.size() && namechar(text[end])) ++end;
    const bool call = end > first && end < text.size() && text[end] == '(' &&
                      !(text[first] >= '0' && text[first] <= '9');
    return call && indent <= indentation(text, linestartof(text, opener));
}

// One split of `target` with repairs, character by character in the plain split's steps:
// stray "}" and ")" are reported and not counted, and at each line feed of `cuts` every
// bracket still open is reported and closed. Returns the offsets of the openers still open
// at the end, which are reported too.
std::vector<std::size_t> splitrepaired(compilation& comp, std::string_view target,
                                       const std::vector<std::size_t>& cuts, splitwords& out,
                                       splitrepairs& repairs) {
    out.words.clear();
    out.ends.clear();
    repairs.broken.clear();
    repairs.problems.clear();
    std::size_t wordstart = 0, wordend = 0;
    const auto append = [&](std::size_t from, std::size_t to) {
        if (wordend == wordstart) wordstart = from;
        wordend = to;
    };
    bool broken = false;
    const auto endstatement = [&] {
        out.words.push_back(target.substr(wordstart, wordend - wordstart));
        wordstart = wordend = 0;
        out.ends.push_back(out.words.size());
        repairs.broken.push_back(broken);
        broken = false;
    };
    markers depth(comp);
    std::vector<std::size_t> opened[5]; // by counter, the places of the openers still open
    const auto counters = [&] {
        return std::array<std::int64_t, 5>{depth.codeblock, depth.expression, depth.list,
                                           depth.string1, depth.string2};
    };
    // Closes every opener still open and reports the latest of them (a stray closer taken
    // as absent may leave its opener open: "[}" reports both). True when every one of them
    // was a brace ending its line: a code block left open, which is cut here and compiled.
    const auto closeall = [&] {
        std::vector<std::size_t> open;
        for (const auto& kind : opened) open.insert(open.end(), kind.begin(), kind.end());
        std::sort(open.begin(), open.end());
        if (!open.empty()) {
            repairs.problems.push_back(splitproblem{51, open.back(), unclosedline(depth)});
        }
        bool block = true;
        for (int k = 1; k < 5; ++k) block = block && opened[k].empty();
        for (const std::size_t at : opened[0]) {
            const std::size_t next = target.find_first_not_of(" \t", at + 1);
            block = block && next != std::string_view::npos && target[next] == '\n';
        }
        for (auto& kind : opened) kind.clear();
        depth = markers(comp);
        return std::pair{block, open};
    };
    // The latest opener still open that is no brace, or the latest brace.
    const auto latestopen = [&] {
        std::size_t latest = 0;
        for (int k = 1; k < 5; ++k) {
            if (!opened[k].empty()) latest = std::max(latest, opened[k].back());
        }
        if (latest == 0 && !opened[0].empty()) latest = opened[0].back();
        return latest;
    };
    bool ignspace = false;
    std::size_t nextcut = 0;
    for (std::size_t index = 0; index < target.size(); ++index) {
        const char TS = target[index];
        std::int64_t markersum = depth.sum();
        if (TS == '\n') {
            while (nextcut < cuts.size() && cuts[nextcut] < index) ++nextcut;
            if (markersum > 0 && nextcut < cuts.size() && cuts[nextcut] == index) {
                const bool block = closeall().first;
                if (block) {
                    append(index, index + 1); // the code block's last character
                } else {
                    broken = true;
                }
                markersum = 0;
            } else if (markersum > 0 && nextstartsstatement(target, index, latestopen())) {
                // Parentheses, lists and strings opened since the innermost open code
                // block (or at all, outside blocks) are left open on this line.
                const std::size_t block = opened[0].empty() ? 0 : opened[0].back() + 1;
                std::int64_t* const counter[5] = {&depth.codeblock, &depth.expression, &depth.list,
                                                  &depth.string1, &depth.string2};
                bool inner = false;
                for (int k = 1; k < 5; ++k) {
                    inner = inner || (!opened[k].empty() && opened[k].back() >= block);
                }
                if (inner && opened[0].empty()) {
                    // Outside blocks: the statement ends here.
                    closeall();
                    broken = true;
                    markersum = 0;
                } else if (inner) {
                    // Inside a block: dropped here; the block's own split reports them.
                    for (int k = 1; k < 5; ++k) {
                        while (!opened[k].empty() && opened[k].back() >= block) {
                            opened[k].pop_back();
                            --*counter[k];
                        }
                    }
                    markersum = depth.sum();
                }
            }
            if (markersum <= 0) {
                endstatement();
                ignspace = true;
                continue;
            }
        }
        const auto before = counters();
        depth.open(TS);
        if (markersum > 0) {
            const bool strings = depth.outsidestrings();
            const bool straybrace =
                TS == '}' && strings && depth.expression <= 0 && depth.codeblock <= 0;
            const bool strayparen =
                TS == ')' && strings && depth.codeblock <= 0 && depth.expression <= 0;
            const bool straybracket = TS == ']' && depth.list <= 0;
            // A "}" that closes a code block while a "[" opened inside the block is still
            // open: the block's own split reports the "[". Here it is dropped; when it
            // stands on the line of the "}" (as in "[}"), the "}" is taken for its closer
            // and dropped too, else the "}" closes the block.
            const bool blockclose = TS == '}' && strings && depth.expression <= 0 &&
                                    depth.codeblock > 0 && !opened[2].empty() &&
                                    !opened[0].empty() && opened[2].back() > opened[0].back();
            bool dropclose = false;
            if (blockclose) {
                const std::size_t innerlist = opened[2].back();
                dropclose = target.substr(innerlist, index - innerlist).find('\n') ==
                            std::string_view::npos;
                while (!opened[2].empty() && opened[2].back() > opened[0].back()) {
                    opened[2].pop_back();
                    --depth.list;
                }
            }
            if (dropclose) {
                // Neither counted nor reported at this level.
            } else if (straybrace || strayparen) {
                repairs.problems.push_back(splitproblem{straybrace ? 52 : 54, index, {}});
                broken = true;
            } else if (straybracket) {
                // Reported as the plain split reports it, and not counted. Inside a code
                // block it leaves the statement whole: the block's own split meets it again
                // and takes out the statement inside the block that holds it.
                comp.events.push_back(
                    parserevent{0, "PARSER FAILURE", comp.locate(target.substr(index, 1))});
                if (depth.codeblock <= 0) broken = true;
            } else {
                depth.close(TS, target.data() + index);
            }
        }
        const auto after = counters();
        for (int k = 0; k < 5; ++k) {
            if (after[k] > before[k]) opened[k].push_back(index);
            if (after[k] < before[k] && !opened[k].empty()) opened[k].pop_back();
        }
        if (isblank(TS) && ignspace) continue;
        ignspace = false;
        if (depth.sum() <= 0 && isblank(TS)) {
            out.words.push_back(target.substr(wordstart, wordend - wordstart));
            wordstart = wordend = 0;
            continue;
        }
        append(index, index + 1);
    }
    std::vector<std::size_t> leftopen;
    if (depth.sum() > 0) {
        auto [block, open] = closeall();
        if (!block) broken = true;
        leftopen = std::move(open);
    }
    endstatement();
    return leftopen;
}

// Whether a word of the split, other than a code block in braces, runs over a line that
// starts a statement: a bracket or string left open that a later line happens to close
// ("x = [1" and, lines later, "y = f([2])"). The split accepts it; the keep-going split
// does not.
// A code block in braces is looked into for a "}" that ends a block while a "[" opened in
// it is still open ("r = [}"), which the split takes for the end of the block.
bool listacrossblockend(std::string_view block) {
    std::vector<std::int64_t> lists; // per open block, the lists opened in it and open
    for (std::size_t at = findbracket(block); at < block.size();
         at += 1 + findbracket(block.substr(at + 1))) {
        switch (block[at]) {
        case '{':
            lists.push_back(0);
            break;
        case '}':
            if (!lists.empty() && lists.back() > 0) return true;
            if (!lists.empty()) lists.pop_back();
            break;
        case '[':
            if (!lists.empty()) ++lists.back();
            break;
        default:
            if (!lists.empty() && lists.back() > 0) --lists.back();
            break;
        }
    }
    return false;
}

// A block found clean is remembered, and so is every block inside it, which the block's
// own split meets later: each text is looked into once, however deep it nests.
bool runsoverstatements(compilation& c, std::string_view target, const splitwords& split) {
    const bool clean = !target.empty() && c.cleanblocks.count(target.data() - 1) != 0;
    for (const std::string_view word : split.words) {
        if (word.size() >= 2 && word.front() == '{' && word.back() == '}') {
            if (!clean && listacrossblockend(word)) return true;
            c.cleanblocks.insert(word.data());
            continue;
        }
        const std::size_t base = static_cast<std::size_t>(word.data() - target.data());
        for (std::size_t feed = word.find('\n'); feed != std::string_view::npos;
             feed = word.find('\n', feed + 1)) {
            if (nextstartsstatement(target, base + feed, base)) return true;
        }
    }
    return false;
}

} // namespace

std::size_t closingline(std::string_view text, std::size_t at) {
    const std::size_t linestart = linestartof(text, at);
    const std::size_t ownindent = indentation(text, linestart);
    const bool brace = text[at] == '{';
    for (std::size_t feed = text.find('\n', at); feed != std::string_view::npos;
         feed = text.find('\n', feed + 1)) {
        const std::size_t indent = indentation(text, feed + 1);
        const std::size_t first = feed + 1 + indent;
        if (first >= text.size() || text[first] == '\n') continue;
        if (brace && indent > ownindent) continue;
        if (startsstatement(text.substr(first))) return feed;
    }
    return std::string_view::npos;
}

void parsekeepgoing(std::string_view target, splitwords& out, splitrepairs& repairs) {
    parsekeepgoing(current(), target, out, repairs);
}

void parsekeepgoing(compilation& comp, std::string_view target, splitwords& out,
                    splitrepairs& repairs) {
    repairs.broken.clear();
    repairs.problems.clear();
    std::vector<parserevent>& events = comp.events;
    const std::size_t recorded = events.size();
    try {
        parsewords(comp, target, 0, out);
        if (events.size() == recorded && !runsoverstatements(comp, target, out)) {
            repairs.broken.assign(out.ends.size(), false);
            return;
        }
    } catch (const parserexit&) {}
    // Split again with repairs; the repaired split reports what it meets.
    // Openers left open are closed at a line chosen for each, and the text split again; a
    // second round catches openers that the first round's closings left open. An opener
    // that finds no line stays open to the end of the text, with every later one.
    constexpr int rounds = 3;
    std::vector<std::size_t> cuts;
    for (int round = 0;; ++round) {
        events.resize(recorded);
        const std::vector<std::size_t> leftopen = splitrepaired(comp, target, cuts, out, repairs);
        if (leftopen.empty() || round + 1 == rounds) return;
        std::vector<std::size_t> more;
        std::size_t after = 0;
        for (const std::size_t at : leftopen) {
            if (at < after) continue;
            const std::size_t line = closingline(target, at);
            if (line == std::string_view::npos) break;
            more.push_back(line);
            after = line;
        }
        if (more.empty()) return;
        std::vector<std::size_t> merged;
        std::merge(cuts.begin(), cuts.end(), more.begin(), more.end(), std::back_inserter(merged));
        merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
        cuts = std::move(merged);
    }
}

void parsewords(std::string_view target, int debug, splitwords& out) {
    parsewords(current(), target, debug, out);
}

void parsewords(compilation& comp, std::string_view target, int debug, splitwords& out) {
    if (debug == 1) {
        std::puts("debugging mode is activated, printing debug information while parsing.");
        std::fflush(stdout);
    }
    out.words.clear();
    out.ends.clear();
    // Every word is one stretch of the text: the characters dropped (line ends that end a
    // statement, blanks after them, the blank that cuts a word) all stand between words.
    std::size_t wordstart = 0;
    std::size_t wordend = 0;
    const auto append = [&](std::size_t from, std::size_t to) {
        if (wordend == wordstart) wordstart = from;
        wordend = to;
    };
    const auto word = [&] {
        const std::string_view done = target.substr(wordstart, wordend - wordstart);
        wordstart = wordend = 0;
        return done;
    };
    markers depth(comp);
    bool ignspace = false;
    std::size_t rootblock = std::string_view::npos; // a block opened at zero, to record
    const endmemo& blockends = comp.blockends;
    groupcursor cursor(target);

    for (std::size_t index = 0; index < target.size(); ++index) {
        const char TS = target[index];
        if (debug != 0) {
            std::printf("%zu/%c\n", index, TS);
            if (TS == '\n') std::puts("detected newline, reset");
            std::fflush(stdout);
        }
        const std::int64_t markersum = depth.sum();
        if (debug == 0 && markersum > 0) {
            // Inside brackets only quotes and brackets change anything, and no blank is
            // being dropped (the opening character that raised the depth ended that): run
            // the counters over the text up to the character that brings the depth back to
            // zero, and add the whole stretch to the word at once.
            const std::size_t start = index;
            const bool* stops = depth.inbraces() ? special.inbraces : special.inside;
            std::optional<blockrecorder> recorder;
            if (rootblock == start - 1) recorder.emplace(comp, target, rootblock);
            rootblock = std::string_view::npos;
            while (index < target.size()) {
                index += stops == special.inbraces ? findbracket(target.substr(index))
                                                   : findinside(target.substr(index));
                if (index >= target.size()) break;
                const char c = target[index++];
                if (!stops[static_cast<unsigned char>(c)]) continue;
                const bool recording = recorder && recorder->active() && stops == special.inbraces;
                if (recording) recorder->before(c, index - 1, depth);
                depth.open(c);
                depth.close(c, target.data() + index - 1);
                if (recording && c == '}') recorder->closed(index - 1, depth);
                if (depth.sum() <= 0) break;
                stops = depth.inbraces() ? special.inbraces : special.inside;
            }
            append(start, index);
            ignspace = false;
            --index;
            continue;
        }
        if (debug == 0 && !special.outside[static_cast<unsigned char>(TS)]) {
            // A run of ordinary characters at depth zero joins the word at once.
            const std::size_t start = index;
            index = cursor.next(index, groupcursor::marksorbreaks);
            append(start, index);
            ignspace = false;
            --index;
            continue;
        }
        if (debug == 0 && markersum <= 0 && isblank(TS)) {
            // A blank at depth zero opens and closes nothing: dropped after a line end that
            // ended a statement, else it cuts the word and is not part of it.
            if (!ignspace) out.words.push_back(word());
            continue;
        }
        if (debug == 0 && TS == '{' && depth.zero()) {
            // A block an enclosing level has run over already is one stretch of the word.
            const std::uint32_t known = blockends.find(target.data() + index);
            if (known > 0 && index + known <= target.size()) {
                append(index, index + known);
                ignspace = false;
                index += known - 1;
                continue;
            }
            rootblock = index;
        }
        if (TS == '\n' && markersum <= 0) {
            out.words.push_back(word());
            out.ends.push_back(out.words.size());
            ignspace = true;
            continue;
        }
        depth.open(TS);
        if (markersum > 0) depth.close(TS, target.data() + index);
        if (isblank(TS) && ignspace) continue;
        ignspace = false;
        if (depth.sum() <= 0 && isblank(TS)) {
            // A blank at depth zero cuts the word and is not part of it.
            out.words.push_back(word());
            continue;
        }
        append(index, index + 1);
    }
    out.words.push_back(word());
    out.ends.push_back(out.words.size());

    if (depth.sum() > 0) {
        const std::string message = unclosedline(depth);
        // The replay may meet a stray "]" again; its message was recorded already.
        const std::size_t recorded = comp.events.size();
        const span where = comp.locate(unclosed(comp, target));
        comp.events.resize(recorded);
        comp.events.push_back(parserevent{51, message, where});
        throw parserexit{51, where};
    }
}

parsedviews parsewords(std::string_view target, int debug) {
    splitwords split;
    parsewords(target, debug, split);
    parsedviews out;
    out.reserve(split.ends.size());
    std::size_t from = 0;
    for (const std::size_t end : split.ends) {
        out.emplace_back(split.words.begin() + static_cast<std::ptrdiff_t>(from),
                         split.words.begin() + static_cast<std::ptrdiff_t>(end));
        from = end;
    }
    return out;
}

parsed parse(std::string_view target, int debug) {
    parsed out;
    for (const std::vector<std::string_view>& statement : parsewords(target, debug)) {
        out.emplace_back(statement.begin(), statement.end());
    }
    return out;
}
