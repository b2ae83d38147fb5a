#include "platform/Thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace kd::platform {
namespace {

// 0 until read: the kernel gives no thread the identifier 0.
thread_local std::uint32_t t_threadId = 0;

// fork copies the calling thread's thread-local values into the child, whose one thread has a
// new identifier.
void ForgetThreadIdInChild() noexcept {
    t_threadId = 0;
}

// Registered once per loaded copy of the library; the system drops the registration when the
// library is unloaded.
const int g_forkHandler = ::pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild);

}  // namespace

std::uint32_t CurrentThreadId() noexcept {
    std::uint32_t id = t_threadId;
    if (id == 0) {
        id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
        t_threadId = id;
    }
    return id;
}

ThreadExitWatch::ThreadExitWatch(Callback onExit) noexcept : m_onExit(onExit) {
    static_cast<void>(g_forkHandler);
    m_valid = ::pthread_key_create(&m_key, &ThreadExitWatch::OnKeyDestroyed) == 0;
}

ThreadExitWatch::~ThreadExitWatch() {
    if (m_valid) ::pthread_key_delete(m_key);
    m_valid = false;
}

void ThreadExitWatch::Watch() noexcept {
    if (!m_valid) return;
    if (::pthread_getspecific(m_key) == nullptr) ::pthread_setspecific(m_key, this);
}

void ThreadExitWatch::OnKeyDestroyed(void* watch) noexcept {
    // The system has cleared the thread's value before this call: a Watch() made by onExit's
    // work arms the next pass.
    auto* self = static_cast<ThreadExitWatch*>(watch);
    self->m_onExit(CurrentThreadId());
}

}  // namespace kd::platform
