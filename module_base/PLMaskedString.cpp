#include "module_base/PLMaskedString.h"

#include <kdtrace/propertybag.h>

#include <new>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLPropertyBagFunctions.h"
#include "module_base/PLString.h"
#include "platform/Text.h"

PL_REGISTER_CLASS(CPLMaskedString, CLSID_PLMaskedString);

namespace {

constexpr const char* kGroup = "Core";

bool IsDigit(WCHAR c) noexcept {
    return c >= u'0' && c <= u'9';
}

void CheckForm(LONG form) {
    if (form != PLMaskedFormNormal && form != PLMaskedFormMasked) PL_THROW_ERROR(E_INVALIDARG, "Invalid format", 1);
}

void CheckBuffer(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) throw E_POINTER;
    if (size < 1) throw E_INVALIDARG;
}

std::u16string Upper(std::u16string text) {
    kd::platform::ToUpperInPlace(text.data(), text.size());
    return text;
}

// A required name: one the bag lacks is an error of its own (the getters succeed without it); a
// failed read adds the message to the getter's error.
template <class Read>
void ReadRequired(IPLPropertyBag* bag, const WCHAR* name, const char* message, Read&& read) {
    BOOL contains = FALSE;
    HRESULT hr = bag->ContainsKey(name, &contains);
    if (hr >= 0 && contains == FALSE) PL_THROW_ERROR(E_FAIL, message, 1);
    if (hr >= 0) hr = read();
    PL_THROW_ERROR(hr, message, 0);
}

HRESULT CopyOut(WCHAR* buffer, LONG size, const std::u16string& text) {
    return PLCopyTextToBuffer(buffer, size, text.data(), static_cast<int32_t>(text.size()), PLTruncation::Report);
}

}  // namespace

// ---- the mask ----

std::size_t CPLMaskedString::InputCount() const noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < m_mask.size(); ++i) count += IsStatic(i) ? 0 : 1;
    return count;
}

std::size_t CPLMaskedString::InputPosition(std::size_t index) const noexcept {
    for (std::size_t i = 0; i < m_mask.size(); ++i) {
        if (IsStatic(i)) continue;
        if (index == 0) return i;
        --index;
    }
    return m_mask.size();
}

bool CPLMaskedString::Accepts(std::size_t position, WCHAR c) const {
    switch (m_mask[position]) {
        case u'0':
            return IsDigit(c) || c == u' ';
        case u'9':
            return IsDigit(c) || c == u'-' || c == u'.' || c == u'*' || c == u'+' || c == u' ';
        case u'A':
            return kd::platform::IsAlpha(c) || c == u' ';
        case u'S':
            return c == m_static[position];
        case u'X':
            return true;
        default:
            PL_THROW_ERROR(E_FAIL, "Invalid character in mask", 1);
    }
    return false;
}

WCHAR CPLMaskedString::FillAt(std::size_t position) const {
    return Accepts(position, m_fill) ? m_fill : u' ';
}

std::u16string CPLMaskedString::MaskedText() const {
    if (!HasMask()) return m_value;
    std::u16string text(m_mask.size(), u' ');
    std::size_t next = 0;
    for (std::size_t i = 0; i < m_mask.size(); ++i) {
        if (IsStatic(i))
            text[i] = m_static[i];
        else
            text[i] = next < m_value.size() ? m_value[next++] : FillAt(i);
    }
    return text;
}

HRESULT CPLMaskedString::SetMask(const WCHAR* mask, const WCHAR* staticText, LONG style) {
    if (mask == nullptr) return E_POINTER;
    if (staticText == nullptr) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const std::u16string_view maskText(mask);
        const std::u16string_view given(staticText);
        std::u16string positional;
        if (style == PLMaskStylePositional) {
            if (maskText.size() != given.size())
                PL_THROW_ERROR(E_INVALIDARG,
                               "Mask string and static string must be the same length in positional format", 1);
            positional = given;
        } else if (style == PLMaskStyleListed) {
            std::size_t next = 0;
            for (const WCHAR m : maskText) {
                if (kd::platform::ToUpper(m) != u'S') {
                    positional += u' ';
                    continue;
                }
                if (next >= given.size()) PL_THROW_ERROR(E_INVALIDARG, "Unexpected end of static string", 1);
                positional += given[next++];
            }
        } else {
            PL_THROW_ERROR(E_INVALIDARG, "Invalid format", 1);
        }
        m_mask = Upper(std::u16string(maskText));
        m_static = Upper(std::move(positional));
        m_fullField = FALSE;
    });
}

