// SPDX-License-Identifier: MIT
#include "serve/AccessPolicy.h"

#include "serve/JsonInput.h"
#include "serve/TokenFile.h"

#include <algorithm>
#include <cctype>
#include <regex>

#include <arpa/inet.h>

namespace ecrlink::tool {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "name:port", "[v6]:port", or either without the port.
bool splitHost(const std::string& host, std::string& name, std::string& port) {
    std::string rest;
    if (!host.empty() && host[0] == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return false;
        name = host.substr(1, close - 1);
        rest = host.substr(close + 1);
    } else {
        const std::size_t colon = host.find(':');
        name = host.substr(0, colon);
        rest = colon == std::string::npos ? "" : host.substr(colon);
    }
    if (rest.empty()) {
        port.clear();
        return !name.empty();
    }
    port = rest.substr(1);
    return rest[0] == ':' && allDigits(port) && !name.empty();
}

enum class Literal { None, Loopback, Other };

Literal addressLiteral(const std::string& name) {
    unsigned char bytes[16];
    if (::inet_pton(AF_INET, name.c_str(), bytes) == 1) return bytes[0] == 127 ? Literal::Loopback : Literal::Other;
    if (::inet_pton(AF_INET6, name.c_str(), bytes) == 1) {
        static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return std::equal(bytes, bytes + 16, loopback) ? Literal::Loopback : Literal::Other;
    }
    return Literal::None;
}

} // namespace

AccessPolicy::AccessPolicy(std::string token, std::set<std::string> allowed, std::string listenHost,
                           unsigned short listenPort)
    : token(std::move(token)), origins(std::move(allowed)),
      loopbackOnly(listenHost == "localhost" || addressLiteral(listenHost) == Literal::Loopback), port(listenPort) {}

bool AccessPolicy::hostAllowed(const std::string& host, bool unixSocket) const {
    std::string name, given;
    if (!splitHost(host, name, given)) return false;
    name = lower(name);
    if (!name.empty() && name.back() == '.') name.pop_back();
    const Literal literal = addressLiteral(name);
    const bool named = name == "localhost" || literal == Literal::Loopback || (!loopbackOnly && literal == Literal::Other);
    if (!named) return false;
    if (unixSocket) return true;
    return given.empty() ? port == 80 : std::stoul(given) == port;
}

bool AccessPolicy::tokenShown(const Request& request) const {
    const std::string& header = request.authorization;
    const std::size_t space = header.find(' ');
    if (space != std::string::npos && lower(header.substr(0, space)) == "bearer") {
        const std::size_t from = header.find_first_not_of(' ', space);
        if (from != std::string::npos && TokenFile::sameSecret(header.substr(from), token)) return true;
    }
    if (!request.upgrade) return false;
    for (const std::string& offered : request.subprotocols)
        if (offered.rfind("bearer.", 0) == 0 && TokenFile::sameSecret(offered.substr(7), token)) return true;
    return false;
}

AccessPolicy::Decision AccessPolicy::check(const Request& request) const {
    Decision decision;
    if (request.host.empty() || !hostAllowed(request.host, request.unixSocket)) {
        decision.status = 421;
        decision.reason = request.host.empty() ? "no Host header"
                                               : "Host '" + JsonInput::brief(request.host) + "' does not name this service (use 127.0.0.1 or localhost)";
        return decision;
    }
    if (!request.origin.empty()) {
        if (origins.count(request.origin) == 0) {
            decision.status = 403;
            decision.reason = "origin '" + JsonInput::brief(request.origin) + "' is not allowed (--allow-origin)";
            return decision;
        }
        decision.allowOrigin = request.origin;
    }
    if (request.preflight) {
        decision.status = 204;
        decision.reason = "preflight";
        return decision;
    }
    if (request.upgrade && !request.subprotocols.empty() &&
        std::find(request.subprotocols.begin(), request.subprotocols.end(), Subprotocol) == request.subprotocols.end()) {
        decision.status = 400;
        decision.reason = std::string("offer the subprotocol ") + Subprotocol + " with bearer.TOKEN";
        return decision;
    }
    if (!tokenShown(request)) {
        decision.status = 401;
        decision.reason = request.authorization.empty() && !request.upgrade ? "no token (Authorization: Bearer TOKEN)"
                                                                            : "wrong token";
        return decision;
    }
    return decision;
}

bool AccessPolicy::validOrigin(const std::string& origin, std::string& error) {
    static const std::regex form(R"(https?://([a-z0-9]([a-z0-9.-]*[a-z0-9])?|\[[0-9a-f:.]+\])(:[0-9]{1,5})?)");
    if (origin == "null") {
        error = "origin 'null' cannot be allowed: every file and sandboxed frame has it";
        return false;
    }
    if (!std::regex_match(origin, form)) {
        error = "origin '" + JsonInput::brief(origin) + "' is not scheme://host[:port] in lower case, e.g. https://till.example.com";
        return false;
    }
    const bool https = origin.rfind("https:", 0) == 0;
    const std::string defaultPort = https ? ":443" : ":80";
    if (origin.size() > defaultPort.size() &&
        origin.compare(origin.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0) {
        // A browser leaves the default port out of the origin it sends.
        error = "origin '" + JsonInput::brief(origin) + "': leave out the default port " + defaultPort.substr(1);
        return false;
    }
    return true;
}

} // namespace ecrlink::tool
