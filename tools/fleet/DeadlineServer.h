// httplib's server with an overall deadline per request and a bound on the
// connections one client keeps waiting.
#pragma once

#include <httplib.h>

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace fleet {

// From the moment the server starts waiting for a request on a connection
// (after accepting it, or after the previous response), the client has the
// deadline to send the request's line and headers (and any body). Past it
// the connection is closed. httplib by itself bounds each read only, so a
// client sending a byte now and then would hold one of its threads for as
// long as it liked. What a handler writes after the request (an event
// stream) is not bounded by it.
//
// A client address has at most `max waiting` connections waiting for a
// request at once; one more closes the one that has waited longest. So a
// flood of slow connections from one address occupies that many threads,
// and whoever comes next is served as soon as a thread is free.
//
// Connections are kept alive as the base class's settings say (count, idle
// time), the idle time counting against the next request's deadline.
class DeadlineServer : public httplib::Server
{
public:
    DeadlineServer();

    void set_request_deadline(std::chrono::milliseconds d) { deadline_ = d; }
    void set_max_waiting_per_client(size_t n) { maxWaiting_ = n; }
    // httplib listens with a queue of 5 connections not yet accepted; a
    // burst beyond that waits for the client's retries (a second or more).
    // Called after binding, this lengthens the queue.
    void set_listen_backlog(int n);
    // Hides the base's: the handler runs once a request's head is in, which
    // is also when its connection stops waiting.
    DeadlineServer& set_pre_routing_handler(HandlerWithResponse handler);

private:
    class Waiting;
    bool process_and_close_socket(socket_t sock) override;

    std::chrono::milliseconds deadline_{5000};
    size_t maxWaiting_ = 8;
    std::mutex m_;
    std::map<std::string, std::deque<socket_t>> waiting_;  // by address, oldest first
};

} // namespace fleet