HRESULT CPLMaskedString::GetMask(WCHAR* buffer, LONG size) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckBuffer(buffer, size);
        hr = CopyOut(buffer, size, m_mask);
    });
}

HRESULT CPLMaskedString::GetStatic(WCHAR* buffer, LONG size) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckBuffer(buffer, size);
        hr = CopyOut(buffer, size, m_static);
    });
}

HRESULT CPLMaskedString::SetFillCharacter(WCHAR fill) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { m_fill = fill; });
}

HRESULT CPLMaskedString::GetFillCharacter(WCHAR* fill) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), fill, m_fill);
}

HRESULT CPLMaskedString::SetFullFieldEntry(BOOL on) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { m_fullField = on != FALSE ? TRUE : FALSE; });
}

HRESULT CPLMaskedString::GetFullFieldEntry(BOOL* on) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), on, m_fullField);
}

HRESULT CPLMaskedString::Clear() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { m_value.clear(); });
}

HRESULT CPLMaskedString::Clone(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *object = nullptr;
        PLComPtr<CPLMaskedString> copy(new CPLMaskedString());
        copy->m_value = m_value;
        copy->m_mask = m_mask;
        copy->m_static = m_static;
        copy->m_fullField = m_fullField;
        copy->m_fill = m_fill;
        hr = copy->QueryInterface(iid, object);
        PL_THROW_IF_FAILED(hr);
    });
}

// ---- reading ----

HRESULT CPLMaskedString::GetMaskedString(std::u16string& text) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { text = MaskedText(); });
}

HRESULT CPLMaskedString::GetStringLength(LONG* length, LONG form) {
    if (length == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        CheckForm(form);
        const std::size_t count = form == PLMaskedFormMasked && HasMask() ? m_mask.size() : m_value.size();
        *length = static_cast<LONG>(count);
    });
}

HRESULT CPLMaskedString::GetString(WCHAR* buffer, LONG size, LONG form) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckBuffer(buffer, size);
        CheckForm(form);
        if (form == PLMaskedFormNormal) {
            hr = CopyOut(buffer, size, m_value);
            return;
        }
        std::u16string text;
        hr = GetMaskedString(text);
        PL_THROW_ERROR(hr, "Failed to obtain masked string", 0);
        hr = CopyOut(buffer, size, text);
    });
}

// ---- validation ----

HRESULT CPLMaskedString::ValidateMaskedChar(LONG index, WCHAR character, bool& valid) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (!HasMask()) {
            valid = true;
            return;
        }
        valid = index >= 0 && static_cast<std::size_t>(index) < m_mask.size() &&
                Accepts(static_cast<std::size_t>(index), character);
    });
}

HRESULT CPLMaskedString::ValidateNormalChar(LONG index, WCHAR character, bool& valid) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (!HasMask()) {
            valid = true;
            return;
        }
        const std::size_t position = index < 0 ? m_mask.size() : InputPosition(static_cast<std::size_t>(index));
        valid = position < m_mask.size() && Accepts(position, character);
    });
}

HRESULT CPLMaskedString::ValidateNormalString(std::u16string_view text, bool& valid) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        valid = true;
        if (text.empty() || !HasMask()) return;
        const std::size_t inputs = InputCount();
        if (text.size() > m_mask.size() || text.size() > inputs || (m_fullField != FALSE && text.size() != inputs)) {
            valid = false;
            return;
        }
        std::size_t next = 0;
        for (std::size_t i = 0; i < m_mask.size() && next < text.size(); ++i) {
            if (IsStatic(i)) continue;
            if (!Accepts(i, text[next++])) {
                valid = false;
                return;
            }
        }
    });
}

HRESULT CPLMaskedString::ValidateMaskedString(std::u16string_view text, bool& valid) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        valid = true;
        if (text.empty() || !HasMask()) return;
        if (text.size() > m_mask.size() || (m_fullField != FALSE && text.size() != m_mask.size())) {
            valid = false;
            return;
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!Accepts(i, text[i])) {
                valid = false;
                return;
            }
        }
    });
}

HRESULT CPLMaskedString::ValidateString(const WCHAR* text, BOOL* valid, LONG form) {
    if (text == nullptr || valid == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckForm(form);
        bool ok = false;
        hr = form == PLMaskedFormNormal ? ValidateNormalString(text, ok) : ValidateMaskedString(text, ok);
        PL_THROW_ERROR(hr, "Failed to validate string", 0);
        *valid = ok ? TRUE : FALSE;
    });
}

