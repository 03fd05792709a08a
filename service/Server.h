#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>
#include <string>

namespace service {

class ClientAddresses;
class StopSignal;

// The HTTP server of the service. Each connection runs on a thread of a pool that grows with
// the number of open connections, and every phase of a connection is bounded in time: the wait
// for a request, the request (head and body, at whatever pace it is sent), the answer (at a
// minimum pace once a grace period is over) and the connection as a whole. A slow client
// therefore holds one thread for a bounded time, and up to the pool's bound never keeps
// another client waiting for a free one; past the bound, and past a short waiting room, a new
// connection is told at once that the service is busy (503) and closed. So is one from a client
// address that already has 64 connections open, so that one client cannot take every place.
//
// A connection ends after any answer that says "Connection: close", and the service says so
// whenever the request was not read exactly to its end (a refused or failed body, say): what
// follows on that connection is never taken for a request.
class Server : public httplib::Server {
public:
    Server();
    ~Server() override;

    // Lets the kernel queue a burst of connections instead of dropping them (the HTTP layer
    // listens with a backlog of 5). Called once the socket is bound.
    void raiseBacklog();
    // Holds every answer back by `delay` once its request has been read, so that the time does
    // not count against the client's deadline.
    void setAnswerDelay(std::chrono::milliseconds delay) { answerDelay_ = delay; }
    // Stops accepting at once, closes connections that wait for a request at once, and gives
    // requests in flight a few seconds to finish; listen_after_bind() returns once all ended.
    void stopServing();

    // True for the methods whose body the HTTP layer reads; it reads them to their end when no
    // Content-Length is given.
    static bool readsBodyOf(const std::string &method);

private:
    bool process_and_close_socket(socket_t sock) override;
    // Runs just before each answer is written: the delay, and whether the connection ends.
    void prepareAnswer(const httplib::Request &request, httplib::Response &response);

    std::unique_ptr<StopSignal> stop_;
    std::unique_ptr<ClientAddresses> addresses_;
    std::chrono::milliseconds answerDelay_{0};
};

} // namespace service
