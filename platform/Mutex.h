// Mutexes whose locking rules the compiler checks.
//
// Clang's thread-safety analysis (-Wthread-safety) reads these annotations: a member declared
// GUARDED_BY(m_lock) may be touched only while m_lock is held, a function declared
// REQUIRES(m_lock) only be called with it held, and so on. Other compilers see plain mutexes.
// The wrappers add nothing at run time to the standard mutexes they hold.
#ifndef KD_PLATFORM_MUTEX_H
#define KD_PLATFORM_MUTEX_H

#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define KD_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KD_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KD_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY KD_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KD_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) KD_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) KD_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) KD_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) KD_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KD_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) KD_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KD_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) KD_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KD_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) KD_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KD_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) KD_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) KD_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KD_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace kd::platform {

class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

private:
    std::mutex m_mutex;
};

// A mutex the owning thread may take again.
class CAPABILITY("mutex") RecursiveMutex {
public:
    RecursiveMutex() = default;
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Many readers or one writer.
class CAPABILITY("mutex") SharedMutex {
public:
    SharedMutex() = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock() ACQUIRE() { m_mutex.lock(); }
    void unlock() RELEASE() { m_mutex.unlock(); }
    void lock_shared() ACQUIRE_SHARED() { m_mutex.lock_shared(); }
    void unlock_shared() RELEASE_SHARED() { m_mutex.unlock_shared(); }

private:
    std::shared_mutex m_mutex;
};

// Holds a mutex exclusively for its scope.
template <class M>
class SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(M& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~LockGuard() RELEASE() { m_mutex.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    M& m_mutex;
};

// Holds a shared mutex for reading for its scope.
class SCOPED_CAPABILITY SharedLockGuard {
public:
    explicit SharedLockGuard(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : m_mutex(mutex) { m_mutex.lock_shared(); }
    ~SharedLockGuard() RELEASE() { m_mutex.unlock_shared(); }
    SharedLockGuard(const SharedLockGuard&) = delete;
    SharedLockGuard& operator=(const SharedLockGuard&) = delete;

private:
    SharedMutex& m_mutex;
};

}  // namespace kd::platform

#endif  // KD_PLATFORM_MUTEX_H
