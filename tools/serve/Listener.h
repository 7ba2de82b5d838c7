// SPDX-License-Identifier: MIT
#pragma once

#include "serve/HttpSession.h"
#include "serve/ServeContext.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>

#include <memory>

namespace ecrlink::tool {

/// Accepts connections on a TCP or unix socket and gives each an
/// HttpSession; beyond ServeContext::MaxConnections at once a new one is
/// closed at once. On the I/O thread.
template <class Protocol>
class Listener : public std::enable_shared_from_this<Listener<Protocol>> {
public:
    using Acceptor = boost::asio::basic_socket_acceptor<Protocol>;
    using Stream = boost::beast::basic_stream<Protocol>;

    Listener(Acceptor acceptor, ServeContext& context, bool unixSocket)
        : acceptor(std::move(acceptor)), retry(this->acceptor.get_executor()), context(context), unixSocket(unixSocket) {}

    void run() { accept(); }
    void stop() {
        boost::system::error_code ignored;
        acceptor.close(ignored);
        retry.cancel();
    }

private:
    void accept() {
        acceptor.async_accept([self = this->shared_from_this()](boost::system::error_code error,
                                                                 typename Protocol::socket socket) {
            if (error == boost::asio::error::operation_aborted || !self->acceptor.is_open()) return;
            if (error) {
                // Out of descriptors, say: try again a little later rather than spin.
                self->context.log("accept: " + error.message());
                self->retry.expires_after(std::chrono::milliseconds(200));
                self->retry.async_wait([self](boost::system::error_code) {
                    if (self->acceptor.is_open()) self->accept();
                });
                return;
            }
            if (self->context.connections < ServeContext::MaxConnections)
                std::make_shared<HttpSession<Stream>>(Stream(std::move(socket)), self->context, self->unixSocket)->run();
            else
                self->context.log("refused a connection: " + std::to_string(ServeContext::MaxConnections) + " are open");
            self->accept();
        });
    }

    Acceptor acceptor;
    boost::asio::steady_timer retry;
    ServeContext& context;
    const bool unixSocket;
};

} // namespace ecrlink::tool
