// The C face of the library (zv.h) over zv::compile: a result owns the C++ result it
// wraps, so every pointer handed out lives as long as the result. Every entry point catches
// everything; running out of memory while building a result gives the one static result
// with ZV_STATUS_NO_MEMORY, which zv_result_free leaves alone.
#include "zv.h"

#include <array>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "zv.hpp"

struct zv_diagnostic {
    zv::diagnostic d;
    // zv_diagnostic_format's texts, by its flags, made when first asked for.
    std::array<std::optional<std::string>, 4> formatted{};
};

struct zv_result {
    int status = ZV_STATUS_OK;
    std::string message;
    zv::result compiled;
    std::vector<zv_diagnostic> diagnostics;
    std::mutex formatting{}; // guards the diagnostics' formatted texts and the formatter
    std::optional<zv::formatter> formatter{}; // indexes the sources' lines once
};

namespace {

zv_result nomemory{ZV_STATUS_NO_MEMORY, "out of memory", {}, {}};

zv_result* failed(int status, const char* message) noexcept {
    try {
        return new zv_result{status, message, {}, {}};
    } catch (...) { return &nomemory; }
}

// Whether the host's options hold `field`: fields after `flags` exist only in options
// marked ZV_OPTION_SIZED whose struct_size reaches past them.
template <typename field> bool has(const zv_options& options, const field& member) {
    if ((options.flags & ZV_OPTION_SIZED) == 0) return false;
    const auto end = reinterpret_cast<const char*>(&member) + sizeof member -
                     reinterpret_cast<const char*>(&options);
    return options.struct_size >= static_cast<std::size_t>(end);
}

// A copy of the fields the host's options hold; the others stay as zv_options_init sets them.
zv_options readoptions(const zv_options* given) {
    zv_options out;
    zv_options_init(&out);
    if (!given) return out;
    out.name = given->name;
    out.read_include = given->read_include;
    out.user = given->user;
    out.flags = given->flags;
    if (has(*given, given->read_file)) out.read_file = given->read_file;
    if (has(*given, given->warning_count)) {
        out.warnings = given->warnings;
        out.warning_count = given->warning_count;
    }
    if (has(*given, given->write_code)) out.write_code = given->write_code;
    return out;
}

// A reader's failure, in words for the located error's note.
std::string returned(int code) {
    return "it returned " + std::to_string(code);
}

zv_result* compile(const char* text, std::size_t size, const zv_options* given) {
    const zv_options options = readoptions(given);
    zv::options opts;
    if (options.name) opts.name = options.name;
    void* const user = options.user;
    if (const zv_file_reader reader = options.read_file) {
        opts.reader = [reader, user](const zv::includerequest& asked) {
            zv_include_request request{asked.path.c_str(), asked.includer.c_str(), nullptr, 0,
                                       nullptr};
            const int code = reader(user, &request);
            zv::includefile file;
            if (code == 0) {
                file.text = request.data ? std::string(request.data, request.size) : "";
            } else {
                file.error = request.error ? request.error : returned(code);
            }
            return file;
        };
    } else if (const zv_include_reader reader = options.read_include) {
        opts.reader = [reader, user](const zv::includerequest& asked) {
            const char* data = nullptr;
            std::size_t length = 0;
            const int code = reader(user, asked.path.c_str(), &data, &length);
            zv::includefile file;
            if (code == 0) {
                file.text = data ? std::string(data, length) : "";
            } else {
                file.error = returned(code);
            }
            return file;
        };
    }
    if (const zv_code_sink sink = options.write_code) {
        opts.codesink = [sink, user](const std::uint8_t* data, std::size_t length) {
            const int code = sink(user, data, length);
            if (code != 0) throw std::runtime_error(returned(code));
        };
    }
    opts.description = (options.flags & ZV_OPTION_DESCRIPTION) != 0;
    opts.warn = (options.flags & ZV_OPTION_WARNINGS) != 0;
    opts.keepgoing = (options.flags & ZV_OPTION_KEEP_GOING) != 0;
    for (std::size_t i = 0; options.warnings && i < options.warning_count; ++i) {
        opts.enabled.emplace_back(options.warnings[i] ? options.warnings[i] : "");
    }
    auto out = std::make_unique<zv_result>();
    out->compiled = zv::compile(std::string_view(text ? text : "", size), opts);
    out->status = out->compiled.status;
    out->message = out->compiled.message;
    for (auto& d : out->compiled.diagnostics) out->diagnostics.push_back({std::move(d)});
    out->compiled.diagnostics.clear();
    return out.release();
}

void fill(const zv::location& from, zv_location* to) {
    *to = {from.file.c_str(), from.line,   from.column,   from.endline,
           from.endcolumn,    from.offset, from.endoffset};
}

void clear(zv_location* to) {
    if (to) *to = {"", 0, 0, 0, 0, 0, 0};
}

const unsigned char* bytes(const std::vector<std::uint8_t>& from, std::size_t* size) {
    if (size) *size = from.size();
    return from.empty() ? nullptr : from.data();
}

} // namespace

