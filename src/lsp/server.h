// The language server proper: takes one parsed JSON-RPC message at a time and emits
// replies and notifications through a callback, so that it runs the same over stdio and
// in tests. Owns the protocol's life cycle (initialize, shutdown, exit), the error replies,
// and the dispatch to the document and feature handlers.
#pragma once

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "pieces.h"
#include "text.h"
#include "workspace.h"

namespace zvlsp {

// JSON-RPC and LSP error codes.
enum errorcode : int {
    parseerror = -32700,
    invalidrequest = -32600,
    methodnotfound = -32601,
    invalidparams = -32602,
    internalerror = -32603,
    servernotinitialized = -32002,
};

// A handler's failure, turned into an error reply.
struct rpcerror {
    int code;
    std::string message;
};

class server {
  public:
    using sender = std::function<void(const nlohmann::json&)>;
    // Sends a message given as JSON text (large replies are written as text directly).
    using textsender = std::function<void(std::string_view)>;
    // Sends a message of `length` bytes that `body` writes piece by piece (the largest
    // replies are never held whole). Without one, the pieces are gathered and sent as text.
    using streamsender = std::function<void(std::size_t length, const bodywriter& body)>;
    explicit server(sender send, textsender sendtext = {}, streamsender sendstream = {});

    // One message body as received: JSON text. Malformed JSON gets a ParseError reply.
    // `more`: further messages wait already, so documents changed by this one may be
    // compiled later (before the next request, or once no message waits). The body is
    // let go once parsed, and a document's text is moved out of the parsed message, so
    // that a large document is held once while it compiles.
    void receive(std::string body, bool more = false);
    void handle(nlohmann::json message, bool more = false);
    // A message the framing could not read: a ParseError reply with id null.
    void rejectframe(const std::string& problem);

    bool exited() const { return state == phase::exited; }
    // The process's exit status once `exited`: 0 after a shutdown request, 1 without.
    int exitstatus() const { return shutdownseen ? 0 : 1; }
    encoding positionencoding() const { return enc; }
    const workspace& documents() const { return ws; }

  private:
    enum class phase { starting, running, shuttingdown, exited };
    using request = nlohmann::json (server::*)(const nlohmann::json& params);
    // A notification may take what it keeps out of its parameters.
    using notification = void (server::*)(nlohmann::json& params);
    // A request whose result is appended as JSON text to the reply message: millions of
    // numbers or symbols as JSON values in memory would cost far more than the text.
    using textrequest = void (server::*)(const nlohmann::json& params, std::string& out);
    // A request whose result is counted before it is written, then written piece by piece
    // into the message as it goes out: not even its text is held whole.
    using sizedrequest = sizedreply (server::*)(const nlohmann::json& params);

    void reply(const nlohmann::json& id, nlohmann::json result);
    void fail(const nlohmann::json& id, int code, const std::string& message);
    // Sends a whole message given as JSON text.
    void sendmessage(std::string_view message);
    void replytext(const nlohmann::json& id, textrequest handler, const nlohmann::json& params);
    void replysized(const nlohmann::json& id, sizedrequest handler, const nlohmann::json& params);
    void dispatchrequest(const nlohmann::json& id, const std::string& method,
                         const nlohmann::json& params);
    void dispatchnotification(const std::string& method, nlohmann::json& params);

    // Life cycle (server.cpp).
    nlohmann::json initialize(const nlohmann::json& params);
    nlohmann::json shutdown(const nlohmann::json& params);
    void initialized(nlohmann::json& params);
    void exit(nlohmann::json& params);

    // Document synchronisation (documents.cpp).
    void didopen(nlohmann::json& params);
    void didchange(nlohmann::json& params);
    void didclose(nlohmann::json& params);
    void didsave(nlohmann::json& params);
    // Compiles `doc` and the open documents that include it, and publishes diagnostics.
    void refresh(document& doc);
    // Refreshes the documents changed since they were last compiled.
    void settle();
    void publish(const document& doc);
    document& documentof(const nlohmann::json& params);
    std::size_t cursorof(document& doc, const nlohmann::json& params) const;

    // Features (features.cpp).
    nlohmann::json hover(const nlohmann::json& params);
    nlohmann::json definition(const nlohmann::json& params);
    void documentsymbol(const nlohmann::json& params, std::string& out);
    void foldingrange(const nlohmann::json& params, std::string& out);
    sizedreply semantictokens(const nlohmann::json& params);

    // Editing features (requests.cpp).
    nlohmann::json completion(const nlohmann::json& params);
    nlohmann::json completionresolve(const nlohmann::json& params);
    nlohmann::json signatures(const nlohmann::json& params);
    nlohmann::json references(const nlohmann::json& params);
    nlohmann::json documenthighlight(const nlohmann::json& params);
    nlohmann::json preparerename(const nlohmann::json& params);
    nlohmann::json rename(const nlohmann::json& params);
    nlohmann::json codeactions(const nlohmann::json& params);
    nlohmann::json workspacesymbol(const nlohmann::json& params);

    static const std::map<std::string, request, std::less<>> requests;
    static const std::map<std::string, notification, std::less<>> notifications;
    static const std::map<std::string, textrequest, std::less<>> textrequests;
    static const std::map<std::string, sizedrequest, std::less<>> sizedrequests;

    sender send;
    textsender sendtext;
    streamsender sendstream;
    phase state = phase::starting;
    bool shutdownseen = false;
    encoding enc = encoding::utf16;
    workspace ws;
    std::vector<std::string> changed; // URIs of documents edited but not compiled since
};

} // namespace zvlsp
