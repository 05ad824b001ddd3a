// Test helper: a private mosquitto broker on 127.0.0.1 and a free port,
// configured in a temporary directory, started and stopped by the test.
// Also makes a test CA with openssl.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
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
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wyln_test {

#ifndef WYLN_MOSQUITTO_BIN
#define WYLN_MOSQUITTO_BIN "/usr/sbin/mosquitto"
#endif

// The broker's max_packet_size.
constexpr uint32_t kMaxPacket = 16 * 1024 * 1024;

// A directory removed with everything in it when the object goes.
class TempDir
{
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "wyln-test-XXXXXX").string();
        if (mkdtemp(tmpl.data()))
            path_ = tmpl;
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
    return static_cast<bool>(f << text);
}

inline std::string readFile(const std::string& path)
{
    std::ostringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

// Runs a shell command with its output discarded. Arguments are quoted with
// '...', so paths must not contain a single quote (temporary ones do not).
inline bool runQuiet(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A CA and a server certificate for 127.0.0.1 (only) signed by it.
struct TestCa
{
    std::string caCert, serverCert, serverKey;
};

inline bool makeTestCa(const std::string& dir, const std::string& name, TestCa& out)
{
    const std::string ca = "'" + dir + "/" + name + "-ca", srv = "'" + dir + "/" + name + "-server";
    const std::string ext = dir + "/" + name + "-ext.cnf";
    out = TestCa{dir + "/" + name + "-ca.crt", dir + "/" + name + "-server.crt", dir + "/" + name + "-server.key"};
    return writeFile(ext, "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                          "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
           && runQuiet("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + name + "-test-ca -keyout " + ca
                       + ".key' -out " + ca + ".crt'")
           && runQuiet("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + srv + ".key' -out " + srv
                       + ".csr'")
           && runQuiet("openssl x509 -req -days 2 -in " + srv + ".csr' -CA " + ca + ".crt' -CAkey " + ca
                       + ".key' -CAcreateserial -extfile '" + ext + "' -out " + srv + ".crt'");
}

struct BrokerOptions
{
    // Password file users; when non-empty, anonymous clients are refused.
    std::vector<std::pair<std::string, std::string>> users;
    std::string extra;        // further global lines, e.g. acl_file
    const TestCa* tls = nullptr;  // a TLS listener with this CA's server certificate
};

// Connects to a loopback port (to see whether it is served), or with port 0
// binds one and returns its number (a free port), else 0.
inline int loopbackProbe(int port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof(a);
    int result = 0;
    if (s >= 0 && port != 0)
        result = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 ? port : 0;
    else if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0
             && getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        result = ntohs(a.sin_port);
    if (s >= 0)
        close(s);
    return result;
}

class MosquittoBroker
{
public:
    explicit MosquittoBroker(BrokerOptions options = BrokerOptions()) : options_(std::move(options)) {}
    ~MosquittoBroker() { stop(); }

    // Starts the broker; a restart keeps the port. Returns false (with the
    // broker's log in lastError()) when it does not accept connections.
    bool start(int timeoutMs = 5000)
    {
        if (pid_ > 0)
            return true;
        if (port_ == 0)
            port_ = loopbackProbe(0);
        if (dir_.path().empty() || !writeConfig())
            return fail("cannot write the configuration");
        const std::string conf = dir_.file("mosquitto.conf"), out = dir_.file("stderr.log");
        pid_ = fork();
        if (pid_ == 0) {  // only async-signal-safe calls until exec
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            execl(WYLN_MOSQUITTO_BIN, WYLN_MOSQUITTO_BIN, "-c", conf.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return fail("broker exited: ");
            }
            if (loopbackProbe(port_))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
        return fail("broker did not listen: ");
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 1; waitpid(pid_, &status, WNOHANG) != pid_; ++i) {
            if (i == 300)
                kill(pid_, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }

    int port() const { return port_; }
    const std::string& lastError() const { return error_; }

private:
    bool fail(const std::string& what)
    {
        error_ = what + readFile(dir_.file("broker.log")) + readFile(dir_.file("stderr.log"));
        return false;
    }

    bool writeConfig()
    {
        std::ostringstream c;
        if (geteuid() == 0)
            c << "user root\n";  // keep access to the private temp directory
        c << "per_listener_settings false\npersistence false\n"
          << "log_dest file " << dir_.file("broker.log") << "\n"
          << "set_tcp_nodelay true\nmax_inflight_messages 100\nmax_queued_messages 10000\n"
          << "max_packet_size " << kMaxPacket << "\n"
          << options_.extra << "\n";
        if (options_.users.empty())
            c << "allow_anonymous true\n";
        else
            c << "allow_anonymous false\npassword_file " << dir_.file("passwd") << "\n";
        bool first = true;
        for (const auto& u : options_.users) {
            if (!runQuiet("mosquitto_passwd " + std::string(first ? "-c " : "") + "-b '" + dir_.file("passwd") + "' '"
                          + u.first + "' '" + u.second + "'"))
                return false;
            first = false;
        }
        c << "listener " << port_ << " 127.0.0.1\n";
        if (options_.tls)
            c << "cafile " << options_.tls->caCert << "\ncertfile " << options_.tls->serverCert << "\nkeyfile "
              << options_.tls->serverKey << "\n";
        return writeFile(dir_.file("mosquitto.conf"), c.str());
    }

    BrokerOptions options_;
    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string error_;
};

} // namespace wyln_test