extern "C" {

zv_result* zv_compile(const char* text, size_t size, const zv_options* options) {
    if (!text && size != 0) return failed(ZV_STATUS_INVALID_ARGUMENT, "text is NULL");
    try {
        return compile(text, size, options);
    } catch (const std::bad_alloc&) {
        return failed(ZV_STATUS_NO_MEMORY, "out of memory");
    } catch (const std::exception& e) {
        return failed(ZV_STATUS_INTERNAL_ERROR, e.what());
    } catch (...) { return failed(ZV_STATUS_INTERNAL_ERROR, "unexpected failure"); }
}

void zv_result_free(zv_result* result) {
    if (result != &nomemory) delete result;
}

int zv_result_status(const zv_result* result) {
    return result ? result->status : ZV_STATUS_INVALID_ARGUMENT;
}

const char* zv_result_message(const zv_result* result) {
    return result ? result->message.c_str() : "";
}

const unsigned char* zv_result_code(const zv_result* result, size_t* size) {
    if (!result) return bytes({}, size);
    return bytes(result->compiled.code, size);
}

const unsigned char* zv_result_description(const zv_result* result, size_t* size) {
    if (!result) return bytes({}, size);
    return bytes(result->compiled.description, size);
}

size_t zv_result_included_count(const zv_result* result) {
    return result ? result->compiled.included.size() : 0;
}

const char* zv_result_included(const zv_result* result, size_t index) {
    if (index >= zv_result_included_count(result)) return nullptr;
    return result->compiled.included[index].c_str();
}

size_t zv_result_diagnostic_count(const zv_result* result) {
    return result ? result->diagnostics.size() : 0;
}

const zv_diagnostic* zv_result_diagnostic(const zv_result* result, size_t index) {
    if (index >= zv_result_diagnostic_count(result)) return nullptr;
    return &result->diagnostics[index];
}

int zv_diagnostic_severity(const zv_diagnostic* diagnostic) {
    if (!diagnostic) return ZV_SEVERITY_ERROR;
    return diagnostic->d.level == zv::severity::warning ? ZV_SEVERITY_WARNING : ZV_SEVERITY_ERROR;
}

const char* zv_diagnostic_code(const zv_diagnostic* diagnostic) {
    return diagnostic ? diagnostic->d.code.c_str() : "";
}

const char* zv_diagnostic_message(const zv_diagnostic* diagnostic) {
    return diagnostic ? diagnostic->d.message.c_str() : "";
}

int zv_diagnostic_location(const zv_diagnostic* diagnostic, zv_location* where) {
    if (!diagnostic || !diagnostic->d.located) {
        clear(where);
        return 0;
    }
    if (where) fill(diagnostic->d.where, where);
    return 1;
}

size_t zv_diagnostic_note_count(const zv_diagnostic* diagnostic) {
    return diagnostic ? diagnostic->d.notes.size() : 0;
}

const char* zv_diagnostic_note(const zv_diagnostic* diagnostic, size_t index) {
    if (index >= zv_diagnostic_note_count(diagnostic)) return nullptr;
    return diagnostic->d.notes[index].c_str();
}

size_t zv_diagnostic_include_depth(const zv_diagnostic* diagnostic) {
    return diagnostic ? diagnostic->d.includedfrom.size() : 0;
}

int zv_diagnostic_included_from(const zv_diagnostic* diagnostic, size_t index, zv_location* where) {
    if (index >= zv_diagnostic_include_depth(diagnostic)) {
        clear(where);
        return 0;
    }
    if (where) fill(diagnostic->d.includedfrom[index], where);
    return 1;
}

size_t zv_result_source_count(const zv_result* result) {
    return result ? result->compiled.sources.size() : 0;
}

const char* zv_result_source_name(const zv_result* result, size_t index) {
    if (index >= zv_result_source_count(result)) return nullptr;
    return result->compiled.sources[index].name.c_str();
}

const char* zv_result_source_text(const zv_result* result, size_t index, size_t* size) {
    if (index >= zv_result_source_count(result)) {
        if (size) *size = 0;
        return nullptr;
    }
    const std::string& text = result->compiled.sources[index].text;
    if (size) *size = text.size();
    return text.c_str();
}

const char* zv_diagnostic_format(const zv_result* result, const zv_diagnostic* diagnostic,
                                 unsigned flags) {
    if (!result || !diagnostic || result->diagnostics.empty()) return nullptr;
    const zv_diagnostic* first = result->diagnostics.data();
    if (diagnostic < first || diagnostic >= first + result->diagnostics.size()) return nullptr;
    try {
        auto& self = const_cast<zv_result&>(*result);
        const std::lock_guard<std::mutex> lock(self.formatting);
        auto& slot = self.diagnostics[static_cast<std::size_t>(diagnostic - first)]
                         .formatted[flags & (ZV_FORMAT_COLOR | ZV_FORMAT_NO_INCLUDES)];
        if (!slot) {
            if (!self.formatter) self.formatter.emplace(self.compiled.sources);
            slot = (*self.formatter)(diagnostic->d, (flags & ZV_FORMAT_COLOR) != 0,
                                     (flags & ZV_FORMAT_NO_INCLUDES) == 0);
        }
        return slot->c_str();
    } catch (...) { return nullptr; }
}

size_t zv_warning_count(void) {
    return zv::warnings().size();
}

const char* zv_warning_name(size_t index) {
    return index < zv_warning_count() ? zv::warnings()[index].name : nullptr;
}

const char* zv_warning_summary(size_t index) {
    return index < zv_warning_count() ? zv::warnings()[index].summary : nullptr;
}

void zv_options_init(zv_options* options) {
    if (!options) return;
    *options = zv_options{};
    options->flags = ZV_OPTION_SIZED;
    options->struct_size = sizeof(zv_options);
}

const char* zv_version(void) {
    return zv::version();
}

int zv_version_check(int major, int minor) {
    return major == ZV_VERSION_MAJOR && minor <= ZV_VERSION_MINOR ? 1 : 0;
}

} // extern "C"