HRESULT CPLMaskedString::ValidateChar(LONG index, WCHAR character, BOOL* valid, LONG form) {
    if (valid == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckForm(form);
        bool ok = false;
        if (form == PLMaskedFormNormal) {
            hr = ValidateNormalChar(index, character, ok);
            PL_THROW_ERROR(hr, "Failed to validate character", 0);
        } else {
            hr = ValidateMaskedChar(index, character, ok);
            PL_THROW_ERROR(hr, "Failed to validate masked character", 0);
        }
        *valid = ok ? TRUE : FALSE;
    });
}

// ---- setting ----

HRESULT CPLMaskedString::SetNormalValue(std::u16string_view text, bool partialAllowed) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (text.empty() || !HasMask()) {
            m_value = text;
            return;
        }
        std::u16string value;
        std::size_t next = 0;
        for (std::size_t i = 0; i < m_mask.size() && next < text.size(); ++i) {
            if (IsStatic(i)) continue;
            const WCHAR c = text[next++];
            if (!Accepts(i, c))
                PL_THROW_ERROR_FORMAT(E_FAIL, 1, "Invalid character '%c' at index %li", c, static_cast<LONG>(i));
            value += c;
        }
        if (m_fullField != FALSE && !partialAllowed && text.size() != InputCount())
            PL_THROW_ERROR(E_FAIL, "Full field has not been entered", 1);
        m_value = std::move(value);
    });
}

HRESULT CPLMaskedString::SetMaskedValue(std::u16string_view text) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (text.empty() || !HasMask()) {
            m_value = text;
            return;
        }
        std::u16string value;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const WCHAR c = text[i];
            if (i >= m_mask.size() || !Accepts(i, c))
                PL_THROW_ERROR_FORMAT(E_FAIL, 1, "Invalid character '%c' at index %li", c, static_cast<LONG>(i));
            if (!IsStatic(i)) value += c;
        }
        if (m_fullField != FALSE && text.size() != m_mask.size())
            PL_THROW_ERROR(E_FAIL, "Full field has not been entered", 1);
        m_value = std::move(value);
    });
}

HRESULT CPLMaskedString::SetValue(const WCHAR* text, LONG form) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        switch (form) {
            case PLMaskedFormNormal:
            case PLMaskedFormNormalPartial:
                hr = SetNormalValue(text, form == PLMaskedFormNormalPartial);
                PL_THROW_ERROR(hr, "Failed to set value", 0);
                break;
            case PLMaskedFormMasked:
                hr = SetMaskedValue(text);
                PL_THROW_ERROR(hr, "Failed to set masked value", 0);
                break;
            default:
                PL_THROW_ERROR(E_INVALIDARG, "Invalid format", 1);
        }
    });
}

// Stores `c` at input position `inputIndex`, first filling the untyped positions before it. The
// caller has checked the index against the mask's input positions.
void CPLMaskedString::PutAt(std::size_t inputIndex, WCHAR c) {
    if (inputIndex < m_value.size()) {
        m_value[inputIndex] = c;
        return;
    }
    try {
        if (!HasMask()) {
            if (inputIndex > m_value.size() && inputIndex >= static_cast<std::size_t>(PLMaskedStringMaxFilledLength))
                PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
            m_value.resize(inputIndex + 1, m_fill);
            m_value[inputIndex] = c;
            return;
        }
        // Built aside, so that a mask character that fails to fill leaves the value as it was. One
        // walk over the mask passes the typed positions and fills the others up to the index.
        std::u16string value;
        value.reserve(inputIndex + 1);
        value = m_value;
        const std::size_t typed = value.size();
        std::size_t input = 0;
        for (std::size_t i = 0; i < m_mask.size() && input < inputIndex; ++i) {
            if (IsStatic(i)) continue;
            if (input++ >= typed) value += FillAt(i);
        }
        value += c;
        m_value = std::move(value);
    } catch (const std::bad_alloc&) {
        PL_THROW_ERROR(E_OUTOFMEMORY, "Out of memory", 1);
    }
}

HRESULT CPLMaskedString::SetAtNormal(LONG index, WCHAR character) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (index < 0 || (HasMask() && static_cast<std::size_t>(index) >= InputCount()))
            PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
        PutAt(static_cast<std::size_t>(index), character);
    });
}

