#include "transport/WylnBinding.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

#if defined(Q_OS_WIN)
#  include <string>
#  include <windows.h>
#endif

namespace orlin {

QString WylnFileName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("wyln.dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("libwyln.dylib");
#else
    return QStringLiteral("libwyln.so");
#endif
}

namespace {

// A host without a QCoreApplication still has an executable; on Linux its
// directory is read from /proc, on Windows asked for in UTF-16 with a buffer
// grown until the whole name fits (any characters, any length).
QString ExecutableDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
#if defined(Q_OS_LINUX)
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
#elif defined(Q_OS_WIN)
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size()));
        if (n == 0 || name.size() >= 32768)
            return QString();
        if (n < name.size())
            return QFileInfo(QString::fromWCharArray(name.data(), static_cast<int>(n))).absolutePath();
        name.resize(name.size() * 2);
    }
#else
    return QString();
#endif
}

} // namespace

bool LoadWylnPlugin(SWylnEntryPoints& entry, QString& qsError)
{
    entry = SWylnEntryPoints();
    // The copy beside the executable wins over an installed one, on every
    // platform (Windows' own loader order would put it first as well).
    const QString exeDir = ExecutableDir();
    const QString beside = exeDir + QLatin1Char('/') + WylnFileName();
    QLibrary lib(!exeDir.isEmpty() && QFileInfo::exists(beside) ? beside : QStringLiteral("wyln"));
    if (!lib.load()) {
        qsError = lib.errorString();
        return false;
    }
    // QLibrary's destructor leaves the file loaded: objects made by the
    // plug-in may live until the process ends.
    entry.pfnNewInterface = reinterpret_cast<PFN_WYLN_NEW_INTERFACE>(lib.resolve("NewInterface"));
    entry.pfnReleaseInterface = reinterpret_cast<PFN_WYLN_RELEASE_INTERFACE>(lib.resolve("ReleaseInterface"));
    return true;
}

int MapWylnCode(int iRetErrCode)
{
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

} // namespace orlin
