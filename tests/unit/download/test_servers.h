// Real servers for the download tests: nginx on loopback with a generated configuration,
// and the Python fault server for what nginx cannot do. Each is ended by its process id.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "download/block_info.h"

namespace installer::testing {

// A private temporary directory, removed with its content.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// One logged request: request line, status, body bytes sent, Range header, connection
// serial number and user agent.
struct LoggedRequest {
    std::string request;
    int status = 0;
    int64_t bytes = 0;
    std::string range;
    int64_t connection = 0;
    std::string agent;
    std::string accept;
};

// A certificate authority made for one test with openssl, and server certificates it
// signs. Its files live in a private temporary directory and go with it.
class TestCa {
  public:
    TestCa();  // ok() tells whether openssl made it
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;
    bool ok() const { return ok_; }
    const std::string& ca_file() const { return ca_file_; }
    // Certificate and key files of a server called `dns_name`, signed by this authority
    // (`self_signed`: signed by itself instead); empty paths when openssl failed.
    std::pair<std::string, std::string> Issue(const std::string& dns_name, bool self_signed = false);

  private:
    TempDir dir_;
    std::string ca_file_;
    bool ok_ = false;
    int serial_ = 0;
};

// Certificate and key of an nginx that answers over TLS.
struct TlsFiles {
    std::string certificate;
    std::string key;
};

class NginxServer {
  public:
    // `extra` goes inside the server block (locations, max_ranges, limit_rate...).
    explicit NginxServer(const std::string& extra = "");
    // The same over TLS with `tls`; Url() then names https://localhost.
    NginxServer(const std::string& extra, const TlsFiles& tls);
    ~NginxServer();  // kills nginx by pid
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Writes a file under the document root.
    void Put(const std::string& name, const std::vector<uint8_t>& data);
    std::string root() const { return dir_.path() + "/root"; }
    std::wstring Url(const std::string& path) const;
    int port() const { return port_; }
    bool running() const { return pid_ > 0; }

    // Requests logged so far, oldest first (nginx logs a request when it ends).
    std::vector<LoggedRequest> Requests() const;
    // The same, once at least `count` are logged or 2 s have passed: nginx may log a
    // request a moment after its client has seen the answer.
    std::vector<LoggedRequest> Requests(size_t count) const;

  private:
    void Launch(const std::string& extra);

    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    bool tls_ = false;
};

// What else a fault server does besides its mode (see harness/fault_server.py).
struct FaultOptions {
    int faults = 1;
    int delay_ms = 0;  // every answer held back that long: a far mirror
    int block = 0;     // the block that "corrupt" flips a byte of
    int port = 0;      // 0: a free one
};

// harness/fault_server.py in a mode: "ok", "reset", "stall", "silent", "flaky",
// "corrupt". It logs every request's Range header.
class FaultServer {
  public:
    FaultServer(const std::string& file, const std::string& mode, int faults = 1);
    FaultServer(const std::string& file, const std::string& mode, FaultOptions options);
    ~FaultServer();  // kills the server by pid
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;
    std::wstring Url(const std::string& path) const;
    bool running() const { return pid_ > 0 && port_ > 0; }

    // Ends the server (its port then refuses connections) and starts it again on the
    // same port: a mirror that drops off the network and comes back.
    void Stop();
    bool Restart();

    // Range header of every request so far, oldest first.
    std::vector<std::string> Ranges() const;

  private:
    void Launch();

    std::string file_;
    std::string mode_;
    FaultOptions options_;
    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// Deterministic pseudo-random bytes.
std::vector<uint8_t> MakeData(size_t size, uint32_t seed);
// The block table of `data`, as the publisher tool writes it.
std::vector<BlockInfo> BlocksOf(const std::vector<uint8_t>& data);
std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& data);

// Range header value a block request must carry; a run of `blocks` from `block`.
std::string RangeOf(int32_t block, int32_t blocks = 1);
// First block and length in blocks of a run's Range header value ("bytes=A-B").
std::pair<int32_t, int32_t> RunOf(const std::string& range);

}  // namespace installer::testing
