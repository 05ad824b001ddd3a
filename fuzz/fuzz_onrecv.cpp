// The receive path as the transport drives it: every input is one inbound
// packet (JSON of any family and type, an array of messages, or a framed
// binary packet) handed to CWylnOwner::OnRecv.
//
// Texts that name "file_transfer" also go through a second sink with the
// chunk fast path off: both must log the same lines and send the same
// replies, since the fast path is only a shortcut of the plain one.
#include "FuzzHost.h"
#include "ReplyText.h"

#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

fuzzhost::Sink* g_fast;
fuzzhost::Sink* g_plain;

void Report(const char* what, const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    fprintf(stderr, "fast and plain path differ in %s (%zu vs %zu)\n", what, a.size(), b.size());
    for (size_t i = 0; i < a.size() || i < b.size(); ++i)
        fprintf(stderr, "  [%zu] fast : %s\n       plain: %s\n", i, i < a.size() ? a[i].c_str() : "-",
                i < b.size() ? b[i].c_str() : "-");
    abort();
}

// The replies' header carries the current second, which the two runs may
// straddle, and a new random identifier when the request had none.
std::vector<std::string> WithoutTime(std::vector<std::string> v)
{
    for (std::string& s : v)
        s = testsupport::MaskFresh(s);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_fast = new fuzzhost::Sink;
    g_plain = new fuzzhost::Sink;
    g_plain->owner.SetLiftFileChunks(false);
    g_fast->host.keepLogs = g_plain->host.keepLogs = true;
    // Qt allocates some state on first use (the random source of new message
    // identifiers) and keeps it: done here, it is not taken for a leak of the
    // first input that needs it.
    orlin::MakeMsgId();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return -1;
    // The transport hands over a buffer of exactly nLen bytes.
    const char* p = reinterpret_cast<const char*>(data);
    const int n = static_cast<int>(size);
    static const char kPeer[260] = "peer-A";

    g_fast->Clear();
    g_fast->owner.OnRecv(p, n, kPeer, "fuzz");

    if (memmem(p, size, "file_transfer", 13)) {
        g_plain->Clear();
        g_plain->owner.OnRecv(p, n, kPeer, "fuzz");
        // Logged replies carry the same header fields as the sent ones.
        const auto la = WithoutTime(g_fast->host.logs), lb = WithoutTime(g_plain->host.logs);
        if (la != lb)
            Report("log lines", la, lb);
        const auto a = WithoutTime(g_fast->sent), b = WithoutTime(g_plain->sent);
        if (a != b)
            Report("replies", a, b);
    }
    return 0;
}
