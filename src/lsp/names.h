// The names of a document and of the files it includes, for the editing features: every
// definition (functions with their parameters, classes, methods, assigned names, fields,
// globals, parameters, loop variables) and every occurrence of a name, read from the
// statement outline and the semantic tokens. A file the statement splitter refuses as a
// whole (an unclosed bracket while typing) is read line by line instead, each line closed
// as it would be, so the rest of the file keeps its names.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lspvalues.h"
#include "outline.h"
#include "workspace.h"

namespace zvlsp {

// Files beyond this many (the document and everything it includes) are not read.
constexpr std::size_t maxscopefiles = 64;

// A piece of a file split on its own: the whole file, or one line of it in the fallback.
struct filepart {
    std::size_t base = 0;   // offset of the piece in the file
    std::size_t length = 0; // bytes of the file it covers
    std::string_view text;  // what was split: the piece, with closers added in the fallback
    std::unique_ptr<const std::string> mended; // `text` when it is not the file's own
    std::unique_ptr<const outline> owned;      // `tree` when it is not the document's
    const outline* tree = nullptr;
};

struct scopefile {
    std::string uri, path;
    std::string_view text;                    // the document's own text, or `owned`
    std::unique_ptr<const std::string> owned; // an included file's text, as read
    std::vector<filepart> parts;
    bool whole = true; // split as a whole (not line by line)
};

enum class namekind { function, method, cls, variable, global, field, parameter };

struct definition {
    std::string key;  // in the form of `lookupkey`
    std::string name; // as written, without the '@' of a field
    namekind kind = namekind::variable;
    std::size_t file = 0;                   // index into the scope's files
    std::size_t begin = 0, end = 0;         // the name in its file
    std::size_t stmtbegin = 0, stmtend = 0; // the defining statement
    std::vector<std::string> parameters;    // of a function or method
    std::string container;                  // the enclosing class or function
    std::string owner;                      // the innermost enclosing class
};

struct occurrence {
    std::size_t file = 0;
    std::size_t begin = 0, end = 0; // the name as written, without its prefixes
    std::string key;
    bool write = false;  // a definition or an assignment's target
    bool gapart = false; // the key's global 'G' stands apart from the name (`G&x`)
};

class nameindex {
  public:
    // The names of `doc` and of every file it includes, transitively, reading the
    // document's own text and outline (when it has been split) rather than copies. With
    // `around`, only what hover asks at that offset of the document: the occurrences `at`
    // can find there and the definitions of their keys (and a class's methods), for a
    // large document has millions of each.
    nameindex(const workspace& ws, const document& doc,
              std::optional<std::size_t> around = std::nullopt);

    const std::vector<scopefile>& files() const { return scope; }
    const std::vector<definition>& definitions() const { return defs; }
    const std::vector<occurrence>& occurrences() const { return uses; }

    // The occurrence at `offset` of file `file` (its end counts), or null.
    const occurrence* at(std::size_t file, std::size_t offset) const;
    // Every occurrence of the name `o` stands for: a parameter within its function only,
    // any other name everywhere except inside functions with a parameter of that name.
    std::vector<const occurrence*> related(const occurrence& o) const;
    // The definition a name at `offset` of file 0 refers to: the parameter of the function
    // around it, or the first definition of its key in the document and then its includes.
    const definition* definitionof(const std::string& key, std::size_t file,
                                   std::size_t offset) const;
    // The innermost class (or function) whose statement holds `offset` of file 0.
    const definition* enclosing(std::size_t offset, namekind kind) const;

    // The LSP range of `begin`..`end` of file `file`.
    lsprange rangeof(std::size_t file, std::size_t begin, std::size_t end, encoding enc) const;

  private:
    void addfile(std::string uri, std::string path, std::string_view text,
                 std::unique_ptr<const std::string> owned, const outline* tree);
    // The definitions of file `file` that `keep` takes, in order; only those in the
    // top-level statements that reach `within` of the file, when given.
    void define(std::size_t file, const std::function<bool(const definition&)>& keep,
                std::optional<std::pair<std::size_t, std::size_t>> within = std::nullopt);
    // The occurrences of file `file`, from its definitions since `first`; only those at
    // the focus when there is one.
    void occur(std::size_t file, std::size_t first);
    // Every name of file `file`.
    void collect(std::size_t file);
    // Only what hover asks at the focus.
    void collectfocus();
    const definition* parameterat(std::size_t file, std::size_t offset,
                                  const std::string& key) const;

    // The stretch of the document whose occurrences are kept, when not all are.
    std::optional<std::pair<std::size_t, std::size_t>> focus;
    std::vector<scopefile> scope;
    mutable std::vector<std::unique_ptr<linemap>> maps; // by file, made when first asked
    std::vector<definition> defs;
    std::vector<occurrence> uses;
    // The parameters of every function, by key: the definitions' indexes.
    std::unordered_map<std::string, std::vector<std::size_t>> parameters;
};

// The pieces joined into one string (GCC 12 warns falsely about chains of `+` on strings).
std::string concat(std::initializer_list<std::string_view> pieces);

// The `(a, b)` of a definition's parameters.
std::string parameterlist(const definition& d);

} // namespace zvlsp
