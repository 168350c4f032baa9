#include "batch_run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Hand-offs between the threads are batched, as each one costs a lock and
// often a wake-up (a system call or two and a context switch) while a small
// file takes tens of microseconds: workers take several inputs at a time and
// store their outcomes together, the reader refills the window only once a
// quarter of it is free, and the calling thread is woken when a batch of
// outcomes is ready in order (or the run ends, or the tick is due).
batch_counts batch_run(const std::function<bool(batch_input&)>& next,
                       const std::function<batch_outcome(const batch_input&)>& work,
                       const std::function<bool(const batch_outcome&)>& emit, const batch_run_settings& settings) {
    using clock = std::chrono::steady_clock;
    const int jobs = std::max(1, settings.jobs);
    const size_t window = settings.window ? settings.window : std::max<size_t>(256, 32 * static_cast<size_t>(jobs));
    const uint64_t refill_at = window - std::max<size_t>(1, window / 4);  // the reader waits down to this
    const uint64_t wake_batch = std::max<size_t>(1, std::min<size_t>(window / 4, 32));
    const size_t take_most = 8;

    std::mutex m;
    std::condition_variable work_cv, ready_cv, room_cv;
    std::deque<std::pair<uint64_t, batch_input>> queue;  // read, not yet taken by a worker
    std::vector<std::optional<batch_outcome>> slots(window);  // outcome of input k at k % window
    // handed: outcomes taken out of their slots; freed: those emitted, which
    // is what the reader's room counts (an outcome taken out but not yet
    // emitted still counts as held).
    uint64_t read = 0, handed = 0, freed = 0;
    bool all_read = false, stop = false;
    int idle_workers = 0;
    bool reader_waiting = false, main_waiting = false;

    // Whether the calling thread has a batch to hand on: the next outcome
    // and the one wake_batch - 1 after it, or every outcome still to come.
    auto batch_ready = [&] {
        if (!slots[handed % window]) return all_read && handed == read;
        uint64_t last = handed + wake_batch - 1;
        if (last >= read) return all_read || read - handed >= window;
        return slots[last % window].has_value();
    };

    // Input k is only read once k - freed < window, so its slot is free.
    std::thread producer([&] {
        batch_input in;
        for (;;) {
            bool got = next(in);
            std::unique_lock lk(m);
            if (got && read - freed >= window) {
                reader_waiting = true;
                room_cv.wait(lk, [&] { return stop || read - freed <= refill_at; });
                reader_waiting = false;
            }
            if (!got || stop) {
                all_read = true;
                work_cv.notify_all();
                ready_cv.notify_one();
                return;
            }
            queue.emplace_back(read++, std::move(in));
            if (idle_workers > 0) work_cv.notify_one();
        }
    });
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j) {
        workers.emplace_back([&] {
            if (settings.thread_start) settings.thread_start();
            std::vector<std::pair<uint64_t, batch_input>> mine;
            std::vector<batch_outcome> done;
            std::unique_lock lk(m);
            for (;;) {
                if (!stop && queue.empty() && !all_read) {
                    ++idle_workers;
                    work_cv.wait(lk, [&] { return stop || !queue.empty() || all_read; });
                    --idle_workers;
                }
                if (stop || queue.empty()) return;
                // A share of what is queued, so the other workers keep some.
                size_t n = std::clamp<size_t>(queue.size() / static_cast<size_t>(jobs), 1, take_most);
                mine.clear();
                for (size_t i = 0; i < n; ++i) {
                    mine.push_back(std::move(queue.front()));
                    queue.pop_front();
                }
                if (!queue.empty() && idle_workers > 0) work_cv.notify_one();
                lk.unlock();
                done.clear();
                for (const auto& job : mine) done.push_back(work(job.second));
                lk.lock();
                for (size_t i = 0; i < mine.size(); ++i) slots[mine[i].first % window] = std::move(done[i]);
                if (main_waiting && batch_ready()) ready_cv.notify_one();
            }
        });
    }

    batch_counts c;
    const auto start = clock::now();
    auto last_tick = start;
    const auto interval = std::chrono::milliseconds(std::max(1, settings.interval_ms));
    std::vector<batch_outcome> ready;
    bool emit_failed = false;
    std::unique_lock lk(m);
    for (;;) {
        ready.clear();
        while (slots[handed % window]) {
            ready.push_back(std::move(*slots[handed % window]));
            slots[handed % window].reset();
            ++handed;
        }
        const bool finished = all_read && handed == read;
        const bool more_ready = slots[handed % window].has_value();
        c.read = read;
        c.all_read = all_read;
        lk.unlock();
        for (const batch_outcome& o : ready) {
            if (!emit(o)) {
                emit_failed = true;
                break;
            }
            ++c.done;
            if (o.failed) ++c.failed;
        }
        if (!emit_failed && !more_ready && settings.idle) settings.idle();
        auto now = clock::now();
        if (settings.tick && now - last_tick >= interval && !finished && !emit_failed) {
            settings.tick(c, false);
            last_tick = now;
        }
        lk.lock();
        if (!emit_failed) freed = handed;
        if (reader_waiting && read - freed <= refill_at) room_cv.notify_one();
        if (emit_failed) {
            stop = true;
            work_cv.notify_all();
            room_cv.notify_all();
            break;
        }
        if (finished) break;
        main_waiting = true;
        ready_cv.wait_for(lk, interval, batch_ready);
        main_waiting = false;
    }
    lk.unlock();
    producer.join();
    for (auto& w : workers) w.join();
    c.read = read;
    c.all_read = true;
    if (settings.tick) settings.tick(c, true);
    return c;
}

std::string batch_progress_line(const batch_counts& c, double seconds, int64_t total) {
    char buf[160];
    double rate = seconds > 0 ? static_cast<double>(c.done) / seconds : 0;
    int n;
    if (total >= 0)
        n = std::snprintf(buf, sizeof buf, "%llu/%lld files", static_cast<unsigned long long>(c.done),
                          static_cast<long long>(total));
    else
        n = std::snprintf(buf, sizeof buf, "%llu files", static_cast<unsigned long long>(c.done));
    std::string line(buf, static_cast<size_t>(n));
    std::snprintf(buf, sizeof buf, ", %.0f files/s, %llu failed", rate, static_cast<unsigned long long>(c.failed));
    line += buf;
    if (total >= 0 && rate > 0) {
        uint64_t left_files = static_cast<uint64_t>(total) > c.done ? static_cast<uint64_t>(total) - c.done : 0;
        auto left = static_cast<long long>(static_cast<double>(left_files) / rate + 0.5);
        if (left >= 3600)
            std::snprintf(buf, sizeof buf, ", %lld:%02lld:%02lld left", left / 3600, left / 60 % 60, left % 60);
        else
            std::snprintf(buf, sizeof buf, ", %lld:%02lld left", left / 60, left % 60);
        line += buf;
    }
    return line;
}
