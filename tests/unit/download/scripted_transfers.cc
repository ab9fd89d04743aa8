// The scripted transport's event loop: requests become timed block arrivals and failures in
// one queue ordered by virtual time; the scheduler's decisions are applied as the manager
// applies them (errors, progress, the end, cancels, then new transfers).
#include "scripted_transfers.h"

#include <algorithm>
#include <queue>
#include <tuple>

#include "download/block_info.h"

namespace installer::testing {
namespace {

struct Event {
    SchedulerTime at = 0;
    int64_t seq = 0;
    int64_t id = 0;
    int32_t index = 0;
    bool arrival = true;  // a block arrived; else the transfer failed
    bool final = false;
    ArrivalInfo info;
    bool wrong_bytes = false;
    RangeResult failure;
    bool after_cancel = false;  // the report of a cancelled transfer: always delivered

    bool operator>(const Event& other) const { return std::tie(at, seq) > std::tie(other.at, other.seq); }
};

struct Running {
    int32_t mirror = 0;
    int32_t block = 0;
    int32_t delivered = 0;  // blocks whose arrival was handled
    bool ended = false;     // its final report is queued or handled
};

class Loop {
  public:
    Loop(const DownloadPolicy& policy, const std::vector<ScriptedMirror>& mirrors, const std::vector<int32_t>& sizes)
        : scheduler_(policy), mirrors_(mirrors), sizes_(sizes) {}

    ScriptedOutcome Run(const std::vector<bool>& kept, SchedulerTime limit_ms) {
        Apply(scheduler_.Begin(static_cast<int32_t>(mirrors_.size()), sizes_, kept, 0), 0);
        while (!ended_ && !queue_.empty()) {
            Event event = queue_.top();
            queue_.pop();
            if (event.at > limit_ms) {
                break;
            }
            Running& running = running_[event.id];
            if (running.ended && !event.after_cancel) {
                continue;  // cancelled: its later blocks never come
            }
            const SchedulerTime now = event.at;
            if (event.arrival) {
                if (event.final && !running.ended) {
                    --connections_[running.mirror];
                }
                running.ended = running.ended || event.final;
                ++running.delivered;
                BlockCheck check = BlockCheck::kUnchecked;
                if (!scheduler_.IsDone(event.index)) {
                    check = event.wrong_bytes || event.info.count != sizes_[event.index] ? BlockCheck::kDigest
                                                                                         : BlockCheck::kVerified;
                    if (check == BlockCheck::kVerified) {
                        ++outcome_.verified_from[running.mirror];
                        outcome_.last_block_at[running.mirror] = now;
                    }
                }
                Apply(scheduler_.Arrived(event.id, event.index, event.final, check, event.info, now), now);
            } else {
                if (!running.ended) {
                    --connections_[running.mirror];
                }
                running.ended = true;
                Apply(scheduler_.Failed(event.id, event.index, event.failure, now), now);
            }
        }
        outcome_.report = scheduler_.Report();
        return outcome_;
    }

  private:
    void Push(Event event) {
        event.seq = seq_++;
        queue_.push(std::move(event));
    }

    void Apply(const SchedulerActions& actions, SchedulerTime now) {
        if (actions.block_error != 0) {
            outcome_.block_errors.push_back(actions.block_error);
        }
        if (actions.progress >= 0) {
            outcome_.progress.push_back(actions.progress);
        }
        for (int64_t id : actions.cancels) {
            outcome_.cancelled.insert(id);
            Running& running = running_[id];
            if (!running.ended) {
                running.ended = true;
                --connections_[running.mirror];
                Event event;
                event.at = now;
                event.id = id;
                event.index = running.block + running.delivered;
                event.arrival = false;
                event.failure.error = TransferError::kCancelled;
                event.after_cancel = true;
                Push(event);
            }
        }
        if (actions.complete || actions.failure) {
            outcome_.complete = actions.complete;
            outcome_.failure = actions.failure;
            outcome_.end_ms = now;
            ended_ = true;
            return;
        }
        for (const TransferStart& start : actions.starts) {
            Send(start, now + start.delay_ms);
        }
    }

