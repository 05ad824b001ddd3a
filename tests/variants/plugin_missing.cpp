// Init with no plug-in beside the executable, then with a file there that is
// no library, then with the plug-in copied in: one session through all three.
#include "RecordingOwner.h"
#include "session/Orlin.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

enum class Beside { Nothing, NotALibrary, Plugin };

struct Case
{
    const char* name;
    Beside file;
    int init;  // Init's result
    int send;  // SendData's result afterwards
};

// The working plug-in comes last: once loaded it stays for the process.
const Case kCases[] = {
    {"no file", Beside::Nothing, 12, -1},
    {"not a library", Beside::NotALibrary, 12, -1},
    {"plug-in", Beside::Plugin, 0, 0},
};

#if defined(_WIN32)
const char kFileName[] = "wyln.dll";
#else
const char kFileName[] = "libwyln.so";
#endif

bool Place(Beside file, const QString& path)
{
    QFile::remove(path);
    QFile f(path);
    switch (file) {
    case Beside::Nothing: return !f.exists();
    case Beside::NotALibrary: return f.open(QIODevice::WriteOnly) && f.write("not a library\n") > 0;
    case Beside::Plugin: return QFile::copy(QStringLiteral(GOOD_WYLN), path);
    }
    return false;
}

} // namespace

TEST(PluginMissing, InitReturns12WithTheLoaderReasonUntilThePluginIsThere)
{
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kFileName);
    const std::string prefix = "wyln.dll Load failed,errstring=";
    RecordingOwner owner;
    Orlin session;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Place(c.file, path));
        owner.Clear();
        EXPECT_EQ(c.init, session.Init(&owner, "127.0.0.1", 1883, 0, 0));
        const std::vector<std::string> logs = owner.Logs();
        const auto failed = std::count_if(logs.begin(), logs.end(), [&](const std::string& l) {
            return l.size() > prefix.size() && l.compare(0, prefix.size(), prefix) == 0;
        });
        EXPECT_EQ(c.init == 0 ? 0 : 1, failed);
        EXPECT_EQ(c.send, session.SendData("peer", "x", 1, 10));
        session.Exit();
    }
}
