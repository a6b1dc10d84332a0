// The open documents and their analysis: each document's text as the editor holds it, the
// compiler's result for it (with warnings and compact byte origins), the included files as they
// were read, and the statement outline. Included files (`also NAME` reads NAME.ZVEX) are
// looked up in the document's directory; an open document at that path is read from the
// editor's text rather than from disk.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outline.h"
#include "zv.hpp"

namespace zvlsp {

struct includedfile {
    std::string path; // where it was read from
    std::string text; // as read
};

// Where hover places a title node of a compilation in the document.
struct placement {
    bool placed = false;      // where it stands in the document is known
    bool sourcetitle = false; // its title is the document's text at begin..end
    std::uint32_t begin = 0, end = 0;
};

// What hover reads of one compilation of a document: the text compiled, its byte code, the
// compiler's compact map of its nodes and the node of each byte, and where hover places
// the nodes. A large document has millions of nodes: most stand where the map says, with
// the document's text there as their title, or are not in the document at all; only the
// others are kept here, and titles are read from the map when shown.
struct analysis {
    std::shared_ptr<const std::string> text; // the document's own while it is current
    std::vector<std::uint8_t> code;
    std::shared_ptr<const zv::originmap> origins;
    std::string file;         // the document's name in the map
    std::int32_t fileid = -1; // and its index there
    // The nodes of the document placed otherwise, by node.
    std::vector<std::pair<std::uint32_t, placement>> unusual;
    // The nodes but the root in groups, one per statement at the top of the program (a
    // child of the root, its descendants after it up to the next group's first node): the
    // document bytes its placed nodes cover and the code bytes they compiled to, both
    // empty when there are none. A hover reads the groups around the cursor alone. None
    // for code of 4 GiB or more, read whole.
    struct group {
        std::uint32_t first = 0;
        std::uint32_t begin = 0, end = 0;
        std::uint32_t codebegin = 0, codeend = 0;
    };
    std::vector<group> groups;
    // The end of the nodes of group `g`.
    std::size_t groupend(std::size_t g) const {
        return g + 1 < groups.size() ? groups[g + 1].first : size();
    }
    // The group of `node` (not the root's), or groups.size() when there is none.
    std::size_t groupof(std::size_t node) const;
    // The first of the nodes placed otherwise that is `node` or after it.
    std::vector<std::pair<std::uint32_t, placement>>::const_iterator
    unusualfrom(std::size_t node) const;
    std::size_t size() const { return origins ? origins->size() : 0; }
    // Where the map places `node` in the document, if it is there; from its brief.
    placement mapped(std::size_t node) const { return mapped(origins->briefof(node)); }
    placement mapped(const zv::originmap::brief& b) const;
    // The placement of `node`.
    placement at(std::size_t node) const;
    std::string title(std::size_t node, const placement& p) const {
        if (p.sourcetitle) return text->substr(p.begin, p.end - p.begin);
        return origins->title(node);
    }
};

struct document {
    std::string uri;
    std::string path; // the file's path, or the URI when it names no file
    // The text is shared, not copied, with what is made of it: its compilation's origins,
    // the analysis hover reads and the outline. An edit lets them go first (they describe
    // the text before it), so that the text is edited in place.
    std::shared_ptr<std::string> text = std::make_shared<std::string>();
    long long version = 0;
    // Its diagnostics, and until hover first asks, its byte code and origins.
    zv::result compiled;
    // The compilation hover reads, made from `compiled` when first asked for.
    std::shared_ptr<const analysis> current;
    // The last text that compiled without errors, and its compilation when asked for:
    // hover keeps working on the parts of the text that have not changed since. That text
    // is kept without a copy of a large document: it is `text` itself while `clean`, else
    // `text` with the edits since undone (`undo`, the latest last), else `cleancopy`.
    bool clean = false;
    struct undoedit {
        std::size_t begin = 0, length = 0; // the bytes an edit put in
        std::string before;                // the bytes they replaced
    };
    std::vector<undoedit> undo;
    std::optional<std::string> cleancopy;
    std::shared_ptr<const analysis> lastgood;
    // Edits past this many are undone into `cleancopy` at once: undoing each costs a pass
    // over the text.
    static constexpr std::size_t undolimit = 64;

    // Replaces the bytes `begin`..`end` of the text with `replacement`, keeping what takes
    // the text back to the last one without errors.
    void replace(std::size_t begin, std::size_t end, std::string replacement);
    // The last text that compiled without errors; std::nullopt when there was none.
    std::optional<std::string> cleantext() const;
    bool hasclean() const { return clean || !undo.empty() || cleancopy.has_value(); }
    std::map<std::string, includedfile> included; // by the name the compiler opened
    std::vector<std::string> lookedfor;           // every path an include was read from
    std::unique_ptr<outline> tree;                // split when first asked for

    const outline& statements();
    // The directory included files are read from.
    std::string basedir() const;
    // The text of a file the compiler names: this document or one it included.
    const std::string* textof(const std::string& file) const;
    // The path of a file the compiler names, for URIs.
    std::string pathof(const std::string& file) const;
};

class workspace {
  public:
    document& open(const std::string& uri, std::string text, long long version);
    void close(const std::string& uri);
    document* find(const std::string& uri);
    const document* find(const std::string& uri) const;
    // Every open document, in the order of their URIs.
    std::vector<const document*> all() const;

    // Compiles `doc` again (after its text changed), once for its diagnostics and hover.
    void analyse(document& doc);
    // The compilation of `doc`'s text with byte origins, for hover.
    const analysis& current(document& doc) const;
    // The compilation of the last text of `doc` without errors; null when there was none.
    const analysis* lastgood(document& doc) const;
    // The open documents that included the file at `path` when last compiled.
    std::vector<document*> dependants(const std::string& path);
    // The text of the file at `path`: the editor's when open there, else the file's.
    std::optional<std::string> read(const std::string& path) const;

  private:
    zv::options optionsfor(const document& doc) const;
    std::shared_ptr<const analysis> analysisof(const document& doc, std::string text) const;

    std::map<std::string, std::unique_ptr<document>> documents; // by URI
};

} // namespace zvlsp
