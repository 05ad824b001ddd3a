#include "FleetServer.h"

#include "DeadlineServer.h"

#include <algorithm>

namespace fleet {

// ---- event hub ------------------------------------------------------------------

void EventHub::publish(const QByteArray& type, const QByteArray& json)
{
    {
        std::lock_guard<std::mutex> lock(m_);
        items_.push_back(Item{++seq_, type, json});
        while (items_.size() > capacity_)
            items_.pop_front();
    }
    cv_.notify_all();
}

uint64_t EventHub::seq() const
{
    std::lock_guard<std::mutex> lock(m_);
    return seq_;
}

EventHub::Batch EventHub::next(uint64_t after, int waitMs)
{
    Batch b;
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return stopped_ || seq_ > after; });
    b.stopped = stopped_;
    b.last = after;
    if (stopped_ || seq_ <= after)
        return b;
    if (items_.empty() || items_.front().seq > after + 1) {
        b.reset = true;
        b.last = seq_;
        b.text = "id: " + std::to_string(seq_) + "\nevent: reset\ndata: {}\n\n";
        b.count = 1;
        return b;
    }
    // Sequence numbers are consecutive, so the first wanted item is found by
    // arithmetic.
    for (size_t i = static_cast<size_t>(after + 1 - items_.front().seq); i < items_.size(); ++i) {
        const Item& it = items_[i];
        b.text += "id: " + std::to_string(it.seq) + "\nevent: ";
        b.text.append(it.type.constData(), static_cast<size_t>(it.type.size()));
        b.text += "\ndata: ";
        b.text.append(it.json.constData(), static_cast<size_t>(it.json.size()));
        b.text += "\n\n";
        ++b.count;
    }
    b.last = seq_;
    return b;
}

void EventHub::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        stopped_ = true;
    }
    cv_.notify_all();
}

// ---- helpers --------------------------------------------------------------------

bool isLoopback(const std::string& host)
{
    if (host == "localhost" || host == "::1")
        return true;
    // A dotted quad whose first number is 127.
    int parts = 0, first = -1;
    size_t pos = 0;
    while (pos <= host.size()) {
        const size_t end = std::min(host.find('.', pos), host.size());
        const std::string part = host.substr(pos, end - pos);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos
            || std::stoi(part) > 255)
            return false;
        if (parts++ == 0)
            first = std::stoi(part);
        pos = end + 1;
    }
    return parts == 4 && first == 127;
}

