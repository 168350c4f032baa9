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

batch_counts batch_run(const std::function<bool(batch_input&)>& next,
                       const std::function<batch_outcome(const batch_input&)>& work,
                       const std::function<bool(const batch_outcome&)>& emit, const batch_run_settings& settings) {
    using clock = std::chrono::steady_clock;
    const int jobs = std::max(1, settings.jobs);
    const size_t window = settings.window ? settings.window : std::max<size_t>(64, 16 * static_cast<size_t>(jobs));

    std::mutex m;
    std::condition_variable work_cv, ready_cv, room_cv;
    std::deque<std::pair<uint64_t, batch_input>> queue;  // read, not yet taken by a worker
    std::vector<std::optional<batch_outcome>> slots(window);  // outcome of input k at k % window
    uint64_t read = 0, handed = 0;
    bool all_read = false, stop = false;

    // Input k is only read once k - handed < window, so its slot is free.
    std::thread producer([&] {
        batch_input in;
        for (;;) {
            bool got = next(in);
            std::unique_lock lk(m);
            if (got) room_cv.wait(lk, [&] { return stop || read - handed < window; });
            if (!got || stop) {
                all_read = true;
                work_cv.notify_all();
                ready_cv.notify_one();
                return;
            }
            queue.emplace_back(read++, std::move(in));
            work_cv.notify_one();
        }
    });
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j) {
        workers.emplace_back([&] {
            if (settings.thread_start) settings.thread_start();
            std::unique_lock lk(m);
            for (;;) {
                work_cv.wait(lk, [&] { return stop || !queue.empty() || all_read; });
                if (stop || queue.empty()) return;
                auto job = std::move(queue.front());
                queue.pop_front();
                lk.unlock();
                batch_outcome o = work(job.second);
                lk.lock();
                slots[job.first % window] = std::move(o);
                if (job.first == handed) ready_cv.notify_one();
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
        if (!ready.empty()) room_cv.notify_one();
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
        if (emit_failed) {
            stop = true;
            work_cv.notify_all();
            room_cv.notify_all();
            break;
        }
        if (finished) break;
        ready_cv.wait_for(lk, interval, [&] { return slots[handed % window].has_value() || (all_read && handed == read); });
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
