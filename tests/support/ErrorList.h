// Reading the calling thread's error list in tests.
#ifndef KDTRACE_TESTS_SUPPORT_ERROR_LIST_H
#define KDTRACE_TESTS_SUPPORT_ERROR_LIST_H

#include <algorithm>
#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

namespace kdtest {

struct RecordedError {
    std::u16string module, className, method, message, sourceFile;
    HRESULT result = 0;
    DWORD threadId = 0;
    ULONG sourceLine = 0;
};

// The items of a list, oldest first.
inline std::vector<RecordedError> ReadList(IPLErrorInfo* list) {
    std::vector<RecordedError> out;
    LONG count = 0;
    if (list == nullptr || list->GetCount(&count) < 0) return out;
    for (LONG i = count - 1; i >= 0; --i) {
        IPLErrorItem* item = nullptr;
        if (list->GetItem(i, &item) < 0 || item == nullptr) continue;
        const auto text = [&](HRESULT (IPLErrorItem::*get)(WCHAR*, LONG)) {
            WCHAR buffer[1024] = {};
            (item->*get)(buffer, 1024);
            return std::u16string(buffer);
        };
        RecordedError& e = out.emplace_back(RecordedError{
            text(&IPLErrorItem::GetModuleName), text(&IPLErrorItem::GetClassName), text(&IPLErrorItem::GetMethodName),
            text(&IPLErrorItem::GetMessage), text(&IPLErrorItem::GetSourceFile)});
        item->GetHRESULT(&e.result);
        item->GetThreadID(&e.threadId);
        item->GetSourceLine(&e.sourceLine);
        item->Release();
    }
    return out;
}

// The calling thread's list, oldest first, read through `getList` (GetThreadError leaves it with
// the thread, PLGetLastError hands it over).
inline std::vector<RecordedError> ReadThreadErrors(HRESULT (*getList)(IPLErrorInfo**)) {
    IPLErrorInfo* list = nullptr;
    if (getList(&list) < 0 || list == nullptr) return {};
    auto errors = ReadList(list);
    list->Release();
    return errors;
}
inline std::vector<RecordedError> TakeThreadErrors() {
    return ReadThreadErrors(&PLGetLastError);
}

// True when the thread's error list (taken and so emptied) holds `message`; an empty `message`
// asks for an empty list.
inline bool Recorded(const std::u16string& message) {
    const auto errors = TakeThreadErrors();
    return message.empty() ? errors.empty()
                           : std::any_of(errors.begin(), errors.end(), [&](auto& e) { return e.message == message; });
}

// Errors as "module|class|method|message" lines, to compare a whole list at once.
using ErrorLines = std::vector<std::u16string>;
inline ErrorLines LinesOf(const std::vector<RecordedError>& errors) {
    ErrorLines lines;
    for (const RecordedError& e : errors)
        lines.push_back(e.module + u"|" + e.className + u"|" + e.method + u"|" + e.message);
    return lines;
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_ERROR_LIST_H
