#include "WylnNet.h"

#include <chrono>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET socket_t;
static const socket_t kBadSocket = INVALID_SOCKET;
static void closeSocket(socket_t s) { closesocket(s); }
static bool setNonBlocking(socket_t s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
static bool connectPending() { return WSAGetLastError() == WSAEWOULDBLOCK; }
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int socket_t;
static const socket_t kBadSocket = -1;
static void closeSocket(socket_t s) { ::close(s); }
static bool setNonBlocking(socket_t s)
{
    int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
static bool connectPending() { return errno == EINPROGRESS || errno == EWOULDBLOCK; }
#endif

namespace wyln {

namespace {

// Waits until s is writable; returns false on timeout.
bool waitWritable(socket_t s, int timeoutMs)
{
#if defined(_WIN32)
    fd_set wr, ex;
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(s, &wr);
    FD_SET(s, &ex);
    timeval tv;
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return select(0, nullptr, &wr, &ex, &tv) > 0;
#else
    pollfd p;
    p.fd = s;
    p.events = POLLOUT;
    p.revents = 0;
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
#endif
}

} // namespace

bool probeTcp(const char* host, int port, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &list) != 0 || !list)
        return false;

    bool ok = false;
    for (addrinfo* a = list; a && !ok; a = a->ai_next) {
        socket_t s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == kBadSocket)
            continue;
        if (setNonBlocking(s)) {
            if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
                ok = true;
            } else if (connectPending()) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left > 0 && waitWritable(s, static_cast<int>(left))) {
                    int err = 0;
                    socklen_t len = sizeof(err);
                    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 && err == 0)
                        ok = true;
                }
            }
        }
        closeSocket(s);
        if (Clock::now() >= deadline)
            break;
    }
    freeaddrinfo(list);
    return ok;
}

} // namespace wyln
