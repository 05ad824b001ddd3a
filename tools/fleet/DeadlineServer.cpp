#include "DeadlineServer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <poll.h>
#endif

namespace fleet {

namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
using PollFd = WSAPOLLFD;
using IoSize = int;
int pollOne(PollFd* p, int ms) { return ::WSAPoll(p, 1, ms); }
bool interrupted() { return ::WSAGetLastError() == WSAEINTR; }
const int kSendFlags = 0;
void shutdownSocket(socket_t s) { ::shutdown(s, SD_BOTH); }
void closeSocket(socket_t s)
{
    shutdownSocket(s);
    ::closesocket(s);
}
#else
using PollFd = pollfd;
using IoSize = size_t;
int pollOne(PollFd* p, int ms) { return ::poll(p, 1, ms); }
bool interrupted() { return errno == EINTR; }
const int kSendFlags = MSG_NOSIGNAL;  // a vanished client must not raise SIGPIPE
void shutdownSocket(socket_t s) { ::shutdown(s, SHUT_RDWR); }
void closeSocket(socket_t s)
{
    shutdownSocket(s);
    ::close(s);
}
#endif

// A connection as httplib's request parser sees it. Every wait is cut in
// short slices so that a stopping server is noticed at once, and a read
// never waits past the request's deadline.
class DeadlineStream final : public httplib::Stream
{
public:
    DeadlineStream(socket_t sock, const std::atomic<socket_t>& listening, Clock::duration readTimeout,
                   Clock::duration writeTimeout)
        : sock_(sock), listening_(listening), readTimeout_(readTimeout), writeTimeout_(writeTimeout)
    {
    }

    // Starts the next request's clock; true when its first byte arrives in
    // time (and before `idleUntil`).
    bool awaitRequest(Clock::time_point deadline, Clock::time_point idleUntil)
    {
        deadline_ = deadline;
        return pending() || wait(POLLIN, std::min(deadline_, idleUntil));
    }

    bool is_readable() const override
    {
        if (pending() || wait(POLLIN, std::min(deadline_, Clock::now() + readTimeout_)))
            return true;
        late_ = late_ || Clock::now() >= deadline_;
        return false;
    }

    // A read was refused for the deadline. httplib then answers 400 and
    // would wait for the next request on the connection.
    bool late() const { return late_; }

    bool is_writable() const override { return wait(POLLOUT, Clock::now() + writeTimeout_); }

    ssize_t read(char* ptr, size_t size) override
    {
        if (!pending()) {
            if (!is_readable())
                return -1;
            ssize_t n;
            do
                n = ::recv(sock_, buf_, static_cast<IoSize>(sizeof(buf_)), 0);
            while (n < 0 && interrupted());
            if (n <= 0)
                return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buf_ + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        // One send at a time; httplib writes the rest.
        size = std::min<size_t>(size, 1 << 20);
        ssize_t n;
        do
            n = ::send(sock_, ptr, static_cast<IoSize>(size), kSendFlags);
        while (n < 0 && interrupted());
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(false, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    bool pending() const { return begin_ < end_; }

    bool wait(short events, Clock::time_point until) const
    {
        for (;;) {
            // Rounded up: "no time left" must mean the time has come.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0 || listening_ == INVALID_SOCKET)
                return false;
            PollFd p{};
            p.fd = sock_;
            p.events = events;
            const int r = pollOne(&p, static_cast<int>(std::min<long long>(left, 50)));
            if (r > 0)
                return true;  // ready, or an error or hang-up the next call reports
            if (r < 0 && !interrupted())
                return false;
        }
    }

    void address(bool peer, std::string& ip, int& port) const
    {
        sockaddr_storage a{};
        socklen_t len = sizeof(a);
        auto* sa = reinterpret_cast<sockaddr*>(&a);
        if ((peer ? ::getpeername(sock_, sa, &len) : ::getsockname(sock_, sa, &len)) != 0)
            return;
        char host[NI_MAXHOST];
        if (::getnameinfo(sa, len, host, sizeof(host), nullptr, 0, NI_NUMERICHOST) == 0)
            ip = host;
        port = ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    }

    socket_t sock_;
    const std::atomic<socket_t>& listening_;
    Clock::duration readTimeout_, writeTimeout_;
    Clock::time_point deadline_ = Clock::now();
    mutable bool late_ = false;
    char buf_[4096];
    size_t begin_ = 0, end_ = 0;
};

} // namespace

// One request's wait on a connection, listed under its client's address
// until the request's head is in or the wait ends. A connection pushed out
// of the list is shut down, which ends its wait at once; its owner closes it
// only after leaving the list, under the same lock, so the socket shut down
// is never one already closed and reused.
class DeadlineServer::Waiting
{
public:
    Waiting(DeadlineServer& s, const std::string& ip, socket_t sock) : s_(s), ip_(ip), sock_(sock)
    {
        std::lock_guard<std::mutex> lock(s_.m_);
        std::deque<socket_t>& q = s_.waiting_[ip_];
        if (s_.maxWaiting_ > 0 && q.size() >= s_.maxWaiting_) {
            shutdownSocket(q.front());
            q.pop_front();
        }
        q.push_back(sock_);
        current = this;
    }
    ~Waiting()
    {
        done();
        current = nullptr;
    }
    void done()
    {
        std::lock_guard<std::mutex> lock(s_.m_);
        const auto it = s_.waiting_.find(ip_);
        if (it == s_.waiting_.end())
            return;
        it->second.erase(std::remove(it->second.begin(), it->second.end(), sock_), it->second.end());
        if (it->second.empty())
            s_.waiting_.erase(it);
    }

    static thread_local Waiting* current;  // the worker thread's

private:
    DeadlineServer& s_;
    std::string ip_;
    socket_t sock_;
};

thread_local DeadlineServer::Waiting* DeadlineServer::Waiting::current = nullptr;

DeadlineServer::DeadlineServer()
{
    set_pre_routing_handler(nullptr);
}

DeadlineServer& DeadlineServer::set_pre_routing_handler(HandlerWithResponse handler)
{
    Server::set_pre_routing_handler([handler](const httplib::Request& req, httplib::Response& res) {
        if (Waiting::current)
            Waiting::current->done();
        return handler ? handler(req, res) : HandlerResponse::Unhandled;
    });
    return *this;
}

void DeadlineServer::set_listen_backlog(int n)
{
    const socket_t s = svr_sock_;
    if (s != INVALID_SOCKET)
        ::listen(s, n);
}

bool DeadlineServer::process_and_close_socket(socket_t sock)
{
    using std::chrono::microseconds;
    using std::chrono::seconds;
    DeadlineStream strm(sock, svr_sock_, seconds(read_timeout_sec_) + microseconds(read_timeout_usec_),
                        seconds(write_timeout_sec_) + microseconds(write_timeout_usec_));
    std::string ip;
    int port = 0;
    strm.get_remote_ip_and_port(ip, port);
    bool ok = false;
    for (size_t left = keep_alive_max_count_; left > 0; --left) {
        const Clock::time_point start = Clock::now();
        Waiting waiting(*this, ip, sock);
        if (!strm.awaitRequest(start + deadline_, start + seconds(keep_alive_timeout_sec_)))
            break;
        bool closed = false;
        ok = process_request(strm, left == 1, closed, nullptr);
        if (!ok || closed || strm.late())
            break;
    }
    closeSocket(sock);
    return ok;
}

} // namespace fleet
