// Masked strings: the value behind an input field with an edit mask. The mask says, position by
// position, what may be typed there and where fixed ("static") characters stand:
//   0  a decimal digit or a blank
//   9  a decimal digit, "-", ".", "*", "+" or a blank
//   A  a letter or a blank
//   S  the static string's character at that position
//   X  any character
// The object keeps only what was typed into the input positions (the normal string) and renders
// the full text with the static characters and a fill character for positions not yet typed (the
// masked string). Without a mask every operation works on the value as plain text.
//
// Forms: 0 = normal (indexes count input positions only), 1 = masked (indexes are mask
// positions); any other form fails with E_INVALIDARG. Buffers are sized in characters, at least
// 1; copies are cut to fit and report S_FALSE when cut.
#ifndef KDTRACE_MASKEDSTRING_H
#define KDTRACE_MASKEDSTRING_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

struct IPLPropertyBag;

// clang-format off
inline constexpr GUID IID_IPLMaskedString = {0x6554C4CA, 0x7D7D, 0x4842, {0x86, 0xD0, 0x4F, 0xA7, 0x0D, 0x72, 0x6B, 0xB0}};
inline constexpr GUID IID_IPLMaskedStringPriv = {0x03D3EA6E, 0x3343, 0x4486, {0x8B, 0x7A, 0x2C, 0xF3, 0x05, 0xFA, 0x0F, 0x3B}};
inline constexpr GUID CLSID_PLMaskedString = {0xC71E7846, 0x0766, 0x4EE4, {0xBB, 0x1E, 0xD1, 0x78, 0x72, 0x2C, 0x90, 0xF0}};
// clang-format on

enum PLMaskedStringForm : LONG {
    PLMaskedFormNormal = 0,
    PLMaskedFormMasked = 1,
    PLMaskedFormNormalPartial = 2,  // SetValue only: the normal form without full-field entry
};

// Styles of SetMask's static string.
enum PLMaskStyle : LONG {
    PLMaskStylePositional = 0,  // as long as the mask, one character per position
    PLMaskStyleListed = 1,      // only the static characters, in order
};

// Shift modes of DeleteSubstring.
enum PLMaskShiftMode : LONG {
    PLMaskShiftWithinRun = 0,     // following characters move left up to the next static position
    PLMaskShiftNone = 1,          // the range is only cleared
    PLMaskShiftAcrossStatic = 2,  // following characters move left over static positions
};

// The longest value that SetAt without a mask makes by filling past the value's end.
inline constexpr LONG PLMaskedStringMaxFilledLength = 65536;

struct IPLMaskedString : IUnknown {
    // slot 3: mask and static string are kept upper-cased; the value is not changed and
    // full-field entry is turned off.
    virtual HRESULT SetMask(const WCHAR* mask, const WCHAR* staticText, LONG style) = 0;
    virtual HRESULT GetMask(WCHAR* buffer, LONG size) = 0;                                  // slot 4
    virtual HRESULT GetStatic(WCHAR* buffer, LONG size) = 0;                                // slot 5: positional
    virtual HRESULT SetFillCharacter(WCHAR fill) = 0;                                       // slot 6
    virtual HRESULT GetFillCharacter(WCHAR* fill) = 0;                                      // slot 7
    virtual HRESULT GetStringLength(LONG* length, LONG form) = 0;                           // slot 8
    virtual HRESULT GetString(WCHAR* buffer, LONG size, LONG form) = 0;                     // slot 9
    virtual HRESULT ValidateString(const WCHAR* text, BOOL* valid, LONG form) = 0;          // slot 10
    virtual HRESULT ValidateChar(LONG index, WCHAR character, BOOL* valid, LONG form) = 0;  // slot 11
    // slot 12: form 0 enforces full-field entry, form 2 does not.
    virtual HRESULT SetValue(const WCHAR* text, LONG form) = 0;
    // slot 13: positions before `index` not yet typed are filled; a static position is left
    // alone (S_FALSE). Without a mask the value is filled up to an index past its end only below
    // PLMaskedStringMaxFilledLength (one past the end is always taken), else E_INVALIDARG;
    // E_OUTOFMEMORY when the value cannot grow.
    virtual HRESULT SetAt(LONG index, WCHAR character, LONG form) = 0;
    // slot 14: later characters move right while the next input position accepts them.
    virtual HRESULT InsertAt(LONG index, WCHAR character, LONG form) = 0;
    // slot 15: `start` to `end` inclusive; `shiftMode` is a PLMaskShiftMode.
    virtual HRESULT DeleteSubstring(LONG start, LONG end, LONG form, LONG shiftMode) = 0;
    virtual HRESULT NormalIndexToMaskedIndex(LONG index, LONG* maskedIndex) = 0;  // slot 16
    virtual HRESULT MaskedIndexToNormalIndex(LONG index, LONG* normalIndex) = 0;  // slot 17
    virtual HRESULT Clear() = 0;                                                  // slot 18: empties the value
    // slot 19: "mask", "static" and "style" (all required), then "fullField" and "fillChar" when
    // present.
    virtual HRESULT SetMaskEx(IPLPropertyBag* bag) = 0;
};

struct IPLMaskedStringPriv : IPLMaskedString {
    virtual HRESULT SetFullFieldEntry(BOOL on) = 0;   // slot 20
    virtual HRESULT GetFullFieldEntry(BOOL* on) = 0;  // slot 21
};

#endif  // KDTRACE_MASKEDSTRING_H
