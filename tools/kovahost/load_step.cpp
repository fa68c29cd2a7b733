// The load step's threads and its counts (see load_step.h).
#include "tools/kovahost/load_step.h"

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "tools/kovahost/host_ops.h"
#include "tools/support/stdout_capture.h"

namespace kovahost {
namespace {

// One thread's work: `count` operations of the cycle on `plan.db`.
void Work(const LoadPlan& plan, uint32_t thread, uint32_t count, LoadResult* result) {
    HostHandle db;
    if (OpenDb(plan.db, &db) != 0) {
        result->failed += count;
        return;
    }
    NOTEID a = 0;
    NOTEID b = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const qixsim::Items title{
            {"Title", "load " + std::to_string(thread) + "." + std::to_string(i)}};
        STATUS status = 0;
        switch (i % 6) {
            case 0:
                ++result->creates;
                status = CreateNote(db.Get(), plan.items, false, 0, &a);
                break;
            case 1:
                ++result->updates;
                status = UpdateNote(db.Get(), a, title, false, 0);
                break;
            case 2:
                ++result->creates;
                status = CreateNote(db.Get(), plan.items, false, 0, &b);
                break;
            case 3:
                ++result->extendedUpdates;
                status = UpdateNote(db.Get(), b, title, true, 0);
                break;
            case 4:
                ++result->deletes;
                status = qixsim::DeleteNote(db.Get(), a);
                break;
            default:
                ++result->bulkDeletes;
                status = qixsim::DeleteNotes(db.Get(), {b});
                break;
        }
        if (status != 0)
            ++result->failed;
    }
}

// Joins every started thread on the way out, also when starting a later one failed.
class Joiner {
  public:
    explicit Joiner(std::vector<std::thread>& threads) : threads_(threads) {}
    ~Joiner() {
        for (std::thread& thread : threads_) {
            if (thread.joinable())
                thread.join();
        }
    }
    Joiner(const Joiner&) = delete;
    Joiner& operator=(const Joiner&) = delete;

  private:
    std::vector<std::thread>& threads_;
};

}  // namespace

LoadResult RunLoad(const LoadPlan& plan) {
    const size_t eventsBefore = qixsim::ListDocuments("kovaevents.qix", "Event").size();
    std::vector<LoadResult> results(plan.threads);
    std::unique_ptr<kovasupport::StdoutCapture> diversion;
    if (!plan.console)
        diversion = std::make_unique<kovasupport::StdoutCapture>();

    const auto start = std::chrono::steady_clock::now();
    {
        std::vector<std::thread> threads;
        const Joiner joiner(threads);
        for (uint32_t t = 0; t < plan.threads; ++t) {
            const uint32_t share =
                plan.operations / plan.threads + (t < plan.operations % plan.threads ? 1 : 0);
            threads.emplace_back(Work, std::cref(plan), t, share, &results[t]);
        }
    }
    const auto end = std::chrono::steady_clock::now();

    LoadResult total;
    if (diversion)
        total.consoleLines = diversion->StopCountingLines();
    for (const LoadResult& r : results) {
        total.creates += r.creates;
        total.updates += r.updates;
        total.extendedUpdates += r.extendedUpdates;
        total.deletes += r.deletes;
        total.bulkDeletes += r.bulkDeletes;
        total.failed += r.failed;
    }
    total.events = qixsim::ListDocuments("kovaevents.qix", "Event").size() - eventsBefore;
    total.seconds = std::chrono::duration<double>(end - start).count();
    return total;
}

}  // namespace kovahost
