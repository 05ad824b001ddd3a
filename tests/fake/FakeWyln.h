// A scripted stand-in for the wyln transport plug-in. It is built as
// libwyln.so beside the test programs, records every call the library makes
// and returns scripted results.
#pragma once

#include "transport/WylnInterface.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The test-control functions live in the fake plug-in; on Windows a DLL
// hands out only what it exports.
#if defined(_WIN32) && defined(FAKE_WYLN_BUILD)
#  define FAKE_API __declspec(dllexport)
#elif defined(_WIN32)
#  define FAKE_API __declspec(dllimport)
#else
#  define FAKE_API
#endif

namespace fakewyln {

struct Call
{
    std::string op;       // "NewInterface", "CreateClient", "Connect", "Login", "ApplyId",
                          // "NotifyRecv", "Send", "SendTo", "DestroyClient", "ReleaseInterface"
    std::string target;   // host, id buffer before the call, target id, or peer id
    std::string payload;  // bytes sent (Send: up to the zero; SendTo: nLen bytes)
    int nArg = 0;         // port, login parameter, client mode, time-out
    bool bNullTarget = false;

    explicit Call(std::string o, std::string t = std::string(), std::string p = std::string(), int n = 0,
                  bool bNull = false)
        : op(std::move(o)), target(std::move(t)), payload(std::move(p)), nArg(n), bNullTarget(bNull)
    {
    }
};

struct State
{
    std::recursive_mutex mu;
    std::vector<Call> calls;
    std::map<std::string, std::deque<int>> scripted;  // next results per op; 0 when empty
    std::string nextId = "client-1";                  // what ApplyId and an empty Login write
    WYLN::IWylnOwner* sink = nullptr;
    bool createNullClient = false;
    int destroyCount = 0;
    int releaseCount = 0;
    // Called for each Send/SendTo after it is recorded (e.g. a peer answering).
    std::function<void(const Call&)> onSend;
};

FAKE_API State& GetState();
FAKE_API void Reset();

// Pushes results for the next calls of op.
FAKE_API void Script(const std::string& op, std::initializer_list<int> results);

// Copies of the recorded calls, optionally only those of one op.
FAKE_API std::vector<Call> Calls(const std::string& op = std::string());
FAKE_API std::vector<Call> Sent();  // Send and SendTo, in order

// Delivers one inbound packet to the sink on the calling thread.
FAKE_API void Deliver(const std::string& data, const std::string& peerId, const char* szPeerName = nullptr);
// Delivers packets on a thread of the fake's own, one at a time, and waits
// for the last to be handled.
FAKE_API void DeliverOnThread(const std::vector<std::string>& packets, const std::string& peerId);

} // namespace fakewyln
