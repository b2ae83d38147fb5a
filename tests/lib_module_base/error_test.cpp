#include <gtest/gtest.h>

#include <stdexcept>

#include "inc_module_base/PLError.h"
#include "inc_module_base/PLSEHException.h"
#include "support/error_list.h"

namespace {

using kdtest::ReadList;

class ErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        PLClearThreadErrors();
        SetThreadErrorSuspensionState(FALSE);
    }
    void TearDown() override { PLSetSuspensionOverride(0); }

    static std::vector<kdtest::RecordedError> Errors() {
        IPLErrorInfo* list = nullptr;
        EXPECT_EQ(GetThreadError(&list), S_OK);
        auto errors = ReadList(list);
        list->Release();
        return errors;
    }
};

TEST_F(ErrorTest, RecordsCarryEveryField) {
    const PL_ERROR shortForm(E_FAIL, 12, PLString(u"A::B"), PLString(u"/src/a.cpp"));
    EXPECT_EQ(shortForm.message, PLString(u"A general error occurred."));
    EXPECT_EQ(shortForm.errorFlag, 0u);
    const PL_ERROR copy(shortForm);
    EXPECT_EQ(copy.function, PLString(u"A::B"));
    EXPECT_EQ(copy.sourceFile, PLString(u"/src/a.cpp"));
    EXPECT_EQ(copy.sourceLine, 12u);
}

TEST_F(ErrorTest, ThrowFunctionsDoNothingForSuccess) {
    EXPECT_NO_THROW(PLThrowIfFailed(S_OK, 1, "f", "file"));
    EXPECT_NO_THROW(PLThrowError(S_FALSE, "m", 1, 1, "f", "file"));
    EXPECT_NO_THROW(PLThrowErrorW(S_OK, u"m", 1, 1, "f", "file"));
    EXPECT_NO_THROW(PLThrowErrorFormat(S_OK, 1, 1, "f", "file", "%d", 1));
    EXPECT_NO_THROW(PLThrowHResult(S_OK));
    EXPECT_NO_THROW(PLThrowRichError(E_FAIL, nullptr));
    EXPECT_NO_THROW(PLVerify(true));
}

TEST_F(ErrorTest, ThrowFunctionsBuildTheirRecords) {
    try {
        PLThrowErrorFormat(E_INVALIDARG, 1, 77, "Cls::Fn", "/x.cpp", "name %s count %d narrow %hs", u"w\u00E9", 3, "n");
        FAIL();
    } catch (const PL_ERROR& e) {
        EXPECT_EQ(e.result, E_INVALIDARG);
        EXPECT_EQ(e.message, PLString(u"name w\u00E9 count 3 narrow n"));
        EXPECT_EQ(e.errorFlag, 1u);
        EXPECT_EQ(e.sourceLine, 77u);
        EXPECT_EQ(e.function, PLString(u"Cls::Fn"));
    }
    try {
        PLVerify(false);
        FAIL();
    } catch (const PL_ERROR& e) {
        EXPECT_EQ(e.result, PL_E_VERIFY);
        EXPECT_EQ(e.function, PLString(u"__verify"));
    }
    EXPECT_THROW(PLThrowHResult(E_FAIL), HRESULT);
    try {
        PL_THROW_ERROR(E_FAIL, "from the macro", 0);
    } catch (const PL_ERROR& e) {
        EXPECT_TRUE(e.function.view().ends_with(u"::ErrorTest_ThrowFunctionsBuildTheirRecords_Test::TestBody"))
            << e.function.ToUtf8();
        EXPECT_NE(e.sourceFile.Find(u"error_test.cpp"), -1);
        EXPECT_GT(e.sourceLine, 0u);
    }
}

