// The session's side of the transport binding: the plug-in's objects and the
// log lines around them.
#include "session/Orlin.h"

#include "transport/WylnBinding.h"

using namespace orlin;

int Orlin::_LoadWlynDll()
{
    SWylnEntryPoints entry;
    QString qsError;
    if (!LoadWylnPlugin(entry, qsError)) {
        _Log(QByteArray("wyln.dll Load failed,errstring=") + qsError.toUtf8());
        return 12;
    }
    if (!entry.pfnNewInterface) {
        _Log("NewInterface api failed");
        return 12;
    }
    m_pWylnCreator = entry.pfnNewInterface();
    if (!m_pWylnCreator) {
        _Log("m_pWylnCreator new failed");
        return 12;
    }
    m_pWylnClient = m_pWylnCreator->CreateClient(m_nClientMode);
    m_pfnReleaseInterface = entry.pfnReleaseInterface;
    if (!m_pfnReleaseInterface) {
        _Log("ReleaseInterface api failed");
        return 12;
    }
    // Every later call needs a client; the factory is released by Exit.
    if (!m_pWylnClient) {
        _Log("m_pWylnClient create failed");
        return 12;
    }
    return 0;
}

int Orlin::_GetErrorCode(int iRetErrCode)
{
    _Log(QStringLiteral("[SendPrintPrnFile]_GetErrorCode:iRetErrCode=%1").arg(iRetErrCode).toUtf8());
    return MapWylnCode(iRetErrCode);
}
