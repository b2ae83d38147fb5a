#include "platform/Library.h"
#include "platform/Mutex.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>

namespace kd::platform {
namespace {

// Serialises our own loads with our reads of the loader's records. The loader has its own
// lock, but it is invisible to thread checkers, and a handle that a second thread's dlopen of
// the same file returns would otherwise be read without a visible order. Recursive, because a
// library's start-up code may load another library through us.
kd::platform::RecursiveMutex& LoaderLock() {
    static kd::platform::RecursiveMutex lock;
    return lock;
}

}  // namespace

std::string LibraryFileName(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    const std::string_view dir = slash == std::string_view::npos ? std::string_view() : name.substr(0, slash + 1);
    std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (base.ends_with(".so") || base.find(".so.") != std::string_view::npos) return std::string(name);
    if (base.size() > 4) {
        const std::string_view ext = base.substr(base.size() - 4);
        if (ext == ".dll" || ext == ".DLL") base.remove_suffix(4);
    }
    std::string file(dir);
    if (!base.starts_with("lib")) file += "lib";
    file += base;
    file += ".so";
    return file;
}

LibraryHandle OpenLibraryFile(const std::string& file, std::string* error, int* systemError) {
    kd::platform::LockGuard guard(LoaderLock());
    errno = 0;
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const int code = errno != 0 ? errno : ENOENT;
        const char* message = ::dlerror();
        if (error != nullptr) *error = message != nullptr ? message : "cannot load " + file;
        if (systemError != nullptr) *systemError = code;
    }
    return handle;
}

LibraryHandle OpenLibrary(std::string_view name, std::string* error, int* systemError) {
    if (name.empty()) {
        if (error != nullptr) *error = "empty library name";
        if (systemError != nullptr) *systemError = EINVAL;
        return nullptr;
    }
    const std::string file = LibraryFileName(name);
    if (file.find('/') == std::string::npos) {
        const std::string beside = OwnModuleDirectory() + "/" + file;
        if (::access(beside.c_str(), F_OK) == 0) {
            if (void* handle = OpenLibraryFile(beside, error, systemError)) return handle;
        }
    }
    return OpenLibraryFile(file, error, systemError);
}

void* FindExport(LibraryHandle library, const char* symbol) noexcept {
    if (library == nullptr || symbol == nullptr) return nullptr;
    return ::dlsym(library, symbol);
}

void CloseLibrary(LibraryHandle library) noexcept {
    if (library != nullptr) ::dlclose(library);
}

std::string ModulePathOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    if (!path.empty() && path[0] != '/') {
        // The main program is reported by the name it was started with.
        char buf[4096];
        const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0) path.assign(buf, static_cast<std::size_t>(n));
    }
    return path;
}

std::string LibraryPath(LibraryHandle library) {
    if (library == nullptr) return {};
    kd::platform::LockGuard guard(LoaderLock());
    struct link_map* map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) return {};
    if (map->l_name[0] == 0) return ModulePathOf(reinterpret_cast<const void*>(map->l_addr));
    return map->l_name;
}

std::string OwnModuleDirectory() {
    static const std::string dir = [] {
        std::string path = ModulePathOf(reinterpret_cast<const void*>(&OwnModuleDirectory));
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    }();
    return dir;
}

}  // namespace kd::platform