HRESULT CPLMaskedString::SetAtMasked(LONG index, WCHAR character) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (index < 0 || (HasMask() && static_cast<std::size_t>(index) >= m_mask.size()))
            PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
        const auto position = static_cast<std::size_t>(index);
        if (!HasMask()) {
            PutAt(position, character);
            return;
        }
        if (IsStatic(position)) {
            hr = S_FALSE;
            return;
        }
        std::size_t inputIndex = 0;
        for (std::size_t i = 0; i < position; ++i) inputIndex += IsStatic(i) ? 0 : 1;
        PutAt(inputIndex, character);
    });
}

HRESULT CPLMaskedString::SetAt(LONG index, WCHAR character, LONG form) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckForm(form);
        hr = form == PLMaskedFormNormal ? SetAtNormal(index, character) : SetAtMasked(index, character);
        PL_THROW_ERROR(hr, "Failed to set character at index", 0);
    });
}

HRESULT CPLMaskedString::InsertAtMasked(LONG index, WCHAR character) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        const std::size_t limit = HasMask() ? m_mask.size() : m_value.size() + 1;
        if (index < 0 || static_cast<std::size_t>(index) >= limit) PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
        auto position = static_cast<std::size_t>(index);
        if (!HasMask()) {
            m_value.insert(position, 1, character);
            return;
        }
        std::u16string text;
        hr = GetMaskedString(text);
        PL_THROW_ERROR(hr, "Failed to obtain masked text", 0);
        while (position < text.size() && IsStatic(position)) ++position;
        if (position >= text.size()) PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
        // The run from the position on moves right while the next position is an input position
        // that takes the moved character; the character that cannot move on is dropped.
        WCHAR moving = text[position];
        for (std::size_t next = position + 1; next < text.size() && !IsStatic(next) && Accepts(next, moving); ++next)
            std::swap(moving, text[next]);
        text[position] = character;
        hr = SetMaskedValue(text);
        PL_THROW_ERROR(hr, "Failed to set value", 0);
    });
}

HRESULT CPLMaskedString::InsertAtNormal(LONG index, WCHAR character) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        LONG masked = 0;
        hr = NormalIndexToMaskedIndex(index, &masked);
        PL_THROW_ERROR(hr, "Failed to convert index to masked index", 0);
        hr = InsertAtMasked(masked, character);
        PL_THROW_ERROR(hr, "Failed to insert character", 0);
    });
}

HRESULT CPLMaskedString::InsertAt(LONG index, WCHAR character, LONG form) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckForm(form);
        hr = form == PLMaskedFormNormal ? InsertAtNormal(index, character) : InsertAtMasked(index, character);
        PL_THROW_ERROR(hr, "Failed to set character at index", 0);
    });
}

// ---- deleting ----

HRESULT CPLMaskedString::DeleteSubstringMasked(LONG start, LONG end, LONG shiftMode) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (start < 0) PL_THROW_ERROR(E_INVALIDARG, "Invalid start index", 1);
        const std::size_t length = HasMask() ? m_mask.size() : m_value.size();
        if (end < 0 || static_cast<std::size_t>(end) >= length) PL_THROW_ERROR(E_INVALIDARG, "Invalid end index", 1);
        if (start > end) PL_THROW_ERROR(E_INVALIDARG, "Invalid start index", 1);
        if (shiftMode < PLMaskShiftWithinRun || shiftMode > PLMaskShiftAcrossStatic)
            PL_THROW_ERROR(E_INVALIDARG, "Invalid shift mode", 1);
        const auto first = static_cast<std::size_t>(start);
        const auto last = static_cast<std::size_t>(end);
        if (!HasMask()) {
            m_value.erase(first, last - first + 1);
            return;
        }
        std::u16string text;
        hr = GetMaskedString(text);
        PL_THROW_ERROR(hr, "Failed to obtain masked text", 0);
        for (std::size_t i = first; i <= last; ++i) text[i] = FillAt(i);
        if (shiftMode != PLMaskShiftNone && last + 1 < text.size()) {
            const bool acrossStatic = shiftMode == PLMaskShiftAcrossStatic;
            std::size_t source = last + 1;
            std::size_t destination = first;
            if (!acrossStatic) {
                // Within one run: from the end back to the start or to a static position.
                destination = last;
                while (destination > first && !IsStatic(destination)) --destination;
            }
            auto skipStatic = [&](std::size_t& position) {
                while (acrossStatic && position < text.size() && IsStatic(position)) ++position;
            };
            skipStatic(source);
            // A static position never takes a moved character: its own comes back at the end.
            if (source < text.size()) {
                while (destination < source && (IsStatic(destination) || !Accepts(destination, text[source])))
                    ++destination;
            }
            // The destination stays behind the source: a character copied onto itself and then
            // cleared would be lost.
            while (destination < source && source < text.size()) {
                if (!acrossStatic && (IsStatic(source) || IsStatic(destination))) break;
                if (!Accepts(destination, text[source])) break;
                text[destination] = text[source];
                text[source] = FillAt(source);
                ++destination;
                ++source;
                skipStatic(destination);
                skipStatic(source);
            }
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (IsStatic(i)) text[i] = m_static[i];
        }
        hr = SetMaskedValue(text);
        PL_THROW_ERROR(hr, "Failed to set value", 0);
    });
}

