#include "WylnConfig.h"
#include "WylnTopic.h"
#include "Wyln.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace wyln {

namespace {

std::string trim(const std::string& s)
{
    const char* ws = " \t\r\n";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

bool parseInt(const std::string& s, int lo, int hi, int& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool parseBool(const std::string& s, bool& out)
{
    if (s == "1" || s == "true" || s == "yes" || s == "on") { out = true; return true; }
    if (s == "0" || s == "false" || s == "no" || s == "off") { out = false; return true; }
    return false;
}

// The file holding this plug-in's code, or an empty path. On Windows the
// name is asked for in UTF-16 with a buffer grown to fit, so that install
// folders with any characters and of any length are found.
std::filesystem::path pluginFile()
{
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&pluginFile), &module))
        return {};
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, &name[0], static_cast<DWORD>(name.size()));
        if (n == 0)
            return {};
        if (n < name.size()) {
            name.resize(n);
            return std::filesystem::path(name);
        }
        if (name.size() >= 32768)  // the longest path Windows has
            return {};
        name.resize(name.size() * 2);
    }
#else
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&pluginFile), &info) || !info.dli_fname)
        return {};
    return std::filesystem::path(info.dli_fname);
#endif
}

// $WYLN_CONF as a path; on Windows read in UTF-16, since the narrow
// environment holds only what the ANSI code page can spell.
bool confFromEnvironment(std::filesystem::path& out)
{
#if defined(_WIN32)
    const wchar_t* v = _wgetenv(L"WYLN_CONF");
#else
    const char* v = std::getenv("WYLN_CONF");
#endif
    if (!v)
        return false;
    out = std::filesystem::path(v);
    return true;
}

// "host:port host:port ..." (commas or blanks between entries; an IPv6
// address goes in brackets). Returns false when an entry is malformed.
bool parseBrokers(const std::string& s, std::vector<std::pair<std::string, int>>& out)
{
    std::vector<std::pair<std::string, int>> list;
    std::string entry;
    std::istringstream in(s);
    while (std::getline(in, entry, ',')) {
        std::istringstream words(entry);
        std::string w;
        while (words >> w) {
            const size_t colon = w.rfind(':');
            int port = 0;
            if (colon == std::string::npos || colon == 0 || !parseInt(w.substr(colon + 1), 1, 65535, port))
                return false;
            std::string host = w.substr(0, colon);
            if (host.front() == '[' && host.back() == ']' && host.size() > 2)
                host = host.substr(1, host.size() - 2);
            else if (host.find(':') != std::string::npos)
                return false;  // an IPv6 address without brackets
            list.emplace_back(host, port);
        }
    }
    out = list;
    return true;
}

} // namespace

Config Config::parse(const std::string& fileText,
                     const std::function<bool(const std::string&, std::string&)>& env)
{
    std::map<std::string, std::string> values;
    std::istringstream in(fileText);
    std::string line;
    Config c;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) {
            if (c.error.empty())
                c.error = "line " + std::to_string(lineNo) + ": expected key=value";
            continue;
        }
        values[trim(t.substr(0, eq))] = trim(t.substr(eq + 1));
    }

    static const char* const keys[] = {"service_id", "username", "password", "cafile", "capath",
                                       "certfile", "keyfile", "keepalive", "connect_timeout_ms",
                                       "reconnect_delay_min", "reconnect_delay_max", "id_prefix",
                                       "presence", "brokers", "max_packet_size"};
    for (const char* key : keys) {
        std::string name = "WYLN_";
        for (const char* k = key; *k; ++k)
            name += static_cast<char>(*k >= 'a' && *k <= 'z' ? *k - 'a' + 'A' : *k);
        std::string v;
        if (env && env(name, v))
            values[key] = v;
    }

    auto bad = [&c](const std::string& key) {
        if (c.error.empty())
            c.error = "bad value for " + key;
    };
    for (const auto& kv : values) {
        const std::string& k = kv.first;
        const std::string& v = kv.second;
        if (k == "service_id") { if (isValidId(v)) c.serviceId = v; else bad(k); }
        else if (k == "username") c.username = v;
        else if (k == "password") c.password = v;
        else if (k == "cafile") c.cafile = v;
        else if (k == "capath") c.capath = v;
        else if (k == "certfile") c.certfile = v;
        else if (k == "keyfile") c.keyfile = v;
        else if (k == "keepalive") { if (!parseInt(v, 5, 65535, c.keepaliveS)) bad(k); }
        else if (k == "connect_timeout_ms") { if (!parseInt(v, 1, 600000, c.connectTimeoutMs)) bad(k); }
        else if (k == "reconnect_delay_min") { if (!parseInt(v, 1, 3600, c.reconnectDelayMinS)) bad(k); }
        else if (k == "reconnect_delay_max") { if (!parseInt(v, 1, 3600, c.reconnectDelayMaxS)) bad(k); }
        else if (k == "id_prefix") {
            if (v.empty() || (v.size() <= WYLN_ID_MAX_LEN - 36 && isValidId(v))) c.idPrefix = v; else bad(k);
        }
        else if (k == "presence") { if (!parseBool(v, c.presence)) bad(k); }
        else if (k == "max_packet_size") { if (!parseInt(v, 0, 268435460, c.maxPacketSize)) bad(k); }
        else if (k == "brokers") { if (!parseBrokers(v, c.brokers)) bad(k); }
        // Unknown keys are ignored so that newer files work with older plug-ins.
    }
    if (c.reconnectDelayMaxS < c.reconnectDelayMinS)
        bad("reconnect_delay_max");
    if (!c.username.empty() && !isValidId(c.username))
        bad("username");
    return c;
}

Config Config::load()
{
    auto env = [](const std::string& name, std::string& value) {
        const char* v = std::getenv(name.c_str());
        if (!v)
            return false;
        value = v;
        return true;
    };
    // Without a known folder no file is read: "wyln.conf" alone would be
    // looked up in whatever the current directory happens to be.
    std::filesystem::path path;
    if (!confFromEnvironment(path)) {
        const std::filesystem::path self = pluginFile();
        if (self.has_parent_path())
            path = self.parent_path() / "wyln.conf";
    }
    std::string text;
    if (!path.empty()) {
        std::ifstream f(path, std::ios::binary);
        if (f) {
            std::ostringstream ss;
            ss << f.rdbuf();
            text = ss.str();
        }
    }
    return parse(text, env);
}

} // namespace wyln
