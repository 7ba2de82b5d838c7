// SPDX-License-Identifier: MIT
#pragma once

#include "serve/ApiMessage.h"
#include "serve/ServeContext.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <memory>
#include <string>

namespace ecrlink::tool {

/// GET /v1/events after the handshake: every event of the terminal side as a
/// JSON text message, and the API's requests as messages (ApiMessage), each
/// answered on the same connection. A client that falls more than
/// MaxQueued messages behind is closed. On the I/O thread.
template <class Stream>
class WebSocketSession : public std::enable_shared_from_this<WebSocketSession<Stream>> {
public:
    static constexpr std::size_t MaxQueued = 1024;

    WebSocketSession(Stream stream, ServeContext& context) : socket(std::move(stream)), context(context) {
        ++context.connections;
    }
    ~WebSocketSession() {
        if (subscription) context.events.unsubscribe(subscription);
        --context.connections;
    }

    /// Completes the handshake of `request`, naming the subprotocol
    /// ecrlink.v1 when the client offered it (never echoing its token).
    void run(boost::beast::http::request<boost::beast::http::string_body> request, bool subprotocol) {
        namespace websocket = boost::beast::websocket;
        boost::beast::get_lowest_layer(socket).expires_never();
        // A quiet page is pinged rather than dropped; one that stops answering is.
        auto timeouts = websocket::stream_base::timeout::suggested(boost::beast::role_type::server);
        timeouts.keep_alive_pings = true;
        socket.set_option(timeouts);
        socket.set_option(websocket::stream_base::decorator([subprotocol](websocket::response_type& response) {
            response.set(boost::beast::http::field::server, "ecrlink");
            if (subprotocol) response.set(boost::beast::http::field::sec_websocket_protocol, AccessPolicy::Subprotocol);
        }));
        socket.read_message_max(ServeContext::MaxBody);
        socket.async_accept(request, [self = this->shared_from_this()](boost::beast::error_code error) {
            if (!error) self->accepted();
        });
    }

private:
    void accepted() {
        std::weak_ptr<WebSocketSession> weak = this->shared_from_this();
        auto executor = socket.get_executor();
        subscription = context.events.subscribe([weak, executor](std::shared_ptr<const std::string> text) {
            boost::asio::post(executor, [weak, text] {
                if (auto self = weak.lock()) self->queue(text);
            });
        });
        read();
    }

    void read() {
        socket.async_read(incoming, [self = this->shared_from_this()](boost::beast::error_code error, std::size_t) {
            if (error) return; // closed, timed out, or a message too large: the session ends
            self->handle(boost::beast::buffers_to_string(self->incoming.data()));
            self->incoming.consume(self->incoming.size());
            self->read();
        });
    }

    void handle(const std::string& text) {
        ApiMessage message;
        std::string reason;
        if (!socket.got_text()) {
            queue(std::make_shared<const std::string>(ApiMessage::answer({}, Api::error(400, "send text messages"))));
        } else if (!ApiMessage::parse(text, message, reason)) {
            queue(std::make_shared<const std::string>(ApiMessage::answer({}, Api::error(400, reason))));
        } else {
            const Api::Reply reply = context.api.handle(message.method, message.path,
                                                        message.body.empty() ? "" : "application/json", message.body);
            queue(std::make_shared<const std::string>(ApiMessage::answer(message.id, reply)));
        }
    }

    void queue(std::shared_ptr<const std::string> text) {
        if (closing) return;
        if (outgoing.size() >= MaxQueued) {
            closing = true;
            context.log("events: a WebSocket client fell " + std::to_string(MaxQueued) + " messages behind; closed");
            boost::beast::get_lowest_layer(socket).close();
            return;
        }
        outgoing.push_back(std::move(text));
        if (outgoing.size() == 1) write();
    }

    void write() {
        socket.text(true);
        socket.async_write(boost::asio::buffer(*outgoing.front()),
                           [self = this->shared_from_this()](boost::beast::error_code error, std::size_t) {
                               if (error) {
                                   self->closing = true;
                                   self->outgoing.clear();
                                   return;
                               }
                               self->outgoing.pop_front();
                               if (!self->outgoing.empty()) self->write();
                           });
    }

    boost::beast::websocket::stream<Stream> socket;
    ServeContext& context;
    boost::beast::flat_buffer incoming;
    std::deque<std::shared_ptr<const std::string>> outgoing;
    int subscription = 0;
    bool closing = false;
};

} // namespace ecrlink::tool
