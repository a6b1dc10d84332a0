// Open documents and their compilation.
#include "workspace.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "hover.h"
#include "uri.h"

namespace zvlsp {

namespace fs = std::filesystem;

const outline& document::statements() {
    if (!tree) tree = std::make_unique<outline>(std::shared_ptr<const std::string>(text));
    return *tree;
}

void document::replace(std::size_t begin, std::size_t end, std::string replacement) {
    // What was made of the text before goes; the diagnostics stay until it is compiled.
    compiled.compactorigins.reset();
    current.reset();
    lastgood.reset();
    tree.reset();
    if (text.use_count() > 1) text = std::make_shared<std::string>(*text);
    std::string& text = *this->text;
    begin = std::min(begin, text.size());
    end = std::clamp(end, begin, text.size());
    if (!clean && undo.size() >= undolimit) {
        cleancopy = cleantext();
        undo.clear();
    }
    const bool keep = clean || !undo.empty();
    clean = false;
    if (begin == 0 && end == text.size()) {
        // The whole text goes: what is kept of it is the text itself, not a copy.
        if (keep) undo.push_back(undoedit{0, replacement.size(), std::move(text)});
        text = std::move(replacement);
        return;
    }
    if (keep) undo.push_back(undoedit{begin, replacement.size(), text.substr(begin, end - begin)});
    text.replace(begin, end - begin, replacement);
}

std::optional<std::string> document::cleantext() const {
    if (clean) return *text;
    if (undo.empty()) return cleancopy;
    std::string out = *text;
    for (auto e = undo.rbegin(); e != undo.rend(); ++e) out.replace(e->begin, e->length, e->before);
    return out;
}

std::string document::basedir() const {
    if (!path.starts_with('/')) return {};
    return fs::path(path).parent_path().string();
}

const std::string* document::textof(const std::string& file) const {
    if (file == path) return text.get();
    const auto found = included.find(file);
    return found == included.end() ? nullptr : &found->second.text;
}

std::string document::pathof(const std::string& file) const {
    if (file == path) return path;
    const auto found = included.find(file);
    if (found != included.end()) return found->second.path;
    return basedir().empty() ? file : (fs::path(basedir()) / file).string();
}

document& workspace::open(const std::string& uri, std::string text, long long version) {
    auto& slot = documents[uri];
    slot = std::make_unique<document>();
    slot->uri = uri;
    slot->path = uritopath(uri).value_or(uri);
    *slot->text = std::move(text);
    slot->version = version;
    return *slot;
}

void workspace::close(const std::string& uri) {
    documents.erase(uri);
}

document* workspace::find(const std::string& uri) {
    const auto found = documents.find(uri);
    return found == documents.end() ? nullptr : found->second.get();
}

const document* workspace::find(const std::string& uri) const {
    return const_cast<workspace*>(this)->find(uri);
}

std::vector<const document*> workspace::all() const {
    std::vector<const document*> out;
    for (const auto& [uri, doc] : documents) out.push_back(doc.get());
    return out;
}

std::optional<std::string> workspace::read(const std::string& path) const {
    for (const auto& [uri, doc] : documents) {
        if (doc->path == path) return *doc->text;
    }
    std::error_code failed;
    if (!fs::is_regular_file(path, failed)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return text;
}

zv::options workspace::optionsfor(const document& doc) const {
    zv::options options;
    options.sources = false;
    // Every statement that compiles is compiled, and every error reported.
    options.keepgoing = true;
    options.name = doc.path;
    options.warn = true;
    options.compactorigins = true;
    const std::string base = doc.basedir();
    options.readinclude = [this, base](const std::string& name) -> std::optional<std::string> {
        return read(base.empty() ? name : (fs::path(base) / name).string());
    };
    return options;
}

void workspace::analyse(document& doc) {
    doc.tree.reset();
    doc.included.clear();
    doc.lookedfor.clear();
    // The last compilations go before the next one is made, so that no two are held at
    // once; the one of the last text without errors is made again if hover needs it.
    doc.current.reset();
    doc.lastgood.reset();
    doc.compiled = {};
    // One compilation gives the diagnostics and, kept compact, the origins hover reads.
    zv::options options = optionsfor(doc);
    const std::string base = doc.basedir();
    options.readinclude = [&](const std::string& name) -> std::optional<std::string> {
        const std::string path = base.empty() ? name : (fs::path(base) / name).string();
        doc.lookedfor.push_back(path);
        std::optional<std::string> text = read(path);
        if (text) doc.included[name] = includedfile{path, *text};
        return text;
    };
    doc.compiled = zv::compile(std::shared_ptr<const std::string>(doc.text), options);
    const bool clean =
        std::none_of(doc.compiled.diagnostics.begin(), doc.compiled.diagnostics.end(),
                     [](const zv::diagnostic& d) { return d.level == zv::severity::error; });
    if (doc.compiled.ok() && clean) {
        doc.clean = true;
        doc.undo.clear();
        doc.cleancopy.reset();
    }
}

std::shared_ptr<const analysis> workspace::analysisof(const document& doc, std::string text) const {
    auto shared = std::make_shared<const std::string>(std::move(text));
    zv::result r = zv::compile(shared, optionsfor(doc));
    return zvlsp::analyse(r, std::move(shared), doc.path);
}

const analysis& workspace::current(document& doc) const {
    if (!doc.current) doc.current = zvlsp::analyse(doc.compiled, doc.text, doc.path);
    return *doc.current;
}

const analysis* workspace::lastgood(document& doc) const {
    if (!doc.hasclean()) return nullptr;
    if (!doc.lastgood && doc.clean) {
        current(doc);
        doc.lastgood = doc.current;
    } else if (!doc.lastgood) {
        doc.lastgood = analysisof(doc, *doc.cleantext());
    }
    return doc.lastgood.get();
}

std::vector<document*> workspace::dependants(const std::string& path) {
    std::vector<document*> out;
    for (auto& [uri, doc] : documents) {
        if (doc->path != path &&
            std::find(doc->lookedfor.begin(), doc->lookedfor.end(), path) != doc->lookedfor.end()) {
            out.push_back(doc.get());
        }
    }
    return out;
}

} // namespace zvlsp
