// Compiler diagnostics to LSP diagnostics.
#include "diagnostics.h"

#include <algorithm>
#include <map>
#include <utility>

#include "lspjson.h"
#include "uri.h"

namespace zvlsp {

using nlohmann::json;

namespace {

// The line maps of the files diagnostics point into, each made once for all the
// diagnostics of a document: a broken document has thousands, and a map costs a pass over
// its file's text.
class linemaps {
  public:
    linemaps(const document& doc, encoding enc) : doc(doc), enc(enc) {}

    // The map of `file`; an empty text's when its text is unknown.
    const linemap& of(const std::string& file) {
        auto found = maps.find(file);
        if (found == maps.end()) {
            const std::string* text = doc.textof(file);
            const std::string_view known = text ? std::string_view(*text) : std::string_view();
            found = maps.emplace(file, linemap(known, enc)).first;
        }
        return found->second;
    }

  private:
    const document& doc;
    encoding enc;
    std::map<std::string, linemap, std::less<>> maps;
};

// An LSP Location of a compiler location; the start of the file when its text is unknown.
json locationof(const document& doc, const zv::location& where, linemaps& lines) {
    return {{"uri", where.file == doc.path ? doc.uri : pathtouri(doc.pathof(where.file))},
            {"range", rangejson(lines.of(where.file), where.offset, where.endoffset)}};
}

json convert(const document& doc, const zv::diagnostic& d, linemaps& lines, encoding enc) {
    json out = {{"severity", d.level == zv::severity::error ? 1 : 2},
                {"code", d.code},
                {"source", "zv"},
                {"message", d.message}};
    json related = json::array();
    // The place in this document: the diagnostic's own, or the `also` statement that leads
    // to the file holding it (the outermost of the chain).
    const zv::location* here = nullptr;
    bool inother = false; // the place is in a file this document includes
    if (d.located && d.where.file == doc.path) {
        here = &d.where;
    } else if (d.located && !d.includedfrom.empty() && d.includedfrom.back().file == doc.path) {
        here = &d.includedfrom.back();
        inother = true;
        related.push_back({{"location", locationof(doc, d.where, lines)}, {"message", d.message}});
    }
    if (here) {
        out["range"] = locationof(doc, *here, lines)["range"];
    } else {
        out["range"] = rangejson({}, 0, 0, enc);
    }
    for (const zv::location& also : d.includedfrom) {
        related.push_back(
            {{"location", locationof(doc, also, lines)}, {"message", "included from here"}});
    }
    // The plain-word notes go into the message too, and stay as related information for
    // the editors that show that.
    out["message"] = (inother ? d.where.file + ": " : std::string()) + messagetext(d);
    for (const std::string& note : d.notes) {
        const json at = here ? locationof(doc, *here, lines)
                             : json{{"uri", doc.uri}, {"range", rangejson({}, 0, 0, enc)}};
        related.push_back({{"location", at}, {"message", note}});
    }
    if (!related.empty()) out["relatedInformation"] = std::move(related);
    return out;
}

} // namespace

std::string messagetext(const zv::diagnostic& d) {
    std::string message = d.message;
    for (const std::string& note : d.notes) message += "\n" + note;
    return message;
}

json diagnosticsof(const document& doc, encoding enc) {
    json list = json::array();
    linemaps lines(doc, enc);
    for (const zv::diagnostic& d : doc.compiled.diagnostics)
        list.push_back(convert(doc, d, lines, enc));
    // The compiler reports in the order it found them; editors list them by place.
    const auto start = [](const json& d) {
        const json& at = d["range"]["start"];
        return std::pair(at["line"].get<std::uint32_t>(), at["character"].get<std::uint32_t>());
    };
    std::stable_sort(list.begin(), list.end(),
                     [&](const json& a, const json& b) { return start(a) < start(b); });
    return {{"uri", doc.uri}, {"version", doc.version}, {"diagnostics", std::move(list)}};
}

} // namespace zvlsp
