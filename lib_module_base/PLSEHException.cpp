// Reports of processor faults caught as CSEHExceptionWrapper.
#include "inc_module_base/PLSEHException.h"

#include "inc_module_base/PLError.h"
#include "inc_module_base/PLString.h"

namespace {

struct ExceptionName {
    uint32_t code;
    const WCHAR* name;
};

constexpr ExceptionName kExceptionNames[] = {
    {0x80000001u, u"GUARD_PAGE"},
    {0x80000002u, u"DATATYPE_MISALIGNMENT"},
    {0x80000003u, u"BREAKPOINT"},
    {0x80000004u, u"SINGLE_STEP"},
    {0xC0000005u, u"ACCESS_VIOLATION"},
    {0xC0000006u, u"IN_PAGE_ERROR"},
    {0xC0000008u, u"INVALID_HANDLE"},
    {0xC000001Du, u"ILLEGAL_INSTRUCTION"},
    {0xC0000025u, u"NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, u"INVALID_DISPOSITION"},
    {0xC000008Cu, u"ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Du, u"FLT_DENORMAL_OPERAND"},
    {0xC000008Eu, u"FLT_DIVIDE_BY_ZERO"},
    {0xC000008Fu, u"FLT_INEXACT_RESULT"},
    {0xC0000090u, u"FLT_INVALID_OPERATION"},
    {0xC0000091u, u"FLT_OVERFLOW"},
    {0xC0000092u, u"FLT_STACK_CHECK"},
    {0xC0000093u, u"FLT_UNDERFLOW"},
    {0xC0000094u, u"INT_DIVIDE_BY_ZERO"},
    {0xC0000095u, u"INT_OVERFLOW"},
    {0xC0000096u, u"PRIV_INSTRUCTION"},
    {0xC00000FDu, u"STACK_OVERFLOW"},
};

}  // namespace

PLString CSEHExceptionWrapper::GetExceptionName() const {
    for (const ExceptionName& entry : kExceptionNames)
        if (entry.code == m_record.ExceptionCode) return PLString(entry.name);
    return PLString();
}

PLString CSEHExceptionWrapper::GetCallStack() const {
    PLString stack;
    stack.Format(u"0x%016llX~", m_context.Rip);
    return stack;
}

void CSEHExceptionWrapper::Report(const char* group, const char* className, const char* method,
                                  HRESULT result) const {
    PLString text;
    text.Format(u"%s encountered. @CALL_STACK: %s", GetExceptionName(), GetCallStack());
    PLRecordErrorMessage(group, className, method, result, 0, text, 1);
    PLRecordLoadedModules(group, className, method, result);
}

void PLRecordLoadedModules(const char*, const char*, const char*, HRESULT) {
    // The module list comes from the debugging companion; without it there is nothing to add.
}