    void Send(const TransferStart& start, SchedulerTime at) {
        outcome_.requests.push_back(ScriptedRequest{at, start.mirror, start.block, start.run_blocks, start.id});
        running_[start.id] = Running{start.mirror, start.block, 0, false};
        int& connections = ++connections_[start.mirror];
        outcome_.max_connections[start.mirror] = std::max(outcome_.max_connections[start.mirror], connections);
        const ScriptedMirror& mirror = mirrors_[static_cast<size_t>(start.mirror)];
        const ScriptedAnswer answer =
            mirror.answer ? mirror.answer(at, start.block, start.run_blocks) : ScriptedAnswer{};
        const SchedulerTime first_byte = at + mirror.round_trip_ms;
        if (answer.error != TransferError::kNone || answer.cut) {
            Event event;
            event.at = answer.cut ? first_byte + mirror.block_ms / 2 : first_byte;
            event.id = start.id;
            event.index = start.block;
            event.arrival = false;
            event.failure.error = answer.cut ? TransferError::kNetwork : answer.error;
            event.failure.http_status = answer.error == TransferError::kHttpStatus ? answer.http_status : 0;
            event.failure.retry_after_s = answer.retry_after_s;
            Push(event);
            return;
        }
        if (answer.ignores_range) {
            // The body is the file from byte 0: the run's first block holds block 0's bytes
            // and the transfer stops after it.
            Event event;
            event.at = first_byte + mirror.block_ms;
            event.id = start.id;
            event.index = start.block;
            event.final = true;
            event.info.count = sizes_[static_cast<size_t>(start.block)];
            event.info.http_status = 200;
            event.info.first_byte_ms = mirror.round_trip_ms;
            event.wrong_bytes = start.block != 0;
            Push(event);
            return;
        }
        const int64_t begin = static_cast<int64_t>(start.block) * kBlockStride;
        const int64_t asked = static_cast<int64_t>(start.run_blocks) * kBlockStride + 1;
        const int64_t body = answer.file_size >= 0 ? std::min(asked, answer.file_size - begin) : -1;
        SchedulerTime& link_free = link_free_[start.mirror];
        SchedulerTime ready = first_byte;
        for (int32_t k = 0; k < start.run_blocks; ++k) {
            const int32_t block = start.block + k;
            const int64_t offset = static_cast<int64_t>(block) * kBlockStride;
            int64_t count = sizes_[static_cast<size_t>(block)];
            bool ends_here = k + 1 == start.run_blocks;
            if (answer.file_size >= 0 && offset + count >= answer.file_size) {
                count = std::max<int64_t>(0, answer.file_size - offset);
                ends_here = true;
            }
            Event event;
            const SchedulerTime on_link = std::max(ready, link_free);
            const bool slowed = mirror.slows_at_ms >= 0 && on_link >= mirror.slows_at_ms;
            ready = on_link + (slowed ? mirror.block_ms_after : mirror.block_ms);
            link_free = ready;
            event.at = ready;
            event.id = start.id;
            event.index = block;
            event.final = ends_here;
            event.info.count = static_cast<int32_t>(count);
            event.info.http_status = 206;
            event.info.first_byte_ms = mirror.round_trip_ms;
            event.info.body_length = body;
            event.info.blocks_before = k;
            event.wrong_bytes = answer.wrong_bytes;
            Push(event);
            if (ends_here) {
                break;
            }
        }
    }

    BlockScheduler scheduler_;
    const std::vector<ScriptedMirror>& mirrors_;
    const std::vector<int32_t>& sizes_;
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> queue_;
    std::map<int64_t, Running> running_;
    std::map<int32_t, int> connections_;          // mirror -> transfers running there
    std::map<int32_t, SchedulerTime> link_free_;  // mirror -> when its link has sent all it was asked
    ScriptedOutcome outcome_;
    int64_t seq_ = 0;
    bool ended_ = false;
};

}  // namespace

std::vector<ScriptedRequest> ScriptedOutcome::On(int32_t mirror) const {
    std::vector<ScriptedRequest> out;
    for (const ScriptedRequest& r : requests) {
        if (r.mirror == mirror) {
            out.push_back(r);
        }
    }
    return out;
}

ScriptedOutcome RunScripted(const DownloadPolicy& policy,
                            const std::vector<ScriptedMirror>& mirrors,
                            const std::vector<int32_t>& sizes,
                            const std::vector<bool>& kept,
                            SchedulerTime limit_ms) {
    Loop loop(policy, mirrors, sizes);
    return loop.Run(kept, limit_ms);
}

std::vector<int32_t> SizesOf(int64_t bytes) {
    std::vector<int32_t> sizes;
    for (int64_t offset = 0; offset < bytes; offset += kBlockStride) {
        sizes.push_back(static_cast<int32_t>(std::min<int64_t>(kBlockStride, bytes - offset)));
    }
    return sizes;
}

}  // namespace installer::testing
