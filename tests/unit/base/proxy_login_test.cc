// The proxy login of a run: how often the user is asked, what a refused connection sends
// next, and that connections refused at once share one prompt.
#include "base/proxy_login.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace installer {
namespace {

// A user who answers with the logins in order, then cancels.
struct ScriptedUser {
    std::vector<std::optional<ProxyCredentials>> answers = {};
    std::vector<int> attempts = {};
    ProxyLogin::Prompt Prompt() {
        return [this](int attempt) -> std::optional<ProxyCredentials> {
            attempts.push_back(attempt);
            const size_t i = attempts.size() - 1;
            return i < answers.size() ? answers[i] : std::nullopt;
        };
    }
};

TEST(ProxyLogin, TheLoginGivenOnceServesEveryLaterConnection) {
    ProxyLogin login;
    EXPECT_FALSE(login.Current().retry);
    ScriptedUser user{{ProxyCredentials{L"用户", L"pass"}}};
    const ProxyRetry first = login.Refused(0, user.Prompt());
    ASSERT_TRUE(first.retry);
    EXPECT_EQ(first.credentials.user, L"用户");
    EXPECT_EQ(first.credentials.password, L"pass");
    // A connection that had sent nothing yet is refused too: it takes the known login.
    const ProxyRetry other = login.Refused(0, user.Prompt());
    EXPECT_TRUE(other.retry);
    EXPECT_EQ(other.generation, first.generation);
    EXPECT_EQ(user.attempts, std::vector<int>{1});
    const ProxyRetry current = login.Current();
    EXPECT_TRUE(current.retry);
    EXPECT_EQ(current.credentials.user, L"用户");
}

TEST(ProxyLogin, AWrongLoginIsAskedAgainAtMostThreeTimesInAll) {
    ProxyLogin login;
    ScriptedUser user{{ProxyCredentials{L"a", L"1"}, ProxyCredentials{L"b", L"2"}, ProxyCredentials{L"c", L"3"},
                       ProxyCredentials{L"d", L"4"}}};
    uint64_t generation = 0;
    for (int i = 0; i < ProxyLogin::kMaxPrompts; ++i) {
        const ProxyRetry next = login.Refused(generation, user.Prompt());
        ASSERT_TRUE(next.retry);
        EXPECT_GT(next.generation, generation);
        generation = next.generation;
    }
    EXPECT_EQ(login.Current().credentials.user, L"c");
    // The third login refused too: no fourth prompt, and every later refusal is final.
    EXPECT_FALSE(login.Refused(generation, user.Prompt()).retry);
    EXPECT_TRUE(login.GaveUp());
    EXPECT_FALSE(login.Refused(0, user.Prompt()).retry);
    EXPECT_FALSE(login.Current().retry);
    EXPECT_EQ(user.attempts, (std::vector<int>{1, 2, 3}));
}

TEST(ProxyLogin, CancelIsFinalAndAsksNoMore) {
    ProxyLogin login;
    ScriptedUser user;  // cancels at once
    EXPECT_FALSE(login.Refused(0, user.Prompt()).retry);
    EXPECT_TRUE(login.GaveUp());
    EXPECT_FALSE(login.Refused(0, user.Prompt()).retry);
    EXPECT_EQ(user.attempts, std::vector<int>{1});
    ProxyLogin without_prompt;
    EXPECT_FALSE(without_prompt.Refused(0, nullptr).retry);
}

TEST(ProxyLogin, ConnectionsRefusedTogetherShareOnePrompt) {
    ProxyLogin login;
    std::mutex mutex;
    std::condition_variable cv;
    bool asked = false;
    bool answer = false;
    std::atomic<int> prompts{0};
    // The prompt stays open until every other connection is waiting for it.
    const ProxyLogin::Prompt prompt = [&](int) -> std::optional<ProxyCredentials> {
        ++prompts;
        std::unique_lock<std::mutex> lock(mutex);
        asked = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(30), [&] { return answer; });
        return ProxyCredentials{L"u", L"p"};
    };
    std::vector<ProxyRetry> results(6);
    std::vector<std::thread> threads;
    threads.emplace_back([&] { results[0] = login.Refused(0, prompt); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return asked; }));
    }
    for (size_t i = 1; i < results.size(); ++i) {
        threads.emplace_back([&, i] { results[i] = login.Refused(0, prompt); });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        answer = true;
        cv.notify_all();
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(prompts.load(), 1);
    for (const ProxyRetry& r : results) {
        EXPECT_TRUE(r.retry);
        EXPECT_EQ(r.credentials.user, L"u");
        EXPECT_EQ(r.generation, results[0].generation);
    }
}

}  // namespace
}  // namespace installer
