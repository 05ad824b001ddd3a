// A transport client for the benchmarks and the fuzz targets: connecting,
// logging in and applying for an identifier succeed at once, and every send
// is counted and, when pKeep is set, kept. SendTo reads the whole target
// identifier, so that the sanitizers of a fuzz run see a bad one.
#pragma once

#include "transport/WylnInterface.h"

#include <string.h>

#include <string>
#include <vector>

class CountingClient : public IWylnClient
{
public:
    long long llBytes = 0;    // bytes of every send
    long long llSendTos = 0;  // SendTo calls: the replies of a receive path
    std::vector<std::string>* pKeep = nullptr;

    int Connect(const char*, int) override { return 0; }
    int Login(char*, WYLN::IWylnOwner*, int) override { return 0; }
    int ApplyId(const char*, char*, int) override { return 0; }
    int NotifyRecv(const char*, int, const char*) override { return 0; }
    int Send(const char* pData, int) override
    {
        const size_t n = strlen(pData);
        llBytes += static_cast<long long>(n);
        if (pKeep)
            pKeep->emplace_back(pData, n);
        return 0;
    }
    int SendTo(const char* szTargetId, const char* pData, int nLen, int) override
    {
        volatile size_t nTarget = strlen(szTargetId);
        (void)nTarget;
        llBytes += nLen;
        ++llSendTos;
        if (pKeep)
            pKeep->emplace_back(pData, static_cast<size_t>(nLen));
        return 0;
    }
};
