#pragma once

#include <httplib.h>

namespace service {

// The HTTP server of the service. Each connection runs on a thread of a pool that grows with
// the number of open connections (up to a bound), and a request must arrive whole, head and
// body, within a deadline: a client that sends slowly holds one thread for a bounded time
// and never keeps other clients waiting for a free one.
class Server : public httplib::Server {
public:
    Server();
    // Lets the kernel queue a burst of connections instead of dropping them (the HTTP layer
    // listens with a backlog of 5). Called once the socket is bound.
    void raiseBacklog();

private:
    bool process_and_close_socket(socket_t sock) override;
};

} // namespace service
