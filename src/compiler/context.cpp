// The compilation context: its reset, the current context of each thread, source texts and
// the places of the texts the compiler works on, kept derived text, and warnings.
#include "context.h"

#include <algorithm>

#include "utf8.h"

const warningentry warningtable[static_cast<int>(warningkind::count)] = {
    {warningkind::namepunctuation, "name-punctuation",
     "a name holds a blank, quote, bracket, '=', '!', ',' or ':'"},
    {warningkind::namedigit, "name-digit", "a name begins with a digit"},
    {warningkind::emptyelement, "empty-element",
     "an empty argument, list element or dictionary entry is dropped"},
    {warningkind::decimaldigits, "decimal-digits",
     "only the first digit after a decimal point is kept"},
    {warningkind::adjacentstrings, "adjacent-strings",
     "two strings side by side in one operand are one string"},
    {warningkind::globaldefinition, "global-definition",
     "a definition's name begins with G, which makes it a global of the rest of the name"},
    {warningkind::notcall, "not-call", "'not(...)' is a call of a function named 'not'"},
};

// ---------------------------------------------------------------------------------------
// Positions.

sourceposition positionof(const sourcefile& file, std::uint32_t offset) {
    if (file.linestarts.empty()) {
        file.linestarts.push_back(0);
        for (std::size_t at = 0; (at = file.text.find('\n', at)) != std::string_view::npos;) {
            ++at;
            if (at < file.text.size()) file.linestarts.push_back(static_cast<std::uint32_t>(at));
        }
    }
    offset = std::min<std::uint32_t>(offset, static_cast<std::uint32_t>(file.text.size()));
    const auto line = std::upper_bound(file.linestarts.begin(), file.linestarts.end(), offset) - 1;
    sourceposition out;
    out.line = static_cast<std::uint32_t>(line - file.linestarts.begin()) + 1;
    // Characters up to `offset`: a sequence cut by it counts byte by byte.
    out.column =
        1 + static_cast<std::uint32_t>(utf8::columns(file.text.substr(*line, offset - *line)));
    const auto crs = std::lower_bound(file.droppedcrs.begin(), file.droppedcrs.end(), offset) -
                     file.droppedcrs.begin();
    out.offset = offset + static_cast<std::uint64_t>(crs);
    return out;
}

// ---------------------------------------------------------------------------------------
// Kept text.

std::string_view textarena::keep(std::string_view text, std::string_view from) {
    constexpr std::size_t blocksize = std::size_t{1} << 16;
    while (current < blocks.size() && sizes[current] - used < text.size()) ++current, used = 0;
    if (current == blocks.size()) {
        const std::size_t size = std::max(blocksize, text.size());
        blocks.push_back(std::make_unique<char[]>(size));
        sizes.push_back(size);
        used = 0;
    }
    char* place = blocks[current].get() + used;
    std::copy(text.begin(), text.end(), place);
    used += text.size();
    entries.push_back(entry{current, place, text.size(), from});
    return {place, text.size()};
}

textarena::mark textarena::where() const {
    return mark{entries.size(), current, used};
}

void textarena::release(const mark& m) {
    entries.resize(m.entries);
    current = m.block;
    used = m.used;
}

void textarena::clear() {
    release(mark{});
}

std::optional<std::string_view> textarena::origin(std::string_view text) const {
    const char* at = text.data();
    std::size_t block = 0;
    while (block < blocks.size() &&
           !(at >= blocks[block].get() && at < blocks[block].get() + sizes[block])) {
        ++block;
    }
    if (block == blocks.size()) return std::nullopt;
    // Entries stand in the order of (block, address) they were kept in.
    const auto found = std::upper_bound(
        entries.begin(), entries.end(), std::pair{block, at},
        [](const std::pair<std::size_t, const char*>& key, const entry& e) {
            return key.first < e.block || (key.first == e.block && key.second < e.begin);
        });
    if (found == entries.begin()) return std::nullopt;
    const entry& e = *(found - 1);
    if (e.block != block || at > e.begin + e.size) return std::nullopt;
    return e.from;
}

// ---------------------------------------------------------------------------------------
// The context.

compilation::compilation() {
    readinclude = [](const std::string& path, std::vector<std::uint32_t>* droppedcrs) {
        return readsourcefile(path, droppedcrs);
    };
    reset();
}

