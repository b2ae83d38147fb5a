// A test that uses the built module as a host does: loaded with dlopen, the calling thread's
// error functions reached once (which installs the fault translator on it), and its classes
// created through the exported PLCreateInstance.
#ifndef KDTRACE_TESTS_SUPPORT_HOST_MODULE_H
#define KDTRACE_TESTS_SUPPORT_HOST_MODULE_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "HostObjects.h"
#include "support/HResult.h"

namespace kdtest {

class HostModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(api.Load(KDTRACE_MODULE_PATH, error)) << error;
        ASSERT_HR(api.PLClearThreadErrors(), S_OK);
    }
    // A new object of `clsid` asked for as `iid`; null (and a failed expectation) when refused.
    template <class T>
    T* Create(const GUID& clsid, const GUID& iid) {
        T* object = nullptr;
        EXPECT_HR(api.PLCreateInstance(clsid, iid, reinterpret_cast<void**>(&object)), S_OK);
        return object;
    }
    // The module's exported function `name`.
    template <class Function>
    Function Export(const char* name) {
        return reinterpret_cast<Function>(::dlsym(api.handle, name));
    }
    kdhost::ModuleApi api;
};

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_HOST_MODULE_H
