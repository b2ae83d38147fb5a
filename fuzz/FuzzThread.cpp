#include "fuzz/FuzzThread.h"

#include <pthread.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kd::fuzz {
namespace {

// A thread that runs one job at a time for the thread that hands it over.
class Worker {
public:
    explicit Worker(std::size_t stackBytes) : m_stackBytes(stackBytes) {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        const auto minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
        const std::size_t bytes = stackBytes < minimum ? minimum : stackBytes;
        if (pthread_attr_setstacksize(&attributes, bytes) != 0 ||
            pthread_create(&m_thread, &attributes, &Worker::Main, this) != 0) {
            std::fprintf(stderr, "cannot start a fuzz thread with a %zu-byte stack\n", bytes);
            std::abort();
        }
        pthread_attr_destroy(&attributes);
    }

    std::size_t StackBytes() const noexcept { return m_stackBytes; }

    // One job at a time: a second caller waits for the first job to end.
    void Run(void (*body)(void*), void* context) {
        std::lock_guard caller(m_callers);
        std::unique_lock lock(m_lock);
        m_body = body;
        m_context = context;
        m_wake.notify_one();
        m_wake.wait(lock, [this] { return m_body == nullptr; });
    }

private:
    static void* Main(void* self) {
        static_cast<Worker*>(self)->Loop();
        return nullptr;
    }

    [[noreturn]] void Loop() {
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_body != nullptr; });
            // The caller waits, so the job runs without the lock: it may take as long as it takes.
            lock.unlock();
            m_body(m_context);
            lock.lock();
            m_body = nullptr;
            m_wake.notify_one();
        }
    }

    const std::size_t m_stackBytes;
    pthread_t m_thread{};
    std::mutex m_callers;
    std::mutex m_lock;
    std::condition_variable m_wake;
    void (*m_body)(void*) = nullptr;
    void* m_context = nullptr;
};

}  // namespace

void RunOnStack(std::size_t stackBytes, void (*body)(void*), void* context) {
    // Workers are never destroyed: one may still wait for work while the process exits.
    static Worker* workers[4] = {};
    static std::mutex lock;
    Worker* worker = nullptr;
    {
        std::lock_guard guard(lock);
        for (Worker*& slot : workers) {
            if (slot == nullptr) slot = new Worker(stackBytes);
            if (slot->StackBytes() == stackBytes) {
                worker = slot;
                break;
            }
        }
    }
    if (worker == nullptr) {
        std::fprintf(stderr, "too many fuzz thread stack sizes\n");
        std::abort();
    }
    worker->Run(body, context);
}

}  // namespace kd::fuzz
