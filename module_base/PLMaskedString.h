// CPLMaskedString: the value behind an input field with an edit mask. Keeps what was typed into
// the mask's input positions and renders the full text with the static characters and a fill
// character. Every operation has a normal-index form (counting input positions) and a
// masked-index form (counting mask positions). Objects have no lock: use one from one thread at
// a time.
#ifndef KD_PLMASKEDSTRING_H
#define KD_PLMASKEDSTRING_H

#include <cstdint>
#include <string>

#include <kdtrace/maskedstring.h>
#include <kdtrace/object.h>

#include "module_base/PLComObject.h"

class CPLMaskedString : public CPLComObject<CPLReleaseModel>, public IPLMaskedStringPriv, public IPLCloneable {
    PL_BEGIN_INTERFACE_MAP(CPLMaskedString, IPLMaskedString)
    PL_INTERFACE_ENTRY(IPLMaskedString)
    PL_INTERFACE_ENTRY(IPLMaskedStringPriv)
    PL_INTERFACE_ENTRY(IPLCloneable)
    PL_END_INTERFACE_MAP()

public:
    CPLMaskedString() noexcept = default;

    // IPLMaskedString
    HRESULT SetMask(const WCHAR* mask, const WCHAR* staticText, LONG style) override;
    HRESULT GetMask(WCHAR* buffer, LONG size) override;
    HRESULT GetStatic(WCHAR* buffer, LONG size) override;
    HRESULT SetFillCharacter(WCHAR fill) override;
    HRESULT GetFillCharacter(WCHAR* fill) override;
    HRESULT GetStringLength(LONG* length, LONG form) override;
    HRESULT GetString(WCHAR* buffer, LONG size, LONG form) override;
    HRESULT ValidateString(const WCHAR* text, BOOL* valid, LONG form) override;
    HRESULT ValidateChar(LONG index, WCHAR character, BOOL* valid, LONG form) override;
    HRESULT SetValue(const WCHAR* text, LONG form) override;
    HRESULT SetAt(LONG index, WCHAR character, LONG form) override;
    HRESULT InsertAt(LONG index, WCHAR character, LONG form) override;
    HRESULT DeleteSubstring(LONG start, LONG end, LONG form, LONG shiftMode) override;
    HRESULT NormalIndexToMaskedIndex(LONG index, LONG* maskedIndex) override;
    HRESULT MaskedIndexToNormalIndex(LONG index, LONG* normalIndex) override;
    HRESULT Clear() override;
    HRESULT SetMaskEx(IPLPropertyBag* bag) override;

    // IPLMaskedStringPriv
    HRESULT SetFullFieldEntry(BOOL on) override;
    HRESULT GetFullFieldEntry(BOOL* on) override;

    // IPLCloneable: a new object with this one's value, mask, static string and settings.
    HRESULT Clone(REFIID iid, void** object) override;

protected:
    ~CPLMaskedString() override = default;

private:
    // The operations behind the interface's two forms; each records its own failure.
    HRESULT GetMaskedString(std::u16string& text);
    HRESULT ValidateNormalString(std::u16string_view text, bool& valid);
    HRESULT ValidateMaskedString(std::u16string_view text, bool& valid);
    HRESULT ValidateNormalChar(LONG index, WCHAR character, bool& valid);
    HRESULT ValidateMaskedChar(LONG index, WCHAR character, bool& valid);
    HRESULT SetNormalValue(std::u16string_view text, bool partialAllowed);
    HRESULT SetMaskedValue(std::u16string_view text);
    HRESULT SetAtNormal(LONG index, WCHAR character);
    HRESULT SetAtMasked(LONG index, WCHAR character);
    HRESULT InsertAtNormal(LONG index, WCHAR character);
    HRESULT InsertAtMasked(LONG index, WCHAR character);
    HRESULT DeleteSubstringNormal(LONG start, LONG end, LONG shiftMode);
    HRESULT DeleteSubstringMasked(LONG start, LONG end, LONG shiftMode);

    bool HasMask() const noexcept { return !m_mask.empty(); }
    bool IsStatic(std::size_t position) const noexcept { return m_mask[position] == u'S'; }
    std::size_t InputCount() const noexcept;
    // The mask position of input position `index`; the mask's length when there is none.
    std::size_t InputPosition(std::size_t index) const noexcept;
    // Whether the mask position takes `character`; throws for a character the mask language
    // does not know.
    bool Accepts(std::size_t position, WCHAR character) const;
    // What an untyped position shows: the fill character where it is accepted, else a blank.
    WCHAR FillAt(std::size_t position) const;
    std::u16string MaskedText() const;
    void PutAt(std::size_t inputIndex, WCHAR character);

    std::u16string m_value;
    std::u16string m_mask;
    std::u16string m_static;
    BOOL m_fullField = FALSE;
    WCHAR m_fill = u' ';
};

#endif  // KD_PLMASKEDSTRING_H
