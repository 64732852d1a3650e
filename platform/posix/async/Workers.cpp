#include "posix/async/Workers.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace Corvane::Backend::Workers {

namespace {

struct Pool {
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable exited;
    std::deque<std::function<void()>> queue;
    // Threads of the current generation, and how many of them wait for work.
    int threads = 0;
    int idle = 0;
    // Threads of earlier generations that have not ended yet.
    int retiring = 0;
    // Raised by each stop: a thread of an earlier generation ends once the
    // queue is empty.
    unsigned generation = 0;
    int users = 0;
};

// Never destroyed: a worker may still be ending while statics are.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

thread_local bool tWorker = false;
thread_local unsigned tGeneration = 0;

void Run(Pool& pool, unsigned generation) {
    tWorker = true;
    tGeneration = generation;
    std::unique_lock<std::mutex> lock(pool.mutex);
    for (;;) {
        const bool current = generation == pool.generation;
        if (pool.queue.empty()) {
            if (!current) break;
            ++pool.idle;
            pool.work.wait(lock);
            if (generation == pool.generation) --pool.idle;
            continue;
        }
        std::function<void()> work = std::move(pool.queue.front());
        pool.queue.pop_front();
        lock.unlock();
        work();  // never throws: the work is wrapped by its poster
        work = nullptr;
        lock.lock();
    }
    --pool.retiring;
    pool.exited.notify_all();
}

}  // namespace

void Retain() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    ++pool.users;
}

void Release() {
    Pool& pool = ThePool();
    std::unique_lock<std::mutex> lock(pool.mutex);
    if (pool.users > 0 && --pool.users > 0) return;
    pool.retiring += pool.threads;
    pool.threads = 0;
    pool.idle = 0;
    ++pool.generation;
    pool.work.notify_all();
    // This thread, if it is a worker, ends after the work it is doing.
    const int own = tWorker && tGeneration != pool.generation ? 1 : 0;
    pool.exited.wait(lock, [&] { return pool.retiring <= own; });
}

bool Post(std::function<void()> work) {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.queue.push_back(std::move(work));
    if (pool.idle > 0) {
        pool.work.notify_one();
        return true;
    }
    if (pool.threads < kMaxThreads) {
        try {
            std::thread(Run, std::ref(pool), pool.generation).detach();
            ++pool.threads;
        } catch (const std::system_error&) {
            // A thread that cannot start is no error while another takes the work.
            if (pool.threads == 0 && pool.retiring == 0) {
                pool.queue.pop_back();
                return false;
            }
        }
    }
    return true;
}

std::size_t ThreadCount() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    return static_cast<std::size_t>(pool.threads + pool.retiring);
}

}  // namespace Corvane::Backend::Workers
