// The byte stream: reading, seeking and states over memory, owners, sub-streams, the creators.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "module_base/PLByteStream.h"
#include "module_base/PLComObject.h"
#include "support/Process.h"
#include "support/TraceFakes.h"
#include "tests/module_base/StreamTestSupport.h"

#ifdef KDTEST_ASAN
// Requests above 1 GiB fail instead of ending the program, so a failed allocation can be seen.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
#endif

namespace {

const BYTE kTen[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

// An owner of bytes that says when it is gone.
struct Owner final : kdtest::HeapObject<IUnknown, IID_IUnknown> {
    explicit Owner(bool* gone) : m_gone(gone) {}
    ~Owner() override { *m_gone = true; }
    bool* m_gone;
};

PLComPtr<IPLStream> MakeStream(const BYTE* bytes, LONG size) {
    PLComPtr<IPLStream> stream;
    EXPECT_HR(PLCreateStreamOnBytes(bytes, size, stream.Put()), S_OK);
    return stream;
}

TEST(PLByteStreamTest, ReadSeekSkipAndStates) {
    auto stream = MakeStream(kTen, 10);
    // Missing arguments and places for results are refused.
    BYTE byte = 0;
    LONG read = 0;
    for (const HRESULT hr :
         {stream->Read(nullptr, 1, &read), stream->Read(&byte, 1, nullptr), stream->GetSubstream(0, 1, nullptr),
          kdtest::New<IPLByteStream>(CLSID_PLByteStream)->Initialize(nullptr, 1),
          PLCreateStreamOnBytes(kTen, 10, nullptr), PLCreateStreamOnOwnedBytes(kTen, 10, nullptr, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    using Step = kdtest::Step;
    kdtest::RunSteps(stream.Get(),
                     {
                         {Step::Read, 4, 4, S_OK, 4},
                         {Step::Read, 100, 6, S_OK, 10},
                         {Step::Read, 5, 0, S_OK, 10},
                         {Step::Read, -1, -1, E_INVALIDARG, 10},
                         {Step::Seek, 10, 0, S_OK, 10},
                         {Step::Seek, 11, 0, E_FAIL, 10},
                         {Step::Seek, -1, 0, E_FAIL, 10},
                         {Step::Seek, -3, 1, S_OK, 7},
                         {Step::Seek, 3, 7, E_FAIL, 7},
                         {Step::Seek, -7, 2, S_OK, 0},
                         {Step::Seek, -1, 2, E_FAIL, 0},
                         {Step::Skip, -1, 0, E_FAIL, 0},
                         {Step::Skip, 10, 0, S_OK, 10},
                         // Extremes must not wrap in the position arithmetic.
                         {Step::Skip, INT32_MAX, 0, E_FAIL, 10},
                         {Step::Seek, INT32_MIN, 1, E_FAIL, 10},
                         {Step::Open, 0, 0, E_FAIL, 10},
                         {Step::Close, 0, 0, S_OK, 0},
                         {Step::Close, 0, 0, E_FAIL, 0},
                         {Step::Seek, 1, 0, E_FAIL, 0},
                         // A closed stream still reads, from the start.
                         {Step::Read, 3, 3, S_OK, 3},
                         {Step::Open, 0, 0, S_OK, 0},
                     },
                     [](int64_t offset) { return static_cast<BYTE>(offset); });  // kTen holds its offsets
}

TEST(PLByteStreamTest, InitializeCopiesOwnerSharesAndHoldsTheOwner) {
    BYTE bytes[4] = {1, 2, 3, 4};
    auto copy = MakeStream(bytes, 4);
    bool ownerGone = false;
    auto* owner = new Owner(&ownerGone);
    PLComPtr<IPLStream> shared;
    ASSERT_HR(PLCreateStreamOnOwnedBytes(bytes, 4, owner, shared.Put()), S_OK);
    owner->Release();
    EXPECT_FALSE(ownerGone) << "the stream holds its owner";
    bytes[0] = 9;
    EXPECT_EQ(kdtest::ReadBytes(copy.Get(), 64), (std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(kdtest::ReadBytes(shared.Get(), 64), (std::vector<BYTE>{9, 2, 3, 4}));

    // Re-initializing with a copy drops the owner, once no sub-stream holds it.
    auto sub = kdtest::Sub(shared.Get(), 3, 1);
    auto byteStream = kdtest::As<IPLByteStream>(shared);
    ASSERT_HR(byteStream->Initialize(kTen, 3), S_OK);
    EXPECT_FALSE(ownerGone);
    EXPECT_EQ(kdtest::ReadBytes(sub.Get(), 64), (std::vector<BYTE>{4}));
    sub = nullptr;
    EXPECT_TRUE(ownerGone);
    EXPECT_EQ(kdtest::ReadBytes(shared.Get(), 64), (std::vector<BYTE>{0, 1, 2}));

    // Size 0: open and empty.
    ASSERT_HR(byteStream->Initialize(kTen, 0), S_OK);
    EXPECT_EQ(kdtest::LongOf(shared.Get(), &IPLStream::GetSize), 0);
    EXPECT_HR(shared->Seek(0, 0), S_OK) << "open after Initialize";

    // Without an owner the stream takes over malloc'd bytes (AddressSanitizer checks the free).
    auto* heap = static_cast<BYTE*>(std::malloc(3));
    std::memcpy(heap, kTen, 3);
    PLComPtr<IPLStream> taken;
    ASSERT_HR(PLCreateStreamOnOwnedBytes(heap, 3, nullptr, taken.Put()), S_OK);
    EXPECT_EQ(kdtest::ReadBytes(taken.Get(), 64), (std::vector<BYTE>{0, 1, 2}));
}

TEST(PLByteStreamTest, SubstreamsShareTheBytesAndOutliveTheirParent) {
    // Offset, length, result, the bytes read.
    const std::tuple<LONG, LONG, HRESULT, std::vector<BYTE>> cases[] = {
        {2, 3, S_OK, {2, 3, 4}},   {8, 50, S_OK, {8, 9}},     {10, 5, S_OK, {}},
        {11, 1, E_INVALIDARG, {}}, {-1, 2, E_INVALIDARG, {}}, {0, -1, E_INVALIDARG, {}},
    };
    auto parent = MakeStream(kTen, 10);
    for (const auto& [offset, length, hr, bytes] : cases) {
        SCOPED_TRACE(offset);
        auto sub = kdtest::Sub(parent.Get(), offset, length, hr);
        EXPECT_EQ(static_cast<bool>(sub), hr >= 0) << "a stream exactly when one is made";
        if (hr < 0) continue;
        EXPECT_EQ(kdtest::ReadBytes(sub.Get(), 64), bytes);
        EXPECT_HR(sub->Seek(0, 1), S_OK) << "sub-streams are open";
    }

    // A sub-stream keeps reading its bytes after the parent is re-initialized and released.
    auto sub = kdtest::Sub(parent.Get(), 4, 4);
    ASSERT_HR(kdtest::As<IPLByteStream>(parent)->Initialize(kTen, 2), S_OK);
    parent = nullptr;
    auto subSub = kdtest::Sub(sub.Get(), 1, 2);
    sub = nullptr;
    EXPECT_EQ(kdtest::ReadBytes(subSub.Get(), 64), (std::vector<BYTE>{5, 6}));
}

// A stream is not synchronised, yet Reads racing on one (with rewinds among them) stay inside its
// bytes: the worst is the same bytes read twice.
TEST(PLByteStreamTest, RacingReadsStayInsideTheBytes) {
    std::vector<BYTE> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i % 250);
    auto stream = MakeStream(bytes.data(), 1000);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100000; ++i) {
                if (t == 0 && i % 50 == 0) stream->Seek(0, 0);
                BYTE got[3];
                LONG read = -1;
                bool right = stream->Read(got, 3, &read) == S_OK && read >= 0 && read <= 3;
                for (LONG k = 1; right && k < read; ++k) right = got[k] == (got[k - 1] + 1) % 250;
                if (!right) ++wrong;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(PLByteStreamTest, FailedAllocationLeavesTheStreamEmpty) {
    if (!kdtest::LargeAllocationsFail()) GTEST_SKIP() << "needs the allocator limit of the sanitizer build";
    // A readable source larger than the allocator allows: never touched, as the copy is refused.
    constexpr LONG kSize = 1536 << 20;
    void* source = ::mmap(nullptr, kSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(source, MAP_FAILED);
    auto stream = MakeStream(kTen, 10);
    EXPECT_HR(kdtest::As<IPLByteStream>(stream)->Initialize(static_cast<const BYTE*>(source), kSize), E_FAIL);
    EXPECT_EQ(kdtest::LongOf(stream.Get(), &IPLStream::GetSize), 0);
    ::munmap(source, kSize);
}

}  // namespace
