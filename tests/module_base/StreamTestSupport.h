// Shared by the stream, variant and collection tests: a creator, a query, a cloner, a date, readers of getters and
// streams, a sub-stream, a check of a result with its recorded message, the test bytes, a runner of steps on a stream
// and a watchdog for calls that may wait on a FIFO.
#ifndef KD_TESTS_STREAM_TEST_SUPPORT_H
#define KD_TESTS_STREAM_TEST_SUPPORT_H

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <kdtrace/kdtrace.h>
#include <kdtrace/stream.h>

#include "module_base/PLComObject.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace kdtest {

// A new object of class `clsid`, seen through I.
template <class I>
PLComPtr<I> New(REFCLSID clsid) {
    PLComPtr<I> object;
    EXPECT_HR(PLCreateInstance(clsid, object), S_OK);
    return object;
}

// `object` seen through U, checked to succeed.
template <class U, class T>
PLComPtr<U> As(const PLComPtr<T>& object) {
    PLComPtr<U> out;
    EXPECT_HR(object.As(out), S_OK);
    return out;
}

// A copy of `object` made through its IPLCloneable, seen through the same interface.
template <class T>
PLComPtr<T> Clone(const PLComPtr<T>& object) {
    PLComPtr<T> copy;
    EXPECT_HR(As<IPLCloneable>(object)->Clone(PLIidOf<T>, copy.PutVoid()), S_OK);
    return copy;
}

// A new date-time at the given fields.
inline PLComPtr<IPLDateTime> DateAt(LONG month, LONG day, LONG year, LONG hour, LONG minute, LONG second) {
    auto date = New<IPLDateTime>(CLSID_PLDateTime);
    EXPECT_HR(date->Initialize(month, day, year, hour, minute, second), S_OK);
    return date;
}

// What a getter of one integer answers (a size, a position, a type, a flag), checked to succeed.
template <class I, class T>
T LongOf(std::type_identity_t<I>* object, HRESULT (I::*get)(T*)) {
    T value = static_cast<T>(-1);
    EXPECT_HR((object->*get)(&value), S_OK);
    return value;
}

// `hr` is `expected` and the calling thread's error list, taken, holds `message` (or, for an empty
// `message`, is empty).
inline ::testing::AssertionResult Reports(HRESULT hr, HRESULT expected, const std::u16string& message) {
    const auto errors = TakeThreadErrors();
    bool found = message.empty() && errors.empty();
    for (const auto& e : errors) found |= !message.empty() && e.message == message;
    if (hr == expected && found) return ::testing::AssertionSuccess();
    auto text = [](const std::u16string& t) { return "\"" + std::string(t.begin(), t.end()) + "\""; };
    auto failure = ::testing::AssertionFailure()
                   << "returned " << HResultText(hr) << ", expected " << HResultText(expected) << "; wanted "
                   << text(message) << ", recorded:";
    for (const auto& e : errors) failure << " " << text(e.message);
    return failure;
}

// Whether a request for 1.5 GiB fails here, as the sanitizer build of the stream tests limits
// allocations to 1 GiB, so that a failed allocation can be seen.
inline bool LargeAllocationsFail() {
    void* volatile probe = std::malloc(std::size_t{1536} << 20);
    std::free(probe);
    return probe == nullptr;
}

// A sub-stream of `stream` (none, and a failure, for a stream that could not be made).
inline PLComPtr<IPLStream> Sub(IPLStream* stream, LONG offset, LONG length, HRESULT expected = S_OK) {
    PLComPtr<IPLStream> sub;
    EXPECT_HR(stream ? stream->GetSubstream(offset, length, sub.Put()) : E_POINTER, expected);
    return sub;
}

// The bytes one Read of `count` reports (none, and a failure, for a stream that could not be made).
inline std::vector<BYTE> ReadBytes(IPLStream* stream, LONG count) {
    std::vector<BYTE> out(static_cast<std::size_t>(count));
    LONG read = -1;
    EXPECT_HR(stream ? stream->Read(out.data(), count, &read) : E_POINTER, S_OK);
    out.resize(static_cast<std::size_t>(read < 0 ? 0 : read));
    return out;
}

// The byte at each offset of the test files and buffers: distinct over long spans, so that a read
// of the wrong place shows.
inline BYTE PatternAt(int64_t offset) {
    return static_cast<BYTE>((offset * 7 + offset / 251) & 0xFF);
}
inline std::vector<BYTE> Patterned(int64_t from, int64_t count) {
    std::vector<BYTE> bytes(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i) bytes[static_cast<std::size_t>(i)] = PatternAt(from + i);
    return bytes;
}

// One step on a stream: the operation, its result and the position afterwards. A Read of `a`
// bytes reports `b`, the first of them `byteAt` its offset.
struct Step {
    enum Op { Read, Skip, Seek, Open, Close } op;
    LONG a, b;
    HRESULT hr;
    LONG position;
};

inline void RunSteps(IPLStream* stream, const std::vector<Step>& steps, BYTE (*byteAt)(int64_t)) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        BYTE buffer[100];
        LONG read = -1;
        const HRESULT hr = s.op == Step::Read   ? stream->Read(buffer, s.a, &read)
                           : s.op == Step::Skip ? stream->Skip(s.a)
                           : s.op == Step::Seek ? stream->Seek(s.a, s.b)
                           : s.op == Step::Open ? stream->Open()
                                                : stream->Close();
        EXPECT_HR(hr, s.hr);
        const LONG position = LongOf(stream, &IPLStream::GetPosition);
        if (s.op == Step::Read) {
            EXPECT_EQ(read, s.b);
            EXPECT_EQ(read > 0 ? buffer[0] : 0, read > 0 ? byteAt(position - read) : 0);
        }
        EXPECT_EQ(position, s.position);
    }
}

// Whether `call` fails with E_FAIL at once, with a watchdog on the FIFO at `fifo`: a call still
// running after a second waits in opening the FIFO, and the watchdog then opens it at both ends
// so that the call goes on.
inline ::testing::AssertionResult FailsAtOnce(const std::string& fifo, const std::function<HRESULT()>& call) {
    std::atomic<bool> done{false}, waited{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done) return;
        waited = true;
        const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::close(fd);
    });
    const HRESULT hr = call();
    done = true;
    watchdog.join();
    if (hr == E_FAIL && !waited) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << HResultText(hr) << (waited ? ", after waiting on the FIFO" : "");
}

}  // namespace kdtest

#endif  // KD_TESTS_STREAM_TEST_SUPPORT_H
