// Identifier rules, topic parsing and configuration parsing of the plug-in.
#include "Wyln.h"
#include "WylnConfig.h"
#include "WylnTopic.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#if defined(_WIN32)
#  include <windows.h>
#endif

using namespace wyln;

TEST(WylnIds, ValidityRules)
{
    const struct
    {
        std::string id;
        bool valid;
    } cases[] = {
        {"wyln", true}, {"0f8e2c1a-7d2b-4c51-9a8e-3f1b2c4d5e6f", true}, {"caf\xC3\xA9", true}, {"with space", true},
        {std::string(WYLN_ID_MAX_LEN, 'a'), true}, {std::string(WYLN_ID_MAX_LEN + 1, 'a'), false},
        // Not one topic level, or not a printable UTF-8 string.
        {"", false}, {"a/b", false}, {"a+", false}, {"#", false}, {"tab\t", false}, {"del\x7f", false},
        {"caf\xC3", false}, {"\xC0\xAF", false}, {"\xED\xA0\x80", false} /* a UTF-16 surrogate */,
        {"\xF4\x90\x80\x80", false} /* beyond U+10FFFF */, {std::string("nul\0inside", 10), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(isValidId(c.id), c.valid);
    }
    EXPECT_FALSE(isValidId(static_cast<const char*>(nullptr)));
}

TEST(WylnIds, BufferWithoutTerminatorIsNotReadBeyondItsEnd)
{
    char buf[WYLN_ID_BUFFER];
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(boundedIdLength(buf), -1);
    EXPECT_FALSE(isValidId(buf));
    buf[WYLN_ID_MAX_LEN] = '\0';
    EXPECT_EQ(boundedIdLength(buf), WYLN_ID_MAX_LEN);
    EXPECT_TRUE(isValidId(buf));

    EXPECT_TRUE(copyIdToBuffer(std::string(WYLN_ID_MAX_LEN, 'y'), buf));
    EXPECT_EQ(buf[WYLN_ID_MAX_LEN], '\0');
    EXPECT_FALSE(copyIdToBuffer(std::string(WYLN_ID_BUFFER, 'z'), buf));
    EXPECT_EQ(buf[0], 'y');
}

TEST(WylnTopics, SenderIsTheLastLevelOfOwnInboxOnly)
{
    const struct
    {
        const char* topic;
        bool accepted;
        const char* sender;
    } cases[] = {
        {"p2p/me/alice", true, "alice"}, {"p2p/me/", false, ""},      {"p2p/me", false, ""},
        {"p2p/me/a/b", false, ""},       {"p2p/mex/alice", false, ""}, {"p2p/m/alice", false, ""},
        {"p2p/other/alice", false, ""},  {"presence/me", false, ""},   {"P2P/me/alice", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic);
        std::string sender = "unchanged";
        EXPECT_EQ(senderFromTopic(c.topic, "me", sender), c.accepted);
        EXPECT_EQ(sender, c.accepted ? c.sender : "unchanged");
    }
    std::string s;
    EXPECT_TRUE(senderFromTopic(p2pTopic("me", "bob").c_str(), "me", s));
    EXPECT_EQ(s, "bob");
    EXPECT_EQ(inboxFilter("me"), "p2p/me/+");
    EXPECT_EQ(presenceTopic("me"), "presence/me");
}

namespace {

Config parseWith(const std::string& file, const std::map<std::string, std::string>& env)
{
    return Config::parse(file, [&](const std::string& name, std::string& value) {
        auto it = env.find(name);
        if (it == env.end())
            return false;
        value = it->second;
        return true;
    });
}

} // namespace

TEST(WylnConfig, FileValuesAndEnvironmentOverrides)
{
    Config c = parseWith("# comment\n"
                         "  service_id = svc \n"
                         "username=alice\n"
                         "password = p=w\n"
                         "keepalive=60\r\n"
                         "max_packet_size=1048576\n"
                         "cafile=/etc/ca.crt\n"
                         "presence=off\n"
                         "brokers = 127.0.0.1:1884, node-2:1883 [::1]:1885\n"
                         "future_key=ignored\n",
                         {{"WYLN_KEEPALIVE", "15"}, {"WYLN_ID_PREFIX", "c-"}});
    EXPECT_TRUE(c.error.empty()) << c.error;
    EXPECT_EQ(c.serviceId, "svc");
    EXPECT_EQ(c.username, "alice");
    EXPECT_EQ(c.password, "p=w");
    EXPECT_EQ(c.keepaliveS, 15);
    EXPECT_EQ(c.maxPacketSize, 1048576);
    EXPECT_EQ(c.idPrefix, "c-");
    EXPECT_TRUE(c.tls());
    EXPECT_FALSE(c.presence);
    const std::vector<std::pair<std::string, int>> brokers{{"127.0.0.1", 1884}, {"node-2", 1883}, {"::1", 1885}};
    EXPECT_EQ(c.brokers, brokers);
}

TEST(WylnConfig, MalformedValuesAreReported)
{
    const struct
    {
        const char* file;
        const char* mentions;
    } cases[] = {
        {"keepalive=abc", "keepalive"},
        {"keepalive=2", "keepalive"},
        {"connect_timeout_ms=-5", "connect_timeout_ms"},
        {"service_id=a/b", "service_id"},
        {"id_prefix=x#", "id_prefix"},
        {"presence=maybe", "presence"},
        {"reconnect_delay_min=10\nreconnect_delay_max=5", "reconnect_delay_max"},
        {"username=u+", "username"},
        {"max_packet_size=-1", "max_packet_size"},
        {"brokers=host", "brokers"},
        {"brokers=host:0", "brokers"},
        {"brokers=a:1,:2", "brokers"},
        {"brokers=::1:1883", "brokers"},
        {"just words", "line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Config cfg = parseWith(c.file, {});
        EXPECT_NE(cfg.error.find(c.mentions), std::string::npos) << cfg.error;
    }
}

// The configuration file is found in folders whose names are not ASCII and
// whose paths are longer than the 260 characters of an ANSI buffer: named by
// WYLN_CONF, and beside the code that reads it (this test program, copied
// into such a folder and run there; CreateProcessW starts no program whose
// path passes 260 characters, so that folder is shorter).
namespace {

namespace fs = std::filesystem;

struct DeepFolder
{
    explicit DeepFolder(int depth)
    {
        top = fs::temp_directory_path() / fs::u8path(u8"wyln-ünïcødé-" + std::to_string(std::random_device()()));
        path = top;
        for (int i = 0; i < depth; ++i)
            path /= fs::u8path(u8"Überwachung-печать-印刷-" + std::string(40, 'x'));
        fs::create_directories(path);
    }
    ~DeepFolder()
    {
        std::error_code ec;
        fs::remove_all(top, ec);
    }
    void writeConf(const std::string& text) const { std::ofstream(path / "wyln.conf", std::ios::binary) << text; }
    fs::path top, path;
};

fs::path ownProgram()
{
#if defined(_WIN32)
    std::wstring name(32768, L'\0');
    name.resize(GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size())));
    return fs::path(name);
#else
    return fs::read_symlink("/proc/self/exe");
#endif
}

void setConfEnv(const fs::path* p)
{
#if defined(_WIN32)
    _wputenv_s(L"WYLN_CONF", p ? p->c_str() : L"");
#else
    p ? setenv("WYLN_CONF", p->c_str(), 1) : unsetenv("WYLN_CONF");
#endif
}

// Runs `program` with the arguments and one more environment variable;
// returns its exit status.
int runWith(const fs::path& program, const std::string& args, const char* var, const char* value)
{
#if defined(_WIN32)
    _putenv_s(var, value);
    std::wstring cmd = L"\"" + program.wstring() + L"\" " + fs::u8path(args).wstring();
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    DWORD status = 1;
    if (CreateProcessW(program.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &status);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    _putenv_s(var, "");
    return static_cast<int>(status);
#else
    return std::system((std::string(var) + "='" + value + "' '" + program.string() + "' " + args).c_str());
#endif
}

} // namespace

TEST(WylnConfigFile, FoundThroughWylnConfInADeepNonAsciiFolder)
{
    DeepFolder dir(4);
    ASSERT_GT(dir.path.native().size(), 260u);
    dir.writeConf("service_id=svc-named\n");
    const fs::path conf = dir.path / "wyln.conf";
    setConfEnv(&conf);
    const Config c = Config::load();
    setConfEnv(nullptr);
    EXPECT_EQ(c.serviceId, "svc-named");
}

TEST(WylnConfigFile, FoundBesideTheCodeInADeepNonAsciiFolder)
{
    if (const char* expected = std::getenv("WYLN_EXPECT_SERVICE")) {  // the copy
        EXPECT_EQ(Config::load().serviceId, expected);
        return;
    }
    DeepFolder dir(2);
    dir.writeConf("service_id=svc-beside\n");
    const fs::path copy = dir.path / ownProgram().filename();
    fs::copy_file(ownProgram(), copy);
    setConfEnv(nullptr);
    EXPECT_EQ(runWith(copy, "--gtest_filter=WylnConfigFile.FoundBesideTheCodeInADeepNonAsciiFolder",
                      "WYLN_EXPECT_SERVICE", "svc-beside"),
              0);
}