bool tokenMatches(const std::string& presented, const std::string& expected)
{
    if (presented.size() != expected.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        diff |= static_cast<unsigned char>(presented[i] ^ expected[i]);
    return diff == 0;
}

namespace {

const char* const kTokenCookie = "orlin_fleet_token";

std::string cookieValue(const httplib::Request& req, const std::string& name)
{
    const std::string cookies = req.get_header_value("Cookie");
    size_t pos = 0;
    while (pos < cookies.size()) {
        size_t end = cookies.find(';', pos);
        if (end == std::string::npos)
            end = cookies.size();
        std::string part = cookies.substr(pos, end - pos);
        part.erase(0, part.find_first_not_of(' '));
        if (part.compare(0, name.size() + 1, name + "=") == 0)
            return part.substr(name.size() + 1);
        pos = end + 1;
    }
    return std::string();
}

void send(httplib::Response& res, int status, const std::string& body, const char* type)
{
    res.status = status;
    res.set_content(body, type);
}

void sendJson(httplib::Response& res, int status, const QByteArray& json)
{
    send(res, status, std::string(json.constData(), static_cast<size_t>(json.size())), "application/json");
}

} // namespace

struct FleetServer::Impl
{
    DeadlineServer http;
};

FleetServer::FleetServer(ServerOptions o, Source source, EventHub& hub)
    : impl_(std::make_unique<Impl>()), o_(std::move(o)), source_(std::move(source)), hub_(hub)
{
}

FleetServer::~FleetServer()
{
    stop();
}

bool FleetServer::start()
{
    DeadlineServer& s = impl_->http;
    const int threads = o_.threads;
    s.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    s.set_read_timeout(o_.readTimeoutS, 0);
    s.set_write_timeout(5, 0);
    // An idle connection, or one left open after a bad request (httplib
    // answers 400 or 414 and keeps it), goes after the same time, or at the
    // next request's deadline if that comes first.
    s.set_keep_alive_timeout(o_.readTimeoutS);
    s.set_request_deadline(std::chrono::milliseconds(o_.requestDeadlineMs));
    s.set_max_waiting_per_client(static_cast<size_t>(o_.maxWaitingPerClient));
    s.set_keep_alive_max_count(100);
    s.set_payload_max_length(64 * 1024);
    s.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                           {"Cache-Control", "no-store"},
                           {"Referrer-Policy", "no-referrer"},
                           {"X-Frame-Options", "DENY"}});

    // Every request passes here first: the access token, when one is set.
    // It comes as "Authorization: Bearer", as ?token= (which also sets a
    // cookie, so that the page's own requests carry it) or as that cookie.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        ++requests_;
        if (o_.token.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        const std::string auth = req.get_header_value("Authorization");
        const bool ok = (auth.rfind("Bearer ", 0) == 0 && tokenMatches(auth.substr(7), o_.token))
                        || (req.has_param("token") && tokenMatches(req.get_param_value("token"), o_.token))
                        || tokenMatches(cookieValue(req, kTokenCookie), o_.token);
        if (!ok) {
            send(res, 401, "{\"error\":\"access token required\"}", "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.has_param("token"))
            res.set_header("Set-Cookie", std::string(kTokenCookie) + "=" + o_.token + "; Path=/; HttpOnly; SameSite=Strict");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            send(res, res.status, res.status == 404 ? "{\"error\":\"not found\"}" : "{\"error\":\"bad request\"}",
                 "application/json");
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        send(res, 500, "{\"error\":\"internal error\"}", "application/json");
    });

    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        // Nothing comes from elsewhere, and no inline script runs.
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
                       "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        send(res, 200, kPageHtml, "text/html; charset=utf-8");
    });
    s.Get("/fleet.js", [](const httplib::Request&, httplib::Response& res) {
        send(res, 200, kPageJs, "text/javascript; charset=utf-8");
    });
    s.Get("/fleet.css", [](const httplib::Request&, httplib::Response& res) {
        send(res, 200, kPageCss, "text/css; charset=utf-8");
    });
    s.Get("/api/fleet", [this](const httplib::Request&, httplib::Response& res) { sendJson(res, 200, source_.fleet()); });
    s.Get(R"(/api/printers/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        // httplib hands the path over decoded.
        const QByteArray json = source_.printer(QString::fromStdString(req.matches[1].str()));
        if (json.isEmpty())
            sendJson(res, 404, "{\"error\":\"no such printer\"}");
        else
            sendJson(res, 200, json);
    });
    s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
        if (++streams_ > o_.maxStreams) {
            --streams_;
            sendJson(res, 503, "{\"error\":\"too many event streams\"}");
            return;
        }
        // Events after the snapshot the page loaded ("since"), or after the
        // last one this browser saw before it reconnected.
        std::string since = req.get_header_value("Last-Event-ID");
        if (since.empty())
            since = req.get_param_value("since");
        uint64_t after = hub_.seq();
        if (!since.empty()) {
            char* end = nullptr;
            const unsigned long long v = std::strtoull(since.c_str(), &end, 10);
            if (end && *end == '\0' && v <= after)
                after = v;
        }
        auto first = std::make_shared<bool>(true);
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, after, first](size_t, httplib::DataSink& sink) mutable {
                // The first write goes out at once, so that the stream is
                // seen open before the first event.
                if (*first) {
                    *first = false;
                    static const char retry[] = "retry: 1000\n\n";
                    return sink.write(retry, sizeof(retry) - 1);
                }
                const EventHub::Batch b = hub_.next(after, 15000);
                if (b.stopped)
                    return false;
                after = b.last;
                const std::string text = b.count ? b.text : std::string(": keep-alive\n\n");
                if (!sink.is_writable() || !sink.write(text.data(), text.size()))
                    return false;
                eventsSent_ += b.count;
                return true;
            },
            [this](bool) { --streams_; });
    });

    if (o_.port == 0) {
        port_ = s.bind_to_any_port(o_.host);
        if (port_ <= 0)
            return false;
    } else {
        if (!s.bind_to_port(o_.host, o_.port))
            return false;
        port_ = o_.port;
    }
    s.set_listen_backlog(128);
    thread_ = std::thread([&s] { s.listen_after_bind(); });
    return true;
}

void FleetServer::stop()
{
    hub_.stop();
    impl_->http.stop();
    if (thread_.joinable())
        thread_.join();
}

} // namespace fleet
