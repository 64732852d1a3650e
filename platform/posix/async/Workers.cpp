#include "posix/async/Workers.h"

#include <atomic>
#include <chrono>
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
    // Threads that just ran out of work and look for more for a moment
    // before they sleep (kSpin): work posted meanwhile needs no wake-up.
    int spinning = 0;
    // Threads running an application's callback (InCallback): counted
    // without the lock, as every completion enters and leaves one.
    std::atomic<int> inCallback{0};
    // Whether the queue holds work, for the spinning threads to watch
    // without the lock.
    std::atomic<bool> hasWork{false};
    // Raised by each stop: a thread of an earlier generation ends once the
    // queue is empty.
    unsigned generation = 0;
    int users = 0;
};

// How long a thread that ran out of work keeps looking for more: a
// completion handed on by a transfer group often comes a few tens of
// microseconds after the last, and a thread put to sleep and woken again
// for it costs more than the look (docs/BENCHMARKS.md). One thread at a
// time looks, yielding the processor meanwhile.
constexpr std::chrono::microseconds kSpin(60);

// Never destroyed: a worker may still be ending while statics are.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

void Run(Pool& pool, unsigned generation) {
    std::unique_lock<std::mutex> lock(pool.mutex);
    bool spun = false;
    for (;;) {
        const bool current = generation == pool.generation;
        if (pool.queue.empty()) {
            if (!current) break;
            // Once after each piece of work; the state is looked at afresh
            // afterwards (a stop may have come meanwhile).
            if (pool.spinning == 0 && !spun) {
                spun = true;
                ++pool.spinning;
                lock.unlock();
                const auto until = std::chrono::steady_clock::now() + kSpin;
                do {
                    std::this_thread::yield();
                } while (std::chrono::steady_clock::now() < until &&
                         !pool.hasWork.load(std::memory_order_relaxed));
                lock.lock();
                // A stop meanwhile counted this thread out already.
                if (generation == pool.generation) --pool.spinning;
                continue;
            }
            ++pool.idle;
            pool.work.wait(lock);
            if (generation == pool.generation) --pool.idle;
            continue;
        }
        std::function<void()> work = std::move(pool.queue.front());
        pool.queue.pop_front();
        pool.hasWork.store(!pool.queue.empty(), std::memory_order_relaxed);
        spun = false;
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
        // A thread of this generation still spinning counts for nothing:
        // work posted for a new session starts threads of its own.
        pool.spinning = 0;
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
    pool.hasWork.store(true, std::memory_order_relaxed);
    // A spinning thread takes it (it takes the lock before it stops
    // spinning, and looks at the queue then).
    if (static_cast<std::size_t>(pool.spinning) >= pool.queue.size()) return true;
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
