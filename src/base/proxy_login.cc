// One prompt at a time; the answer is kept for every later connection of the run.
#include "base/proxy_login.h"

#include <utility>

namespace installer {

ProxyRetry ProxyLogin::Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    ProxyRetry current;
    current.retry = generation_ > 0 && !gave_up_;
    current.credentials = credentials_;
    current.generation = generation_;
    return current;
}

bool ProxyLogin::GaveUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return gave_up_;
}

ProxyRetry ProxyLogin::Refused(uint64_t generation, const Prompt& prompt) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Another connection may be asking already: its answer serves this one too.
    prompt_done_.wait(lock, [this] { return !prompting_; });
    ProxyRetry next;
    if (gave_up_) {
        return next;
    }
    if (generation_ > generation) {
        next.retry = true;
        next.credentials = credentials_;
        next.generation = generation_;
        return next;
    }
    if (prompts_ >= kMaxPrompts) {
        gave_up_ = true;
        return next;
    }
    prompting_ = true;
    const int attempt = ++prompts_;
    lock.unlock();
    std::optional<ProxyCredentials> answer = prompt ? prompt(attempt) : std::nullopt;
    lock.lock();
    prompting_ = false;
    if (answer) {
        credentials_ = std::move(*answer);
        ++generation_;
        next.retry = true;
        next.credentials = credentials_;
        next.generation = generation_;
    } else {
        gave_up_ = true;
    }
    prompt_done_.notify_all();
    return next;
}

ProxyLogin& ProcessProxyLogin() {
    static ProxyLogin login;
    return login;
}

}  // namespace installer
