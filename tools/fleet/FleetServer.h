// The fleet's HTTP side: the page, the JSON API and the event stream
// (Server-Sent Events), on cpp-httplib's own threads. Those threads never
// touch the transport: they read what the Source functions hand them, built
// under the owner's lock, and wait on the EventHub for news.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fleet {

// Recent events by sequence number, for every open stream. A stream that
// falls more than `capacity` events behind is told to reload.
class EventHub
{
public:
    explicit EventHub(size_t capacity = 8192) : capacity_(capacity) {}

    struct Batch
    {
        bool stopped = false;
        bool reset = false;           // events were dropped: reload the fleet
        uint64_t last = 0;            // sequence number of the last event below
        std::string text;             // the SSE lines
        size_t count = 0;
    };

    void publish(const QByteArray& type, const QByteArray& json);
    uint64_t seq() const;
    // Events after `after`, waiting up to waitMs for the first one.
    Batch next(uint64_t after, int waitMs);
    void stop();

private:
    struct Item
    {
        uint64_t seq;
        QByteArray type;
        QByteArray json;
    };
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::deque<Item> items_;
    size_t capacity_;
    uint64_t seq_ = 0;
    bool stopped_ = false;
};

struct ServerOptions
{
    std::string host = "127.0.0.1";
    int port = 8080;                  // 0: any free port
    std::string token;                // empty: none asked for
    int readTimeoutS = 5;             // a request that stalls longer is dropped
    int requestDeadlineMs = 5000;     // ... and one that takes longer in all
    int maxWaitingPerClient = 8;      // connections of one address waiting for a request
    int maxStreams = 16;              // open event streams
    int threads = 24;
};

struct Source
{
    // Compact JSON of the fleet, with the hub's sequence number at the time
    // it was taken under "seq".
    std::function<QByteArray()> fleet;
    // One printer; empty when it is not known.
    std::function<QByteArray(const QString& id)> printer;
};

// True for 127.0.0.0/8, ::1 and "localhost".
bool isLoopback(const std::string& host);
// Constant-time comparison of a presented token with the expected one.
bool tokenMatches(const std::string& presented, const std::string& expected);

class FleetServer
{
public:
    FleetServer(ServerOptions o, Source source, EventHub& hub);
    ~FleetServer();
    FleetServer(const FleetServer&) = delete;
    FleetServer& operator=(const FleetServer&) = delete;

    // Binds and starts serving on a thread of its own. False when the
    // address cannot be bound.
    bool start();
    void stop();
    int port() const { return port_; }

    uint64_t eventsSent() const { return eventsSent_; }
    int openStreams() const { return streams_; }
    uint64_t requests() const { return requests_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    ServerOptions o_;
    Source source_;
    EventHub& hub_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<uint64_t> eventsSent_{0};
    std::atomic<int> streams_{0};
    std::atomic<uint64_t> requests_{0};
};

// The page and its script and style sheet (FleetPage.cpp).
extern const char* const kPageHtml;
extern const char* const kPageJs;
extern const char* const kPageCss;

} // namespace fleet