void emitter::resetemitter() {
    code.clear();
    recordlistener = nullptr;
    desc.clear();
    inrecord = false;
    currentdesclength = -1;
    pending.clear();
    reserved = 0;
    origins.clear();
    originlistener = nullptr;
    statementnext = false;
}

emitter::mark emitter::where() const {
    mark m;
    m.code = code.size();
    m.origins = origins.where(code.size());
    m.pending = pending.size();
    m.reserved = reserved;
    m.currentdesclength = currentdesclength;
    m.desc = desc.where();
    return m;
}

void emitter::rollback(const mark& m) {
    code.resize(m.code);
    origins.rollback(m.origins);
    if (originlistener) {
        originevent back = originevent::of(originevent::rolledback);
        back.code = m.code;
        back.nodes = m.origins.nodes;
        back.opennodes = m.origins.open;
        originlistener(back);
    }
    // Blocks opened since are gone; blocks open at the mark lose the lengths they reserved
    // since (their reserved bytes went with the code).
    pending.resize(m.pending);
    for (std::size_t i = m.reserved; i < pending.size(); ++i) pending[i] = unreserved;
    reserved = m.reserved;
    currentdesclength = m.currentdesclength;
    desc.rollback(m.desc);
    inrecord = false;
    statementnext = false;
}

void compilation::reset() {
    resetemitter();
    codesink = nullptr;
    blockends.clear();
    groupends.clear();
    scanindex.clear();
    cleanblocks.clear();
    nesting = 0;
    splits.clear();
    includestack.clear();
    files.clear();
    byplace.clear();
    textsoverlap = false;
    recent = textplace{};
    arena.clear();
    constructs.clear();
    included.clear();
    keepgoing = false;
    failures.clear();
    events.clear();
    warnings.clear();
}

compilation::mark compilation::where() const {
    return mark{emitter::where(), includestack.size()};
}

void compilation::rollback(const mark& m) {
    emitter::rollback(m.emitted);
    includestack.resize(m.includes);
}

std::int32_t compilation::addfile(std::string name, std::string_view text) {
    auto file = std::make_unique<sourcefile>();
    file->name = std::move(name);
    file->text = text;
    return placetext(std::move(file));
}

std::int32_t compilation::addownedfile(std::string name, std::string text) {
    auto file = std::make_unique<sourcefile>();
    file->name = std::move(name);
    file->owned = std::move(text);
    file->text = file->owned;
    return placetext(std::move(file));
}

std::int32_t compilation::placetext(std::unique_ptr<sourcefile> made) {
    files.push_back(std::move(made));
    const std::size_t file = files.size() - 1;
    const std::string_view text = files[file]->text;
    const textplace place{address(text.data()), address(text.data()) + text.size(),
                          static_cast<std::int32_t>(file)};
    const auto at = std::upper_bound(
        byplace.begin(), byplace.end(), place.begin,
        [](std::uintptr_t begin, const textplace& each) { return begin < each.begin; });
    // Sorted and apart, only the neighbours can meet it (ends counted in, as an empty view
    // at a text's end lies in that text).
    if (at != byplace.end() && at->begin <= place.end) textsoverlap = true;
    if (at != byplace.begin() && std::prev(at)->end >= place.begin) textsoverlap = true;
    byplace.insert(at, place);
    recent = place;
    return place.file;
}

span compilation::locate(std::string_view text) const {
    // Kept text leads back to the text it was made from, possibly kept text itself.
    for (int step = 0; step < 64; ++step) {
        const span where = directspan(text);
        if (where.known()) return where;
        const auto from = arena.origin(text);
        if (!from) return {};
        text = *from;
    }
    return {};
}

span compilation::innermost() const {
    for (std::size_t i = constructs.size(); i-- > 0;) {
        const span where = locate(constructs[i]);
        if (where.known()) return where;
    }
    return {};
}

void compilation::addwarning(warningkind kind, std::string message, std::string_view text) {
    if (!warning(kind)) return;
    span where = locate(text);
    if (!where.known()) where = innermost();
    warnings.push_back(foundwarning{kind, std::move(message), where});
}

thread_local constinit compilation* detail::active = nullptr;

compilation& detail::owncompilation() {
    thread_local compilation own;
    active = &own;
    return own;
}

usecompilation::usecompilation(compilation& c) : previous(detail::active) {
    detail::active = &c;
}

usecompilation::~usecompilation() {
    detail::active = previous;
}