HRESULT CPLMaskedString::DeleteSubstringNormal(LONG start, LONG end, LONG shiftMode) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (start < 0) PL_THROW_ERROR(E_INVALIDARG, "Invalid start index", 1);
        const std::size_t length = HasMask() ? m_mask.size() : m_value.size();
        if (end < 0 || static_cast<std::size_t>(end) >= length) PL_THROW_ERROR(E_INVALIDARG, "Invalid end index", 1);
        if (start > end) PL_THROW_ERROR(E_INVALIDARG, "Invalid start index", 1);
        LONG maskedStart = 0;
        LONG maskedEnd = 0;
        hr = NormalIndexToMaskedIndex(start, &maskedStart);
        if (hr >= 0) hr = NormalIndexToMaskedIndex(end, &maskedEnd);
        PL_THROW_ERROR(hr, "Failed to convert masked index to normal index", 0);
        hr = DeleteSubstringMasked(maskedStart, maskedEnd, shiftMode);
        PL_THROW_ERROR(hr, "Failed to delete substring", 0);
    });
}

HRESULT CPLMaskedString::DeleteSubstring(LONG start, LONG end, LONG form, LONG shiftMode) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        CheckForm(form);
        hr = form == PLMaskedFormNormal ? DeleteSubstringNormal(start, end, shiftMode)
                                        : DeleteSubstringMasked(start, end, shiftMode);
        PL_THROW_ERROR(hr, "Failed to delete substring", 0);
    });
}

// ---- indexes ----

HRESULT CPLMaskedString::NormalIndexToMaskedIndex(LONG index, LONG* maskedIndex) {
    if (maskedIndex == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (!HasMask()) {
            *maskedIndex = index;
            return;
        }
        if (index < 0 || static_cast<std::size_t>(index) > InputCount())
            PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
        *maskedIndex = static_cast<LONG>(InputPosition(static_cast<std::size_t>(index)));
    });
}

HRESULT CPLMaskedString::MaskedIndexToNormalIndex(LONG index, LONG* normalIndex) {
    if (normalIndex == nullptr) return E_POINTER;
    if (HasMask() && index >= 0 && static_cast<std::size_t>(index) >= m_mask.size()) return E_FAIL;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (!HasMask()) {
            *normalIndex = index;
            return;
        }
        if (index < 0) PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
        auto position = static_cast<std::size_t>(index);
        while (position < m_mask.size() && IsStatic(position)) ++position;
        if (position >= m_mask.size()) PL_THROW_ERROR(E_INVALIDARG, "Invalid index", 1);
        LONG count = 0;
        for (std::size_t i = 0; i < position; ++i) count += IsStatic(i) ? 0 : 1;
        *normalIndex = count;
    });
}

// ---- from a property bag ----

HRESULT CPLMaskedString::SetMaskEx(IPLPropertyBag* bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        PLString mask;
        PLString staticText;
        LONG style = 0;
        ReadRequired(bag, u"mask", "'Mask' property not set",
                     [&] { return GetPLStringFromPropertyBag(bag, u"mask", &mask); });
        ReadRequired(bag, u"static", "'Static' property not set",
                     [&] { return GetPLStringFromPropertyBag(bag, u"static", &staticText); });
        ReadRequired(bag, u"style", "'Style' property not set",
                     [&] { return GetLongFromPropertyBag(bag, u"style", &style); });
        hr = SetMask(mask.c_str(), staticText.c_str(), style);
        PL_THROW_ERROR(hr, "SetMask failed", 0);
        // Optional: a name the bag lacks keeps the setting; the call returns the last read's result.
        bool fullField = m_fullField != FALSE;
        if (GetBoolFromPropertyBag(bag, u"fullField", &fullField) >= 0) m_fullField = fullField ? TRUE : FALSE;
        LONG fill = m_fill;
        hr = GetLongFromPropertyBag(bag, u"fillChar", &fill);
        if (hr >= 0) m_fill = static_cast<WCHAR>(fill & 0xFFFF);
    });
}