TEST_F(ErrorTest, FunctionLabelsComeFromTheCompilersName) {
    EXPECT_STREQ(PLFunctionLabel("virtual HRESULT CPLThing::DoIt(int, char*)").c_str(), "CPLThing::DoIt");
    EXPECT_STREQ(PLFunctionLabel("CPLThing::DoIt(const WCHAR*)::<lambda(HRESULT&)>").c_str(), "CPLThing::DoIt");
    EXPECT_STREQ(PLFunctionLabel("auto CPLThing::DoIt(int)::(anonymous class)::operator()(HRESULT &) const").c_str(),
                 "CPLThing::DoIt");
    EXPECT_STREQ(PLFunctionLabel("HRESULT Coll<A, B>::Insert(A*) [with A = X]").c_str(), "Coll<A, B>::Insert");
    EXPECT_STREQ(PLFunctionLabel("PLString& PLString::operator+=(WCHAR)").c_str(), "PLString::operator+=");
    EXPECT_STREQ(PLFunctionLabel("void Free()").c_str(), "Free");
    EXPECT_STREQ(PLFunctionLabel("virtual void (anonymous namespace)::T::Body()").c_str(),
                 "(anonymous namespace)::T::Body");
}

TEST_F(ErrorTest, GuardTurnsEachKindOfThrowIntoItsResult) {
    // A record: its code, one item appended (flag 0).
    HRESULT hr = PLGuard("Trace Services", "CPLThing", "DoIt", [](HRESULT& r) {
        r = E_FAIL;
        PL_THROW_ERROR(r, "step failed", 0);
    });
    EXPECT_EQ(hr, E_FAIL);
    auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].module, u"Trace Services");
    EXPECT_EQ(errors[0].className, u"CPLThing");
    EXPECT_EQ(errors[0].method, u"DoIt");
    EXPECT_EQ(errors[0].message, u"step failed");
    EXPECT_EQ(errors[0].result, E_FAIL);
    EXPECT_NE(errors[0].sourceFile.find(u"error_test.cpp"), std::u16string::npos);

    // A bare code: recorded as "Error 0x%08x occurred."; the method returns its result variable.
    hr = PLGuard("Core", "C", "M", [](HRESULT& r) {
        r = E_INVALIDARG;
        PLThrowHResult(r);
    });
    EXPECT_EQ(hr, E_INVALIDARG);
    errors = Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].message, u"Error 0x80070057 occurred.");
    EXPECT_TRUE(errors[1].sourceFile.empty());

    // A non-negative bare code records nothing.
    hr = PLGuard("Core", "C", "M", [](HRESULT& r) {
        r = S_FALSE;
        throw r;
    });
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(Errors().size(), 2u);

    // Anything else: E_UNEXPECTED, a new chain.
    hr = PLGuard("Core", "C", "M", [](HRESULT&) { throw std::runtime_error("boom"); });
    EXPECT_EQ(hr, E_UNEXPECTED);
    errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, u"An unhandled exception occurred.");
    EXPECT_EQ(errors[0].result, E_UNEXPECTED);
}

TEST_F(ErrorTest, FaultsBecomeUnexpectedUnlessTheResultAlreadyFailed) {
    PLExceptionRecord record;
    record.ExceptionCode = PL_EXCEPTION_ACCESS_VIOLATION;
    PLThreadContext context;
    context.Rip = 0x1234;
    HRESULT hr = PLGuard("Core", "C", "M", [&](HRESULT&) { throw CSEHExceptionWrapper(record, context); });
    EXPECT_EQ(hr, E_UNEXPECTED);
    auto errors = Errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].message.rfind(u"ACCESS_VIOLATION encountered. @CALL_STACK: 0x", 0), 0u);
    EXPECT_EQ(errors[0].message.back(), u'~');

    hr = PLGuard("Core", "C", "M", [&](HRESULT& r) {
        r = E_POINTER;
        throw CSEHExceptionWrapper(record, context);
    });
    EXPECT_EQ(hr, E_POINTER);
}

TEST_F(ErrorTest, ErrorFlagOneStartsANewChain) {
    for (int i = 0; i < 3; ++i) PLGuard("Core", "C", "M", [](HRESULT& r) { PL_THROW_ERROR(r = E_FAIL, "a", 0); });
    EXPECT_EQ(Errors().size(), 3u);
    PLGuard("Core", "C", "M", [](HRESULT& r) { PL_THROW_ERROR(r = E_FAIL, "b", 1); });
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, u"b");
}

