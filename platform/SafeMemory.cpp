#include "platform/SafeMemory.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kd::platform {
namespace {

// process_vm_readv on the own process is the cheapest way; where a sandbox refuses it, a pipe
// does the same job: write() reports EFAULT for an unreadable source.
std::atomic<int> g_useVmRead{1};

}  // namespace

bool SafeReadThroughPipe(std::uintptr_t address, void* out, std::size_t size) noexcept {
    if (size == 0) return true;
    if (out == nullptr || address == 0 || address + size < address) return false;
    const int savedErrno = errno;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        errno = savedErrno;
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    auto* dest = static_cast<unsigned char*>(out);
    // A pipe holds at least 4 KiB: move the bytes through it in chunks that always fit.
    while (ok && done < size) {
        const std::size_t chunk = size - done < 4096 ? size - done : 4096;
        const ssize_t written = ::write(fds[1], reinterpret_cast<const void*>(address + done), chunk);
        if (written != static_cast<ssize_t>(chunk)) {
            ok = false;
            break;
        }
        std::size_t got = 0;
        while (got < chunk) {
            const ssize_t n = ::read(fds[0], dest + done + got, chunk - got);
            if (n <= 0) {
                ok = false;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        done += got;
    }
    ::close(fds[0]);
    ::close(fds[1]);
    errno = savedErrno;
    return ok;
}

bool SafeRead(std::uintptr_t address, void* out, std::size_t size) noexcept {
    if (size == 0) return true;
    if (out == nullptr || address == 0 || address + size < address) return false;
    const int savedErrno = errno;
    bool ok;
    if (g_useVmRead.load(std::memory_order_relaxed) != 0) {
        iovec local{out, size};
        iovec remote{reinterpret_cast<void*>(address), size};
        const ssize_t n = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
        if (n == static_cast<ssize_t>(size)) {
            errno = savedErrno;
            return true;
        }
        if (n < 0 && (errno == ENOSYS || errno == EPERM)) {
            g_useVmRead.store(0, std::memory_order_relaxed);
            ok = SafeReadThroughPipe(address, out, size);
        } else {
            ok = false;
        }
    } else {
        ok = SafeReadThroughPipe(address, out, size);
    }
    errno = savedErrno;
    return ok;
}

}  // namespace kd::platform
