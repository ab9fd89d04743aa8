// The download's choice rules as tables on a scripted transport and a virtual clock:
// minutes of downloading, outages and rests run in milliseconds, and every time asserted
// is the scheduler's own, so no row depends on the machine's load.
#include "download/block_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "download/block_info.h"
#include "scripted_transfers.h"

namespace installer {
namespace {

using testing::RunScripted;
using testing::ScriptedAnswer;
using testing::ScriptedMirror;
using testing::ScriptedOutcome;
using testing::SizesOf;

ScriptedAnswer Refuse(TransferError error, int32_t status = 0, int32_t retry_after_s = 0) {
    ScriptedAnswer answer;
    answer.error = error;
    answer.http_status = status;
    answer.retry_after_s = retry_after_s;
    return answer;
}

ScriptedMirror Always(ScriptedAnswer answer) {
    ScriptedMirror mirror;
    mirror.answer = [answer](SchedulerTime, int32_t, int32_t) { return answer; };
    return mirror;
}

ScriptedMirror Good() {
    return ScriptedMirror{};
}

// Answers `bad` until `until_ms`, then serves the file.
ScriptedMirror BadUntil(ScriptedAnswer bad, SchedulerTime until_ms) {
    ScriptedMirror mirror;
    mirror.answer = [bad, until_ms](SchedulerTime at, int32_t, int32_t) {
        return at < until_ms ? bad : ScriptedAnswer{};
    };
    return mirror;
}

std::string Name(const std::optional<DownloadFailure>& failure) {
    return failure ? std::to_string(static_cast<int>(*failure)) : "none";
}

TEST(BlockSchedulerTest, AFailedBlockGoesToTheBestOtherMirror) {
    // One block left to fetch, on a mirror that fails it: the retry goes to another mirror
    // (the most successful one where it has not failed), never back to the one that just
    // failed it, and the download completes.
    struct Row {
        const char* name;
        ScriptedAnswer failure;
    };
    const Row rows[] = {
        {"reset", Refuse(TransferError::kNetwork)},
        {"refused", Refuse(TransferError::kConnect)},
        {"503", Refuse(TransferError::kHttpStatus, 503)},
        {"500", Refuse(TransferError::kHttpStatus, 500)},
        {"wrong bytes",
         [] {
             ScriptedAnswer a;
             a.wrong_bytes = true;
             return a;
         }()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A one-block package: the first request goes to mirror 0.
        const ScriptedOutcome one = RunScripted({}, {Always(row.failure), Good()}, SizesOf(5000));
        EXPECT_TRUE(one.complete) << Name(one.failure);
        ASSERT_GE(one.requests.size(), 2u);
        EXPECT_EQ(one.requests[0].mirror, 0);
        EXPECT_EQ(one.requests[1].mirror, 1);
        EXPECT_EQ(one.On(0).size(), 1u) << "retried where it had just failed";

        // A resume with one block left and three mirrors, mirror 2 having delivered more:
        // the block was given to mirror 0, which fails it; mirror 2 (best) takes it over.
        std::vector<bool> kept(10, true);
        kept[9] = false;
        const ScriptedOutcome resume =
            RunScripted({}, {Always(row.failure), Good(), Good()}, SizesOf(10 * kBlockStride - 7), kept);
        EXPECT_TRUE(resume.complete) << Name(resume.failure);
        ASSERT_GE(resume.requests.size(), 2u);
        EXPECT_EQ(resume.requests[0].mirror, 0);
        EXPECT_NE(resume.requests[1].mirror, 0);
        EXPECT_EQ(resume.report.blocks_kept, 9);
    }
}

TEST(BlockSchedulerTest, AVerifiedBlockRestartsTheOutageClock) {
    // A 4 s download with an outage budget of 1 s: blocks keep arriving (every 350 ms),
    // then the mirror refuses connections for 700 ms at 2 s. The outage is shorter than
    // the budget counted from the last verified block, so it is ridden out; counted from
    // the start it would already be over the budget.
    ScriptedMirror mirror;
    mirror.round_trip_ms = 300;
    mirror.block_ms = 50;
    mirror.answer = [](SchedulerTime at, int32_t, int32_t) {
        return at >= 2000 && at < 2700 ? Refuse(TransferError::kConnect) : ScriptedAnswer{};
    };
    DownloadPolicy policy;
    policy.workers_per_mirror = 1;
    policy.max_run_blocks = 1;
    policy.retry_delay_ms = 50;
    policy.max_retry_delay_ms = 200;
    policy.outage_budget_ms = 1000;
    const ScriptedOutcome out = RunScripted(policy, {mirror}, SizesOf(12 * kBlockStride));
    EXPECT_TRUE(out.complete) << Name(out.failure);
    EXPECT_GT(out.end_ms, 2700);
    EXPECT_GE(out.block_errors.size(), 2u);
    EXPECT_EQ(out.report.outages, 1);

    // The same outage, but for longer than the budget: one final failure, told as the
    // network's, about a budget after the last block.
    mirror.answer = [](SchedulerTime at, int32_t, int32_t) {
        return at >= 2000 ? Refuse(TransferError::kConnect) : ScriptedAnswer{};
    };
    const ScriptedOutcome over = RunScripted(policy, {mirror}, SizesOf(12 * kBlockStride));
    EXPECT_EQ(over.failure, DownloadFailure::kAllMirrorsFailed);
    EXPECT_GE(over.end_ms, 2000 + 1000 - 400);
    EXPECT_LE(over.end_ms, 2000 + 1000 + 1000);
}

TEST(BlockSchedulerTest, MirrorsThatPushBackRestOrAreRefusedAndTheReasonFollowsTheEvidence) {
    struct Row {
        const char* name;
        std::vector<ScriptedMirror> mirrors;
        std::optional<DownloadFailure> failure;  // none: completes
        SchedulerTime max_end_ms;                // the final event comes before this
        int max_requests_per_bad_mirror;         // requests on each mirror that delivered nothing
                                                 // (2 at once at the start)
    };
    const ScriptedAnswer not_found = Refuse(TransferError::kHttpStatus, 404);
    const ScriptedAnswer unavailable = Refuse(TransferError::kHttpStatus, 503);
    const ScriptedAnswer untrusted = Refuse(TransferError::kCertificate);
    ScriptedAnswer other_file;
    other_file.wrong_bytes = true;
    ScriptedAnswer whole_file;  // a 200 with the whole file: the first block is right, no other
    whole_file.ignores_range = true;
    const Row rows[] = {
        {"every mirror 404",
         {Always(not_found), Always(not_found), Always(not_found)},
         DownloadFailure::kServerRefused,
         5000,
         2},
        {"every mirror 410",
         {Always(Refuse(TransferError::kHttpStatus, 410))},
         DownloadFailure::kServerRefused,
         5000,
         2},
        {"every mirror 416",
         {Always(Refuse(TransferError::kHttpStatus, 416)), Always(not_found)},
         DownloadFailure::kServerRefused,
         5000,
         2},
        {"404 beside a good mirror", {Always(not_found), Good()}, std::nullopt, 5000, 2},
        {"every mirror untrusted",
         {Always(untrusted), Always(untrusted)},
         DownloadFailure::kCertificateInvalid,
         5000,
         2},
        {"untrusted beside a good mirror", {Always(untrusted), Good()}, std::nullopt, 5000, 2},
        {"proxy login",
         {Always(Refuse(TransferError::kProxyAuth)), Good()},
         DownloadFailure::kProxyLoginRequired,
         100,
         2},
        {"another file, 1 mirror", {Always(other_file)}, DownloadFailure::kBlockFailsItsCheck, 5000, 6},
        {"another file, 2 mirrors",
         {Always(other_file), Always(other_file)},
         DownloadFailure::kBlockFailsItsCheck,
         5000,
         6},
        {"another file, 3 mirrors",
         {Always(other_file), Always(other_file), Always(other_file)},
         DownloadFailure::kBlockFailsItsCheck,
         5000,
         6},
        {"every mirror 503 for 20 s",
         {BadUntil(unavailable, 20000), BadUntil(unavailable, 20000)},
         std::nullopt,
         20000 + 60000,
         40},
        {"every mirror 429 for 20 s",
         {BadUntil(Refuse(TransferError::kHttpStatus, 429), 20000)},
         std::nullopt,
         20000 + 60000,
         40},
        {"every mirror 408 for 3 s",
         {BadUntil(Refuse(TransferError::kHttpStatus, 408), 3000)},
         std::nullopt,
         10000,
         40},
        {"every mirror 503 for good",
         {Always(unavailable), Always(unavailable)},
         DownloadFailure::kServerRefused,
         120000 + 10000,
         60},
        {"network down for good",
         {Always(Refuse(TransferError::kConnect)), Always(Refuse(TransferError::kResolve))},
         DownloadFailure::kAllMirrorsFailed,
         120000 + 10000,
         200},
        {"404 and network down",
         {Always(not_found), Always(Refuse(TransferError::kConnect))},
         DownloadFailure::kAllMirrorsFailed,
         120000 + 10000,
         200},
        {"ignores ranges, alone", {Always(whole_file)}, DownloadFailure::kAllMirrorsFailed, 1000, 2},
        {"ignores ranges, beside a good mirror", {Always(whole_file), Good()}, std::nullopt, 5000, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScriptedOutcome out = RunScripted({}, row.mirrors, SizesOf(6 * kBlockStride + 100));
        ASSERT_NE(out.end_ms, -1) << "no final event";
        EXPECT_EQ(out.complete, !row.failure.has_value());
        EXPECT_EQ(Name(out.failure), Name(row.failure));
        EXPECT_LT(out.end_ms, row.max_end_ms);
        for (size_t m = 0; m < row.mirrors.size(); ++m) {
            if (out.report.mirrors[m].blocks_verified == 0) {
                EXPECT_LE(out.On(static_cast<int32_t>(m)).size(), static_cast<size_t>(row.max_requests_per_bad_mirror))
                    << "mirror " << m;
            }
        }
    }
}

TEST(BlockSchedulerTest, RetryAfterRestsTheMirrorForItsTimeCappedAtAMinute) {
    struct Row {
        int32_t retry_after_s;
        SchedulerTime min_gap_ms;
        SchedulerTime max_gap_ms;
    };
    const Row rows[] = {{5, 5000, 6000}, {1, 1000, 2000}, {600, kMaxRetryAfterMs, kMaxRetryAfterMs + 1000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.retry_after_s);
        // The one mirror answers 503 with Retry-After once, then serves.
        ScriptedMirror mirror;
        mirror.answer = [row](SchedulerTime at, int32_t, int32_t) {
            return at == 0 ? Refuse(TransferError::kHttpStatus, 503, row.retry_after_s) : ScriptedAnswer{};
        };
        DownloadPolicy policy;
        policy.workers_per_mirror = 1;
        const ScriptedOutcome out = RunScripted(policy, {mirror}, SizesOf(3 * kBlockStride));
        EXPECT_TRUE(out.complete) << Name(out.failure);
        ASSERT_GE(out.requests.size(), 2u);
        const SchedulerTime answered = out.requests[0].at + mirror.round_trip_ms;
        const SchedulerTime gap = out.requests[1].at - answered;
        EXPECT_GE(gap, row.min_gap_ms);
        EXPECT_LE(gap, row.max_gap_ms);
        EXPECT_EQ(out.report.mirrors[0].rests, 1);
        EXPECT_EQ(out.report.mirrors[0].http_failures, 1);
    }
}

TEST(BlockSchedulerTest, AShortAnswerIsASizeFailureAtOnceOnlyWhenTheServerSaidSo) {
    // The table's last block is a whole block, the mirrors' file ends 1000 bytes into it:
    // the answer declares its short length, so the package is not the table's.
    ScriptedAnswer shorter;
    shorter.file_size = 3 * kBlockStride + 1000;
    const ScriptedOutcome declared =
        RunScripted({}, {Always(shorter), Always(shorter), Always(shorter)}, SizesOf(4 * kBlockStride));
    EXPECT_EQ(declared.failure, DownloadFailure::kPackageSizeMismatch);
    EXPECT_LT(declared.end_ms, 5000);

    // A body cut in the middle without such a declaration is the network's: retried.
    ScriptedMirror cut_once;
    cut_once.answer = [](SchedulerTime at, int32_t block, int32_t) {
        ScriptedAnswer a;
        a.cut = at == 0 && block == 0;
        return a;
    };
    const ScriptedOutcome cut = RunScripted({}, {cut_once}, SizesOf(4 * kBlockStride));
    EXPECT_TRUE(cut.complete) << Name(cut.failure);
    EXPECT_EQ(cut.report.mirrors[0].network_failures, 1);
}

TEST(BlockSchedulerTest, RunLengthsFollowTheDistanceAndTheLimit) {
    struct Row {
        int32_t round_trip_ms;
        int max_run_blocks;
        int32_t min_longest;  // the longest run asked for is at least this
    };
    const Row rows[] = {{0, 32, 1}, {40, 32, 4}, {160, 32, 16}, {160, 16, 16}, {160, 1, 1}, {300, 2, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.round_trip_ms << " ms, limit " << row.max_run_blocks);
        ScriptedMirror far;
        far.round_trip_ms = row.round_trip_ms;
        far.block_ms = 20;  // 10 MB/s
        DownloadPolicy policy;
        policy.max_run_blocks = row.max_run_blocks;
        const ScriptedOutcome out = RunScripted(policy, {far, far, far}, SizesOf(200 * kBlockStride));
        EXPECT_TRUE(out.complete) << Name(out.failure);
        int32_t longest = 0;
        for (const auto& r : out.requests) {
            longest = std::max(longest, r.run);
            EXPECT_LE(r.run, row.max_run_blocks);
        }
        EXPECT_GE(longest, row.min_longest);
        // Each mirror's first request is one block, as it has always been.
        for (int32_t m = 0; m < 3; ++m) {
            EXPECT_EQ(out.On(m).at(0).run, 1);
        }
    }
}

TEST(BlockSchedulerTest, NetworkFailuresAreForgottenOnceTheMirrorDeliversAgain) {
    // A far mirror drops off for 2 s in the middle. While it is away each retry marks
    // another block as failed there; once it is back those marks must not cut the rest of
    // the download into one-block requests.
    ScriptedMirror mirror;
    mirror.round_trip_ms = 200;
    mirror.block_ms = 20;
    mirror.answer = [](SchedulerTime at, int32_t, int32_t) {
        return at >= 1500 && at < 3500 ? Refuse(TransferError::kConnect) : ScriptedAnswer{};
    };
    DownloadPolicy policy;
    policy.retry_delay_ms = 50;
    policy.max_retry_delay_ms = 200;
    const ScriptedOutcome out = RunScripted(policy, {mirror}, SizesOf(150 * kBlockStride));
    EXPECT_TRUE(out.complete) << Name(out.failure);
    EXPECT_GE(out.block_errors.size(), 5u);
    // Once the mirror is back and long runs have started again, no block is asked for
    // alone: the blocks that failed during the outage are part of the runs.
    int32_t longest_after = 0;
    int single_after_runs = 0;
    bool runs_again = false;
    for (const auto& r : out.requests) {
        if (r.at < 3500) {
            continue;
        }
        single_after_runs += runs_again && r.run == 1;
        runs_again = runs_again || r.run > 1;
        longest_after = std::max(longest_after, r.run);
    }
    EXPECT_GE(longest_after, 8);
    EXPECT_LE(single_after_runs, 1) << "the outage's marks cut the rest into single blocks";
}

TEST(BlockSchedulerTest, TheTailIsDuplicatedAndRunsWhoseBlocksArrivedElsewhereAreCancelled) {
    // A mirror 50 times slower than the other: its blocks are fetched a second time by
    // the fast one at the tail, and its transfers are cancelled once nothing they carry
    // is due any more; the download ends long before the slow mirror would.
    ScriptedMirror slow;
    slow.block_ms = 1000;
    ScriptedMirror fast;
    fast.block_ms = 20;
    const ScriptedOutcome out = RunScripted({}, {slow, fast}, SizesOf(30 * kBlockStride));
    EXPECT_TRUE(out.complete) << Name(out.failure);
    EXPECT_LT(out.end_ms, 2000);
    int cancelled_slow = 0;
    for (const auto& r : out.On(0)) {
        cancelled_slow += out.cancelled.count(r.id) > 0;
    }
    EXPECT_GE(cancelled_slow, 1);
    EXPECT_EQ(out.report.blocks_done, 30);
    EXPECT_EQ(out.progress.size(), 29u);
}

}  // namespace
}  // namespace installer

namespace installer {
namespace {

// Share of the link a download used: the time the mirrors' links needed at their rates,
// over the time it took.
double ShareOfLink(const ScriptedOutcome& out, const std::vector<ScriptedMirror>& mirrors, int32_t blocks) {
    double rate = 0.0;
    for (const auto& m : mirrors) {
        rate += 1.0 / m.block_ms;
    }
    return blocks / rate / static_cast<double>(out.end_ms);
}

TEST(BlockSchedulerTest, TheWindowGrowsWithDistanceStaysBoundedAndTheMirrorsFinishTogether) {
    struct Row {
        int32_t round_trip_ms;
        std::vector<int32_t> block_ms;  // per mirror: 20 ms is 10 MB/s, 51 ms 4 MB/s
        double min_share;
    };
    const Row rows[] = {
        {0, {20, 20, 20}, 0.99},   {40, {20, 20, 20}, 0.98},  {80, {20, 20, 20}, 0.97},
        {160, {20, 20, 20}, 0.95}, {160, {51, 51, 51}, 0.97}, {80, {51, 102, 410}, 0.98},
    };
    const int32_t blocks = 480;  // 96 MiB
    for (const Row& row : rows) {
        std::vector<ScriptedMirror> mirrors;
        for (int32_t ms : row.block_ms) {
            ScriptedMirror m;
            m.round_trip_ms = row.round_trip_ms;
            m.block_ms = ms;
            mirrors.push_back(m);
        }
        const ScriptedOutcome out = RunScripted({}, mirrors, SizesOf(int64_t{blocks} * kBlockStride));
        const double share = ShareOfLink(out, mirrors, blocks);
        SCOPED_TRACE(::testing::Message()
                     << row.round_trip_ms << " ms, block " << row.block_ms[2] << " ms: share " << share);
        EXPECT_TRUE(out.complete) << Name(out.failure);
        EXPECT_GE(share, row.min_share);
        SchedulerTime first_done = out.end_ms;
        for (int32_t m = 0; m < 3; ++m) {
            EXPECT_LE(out.max_connections.at(m), kMaxConnectionsPerMirror);
            EXPECT_EQ(out.On(m).at(0).run, 1);
            first_done = std::min(first_done, out.last_block_at.at(m));
        }
        // The mirrors finish close together: within one round trip and one block.
        const int32_t slowest_block = *std::max_element(row.block_ms.begin(), row.block_ms.end());
        EXPECT_LE(out.end_ms - first_done, row.round_trip_ms + slowest_block);
        if (row.round_trip_ms >= 80) {
            EXPECT_GT(out.max_connections.at(0), 2) << "the window did not grow with the distance";
        }
        EXPECT_GE(out.report.mirrors[0].round_trip_ms, row.round_trip_ms - 1);
    }
}

TEST(BlockSchedulerTest, TheRunsOfAMirrorThatSlowsDownAreCutAndItsFarEndsGoElsewhere) {
    // Three mirrors at 10 MB/s, 80 ms away; half way through the full-rate time the first
    // drops to 1 MB/s with two long runs asked of it. The fastest the links allow: half the
    // package by then, the rest at the lower sum. Left alone, its runs would drain at the
    // new pace and the others would only copy their last blocks one at a time.
    const int32_t blocks = 480;
    std::vector<ScriptedMirror> mirrors(3);
    for (ScriptedMirror& m : mirrors) {
        m.round_trip_ms = 80;
        m.block_ms = 20;
    }
    const double full_rate = 3.0 / 20;  // blocks per ms
    const SchedulerTime half = static_cast<SchedulerTime>(blocks / full_rate / 2);
    mirrors[0].slows_at_ms = half;
    mirrors[0].block_ms_after = 200;
    const double fastest = half + (blocks - half * full_rate) / (1.0 / 200 + 2.0 / 20);
    const ScriptedOutcome out = RunScripted({}, mirrors, SizesOf(int64_t{blocks} * kBlockStride));
    ASSERT_TRUE(out.complete) << Name(out.failure);
    const double share = fastest / static_cast<double>(out.end_ms);
    SCOPED_TRACE(::testing::Message() << "share " << share << ", " << out.end_ms << " ms against " << fastest);
    ::testing::Test::RecordProperty("share_permille", static_cast<int>(share * 1000));
    EXPECT_GE(share, 0.93);  // 0.875 with the runs left whole
    EXPECT_EQ(out.report.blocks_done, blocks);
    // A run asked of the slow mirror before the drop ended early, cancelled at its cut.
    int cut_short = 0;
    for (const auto& r : out.On(0)) {
        cut_short += r.at < half && r.run > 1 && out.cancelled.count(r.id) > 0;
    }
    EXPECT_GE(cut_short, 1);
    SchedulerTime first_done = out.end_ms;
    for (int32_t m = 0; m < 3; ++m) {
        EXPECT_LE(out.max_connections.at(m), kMaxConnectionsPerMirror);
        first_done = std::min(first_done, out.last_block_at.at(m));
    }
    EXPECT_LE(out.end_ms - first_done, 80 + 200) << "the mirrors did not finish together";
}

}  // namespace
}  // namespace installer
