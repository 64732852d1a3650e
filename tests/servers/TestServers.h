#pragma once

// Access from C++ tests to the local test servers that the CTest fixtures
// `http_servers` and `ftp_servers` start (see README.md in this folder): the
// settings servers.py wrote to their servers.env files, and the pattern
// bytes that /bytes, /chunked, /drop and every data.bin are made of. A
// target gets this folder on its include path through
// corvane_use_http_servers(<target>) or corvane_use_ftp_servers(<target>).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestServers {

namespace Detail {

// Undoes the shell quoting servers.py applies (Python's shlex.quote):
// single-quoted runs are literal, double-quoted runs hold the "'" pieces,
// everything else is taken as it stands.
inline std::string Unquote(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            const std::size_t end = text.find(c, i + 1);
            if (end == std::string::npos)
                throw std::runtime_error("servers.env: unbalanced quote in: " + text);
            out.append(text, i + 1, end - i - 1);
            i = end;
        } else {
            out += c;
        }
    }
    return out;
}

// Reads `export NAME=VALUE` lines; blank lines and comments are skipped.
inline std::map<std::string, std::string> ReadEnvFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path + " (are the test servers started?)");
    std::map<std::string, std::string> settings;
    const std::string prefix = "export ";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) != 0) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        settings[line.substr(prefix.size(), eq - prefix.size())] = Unquote(line.substr(eq + 1));
    }
    return settings;
}

}  // namespace Detail

// Every setting of the servers.env files of the fixtures a test joined:
// CORVANE_SERVERS_DIR (http_servers: CORVANE_HTTP_URL, CORVANE_ECHO_URL, ...)
// and CORVANE_FTP_SERVERS_DIR (ftp_servers: CORVANE_FTP_URL, ...); where both
// name a setting, the HTTP one counts. Read once; throws std::runtime_error
// when neither variable is set or the servers were not started.
inline const std::map<std::string, std::string>& Settings() {
    static const std::map<std::string, std::string> settings = [] {
        std::map<std::string, std::string> all;
        bool any = false;
        for (const char* variable : {"CORVANE_SERVERS_DIR", "CORVANE_FTP_SERVERS_DIR"}) {
            const char* dir = std::getenv(variable);
            if (dir == nullptr || *dir == '\0') continue;
            any = true;
            all.merge(Detail::ReadEnvFile(std::string(dir) + "/servers.env"));
        }
        if (!any)
            throw std::runtime_error(
                "neither CORVANE_SERVERS_DIR nor CORVANE_FTP_SERVERS_DIR is set "
                "(use corvane_use_http_servers or corvane_use_ftp_servers)");
        return all;
    }();
    return settings;
}

// One setting by name, e.g. Setting("CORVANE_ECHO_URL"); throws
// std::runtime_error when there is no such setting.
inline std::string Setting(const std::string& name) {
    const auto& settings = Settings();
    const auto it = settings.find(name);
    if (it == settings.end()) throw std::runtime_error("servers.env has no " + name);
    return it->second;
}

// The first size bytes of the pattern stream for seed: xorshift32
// (x ^= x << 13; x ^= x >> 17; x ^= x << 5) from x = seed (0 becomes
// 0x9E3779B9), each new x appended as 4 little-endian bytes.
inline std::vector<std::uint8_t> PatternBytes(std::uint32_t seed, std::size_t size) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(size + 3);
    std::uint32_t x = seed != 0 ? seed : 0x9E3779B9u;
    while (bytes.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(x >> shift));
    }
    bytes.resize(size);
    return bytes;
}

// A port on 127.0.0.1 that nothing listens on: bound, then released
// (ClosedPort.cpp, which corvane_use_http_servers adds to the target).
std::uint16_t ClosedPort();

}  // namespace TestServers
