// Test helper: a private mosquitto broker on 127.0.0.1 and a free port,
// configured in a temporary directory, started and stopped by the test.
// Also makes password files (mosquitto_passwd) and a test CA (openssl).
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace wyln_test {

#ifndef WYLN_MOSQUITTO_BIN
#define WYLN_MOSQUITTO_BIN "/usr/sbin/mosquitto"
#endif

// A directory removed with everything in it when the object goes.
class TempDir
{
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "wyln-test-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()))
            path_ = buf.data();
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

inline std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

inline bool runQuiet(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Creates (or replaces) a mosquitto password file holding the given users.
inline bool makePasswordFile(const std::string& path, const std::vector<std::pair<std::string, std::string>>& users)
{
    bool first = true;
    for (const auto& u : users) {
        std::string cmd = std::string("mosquitto_passwd ") + (first ? "-c " : "") + "-b " + shellQuote(path) + " "
                          + shellQuote(u.first) + " " + shellQuote(u.second);
        if (!runQuiet(cmd))
            return false;
        first = false;
    }
    return !first;
}

// A CA and a server certificate for 127.0.0.1 (only) signed by it.
struct TestCa
{
    std::string caCert;
    std::string serverCert;
    std::string serverKey;
};

inline bool makeTestCa(const std::string& dir, const std::string& name, TestCa& out)
{
    const std::string ca = dir + "/" + name + "-ca";
    const std::string srv = dir + "/" + name + "-server";
    const std::string ext = dir + "/" + name + "-ext.cnf";
    if (!writeFile(ext, "subjectAltName=IP:127.0.0.1\n"
                        "basicConstraints=CA:FALSE\n"
                        "keyUsage=digitalSignature,keyEncipherment\n"
                        "extendedKeyUsage=serverAuth\n"))
        return false;
    bool ok = runQuiet("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name + "-test-ca -keyout "
                       + shellQuote(ca + ".key") + " -out " + shellQuote(ca + ".crt"))
              && runQuiet("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + shellQuote(srv + ".key")
                          + " -out " + shellQuote(srv + ".csr"))
              && runQuiet("openssl x509 -req -days 2 -in " + shellQuote(srv + ".csr") + " -CA " + shellQuote(ca + ".crt")
                          + " -CAkey " + shellQuote(ca + ".key") + " -CAcreateserial -extfile " + shellQuote(ext)
                          + " -out " + shellQuote(srv + ".crt"));
    if (!ok)
        return false;
    out.caCert = ca + ".crt";
    out.serverCert = srv + ".crt";
    out.serverKey = srv + ".key";
    return true;
}

struct BrokerOptions
{
    // Password file users; when non-empty, anonymous clients are refused.
    std::vector<std::pair<std::string, std::string>> users;
    std::string aclFile;              // mosquitto acl_file, or empty
    bool usernameAsClientId = false;  // use_username_as_clientid
    uint32_t maxPacketSize = 0;       // max_packet_size, 0 for the default
    // TLS listener when serverCert is set.
    std::string caFile;
    std::string serverCert;
    std::string serverKey;
    std::string extraGlobal;          // further lines before the listener
};

class MosquittoBroker
{
public:
    explicit MosquittoBroker(BrokerOptions options = BrokerOptions()) : options_(std::move(options)) {}
    ~MosquittoBroker() { stop(); }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // Starts the broker; a restart keeps the port. Returns false (with the
    // broker's log in lastError()) when it does not accept connections.
    bool start(int timeoutMs = 5000)
    {
        if (pid_ > 0)
            return true;
        if (dir_.path().empty()) {
            error_ = "no temporary directory";
            return false;
        }
        if (port_ == 0)
            port_ = freePort();
        if (!writeConfig())
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, dir_.file("stderr.log").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        std::string conf = dir_.file("mosquitto.conf");
        char* argv[] = {const_cast<char*>(WYLN_MOSQUITTO_BIN), const_cast<char*>("-c"),
                        const_cast<char*>(conf.c_str()), nullptr};
        pid_t pid = 0;
        int rc = posix_spawn(&pid, WYLN_MOSQUITTO_BIN, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            error_ = "cannot start " WYLN_MOSQUITTO_BIN;
            return false;
        }
        pid_ = pid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                error_ = "broker exited: " + log();
                return false;
            }
            if (portAccepts(port_))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
        error_ = "broker did not listen: " + log();
        return false;
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 300; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    bool restart() { stop(); return start(); }
    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    const std::string& dir() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string log() const { return readFile(dir_.file("broker.log")) + readFile(dir_.file("stderr.log")); }
    const std::string& lastError() const { return error_; }

    static int freePort()
    {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof(a);
        int port = 0;
        if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0
            && getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        if (s >= 0)
            close(s);
        return port;
    }

    static bool portAccepts(int port)
    {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        if (s < 0)
            return false;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        close(s);
        return ok;
    }

private:
    bool writeConfig()
    {
        std::ostringstream c;
        if (geteuid() == 0)
            c << "user root\n";  // keep access to the private temp directory
        c << "per_listener_settings false\n"
          << "persistence false\n"
          << "log_dest file " << dir_.file("broker.log") << "\n"
          << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
          << "set_tcp_nodelay true\n"
          << "max_inflight_messages 100\n"
          << "max_queued_messages 10000\n";
        if (options_.maxPacketSize)
            c << "max_packet_size " << options_.maxPacketSize << "\n";
        if (options_.users.empty()) {
            c << "allow_anonymous true\n";
        } else {
            std::string pw = dir_.file("passwd");
            if (!makePasswordFile(pw, options_.users)) {
                error_ = "mosquitto_passwd failed";
                return false;
            }
            c << "allow_anonymous false\npassword_file " << pw << "\n";
        }
        if (!options_.aclFile.empty())
            c << "acl_file " << options_.aclFile << "\n";
        c << options_.extraGlobal << "\n";
        c << "listener " << port_ << " 127.0.0.1\n";
        if (options_.usernameAsClientId)
            c << "use_username_as_clientid true\n";
        if (!options_.serverCert.empty())
            c << "cafile " << options_.caFile << "\ncertfile " << options_.serverCert << "\nkeyfile "
              << options_.serverKey << "\n";
        if (!writeFile(dir_.file("mosquitto.conf"), c.str())) {
            error_ = "cannot write mosquitto.conf";
            return false;
        }
        return true;
    }

    BrokerOptions options_;
    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string error_;
};

} // namespace wyln_test
