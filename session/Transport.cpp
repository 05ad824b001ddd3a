// The session's side of the transport binding: the plug-in's objects and the
// log lines around them.
#include "session/Orlin.h"

#include "transport/WylnBinding.h"
#include "wire/FixedTexts.h"

using namespace orlin;

int Orlin::_LoadWlynDll()
{
    SWylnEntryPoints entry;
    QString qsError;
    if (!LoadWylnPlugin(entry, qsError)) {
        _Log(QByteArray(say::LoadFailed) + qsError.toUtf8());
        return 12;
    }
    if (!entry.pfnNewInterface) {
        _Log(say::NoNewInterface);
        return 12;
    }
    m_pWylnCreator = entry.pfnNewInterface();
    if (!m_pWylnCreator) {
        _Log(say::CreatorFailed);
        return 12;
    }
    m_pWylnClient = m_pWylnCreator->CreateClient(m_nClientMode);
    m_pfnReleaseInterface = entry.pfnReleaseInterface;
    if (!m_pfnReleaseInterface) {
        _Log(say::NoReleaseInterface);
        return 12;
    }
    // Every later call needs a client; the factory is released by Exit.
    if (!m_pWylnClient) {
        _Log(say::ClientFailed);
        return 12;
    }
    return 0;
}

int Orlin::_GetErrorCode(int iRetErrCode)
{
    _Log(QString::fromLatin1(say::ErrorCode).arg(iRetErrCode).toUtf8());
    return MapWylnCode(iRetErrCode);
}
