// SPDX-License-Identifier: MIT
#pragma once

#include <set>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// Who may use the service: what every request must show before anything
/// else of it is looked at.
///   - `Host` names this service: a loopback name, or (when it listens
///     beyond loopback) an address literal, and the port it listens on. A
///     page on some other name that resolves to 127.0.0.1 (DNS rebinding)
///     is refused with 421.
///   - A browser's `Origin` is one of the origins allowed; any other is
///     refused with 403 (and its CORS preflight too).
///   - The token, as `Authorization: Bearer TOKEN`, or for a WebSocket from a
///     browser as the subprotocol `bearer.TOKEN` offered next to
///     `ecrlink.v1`; 401 without it.
/// Pure functions of the request's headers: no state, any thread.
class AccessPolicy {
public:
    /// The headers that decide, as they came (empty when absent).
    struct Request {
        std::string method;
        std::string host;
        std::string origin;
        std::string authorization;
        std::vector<std::string> subprotocols; ///< offered for a WebSocket
        bool preflight = false; ///< OPTIONS with Access-Control-Request-Method
        bool upgrade = false;   ///< a WebSocket handshake
        bool unixSocket = false; ///< came over the unix socket
    };

    struct Decision {
        unsigned int status = 0;   ///< 0: go on; else the status to answer with
        std::string reason;        ///< one line, for the answer and the log
        std::string allowOrigin;   ///< for Access-Control-Allow-Origin; empty: none
    };

    /// The subprotocol a WebSocket client offers with its token.
    static constexpr const char* Subprotocol = "ecrlink.v1";

    /// `listenHost` and `port` as the TCP listener was bound; `origins` as
    /// given with --allow-origin (exact, e.g. "https://till.example.com").
    AccessPolicy(std::string token, std::set<std::string> origins, std::string listenHost, unsigned short port);

    /// Checked in this order: Host, Origin, a preflight (answered 204 without
    /// a token: browsers send none with it), then the token.
    Decision check(const Request& request) const;

    /// A browser origin as --allow-origin takes it: "http" or "https", a
    /// host, an optional port, nothing else. "null" (the origin of files and
    /// sandboxed frames, which any page can take) is refused.
    static bool validOrigin(const std::string& origin, std::string& error);

private:
    bool hostAllowed(const std::string& host, bool unixSocket) const;
    bool tokenShown(const Request& request) const;

    std::string token;
    std::set<std::string> origins;
    bool loopbackOnly = true;
    unsigned short port = 0;
};

} // namespace ecrlink::tool
