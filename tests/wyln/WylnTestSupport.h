// Helpers for tests and benchmarks of the wyln plug-in: a recording sink,
// a plug-in client wrapper, scoped environment.
#pragma once

#include "MosquittoFixture.h"
#include "Wyln.h"
#include "WylnInterface.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#  include <stdlib.h>
#else
#  include <unistd.h>
extern char** environ;
#endif

namespace wyln_test {

#if defined(_WIN32)
// The C runtime shared with the plug-in; an empty value removes a variable.
inline void setenv(const char* name, const char* value, int) { _putenv_s(name, value); }
inline void unsetenv(const char* name) { _putenv_s(name, ""); }
inline char** environment() { return _environ; }
#else
inline char** environment() { return environ; }
#endif

using Clock = std::chrono::steady_clock;

inline long long elapsedMs(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Sets (or unsets, with a null value) an environment variable for the
// lifetime of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr)
    {
        old_ = had_ ? std::getenv(name) : "";
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { had_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }

private:
    std::string name_, old_;
    bool had_;
};

// Clears every WYLN_* variable and points WYLN_CONF at nothing, so that
// tests start from the defaults.
struct CleanWylnEnv
{
    CleanWylnEnv()
    {
        std::vector<std::string> names;
        for (char** e = environment(); *e; ++e)
            if (std::strncmp(*e, "WYLN_", 5) == 0)
                names.push_back(std::string(*e).substr(0, std::string(*e).find('=')));
        for (const auto& n : names)
            unsetenv(n.c_str());
        setenv("WYLN_CONF", "", 1);
    }
};

struct Message
{
    std::string data;
    std::string peer;  // the sender, or the topic for a RawClient
};

// Messages received so far, with a wait for the next ones.
class Inbox
{
public:
    void add(Message m)
    {
        std::lock_guard<std::mutex> lk(mu_);
        messages_.push_back(std::move(m));
        cv_.notify_all();
    }
    bool waitFor(size_t count, int timeoutMs)
    {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= count; });
    }
    bool waitForData(const std::string& data, int timeoutMs)
    {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
            return std::any_of(messages_.begin(), messages_.end(), [&](const Message& m) { return m.data == data; });
        });
    }
    std::vector<Message> messages()
    {
        std::lock_guard<std::mutex> lk(mu_);
        return messages_;
    }
    size_t count() { return messages().size(); }

protected:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Message> messages_;
};

// Records every packet handed to OnRecv; an optional hook runs first (on
// the transport's thread), e.g. to reply.
class RecordingSink : public WYLN::IWylnOwner, public Inbox
{
public:
    std::function<void(const char*, int, const char*)> hook;

    void OnRecv(const char* pData, int nLen, const char* szPeerId, const char*) override
    {
        if (hook)
            hook(pData, nLen, szPeerId);
        add(Message{std::string(pData, static_cast<size_t>(nLen)), szPeerId});
    }
};

// The plug-in's factory for the lifetime of the object.
struct Plugin
{
    IWylnCreator* creator = NewInterface();
    ~Plugin() { ReleaseInterface(creator); }
};

// One plug-in connection with its sink. The client is destroyed before the
// sink, so no callback can reach a dead sink.
class Peer
{
public:
    explicit Peer(IWylnCreator* creator) : creator_(creator), client_(creator->CreateClient(0)) {}
    ~Peer() { destroy(); }

    void destroy()
    {
        if (client_)
            creator_->DestroyClient(client_);
        client_ = nullptr;
    }

    // Connect + Login; id may be empty to have one issued.
    int login(int port, const std::string& id = std::string(), const char* host = testBrokerHost())
    {
        int rc = client_->Connect(host, port);
        if (rc != 0)
            return rc;
        std::memset(id_, 0, sizeof(id_));
        std::strncpy(id_, id.c_str(), sizeof(id_) - 1);
        return client_->Login(id_, &sink, 0);
    }

    IWylnClient* operator->() { return client_; }
    IWylnClient* client() { return client_; }
    std::string id() const { return id_; }
    char* idBuffer() { return id_; }

    RecordingSink sink;

private:
    IWylnCreator* creator_;
    IWylnClient* client_;
    char id_[WYLN_ID_BUFFER] = {};
};

} // namespace wyln_test
