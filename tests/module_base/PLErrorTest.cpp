#include <gtest/gtest.h>

#include <stdexcept>

#include "module_base/PLError.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/TraceFakes.h"

namespace {

class ErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        PLClearThreadErrors();
        SetThreadErrorSuspensionState(FALSE);
    }
    void TearDown() override { PLSetSuspensionOverride(0); }

    static std::vector<kdtest::RecordedError> Errors() { return kdtest::ReadThreadErrors(&GetThreadError); }
    static HRESULT Fail(const char* message, ULONG flag) {
        return PLGuardNamed("Core", "C", "M", [&](HRESULT& r) { PL_THROW_ERROR(r = E_FAIL, message, flag); });
    }
};

TEST_F(ErrorTest, ThrowFunctionsIgnoreSuccessAndBuildTheirRecords) {
    EXPECT_NO_THROW(PLThrowIfFailed(S_OK, 1, "f", "file"));
    EXPECT_NO_THROW(PLThrowError(S_FALSE, "m", 1, 1, "f", "file"));
    EXPECT_NO_THROW(PLThrowHResult(S_OK));
    EXPECT_NO_THROW(PLThrowRichError(E_FAIL, nullptr));
    // A rich-error object is thrown as itself while it answers, as its code when it does not.
    struct Rich : kdtest::Fake<IPLSupportRichErrorInfo> {
        Rich() : Fake(IID_IPLSupportRichErrorInfo) {}
        HRESULT GetErrorInfo(IPLErrorInfo**) override { return E_NOTIMPL; }
    } rich;
    EXPECT_THROW(PLThrowRichError(E_FAIL, &rich), IPLSupportRichErrorInfo*);
    rich.answers = false;
    EXPECT_THROW(PLThrowRichError(E_FAIL, &rich), HRESULT);
    try {
        PLThrowErrorFormat(E_INVALIDARG, 1, 77, "Cls::Fn", "/x.cpp", "name %s count %d narrow %hs", u"w\u00E9", 3, "n");
        ADD_FAILURE() << "no record thrown";
    } catch (const PL_ERROR& e) {
        EXPECT_HR(e.result, E_INVALIDARG);
        EXPECT_EQ(e.message.view(), u"name w\u00E9 count 3 narrow n");
    }
    // Formatted text takes the narrow round trip of all error text: an unpaired surrogate comes
    // out as "?", in the thrown record and so in the recorded item.
    const WCHAR lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_HR(PLGuardNamed("Core", "C", "M",
                           [&](HRESULT& r) { PL_THROW_ERROR_FORMAT(r = E_FAIL, 1, "[%s] \xF0\x9F\x98\x80", lone); }),
              E_FAIL);
    EXPECT_EQ(kdtest::LinesOf(Errors()), kdtest::ErrorLines{u"Core|C|M|[a?b?] \U0001F600"});
}

// What the guard records: a thrown record appended (flag 0) or as a new chain (flag 1); a bare
// failure code as "Error 0x%08x occurred." after what was there, returning the method's result
// variable, or the code when only the code failed (a non-negative one records nothing);
// exhausted memory as E_OUTOFMEMORY and anything else as E_UNEXPECTED, each a new chain.
TEST_F(ErrorTest, GuardRecordsWhatWasThrown) {
    for (int i = 0; i < 3; ++i) EXPECT_HR(Fail("step failed", 0), E_FAIL);
    EXPECT_EQ(kdtest::LinesOf(Errors()), kdtest::ErrorLines(3, u"Core|C|M|step failed"));
    Fail("before", 1);
    EXPECT_HR(PLGuardNamed("Core", "C", "M", [](HRESULT& r) { PLThrowHResult(r = E_INVALIDARG); }), E_INVALIDARG);
    EXPECT_HR(PLGuardNamed("Core", "C", "M", [](HRESULT& r) { throw r = S_FALSE; }), S_FALSE);
    EXPECT_HR(PLGuardNamed("Core", "C", "M", [](HRESULT&) { throw E_POINTER; }), E_POINTER);
    EXPECT_HR(PLGuardNamed("Core", "C", "M", [](HRESULT& r) { r = E_FAIL, throw E_POINTER; }), E_FAIL);
    EXPECT_EQ(kdtest::LinesOf(Errors()),
              (kdtest::ErrorLines{u"Core|C|M|before", u"Core|C|M|Error 0x80070057 occurred.",
                                  u"Core|C|M|Error 0x80004003 occurred.", u"Core|C|M|Error 0x80004003 occurred."}));
    EXPECT_HR(PLGuardNamed("Core", "C", "M", [](HRESULT&) { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(kdtest::LinesOf(Errors()), kdtest::ErrorLines{u"Core|C|M|Out of memory."});
    EXPECT_HR(PLGuardNamed("Core", "C", "M", [](HRESULT&) { throw std::runtime_error("boom"); }), E_UNEXPECTED);
    EXPECT_EQ(Errors().size(), 1u);
}

TEST_F(ErrorTest, SuspendedThreadsRecordNothingUnlessOverridden) {
    BOOL state = FALSE;
    {
        CPLThreadErrorSuspender suspend;
        { CPLThreadErrorSuspender nested; }  // restores the outer suspension
        EXPECT_HR(Fail("hidden", 0), E_FAIL);
        EXPECT_TRUE(Errors().empty());
        EXPECT_HR(GetThreadErrorSuspensionState(&state), S_OK);
        EXPECT_TRUE(state);
        PLSetSuspensionOverride(1);
        Fail("seen", 0);
        EXPECT_EQ(Errors().size(), 1u);
    }
    GetThreadErrorSuspensionState(&state);
    EXPECT_FALSE(state);
}

}  // namespace