TEST_F(ErrorTest, SuspendedThreadsRecordNothingUnlessOverridden) {
    {
        CPLThreadErrorSuspender suspend;
        BOOL state = FALSE;
        EXPECT_EQ(GetThreadErrorSuspensionState(&state), S_OK);
        EXPECT_TRUE(state);
        const HRESULT hr = PLGuard("Core", "C", "M", [](HRESULT& r) { PL_THROW_ERROR(r = E_FAIL, "hidden", 0); });
        EXPECT_EQ(hr, E_FAIL);
        EXPECT_TRUE(Errors().empty());
        PLSetSuspensionOverride(1);
        PLGuard("Core", "C", "M", [](HRESULT& r) { PL_THROW_ERROR(r = E_FAIL, "seen", 0); });
        PLSetSuspensionOverride(0);
        ASSERT_EQ(Errors().size(), 1u);
        EXPECT_EQ(Errors()[0].message, u"seen");
        { CPLThreadErrorSuspender nested; }
        EXPECT_EQ(GetThreadErrorSuspensionState(&state), S_OK);
        EXPECT_TRUE(state);  // the nested guard restored the outer suspension
    }
    BOOL state = TRUE;
    GetThreadErrorSuspensionState(&state);
    EXPECT_FALSE(state);
}

TEST_F(ErrorTest, RichErrorObjectsAreThrownWhenTheyAnswer) {
    struct Rich : IPLSupportRichErrorInfo {
        int refs = 1;
        HRESULT QueryInterface(REFIID iid, void** out) override {
            if (iid != IID_IPLSupportRichErrorInfo) return E_NOINTERFACE;
            *out = this;
            ++refs;
            return S_OK;
        }
        ULONG AddRef() override { return ++refs; }
        ULONG Release() override { return --refs; }
        HRESULT GetErrorInfo(IPLErrorInfo**) override { return E_NOTIMPL; }
    } rich;
    try {
        PLThrowRichError(E_FAIL, &rich);
        FAIL();
    } catch (IPLSupportRichErrorInfo* thrown) {
        EXPECT_EQ(thrown, &rich);
        thrown->Release();
    }
    struct Plain : IUnknown {
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 1; }
        ULONG Release() override { return 1; }
    } plain;
    EXPECT_THROW(PLThrowRichError(E_FAIL, &plain), HRESULT);
    // Nothing in the library catches the rich object: the last clause takes it.
    EXPECT_EQ(PLGuard("Core", "C", "M", [&](HRESULT&) { PLThrowRichError(E_FAIL, &rich); }), E_UNEXPECTED);
    EXPECT_EQ(rich.refs, 2);  // the thrown reference was not released by anyone
}

TEST_F(ErrorTest, WideAndFormattedCatchClauseVariants) {
    const PL_ERROR e(E_FAIL, PLString(u"wide"), 1, 5, PLString(u"f"), PLString(u"file"));
    EXPECT_EQ(PLHandleErrorExceptionW(e, u"Gr\u00FCppe", u"Kl", "m"), E_FAIL);
    auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].module, u"Gr\u00FCppe");
    EXPECT_EQ(errors[0].className, u"Kl");
    EXPECT_EQ(PLHandleErrorExceptionFormat(e, "G", "C", "Method%d<%s>", 7, u"T"), E_FAIL);
    EXPECT_EQ(Errors()[0].method, u"Method7<T>");
    PLHandleHResultExceptionW(E_POINTER, u"G", u"C", "m");
    EXPECT_EQ(Errors().back().message, u"Error 0x80004003 occurred.");
    PLHandleHResultExceptionFormat(E_POINTER, "G", "C", "m%d", 2);
    EXPECT_EQ(Errors().back().method, u"m2");
    EXPECT_EQ(PLHandleUnknownExceptionW(u"G", u"C", "m"), E_UNEXPECTED);
    EXPECT_EQ(PLHandleUnknownExceptionFormat("G", "C", "m%s", u"x"), E_UNEXPECTED);
    EXPECT_EQ(Errors().back().method, u"mx");
}

TEST_F(ErrorTest, RecordErrorMessageLeavesNoSource) {
    EXPECT_EQ(PLRecordErrorMessage("G", "C", "M", E_FAIL, 3, u"text", 1), S_FALSE);
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].sourceFile.empty());
    EXPECT_EQ(errors[0].sourceLine, 0u);
    // Null names are recorded as empty.
    PLRecordErrorMessage(static_cast<const WCHAR*>(nullptr), nullptr, nullptr, E_FAIL, 0, nullptr, 0);
    EXPECT_EQ(Errors().size(), 2u);
}

}  // namespace
