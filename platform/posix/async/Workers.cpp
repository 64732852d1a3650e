#include "posix/async/Workers.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace Corvane::Backend::Workers {

namespace {

struct Pool {
    std::mutex mutex;
    std::condition_variable work;
    std::deque<std::function<void()>> queue;
    // Threads of the current generation, and how many of them wait for work.
    std::vector<std::thread> threads;
    int idle = 0;
    // Threads running an application's callback (InCallback): counted
    // without the lock, as every completion enters and leaves one.
    std::atomic<int> inCallback{0};
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

void Run(Pool& pool, unsigned generation) {
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
}

}  // namespace

void Retain() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    ++pool.users;
}

void Release() {
    Pool& pool = ThePool();
    std::vector<std::thread> ending;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        if (pool.users > 0 && --pool.users > 0) return;
        ending.swap(pool.threads);
        pool.idle = 0;
        ++pool.generation;
        pool.work.notify_all();
    }
    // Joined, not just told to end: a thread's own clean-up (its
    // thread-local state) is over when this returns. A worker that closed
    // the last session ends after the work it is doing.
    for (std::thread& thread : ending) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
}

bool Post(std::function<void()> work) {
    Pool& pool = ThePool();
    std::unique_lock<std::mutex> lock(pool.mutex);
    // No asynchronous session is open: the pool is stopped.
    if (pool.users == 0) return false;
    // Room first, so that once the work is queued nothing can fail.
    pool.threads.reserve(pool.threads.size() + 1);
    pool.queue.push_back(std::move(work));
    // Idle threads that were woken but have not taken their work yet still
    // count as idle: a thread is started unless one is free for each piece
    // of work waiting.
    const long working = static_cast<long>(pool.threads.size()) - pool.inCallback.load();
    if (pool.queue.size() > static_cast<std::size_t>(pool.idle) && working < kMaxThreads) {
        try {
            pool.threads.emplace_back(Run, std::ref(pool), pool.generation);
        } catch (...) {
            // A thread that cannot start is no error while another takes the work.
            if (pool.threads.empty()) {
                pool.queue.pop_back();
                return false;
            }
        }
    }
    // Woken after the lock is let go, so that the thread does not wake only
    // to wait for it.
    lock.unlock();
    pool.work.notify_one();
    return true;
}

InCallback::InCallback() {
    ++ThePool().inCallback;
}

InCallback::~InCallback() {
    --ThePool().inCallback;
}

std::size_t ThreadCount() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    return pool.threads.size();
}

}  // namespace Corvane::Backend::Workers
