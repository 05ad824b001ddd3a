// Entry points of the plug-in: the factory and its C exports.
#include "Wyln.h"
#include "WylnClient.h"
#include "WylnConfig.h"

#include <mosquitto.h>

#include <mutex>
#include <new>
#include <set>

#if defined(_WIN32)
#  include <winsock2.h>
#endif

namespace wyln {

namespace {

std::mutex g_libMutex;
int g_libUsers = 0;

// The plug-in's own sockets (the connect probe) need Winsock whatever
// libmosquitto does; start-up and clean-up are counted by Windows, so they
// pair with the first and last creator.
bool startLibraries()
{
#if defined(_WIN32)
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
#endif
    if (mosquitto_lib_init() == MOSQ_ERR_SUCCESS)
        return true;
#if defined(_WIN32)
    WSACleanup();
#endif
    return false;
}

void stopLibraries()
{
    mosquitto_lib_cleanup();
#if defined(_WIN32)
    WSACleanup();
#endif
}

class Creator final : public IWylnCreator
{
public:
    ~Creator() override
    {
        for (IWylnClient* c : clients_)
            delete c;
    }

    IWylnClient* CreateClient(int) override
    {
        try {
            Client* c = new Client(Config::load());
            std::lock_guard<std::mutex> lk(mu_);
            clients_.insert(c);
            return c;
        } catch (...) {
            return nullptr;
        }
    }

    void DestroyClient(IWylnClient* pClient) override
    {
        try {
            {
                std::lock_guard<std::mutex> lk(mu_);
                if (clients_.erase(pClient) == 0)
                    return;  // not one of ours, or destroyed already
            }
            delete pClient;
        } catch (...) {
        }
    }

private:
    std::mutex mu_;
    std::set<IWylnClient*> clients_;
};

} // namespace

} // namespace wyln

extern "C" WYLN_EXPORT IWylnCreator* NewInterface()
{
    try {
        std::lock_guard<std::mutex> lk(wyln::g_libMutex);
        if (wyln::g_libUsers == 0 && !wyln::startLibraries())
            return nullptr;
        IWylnCreator* creator = new (std::nothrow) wyln::Creator();
        if (creator)
            ++wyln::g_libUsers;
        else if (wyln::g_libUsers == 0)
            wyln::stopLibraries();
        return creator;
    } catch (...) {
        return nullptr;
    }
}

extern "C" WYLN_EXPORT void ReleaseInterface(IWylnCreator* pCreator)
{
    if (!pCreator)
        return;
    try {
        delete pCreator;
        std::lock_guard<std::mutex> lk(wyln::g_libMutex);
        if (wyln::g_libUsers > 0 && --wyln::g_libUsers == 0)
            wyln::stopLibraries();
    } catch (...) {
    }
}
