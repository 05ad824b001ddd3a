#include "FakeWyln.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <functional>
#include <thread>

#if defined(_WIN32)
#  define FAKE_EXPORT __declspec(dllexport)
#else
#  define FAKE_EXPORT __attribute__((visibility("default")))
#endif

namespace fakewyln {

State& GetState()
{
    static State s;
    return s;
}

void Reset()
{
    State& s = GetState();
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    s.calls.clear();
    s.scripted.clear();
    s.nextId = "client-1";
    s.sink = nullptr;
    s.createNullClient = false;
    s.destroyCount = 0;
    s.releaseCount = 0;
    s.onSend = nullptr;
}

void Script(const std::string& op, std::initializer_list<int> results)
{
    State& s = GetState();
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    for (int r : results)
        s.scripted[op].push_back(r);
}

// The recorded calls for which keep(op) holds.
template <class Keep>
std::vector<Call> Filtered(Keep keep)
{
    State& s = GetState();
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    std::vector<Call> out;
    for (const Call& c : s.calls)
        if (keep(c.op))
            out.push_back(c);
    return out;
}

std::vector<Call> Calls(const std::string& op)
{
    return Filtered([&](const std::string& o) { return op.empty() || o == op; });
}

std::vector<Call> Sent()
{
    return Filtered([](const std::string& o) { return o == "Send" || o == "SendTo"; });
}

namespace {

int Record(Call c)
{
    State& s = GetState();
    std::function<void(const Call&)> hook;
    int result = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(s.mu);
        auto it = s.scripted.find(c.op);
        if (it != s.scripted.end() && !it->second.empty()) {
            result = it->second.front();
            it->second.pop_front();
        }
        s.calls.push_back(c);
        if (c.op == "Send" || c.op == "SendTo")
            hook = s.onSend;
    }
    if (hook)
        hook(c);
    return result;
}

void WriteId(char* szId)
{
    State& s = GetState();
    std::lock_guard<std::recursive_mutex> lock(s.mu);
    memset(szId, 0, 260);
    strncpy(szId, s.nextId.c_str(), 259);
}

class FakeClient : public IWylnClient
{
public:
    int Connect(const char* szHost, int nPort) override { return Record(Call("Connect", szHost ? szHost : "", "", nPort)); }
    int Login(char* szId, WYLN::IWylnOwner* pSink, int nLoginParam) override
    {
        const int r = Record(Call("Login", szId ? szId : "", "", nLoginParam));
        if (r == 0) {
            if (szId && !*szId)
                WriteId(szId);
            std::lock_guard<std::recursive_mutex> lock(GetState().mu);
            GetState().sink = pSink;
        }
        return r;
    }
    int ApplyId(const char* szApplyInfo, char* szId, int nLoginParam) override
    {
        const int r = Record(Call("ApplyId", szId ? szId : "", szApplyInfo ? szApplyInfo : "", nLoginParam));
        if (r == 0 && szId)
            WriteId(szId);
        return r;
    }
    int NotifyRecv(const char* pData, int nLen, const char* szPeerId) override
    {
        return Record(Call("NotifyRecv", szPeerId ? szPeerId : "", pData && nLen > 0 ? std::string(pData, nLen) : "", nLen));
    }
    int Send(const char* pData, int nTimeoutMs) override { return Record(Call("Send", "", pData ? pData : "", nTimeoutMs)); }
    int SendTo(const char* szTargetId, const char* pData, int nLen, int nTimeoutMs) override
    {
        return Record(Call("SendTo", szTargetId ? szTargetId : "", pData && nLen > 0 ? std::string(pData, nLen) : "",
                           nTimeoutMs, szTargetId == nullptr));
    }
};

class FakeCreator : public IWylnCreator
{
public:
    IWylnClient* CreateClient(int nClientMode) override
    {
        Record(Call("CreateClient", "", "", nClientMode));
        std::lock_guard<std::recursive_mutex> lock(GetState().mu);
        return GetState().createNullClient ? nullptr : new FakeClient;
    }
    void DestroyClient(IWylnClient* pClient) override
    {
        Record(Call{"DestroyClient"});
        {
            std::lock_guard<std::recursive_mutex> lock(GetState().mu);
            ++GetState().destroyCount;
            GetState().sink = nullptr;
        }
        delete pClient;
    }
};

WYLN::IWylnOwner* Sink()
{
    std::lock_guard<std::recursive_mutex> lock(GetState().mu);
    return GetState().sink;
}

} // namespace

namespace {

// With ORLIN_DUMP_RECV naming a directory, every delivered packet of up to
// 64 KiB is also written there, one file per distinct packet: the seed
// corpus of the receive path's fuzzer (fuzz/make_seeds.sh).
void Dump(const std::string& data)
{
    static const char* dir = getenv("ORLIN_DUMP_RECV");
    if (!dir || data.empty() || data.size() > 65536)
        return;
    char path[1024];
    snprintf(path, sizeof(path), "%s/%016zx", dir, std::hash<std::string>()(data));
    if (FILE* f = fopen(path, "wb")) {
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
}

} // namespace

void Deliver(const std::string& data, const std::string& peerId, const char* szPeerName)
{
    Dump(data);
    char szPeer[260] = {0};
    strncpy(szPeer, peerId.c_str(), 259);
    if (WYLN::IWylnOwner* sink = Sink())
        sink->OnRecv(data.data(), static_cast<int>(data.size()), szPeer, szPeerName);
}

void DeliverOnThread(const std::vector<std::string>& packets, const std::string& peerId)
{
    std::thread t([&] {
        for (const std::string& p : packets)
            Deliver(p, peerId);
    });
    t.join();
}

} // namespace fakewyln

extern "C" {

#if !defined(FAKE_WYLN_NO_NEW)
FAKE_EXPORT IWylnCreator* NewInterface()
{
    fakewyln::Record(fakewyln::Call{"NewInterface"});
#  if defined(FAKE_WYLN_NULL_CREATOR)
    return nullptr;
#  else
    return new fakewyln::FakeCreator;
#  endif
}
#endif

#if !defined(FAKE_WYLN_NO_RELEASE)
FAKE_EXPORT void ReleaseInterface(IWylnCreator* p)
{
    fakewyln::Record(fakewyln::Call{"ReleaseInterface"});
    {
        std::lock_guard<std::recursive_mutex> lock(fakewyln::GetState().mu);
        ++fakewyln::GetState().releaseCount;
    }
    delete p;
}
#endif
}
