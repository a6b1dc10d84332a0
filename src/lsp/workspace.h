// The open documents and their analysis: each document's text as the editor holds it, the
// compiler's result for it (with warnings and byte origins), the included files as they
// were read, and the statement outline. Included files (`also NAME` reads NAME.ZVEX) are
// looked up in the document's directory; an open document at that path is read from the
// editor's text rather than from disk.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "outline.h"
#include "zv.hpp"

namespace zvlsp {

struct includedfile {
    std::string path; // where it was read from
    std::string text; // as read
};

struct document {
    std::string uri;
    std::string path; // the file's path, or the URI when it names no file
    std::string text;
    long long version = 0;
    zv::result compiled;
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

    // Compiles `doc` again (after its text changed).
    void analyse(document& doc);
    // The open documents that included the file at `path` when last compiled.
    std::vector<document*> dependants(const std::string& path);
    // The text of the file at `path`: the editor's when open there, else the file's.
    std::optional<std::string> read(const std::string& path) const;

  private:
    std::map<std::string, std::unique_ptr<document>> documents; // by URI
};

} // namespace zvlsp
