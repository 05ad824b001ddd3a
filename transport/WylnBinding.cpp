// Loading the transport plug-in and mapping its result codes.
#include "session/Orlin.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

namespace {

// The plug-in's file: "wyln.dll" on Windows, whose loader looks in the
// executable's directory first. Elsewhere the same order is kept by hand: the
// executable's directory, then the system's search path.
QString WylnFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("wyln.dll");
#else
    QString exeDir;
    if (QCoreApplication::instance())
        exeDir = QCoreApplication::applicationDirPath();
#  ifdef Q_OS_LINUX
    if (exeDir.isEmpty())
        exeDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
#  endif
#  ifdef Q_OS_MACOS
    const QString local = exeDir + QStringLiteral("/libwyln.dylib");
#  else
    const QString local = exeDir + QStringLiteral("/libwyln.so");
#  endif
    if (!exeDir.isEmpty() && QFileInfo::exists(local))
        return local;
    return QStringLiteral("wyln");
#endif
}

} // namespace

int Orlin::_LoadWlynDll()
{
    // The library stays loaded for the life of the process.
    QLibrary lib(WylnFileName());
    if (!lib.load()) {
        _Log(QByteArray("wyln.dll Load failed,errstring=") + lib.errorString().toUtf8());
        return 12;
    }
    PFN_WYLN_NEW_INTERFACE pfnNew = reinterpret_cast<PFN_WYLN_NEW_INTERFACE>(lib.resolve("NewInterface"));
    if (!pfnNew) {
        _Log("NewInterface api failed");
        return 12;
    }
    m_pWylnCreator = pfnNew();
    if (!m_pWylnCreator) {
        _Log("m_pWylnCreator new failed");
        return 12;
    }
    m_pWylnClient = m_pWylnCreator->CreateClient(m_nClientMode);
    m_pfnReleaseInterface = reinterpret_cast<PFN_WYLN_RELEASE_INTERFACE>(lib.resolve("ReleaseInterface"));
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
    switch (iRetErrCode) {
    case 0: return 0;
    case 1001: return 1;
    case 1002: return 2;
    case 1003: return 3;
    case 1004: return 14;
    case 1005: return 15;
    case 1251: return 16;
    case 1301: return 4;
    case 1302: return 5;
    case 1303: return 6;
    case 1304: return 7;
    case 1305: return 8;
    case 1306: return 17;
    case 1307: return 18;
    case 1308: return 19;
    case 1309: return 20;
    case 1310: return 13;
    case 1501: return 21;
    case 1502: return 22;
    case 1503: return 23;
    case 1504: return 24;
    case 1505: return 25;
    case 1506: return 26;
    case 1507: return 27;
    default: return -1;
    }
}
