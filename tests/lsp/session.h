// An in-process client for the server: sends messages to a zvlsp::server and keeps what
// it sends back, with helpers for the common requests and for files on disk.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "server.h"
#include "uri.h"

namespace lsptest {

using nlohmann::json;

class session {
  public:
    std::vector<json> sent; // everything the server sent since the last request
    zvlsp::server lsp{[this](const json& m) { sent.push_back(m); }};

    // The whole reply message to a request.
    json call(const std::string& method, const json& params = json::object()) {
        const int id = nextid++;
        sent.clear();
        lsp.handle({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}});
        for (const json& m : sent) {
            if (m.contains("id") && m["id"] == id) return m;
        }
        ADD_FAILURE() << "no reply to " << method;
        return json::object();
    }
    // The result of a request, failing the test on an error reply.
    json result(const std::string& method, const json& params = json::object()) {
        const json reply = call(method, params);
        EXPECT_FALSE(reply.contains("error")) << reply.dump();
        return reply.value("result", json());
    }
    void notify(const std::string& method, const json& params = json::object()) {
        sent.clear();
        lsp.handle({{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
    }
    json initialize(const json& capabilities = json::object()) {
        json r = result("initialize", {{"processId", nullptr}, {"capabilities", capabilities}});
        notify("initialized");
        return r;
    }
    void open(const std::string& uri, const std::string& text) {
        notify("textDocument/didOpen",
               {{"textDocument",
                 {{"uri", uri}, {"languageId", "zv"}, {"version", 1}, {"text", text}}}});
    }
    // The diagnostics last published for `uri` since the last request or notification.
    json diagnostics(const std::string& uri) const {
        json found;
        for (const json& m : sent) {
            if (m.value("method", "") == "textDocument/publishDiagnostics" &&
                m["params"]["uri"] == uri) {
                found = m["params"]["diagnostics"];
            }
        }
        return found;
    }
    static json at(const std::string& uri, unsigned line, unsigned character) {
        return {{"textDocument", {{"uri", uri}}},
                {"position", {{"line", line}, {"character", character}}}};
    }

  private:
    int nextid = 1;
};

// A fresh directory for files a test includes, removed afterwards.
class scratch {
  public:
    scratch() {
        dir = std::filesystem::temp_directory_path() /
              ("zvlsp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(dir);
    }
    ~scratch() { std::filesystem::remove_all(dir); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    std::string uri(const std::string& name) const {
        return zvlsp::pathtouri((dir / name).string());
    }
    std::filesystem::path dir;

  private:
    static inline int counter = 0;
};

} // namespace lsptest
