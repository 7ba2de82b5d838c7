// SPDX-License-Identifier: MIT
#pragma once

#include "serve/ServeContext.h"
#include "serve/WebSocketSession.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace ecrlink::tool {

namespace beast = boost::beast;
namespace http = boost::beast::http;

/// One HTTP connection: reads a request's header, lets the AccessPolicy
/// decide before anything else of it is read, then reads the body (up to
/// ServeContext::MaxBody), answers through the Api, and goes on with the
/// next request of the connection; or hands a WebSocket handshake to a
/// WebSocketSession. An idle or slow connection is closed after 30 s. On the
/// I/O thread.
template <class Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream stream, ServeContext& context, bool unixSocket)
        : stream(std::move(stream)), timer(this->stream.get_executor()), context(context), unixSocket(unixSocket) {
        ++context.connections;
    }
    ~HttpSession() {
        if (subscription) context.events.unsubscribe(subscription);
        --context.connections;
    }

    void run() { readHeader(); }

private:
    void readHeader() {
        parser.emplace();
        parser->header_limit(ServeContext::MaxHeader);
        parser->body_limit(ServeContext::MaxBody);
        stream.expires_after(std::chrono::seconds(30));
        http::async_read_header(stream, buffer, *parser,
                                [self = this->shared_from_this()](beast::error_code error, std::size_t) {
                                    self->onHeader(error);
                                });
    }

    void onHeader(beast::error_code error) {
        if (error) return failed(error);
        const auto& request = parser->get();
        AccessPolicy::Request asked;
        asked.method = std::string(request.method_string());
        asked.host = std::string(request[http::field::host]);
        asked.origin = std::string(request[http::field::origin]);
        asked.authorization = std::string(request[http::field::authorization]);
        asked.upgrade = beast::websocket::is_upgrade(request);
        asked.preflight = request.method() == http::verb::options &&
                          request.find(http::field::access_control_request_method) != request.end();
        asked.unixSocket = unixSocket;
        for (auto field = request.find(http::field::sec_websocket_protocol);
             field != request.end() && field->name() == http::field::sec_websocket_protocol; ++field)
            for (const auto& offered : http::token_list(field->value())) asked.subprotocols.emplace_back(offered);
        decision = context.policy.check(asked);
        if (decision.status == 204) return preflight();
        if (decision.status != 0) {
            context.metrics.refused(decision.status);
            context.log("refused " + std::to_string(decision.status) + " " + asked.method + " " +
                        std::string(request.target().substr(0, 80)) + ": " + decision.reason);
            // The body is not read: the answer ends the connection.
            return answer(Api::error(decision.status, decision.reason), false);
        }
        if (asked.upgrade) return upgrade(asked.subprotocols);
        if (beast::iequals(request[http::field::expect], "100-continue")) {
            auto going = std::make_shared<http::response<http::empty_body>>(http::status::continue_, request.version());
            return http::async_write(stream, *going, [self = this->shared_from_this(), going](beast::error_code e, std::size_t) {
                if (e) return self->failed(e);
                self->readBody();
            });
        }
        readBody();
    }

    void readBody() {
        http::async_read(stream, buffer, *parser, [self = this->shared_from_this()](beast::error_code error, std::size_t) {
            if (error) return self->failed(error);
            self->route();
        });
    }

    void route() {
        const auto& request = parser->get();
        if (request.method() != http::verb::get && request.method() != http::verb::post)
            return answer(Api::error(405, "use GET or POST"), request.keep_alive());
        const Api::Reply reply = ask();
        if (reply.waitFor.empty()) return answer(reply, request.keep_alive());
        awaitOutcome(reply.waitFor, reply.waitSeconds);
    }

    Api::Reply ask() {
        const auto& request = parser->get();
        return context.api.handle(std::string(request.method_string()), std::string(request.target()),
                                  std::string(request[http::field::content_type]), request.body());
    }

    // Answers once the transaction ends or the time is up, whichever comes
    // first; asking again after subscribing misses no ending in between.
    void awaitOutcome(const std::string& reference, unsigned int seconds) {
        std::weak_ptr<HttpSession> weak = this->shared_from_this();
        auto executor = stream.get_executor();
        subscription = context.events.subscribe([weak, executor, reference](std::shared_ptr<const std::string> text) {
            if (text->find("\"event\":\"outcome\"") == std::string::npos ||
                text->find("\"reference\":\"" + reference + "\"") == std::string::npos)
                return;
            boost::asio::post(executor, [weak] {
                if (auto self = weak.lock()) self->waited();
            });
        });
        const Api::Reply again = ask();
        if (again.waitFor.empty()) return waited();
        stream.expires_never();
        timer.expires_after(std::chrono::seconds(seconds));
        timer.async_wait([self = this->shared_from_this()](beast::error_code error) {
            if (!error) self->waited();
        });
    }

    void waited() {
        if (!subscription) return; // answered already
        context.events.unsubscribe(subscription);
        subscription = 0;
        timer.cancel();
        Api::Reply reply = ask();
        reply.waitFor.clear();
        answer(reply, parser->get().keep_alive());
    }

    void preflight() {
        const auto& asked = parser->get();
        auto response = std::make_shared<http::response<http::string_body>>(http::status::no_content, asked.version());
        headers(*response);
        response->set(http::field::access_control_allow_methods, "GET, POST");
        response->set(http::field::access_control_allow_headers, "Authorization, Content-Type");
        response->set(http::field::access_control_max_age, "600");
        // A public page may reach a service on loopback only when the
        // service says so (Private Network Access).
        if (beast::iequals(asked["Access-Control-Request-Private-Network"], "true"))
            response->set("Access-Control-Allow-Private-Network", "true");
        response->keep_alive(false);
        send(response, false);
    }

    void answer(const Api::Reply& reply, bool keepAlive) {
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(reply.status), parser->get().version());
        headers(*response);
        response->set(http::field::content_type, reply.contentType);
        if (reply.status == 401) response->set(http::field::www_authenticate, "Bearer");
        response->body() = reply.body + (reply.contentType.rfind("application/json", 0) == 0 ? "\n" : "");
        response->keep_alive(keepAlive);
        response->prepare_payload();
        send(response, keepAlive);
    }

    void headers(http::response<http::string_body>& response) {
        response.set(http::field::server, "ecrlink");
        response.set(http::field::cache_control, "no-store");
        response.set("X-Content-Type-Options", "nosniff");
        if (!decision.allowOrigin.empty()) {
            response.set(http::field::access_control_allow_origin, decision.allowOrigin);
            response.set(http::field::vary, "Origin");
        }
    }

    void send(std::shared_ptr<http::response<http::string_body>> response, bool keepAlive) {
        http::async_write(stream, *response,
                          [self = this->shared_from_this(), response, keepAlive](beast::error_code error, std::size_t) {
                              if (error) return self->failed(error);
                              if (keepAlive) return self->readHeader();
                              beast::error_code ignored;
                              self->stream.socket().shutdown(Stream::socket_type::shutdown_send, ignored);
                              self->drain();
                          });
    }

    // What the client still sends is read and dropped until it closes, so
    // that closing never resets the connection under an answer not yet read.
    void drain() {
        stream.expires_after(std::chrono::seconds(2));
        stream.async_read_some(boost::asio::buffer(scrap), [self = this->shared_from_this()](beast::error_code error, std::size_t) {
            if (!error) self->drain();
        });
    }

    void upgrade(const std::vector<std::string>& offered) {
        const bool named = std::find(offered.begin(), offered.end(), AccessPolicy::Subprotocol) != offered.end();
        std::make_shared<WebSocketSession<Stream>>(std::move(stream), context)
            ->run(parser->release(), named);
    }

    void failed(beast::error_code error) {
        // A request that is not HTTP, or too large, gets one line; a closed
        // or idle connection just ends.
        if (error.category() == http::make_error_code(http::error::bad_target).category() &&
            error != http::error::end_of_stream && error != http::error::partial_message) {
            const unsigned int status = error == http::error::body_limit     ? 413
                                        : error == http::error::header_limit ? 431
                                                                             : 400;
            const std::string reason =
                status == 413   ? "the body is larger than " + std::to_string(ServeContext::MaxBody) + " bytes"
                : status == 431 ? "the header is larger than " + std::to_string(ServeContext::MaxHeader) + " bytes"
                                : "malformed HTTP: " + error.message();
            context.metrics.refused(status);
            if (!parser) parser.emplace();
            return answer(Api::error(status, reason), false);
        }
        beast::error_code ignored;
        stream.socket().shutdown(Stream::socket_type::shutdown_both, ignored);
    }

    Stream stream;
    boost::asio::steady_timer timer;
    int subscription = 0;
    beast::flat_buffer buffer;
    char scrap[1024];
    std::optional<http::request_parser<http::string_body>> parser;
    AccessPolicy::Decision decision;
    ServeContext& context;
    const bool unixSocket;
};

} // namespace ecrlink::tool
