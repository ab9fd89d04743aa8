// nginx and fault-server processes for the download tests.
#include "test_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/text.h"
#include "base/md5.h"
#include "download/package_verify.h"

extern char** environ;

namespace installer::testing {
namespace {

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

bool CanConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

pid_t Spawn(const std::vector<std::string>& args, int stdout_fd, int stderr_fd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdout_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
    }
    if (stderr_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void KillAndWait(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Value of "key":"..." or "key":number in one JSON log line written by the format below.
std::string Field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    size_t at = line.find(tag);
    if (at == std::string::npos) {
        return "";
    }
    at += tag.size();
    if (line[at] == '"') {
        const size_t end = line.find('"', at + 1);
        return line.substr(at + 1, end - at - 1);
    }
    const size_t end = line.find_first_of(",}", at);
    return line.substr(at, end - at);
}

}  // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/dltest-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

// Runs a program to its end; true when it exits with 0.
bool RunToEnd(const std::vector<std::string>& args) {
    const int quiet = open("/dev/null", O_WRONLY);
    const pid_t pid = Spawn(args, quiet, quiet);
    close(quiet);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TestCa::TestCa() {
    const std::string d = dir_.path();
    ca_file_ = d + "/ca.pem";
    ok_ = RunToEnd({"/usr/bin/openssl",
                    "req",
                    "-x509",
                    "-newkey",
                    "ec",
                    "-pkeyopt",
                    "ec_paramgen_curve:prime256v1",
                    "-nodes",
                    "-days",
                    "2",
                    "-subj",
                    "/CN=Installer Test CA",
                    "-addext",
                    "basicConstraints=critical,CA:TRUE",
                    "-addext",
                    "keyUsage=critical,keyCertSign,cRLSign",
                    "-keyout",
                    d + "/ca.key",
                    "-out",
                    ca_file_});
}

std::pair<std::string, std::string> TestCa::Issue(const std::string& dns_name, bool self_signed) {
    const std::string d = dir_.path();
    const std::string base = d + "/server" + std::to_string(++serial_);
    const std::string ext = base + ".ext";
    std::ofstream(ext) << "subjectAltName=DNS:" << dns_name << "\nextendedKeyUsage=serverAuth\n";
    bool made = RunToEnd({"/usr/bin/openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                          "-nodes", "-subj", "/CN=" + dns_name, "-keyout", base + ".key", "-out", base + ".csr"});
    if (made && self_signed) {
        made = RunToEnd({"/usr/bin/openssl", "x509", "-req", "-in", base + ".csr", "-signkey", base + ".key", "-days",
                         "2", "-extfile", ext, "-out", base + ".pem"});
    } else if (made) {
        made = RunToEnd({"/usr/bin/openssl", "x509", "-req", "-in", base + ".csr", "-CA", ca_file_, "-CAkey",
                         d + "/ca.key", "-set_serial", std::to_string(1000 + serial_), "-days", "2", "-extfile", ext,
                         "-out", base + ".pem"});
    }
    if (!made) {
        return {};
    }
    return {base + ".pem", base + ".key"};
}

NginxServer::NginxServer(const std::string& extra) {
    Launch(extra);
}

NginxServer::NginxServer(const std::string& extra, const TlsFiles& tls) : tls_(true) {
    Launch("ssl_certificate " + tls.certificate + ";\n    ssl_certificate_key " + tls.key + ";\n    " + extra);
}

void NginxServer::Launch(const std::string& extra) {
    const std::string d = dir_.path();
    mkdir((d + "/root").c_str(), 0755);
    port_ = FreePort();
    std::ofstream conf(d + "/nginx.conf");
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << d << "/nginx.pid;\n"
         << "error_log " << d << "/error.log warn;\nevents { worker_connections 256; }\nhttp {\n"
         << "  access_log off;\n  client_body_temp_path " << d << "/cb;\n  proxy_temp_path " << d << "/px;\n"
         << "  fastcgi_temp_path " << d << "/fc;\n  uwsgi_temp_path " << d << "/uw;\n  scgi_temp_path " << d << "/sc;\n"
         << "  default_type application/octet-stream;\n  keepalive_requests 100000;\n"
         << "  log_format t escape=json '{\"request\":\"$request\",\"status\":$status,\"bytes\":$body_bytes_sent,"
            "\"range\":\"$http_range\",\"connection\":$connection,\"agent\":\"$http_user_agent\","
            "\"accept\":\"$http_accept\"}';\n"
         << "  server {\n    listen 127.0.0.1:" << port_ << (tls_ ? " ssl" : "") << ";\n    root " << d << "/root;\n"
         << "    access_log " << d << "/access.log t;\n    " << extra << "\n  }\n}\n";
    conf.close();
    const int log = open((d + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_ = Spawn({"/usr/sbin/nginx", "-c", d + "/nginx.conf", "-p", d, "-e", d + "/error.log"}, log);
    close(log);
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
        if (CanConnect(port_)) {
            return;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    KillAndWait(pid_);
    pid_ = -1;
}

NginxServer::~NginxServer() {
    KillAndWait(pid_);
}

void NginxServer::Put(const std::string& name, const std::vector<uint8_t>& data) {
    const std::string path = root() + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, data);
}

std::wstring NginxServer::Url(const std::string& path) const {
    // A certificate names a host, not an address: TLS goes to localhost.
    return Utf8ToWide((tls_ ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(port_) + path);
}

std::vector<LoggedRequest> NginxServer::Requests() const {
    std::vector<LoggedRequest> out;
    std::ifstream in(dir_.path() + "/access.log");
    std::string line;
    while (std::getline(in, line)) {
        LoggedRequest r;
        r.request = Field(line, "request");
        r.status = std::atoi(Field(line, "status").c_str());
        r.bytes = std::atoll(Field(line, "bytes").c_str());
        r.range = Field(line, "range");
        r.connection = std::atoll(Field(line, "connection").c_str());
        r.agent = Field(line, "agent");
        r.accept = Field(line, "accept");
        out.push_back(r);
    }
    return out;
}

std::vector<LoggedRequest> NginxServer::Requests(size_t count) const {
    auto log = Requests();
    for (int i = 0; i < 100 && log.size() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        log = Requests();
    }
    return log;
}

FaultServer::FaultServer(const std::string& file, const std::string& mode, int faults)
    : FaultServer(file, mode, FaultOptions{.faults = faults}) {}

FaultServer::FaultServer(const std::string& file, const std::string& mode, FaultOptions options)
    : file_(file), mode_(mode), options_(options) {
    port_ = options_.port;
    Launch();
}

void FaultServer::Launch() {
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    pid_ =
        Spawn({"/usr/bin/python3", INSTALLER_SOURCE_DIR "/harness/fault_server.py", "--file", file_, "--mode", mode_,
               "--faults", std::to_string(options_.faults), "--delay-ms", std::to_string(options_.delay_ms), "--block",
               std::to_string(options_.block), "--port", std::to_string(port_), "--log", dir_.File("requests.log")},
              fds[1]);
    close(fds[1]);
    char buf[32] = {};
    size_t got = 0;
    while (got < sizeof buf - 1) {
        const ssize_t n = read(fds[0], buf + got, 1);
        if (n <= 0 || buf[got] == '\n') {
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(fds[0]);
    port_ = std::atoi(buf);
}

FaultServer::~FaultServer() {
    KillAndWait(pid_);
}

void FaultServer::Stop() {
    KillAndWait(pid_);
    pid_ = -1;
}

bool FaultServer::Restart() {
    Stop();
    const int port = port_;
    // The old listener's port is free at once (SO_REUSEADDR); a few tries cover a slow exit.
    for (int i = 0; i < 20; ++i) {
        port_ = port;
        Launch();
        if (port_ == port) {
            return true;
        }
        KillAndWait(pid_);
        pid_ = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::vector<std::string> FaultServer::Ranges() const {
    std::vector<std::string> out;
    std::ifstream in(dir_.File("requests.log"));
    std::string line;
    while (std::getline(in, line)) {
        // "request line<TAB>range<TAB>arrival<TAB>status": the range is the second field.
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            out.push_back("");
            continue;
        }
        const size_t end = line.find('\t', tab + 1);
        out.push_back(line.substr(tab + 1, end == std::string::npos ? std::string::npos : end - tab - 1));
    }
    return out;
}

std::wstring FaultServer::Url(const std::string& path) const {
    return Utf8ToWide("http://127.0.0.1:" + std::to_string(port_) + path);
}

std::vector<uint8_t> MakeData(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return data;
}

std::vector<BlockInfo> BlocksOf(const std::vector<uint8_t>& data) {
    return BlockTableOf(data.data(), data.size());
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string RangeOf(int32_t block, int32_t blocks) {
    const int64_t start = static_cast<int64_t>(block) * kBlockStride;
    return "bytes=" + std::to_string(start) + "-" + std::to_string(start + int64_t{blocks} * kBlockStride);
}

std::pair<int32_t, int32_t> RunOf(const std::string& range) {
    const size_t dash = range.find('-');
    if (range.rfind("bytes=", 0) != 0 || dash == std::string::npos) {
        return {-1, 0};
    }
    const int64_t start = std::atoll(range.substr(6, dash - 6).c_str());
    const int64_t end = std::atoll(range.substr(dash + 1).c_str());
    return {static_cast<int32_t>(start / kBlockStride), static_cast<int32_t>((end - start) / kBlockStride)};
}

}  // namespace installer::testing
