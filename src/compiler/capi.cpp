// The C face of the library (zv.h) over zv::compile: a result owns the C++ result it
// wraps, so every pointer handed out lives as long as the result. Every entry point catches
// everything; running out of memory while building a result gives the one static result
// with ZV_STATUS_NO_MEMORY, which zv_result_free leaves alone.
#include "zv.h"

#include <exception>
#include <new>
#include <string>

#include "zv.hpp"

struct zv_diagnostic {
    zv::diagnostic d;
};

struct zv_result {
    int status = ZV_STATUS_OK;
    std::string message;
    zv::result compiled;
    std::vector<zv_diagnostic> diagnostics;
};

namespace {

zv_result nomemory{ZV_STATUS_NO_MEMORY, "out of memory", {}, {}};

zv_result* failed(int status, const char* message) noexcept {
    try {
        return new zv_result{status, message, {}, {}};
    } catch (...) { return &nomemory; }
}

zv_result* compile(const char* text, std::size_t size, const zv_options* options) {
    zv::options opts;
    if (options && options->name) opts.name = options->name;
    if (options && options->read_include) {
        const zv_include_reader reader = options->read_include;
        void* const user = options->user;
        opts.readinclude = [reader, user](const std::string& path) -> std::optional<std::string> {
            const char* data = nullptr;
            std::size_t length = 0;
            if (reader(user, path.c_str(), &data, &length) != 0) return std::nullopt;
            if (!data) return std::string();
            return std::string(data, length);
        };
    }
    const unsigned flags = options ? options->flags : 0u;
    opts.description = (flags & ZV_OPTION_DESCRIPTION) != 0;
    opts.warn = (flags & ZV_OPTION_WARNINGS) != 0;
    opts.keepgoing = (flags & ZV_OPTION_KEEP_GOING) != 0;
    auto out = new zv_result;
    try {
        out->compiled = zv::compile(std::string_view(text ? text : "", size), opts);
        out->status = out->compiled.status;
        out->message = out->compiled.message;
        for (auto& d : out->compiled.diagnostics) out->diagnostics.push_back({std::move(d)});
        out->compiled.diagnostics.clear();
    } catch (...) {
        delete out;
        throw;
    }
    return out;
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

const char* zv_version(void) {
    return zv::version();
}

} // extern "C"
