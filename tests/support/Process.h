// Test helpers for process and thread life: running code in a forked child, in a child that
// can choose the identifier of its next thread, or a test in a process of its own; the heap in
// use.
#ifndef KDTRACE_TESTS_SUPPORT_PROCESS_H
#define KDTRACE_TESTS_SUPPORT_PROCESS_H

#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define KDTEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KDTEST_ASAN 1
#endif
#endif
#if defined(KDTEST_ASAN) || defined(__SANITIZE_THREAD__)
#define KDTEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KDTEST_SANITIZED 1
#endif
#endif
#ifdef KDTEST_ASAN
// The sanitizer's count of the bytes in use (its header is not installed with every compiler).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
extern "C" int __lsan_do_recoverable_leak_check();
#endif

namespace kdtest {

constexpr int kUnsupported = 77;

// Whether AddressSanitizer or ThreadSanitizer watches the program.
#ifdef KDTEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

inline std::uint32_t Gettid() {
    return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

// Bytes the program has allocated and not yet freed.
inline std::size_t HeapInUse() {
#ifdef KDTEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Whether the leak checker finds heap blocks nothing points at any more (false without it).
inline bool LeakCheckerFindsLeaks() {
#ifdef KDTEST_ASAN
    return __lsan_do_recoverable_leak_check() != 0;
#else
    return false;
#endif
}

// An instrumented build's counts stay in memory until exit; a child that ends with _exit writes
// them first (a weak reference: null in other builds).
extern "C" int __llvm_profile_write_file() __attribute__((weak));

// Runs `body` in a forked child and returns its result (the child's exit status), -1 when the
// child did not exit normally.
inline int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int status = body();
        if (__llvm_profile_write_file != nullptr) __llvm_profile_write_file();
        ::_exit(status);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs `body` as the first process of a new process-identifier namespace, where OnThreadWithId
// works; kUnsupported when the system does not let this user make one.
inline int InOwnPidNamespace(const std::function<int()>& body) {
    return InChild([&] {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0) return kUnsupported;
        return InChild(body);
    });
}

// Runs `body` on a new thread given the identifier `tid` of a thread that has ended (inside
// InOwnPidNamespace) and returns its result; kUnsupported when the thread got another one.
inline int OnThreadWithId(std::uint32_t tid, const std::function<int()>& body) {
    // The namespace's last identifier handed out is set to the one before `tid`.
    const int fd = ::open("/proc/sys/kernel/ns_last_pid", O_WRONLY);
    const std::string text = std::to_string(tid - 1);
    int result = kUnsupported;
    if (fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()))
        std::thread([&] {
            if (Gettid() == tid) result = body();
        }).join();
    if (fd >= 0) ::close(fd);
    return result;
}

// Whether this process is one that RunTestInFreshProcess started.
inline bool InFreshProcess() {
    return std::getenv("KDTEST_FRESH_PROCESS") != nullptr;
}

// Runs the test `name` ("Suite.Test") of this program again in a process of its own, where no
// other test has run, and returns its exit status (-1 when it did not exit normally).
inline int RunTestInFreshProcess(const std::string& name) {
    const std::string filter = "--gtest_filter=" + name;
    return InChild([&] {
        ::setenv("KDTEST_FRESH_PROCESS", "1", 1);
        ::execl("/proc/self/exe", "test", filter.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
}

// What a shell command writes to its standard output.
inline std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[1024];
        for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_PROCESS_H
