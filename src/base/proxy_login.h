// The proxy login of one run: asked of the user when the system's proxy answers 407, kept
// in memory only, and shared by every connection of the installer (the description, its
// signature, the blocks and the reports).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace installer {

struct ProxyCredentials {
    std::wstring user;
    std::wstring password;
};

// What a connection should do after its proxy refused it.
struct ProxyRetry {
    bool retry = false;            // false: give up (the user cancelled, or every try was refused)
    ProxyCredentials credentials;  // the login to send when `retry`
    uint64_t generation = 0;       // to hand back with the next refusal of this login
};

// Thread-safe. The user is asked at most kMaxPrompts times per run, one prompt at a time:
// a connection refused with a login that another connection has already replaced takes the
// newer login without asking again. Nothing is ever written anywhere.
class ProxyLogin {
  public:
    static constexpr int kMaxPrompts = 3;
    // Asks the user; `attempt` counts from 1, above 1 the previous login was refused.
    // Returns nothing when the user cancels. Called on the refused connection's thread,
    // never with a lock of this class held.
    using Prompt = std::function<std::optional<ProxyCredentials>(int attempt)>;

    // The login given so far (generation 0 and empty when none).
    ProxyRetry Current() const;

    // A connection that sent the login of `generation` (0: none) was answered 407. Returns
    // the login to try next, asking through `prompt` when no newer one is known; returns
    // retry = false once the user has cancelled or has been refused kMaxPrompts times.
    ProxyRetry Refused(uint64_t generation, const Prompt& prompt);

    // True once the user has given up or run out of tries: every later 407 is final.
    bool GaveUp() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable prompt_done_;
    bool prompting_ = false;
    bool gave_up_ = false;
    int prompts_ = 0;
    uint64_t generation_ = 0;
    ProxyCredentials credentials_;
};

// The one login of this process, shared by all of its connections.
ProxyLogin& ProcessProxyLogin();

}  // namespace installer
