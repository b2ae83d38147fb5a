// The language companion: formats the texts of its message table.
#include <string>

#include <kdtrace/msgtable.h>

#include "companions/kdlocale/MessageFormat.h"
#include "companions/kdlocale/MessageTable.h"

#define KD_COMPANION_API extern "C" __attribute__((visibility("default")))

KD_COMPANION_API HRESULT PLLOCALE_FormatMessage(DWORD messageId, DWORD languageId, const PLMessageArgument* arguments,
                                                ULONG argumentCount, WCHAR* buffer, ULONG size, ULONG* length) {
    if (length != nullptr) *length = 0;
    if (buffer == nullptr) return E_POINTER;
    if (size == 0) return PL_E_BUFFER_TOO_SMALL;
    buffer[0] = 0;
    if (arguments == nullptr && argumentCount != 0) return E_POINTER;
    HRESULT failure = S_OK;
    const kdlocale::MessageText* text =
        kdlocale::FindText(kdlocale::kMessageTexts, kdlocale::kMessageTextCount, messageId, languageId, failure);
    if (text == nullptr) return failure;
    try {
        std::u16string out;
        const HRESULT hr = kdlocale::ExpandInserts(text->text, arguments, argumentCount, out);
        if (hr < 0) return hr;
        if (out.size() >= size) return PL_E_BUFFER_TOO_SMALL;
        out.copy(buffer, out.size());
        buffer[out.size()] = 0;
        if (length != nullptr) *length = static_cast<ULONG>(out.size());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
