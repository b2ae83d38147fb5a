/// \file
/// Masked strings: the value behind an input field with an edit mask (a telephone number, an
/// account number with fixed dashes). The mask says, position by position, what may be typed
/// there and where fixed ("static") characters stand:
///
/// | mask | accepts |
/// |------|---------|
/// | 0 | a decimal digit or a blank |
/// | 9 | a decimal digit, "-", ".", "*", "+" or a blank |
/// | A | a letter or a blank |
/// | S | the static string's character at that position |
/// | X | any character |
///
/// The object keeps only what was typed into the input positions (the normal string) and
/// renders the full text with the static characters and a fill character for positions not yet
/// typed (the masked string): mask "000S000S0000" with static "   -   -    " turns the normal
/// string "5551234567" into "555-123-4567". Without a mask every operation works on the value as
/// plain text.
///
/// Forms: 0 = normal (indexes count input positions only), 1 = masked (indexes are mask
/// positions); any other form fails with E_INVALIDARG. Buffers are sized in characters, at least
/// 1; copies are cut to fit and report S_FALSE when cut.
#ifndef KDTRACE_MASKEDSTRING_H
#define KDTRACE_MASKEDSTRING_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

struct IPLPropertyBag;

// clang-format off
/// Identifier of IPLMaskedString.
inline constexpr GUID IID_IPLMaskedString = {0x6554C4CA, 0x7D7D, 0x4842, {0x86, 0xD0, 0x4F, 0xA7, 0x0D, 0x72, 0x6B, 0xB0}};
/// Identifier of IPLMaskedStringPriv.
inline constexpr GUID IID_IPLMaskedStringPriv = {0x03D3EA6E, 0x3343, 0x4486, {0x8B, 0x7A, 0x2C, 0xF3, 0x05, 0xFA, 0x0F, 0x3B}};
/// Class of a masked string (IPLMaskedString, IPLMaskedStringPriv, IPLCloneable).
inline constexpr GUID CLSID_PLMaskedString = {0xC71E7846, 0x0766, 0x4EE4, {0xBB, 0x1E, 0xD1, 0x78, 0x72, 0x2C, 0x90, 0xF0}};
// clang-format on

/// Forms of indexes and texts.
enum PLMaskedStringForm : LONG {
    PLMaskedFormNormal = 0,         ///< the typed characters only
    PLMaskedFormMasked = 1,         ///< the full text, static characters included
    PLMaskedFormNormalPartial = 2,  ///< SetValue only: the normal form without full-field entry
};

/// Styles of SetMask's static string.
enum PLMaskStyle : LONG {
    PLMaskStylePositional = 0,  ///< as long as the mask, one character per position
    PLMaskStyleListed = 1,      ///< only the static characters, in order
};

/// Shift modes of DeleteSubstring.
enum PLMaskShiftMode : LONG {
    PLMaskShiftWithinRun = 0,     ///< following characters move left up to the next static position
    PLMaskShiftNone = 1,          ///< the range is only cleared
    PLMaskShiftAcrossStatic = 2,  ///< following characters move left over static positions
};

/// The longest value that SetAt without a mask makes by filling past the value's end.
inline constexpr LONG PLMaskedStringMaxFilledLength = 65536;

/// An input field's value under an edit mask (CLSID_PLMaskedString). Failures are E_FAIL with the
/// reason in the thread's error list unless stated; a null pointer gives E_POINTER, a bad form
/// E_INVALIDARG. A failed setter leaves the value unchanged.
struct IPLMaskedString : IUnknown {
    /// Slot 3: sets the mask; mask and static string are kept upper-cased. The value is not
    /// changed and full-field entry is turned off.
    /// \param mask        the mask (0, 9, A, S, X per position)
    /// \param staticText  the static characters, by `style`
    /// \param style       a PLMaskStyle
    /// \return S_OK; E_FAIL when a positional static string is not as long as the mask, or a
    ///         listed one has too few characters; E_INVALIDARG for a null `staticText` or an
    ///         unknown style; E_POINTER for a null `mask`.
    virtual HRESULT SetMask(const WCHAR* mask, const WCHAR* staticText, LONG style) = 0;
    /// Slot 4: the mask.
    /// \param buffer  receives it
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetMask(WCHAR* buffer, LONG size) = 0;
    /// Slot 5: the static string, in positional form.
    /// \param buffer  receives it
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetStatic(WCHAR* buffer, LONG size) = 0;
    /// Slot 6: sets the fill character shown in input positions not yet typed (a blank where a
    /// position does not accept it).
    /// \param fill  the character (initially a blank)
    /// \return S_OK.
    virtual HRESULT SetFillCharacter(WCHAR fill) = 0;
    /// Slot 7: the fill character.
    /// \param fill  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetFillCharacter(WCHAR* fill) = 0;
    /// Slot 8: the length of the normal string, or of the masked string (the mask's length).
    /// \param length  receives it
    /// \param form    a PLMaskedStringForm (0 or 1)
    /// \return S_OK; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetStringLength(LONG* length, LONG form) = 0;
    /// Slot 9: the normal or the masked string.
    /// \param buffer  receives it
    /// \param size    the buffer's size in characters
    /// \param form    a PLMaskedStringForm (0 or 1)
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetString(WCHAR* buffer, LONG size, LONG form) = 0;
    /// Slot 10: whether a text would be accepted as the value in a form.
    /// \param text   the text
    /// \param valid  receives it
    /// \param form   a PLMaskedStringForm (0 or 1)
    /// \return S_OK; E_FAIL for a mask character that is none of 0, 9, A, S, X; E_POINTER;
    ///         E_INVALIDARG.
    virtual HRESULT ValidateString(const WCHAR* text, BOOL* valid, LONG form) = 0;
    /// Slot 11: whether a character would be accepted at an index.
    /// \param index      the index, in the form's counting
    /// \param character  the character
    /// \param valid      receives it (false beyond the last position)
    /// \param form       a PLMaskedStringForm (0 or 1)
    /// \return S_OK; E_FAIL for a bad mask character; E_POINTER; E_INVALIDARG.
    virtual HRESULT ValidateChar(LONG index, WCHAR character, BOOL* valid, LONG form) = 0;
    /// Slot 12: sets the value; every character is validated at its position.
    /// \param text  the text: typed characters only (form 0 and 2) or the full text with the
    ///              static characters (form 1)
    /// \param form  a PLMaskedStringForm: 0 and 1 enforce full-field entry when it is on, 2
    ///              does not
    /// \return S_OK; E_FAIL for a character a position refuses ("Invalid character '%c' at
    ///         index %li") or, with full-field entry, a short text ("Full field has not been
    ///         entered"); E_POINTER; E_INVALIDARG.
    virtual HRESULT SetValue(const WCHAR* text, LONG form) = 0;
    /// Slot 13: sets the character at an index; input positions before it not yet typed are
    /// filled. The character is not validated. Without a mask the value is filled up to an index
    /// past its end only below PLMaskedStringMaxFilledLength (one past the end is always taken).
    /// \param index      the index, in the form's counting
    /// \param character  the character
    /// \param form       a PLMaskedStringForm (0 or 1)
    /// \return S_OK; S_FALSE at a static position (nothing changes); E_FAIL for an index
    ///         beyond the mask ("Invalid index"); E_INVALIDARG for a bad form or, without a mask,
    ///         an index too far past the end; E_OUTOFMEMORY when the value cannot grow.
    virtual HRESULT SetAt(LONG index, WCHAR character, LONG form) = 0;
    /// Slot 14: inserts a character at an index; later characters move right while the next
    /// input position accepts them.
    /// \param index      the index, in the form's counting
    /// \param character  the character
    /// \param form       a PLMaskedStringForm (0 or 1)
    /// \return S_OK; E_INVALIDARG for an index outside the mask or a bad form; E_FAIL when the
    ///         result is refused.
    virtual HRESULT InsertAt(LONG index, WCHAR character, LONG form) = 0;
    /// Slot 15: deletes the characters from `start` to `end` inclusive.
    /// \param start      the first index, in the form's counting
    /// \param end        the last index
    /// \param form       a PLMaskedStringForm (0 or 1)
    /// \param shiftMode  a PLMaskShiftMode: how the following characters move into the gap
    /// \return S_OK; E_FAIL for an index out of range ("Invalid start index", "Invalid end
    ///         index"); E_INVALIDARG.
    virtual HRESULT DeleteSubstring(LONG start, LONG end, LONG form, LONG shiftMode) = 0;
    /// Slot 16: the mask position of the n-th input position (the mask's length for one past
    /// the last).
    /// \param index        the normal index
    /// \param maskedIndex  receives the masked index
    /// \return S_OK; E_FAIL for an index beyond that ("Invalid index"); E_POINTER.
    virtual HRESULT NormalIndexToMaskedIndex(LONG index, LONG* maskedIndex) = 0;
    /// Slot 17: the number of input positions before a mask position (a static position counts
    /// as the next input position).
    /// \param index        the masked index
    /// \param normalIndex  receives the normal index
    /// \return S_OK; E_FAIL for an index at or beyond the mask's end, or a static position with
    ///         no input position after it; E_POINTER.
    virtual HRESULT MaskedIndexToNormalIndex(LONG index, LONG* normalIndex) = 0;
    /// Slot 18: empties the value.
    /// \return S_OK.
    virtual HRESULT Clear() = 0;
    /// Slot 19: sets the mask from a property bag: "mask", "static" and "style" (all required),
    /// then "fullField" (Boolean) and "fillChar" (Long) when present.
    /// \param bag  the settings
    /// \return the result of the last read: S_OK; E_FAIL when a required entry is missing or
    ///         SetMask refuses it; E_POINTER.
    virtual HRESULT SetMaskEx(IPLPropertyBag* bag) = 0;
};

/// The library's own view of a masked string: full-field entry.
struct IPLMaskedStringPriv : IPLMaskedString {
    /// Slot 20: turns full-field entry on or off: while on, SetValue in forms 0 and 1 accepts
    /// only a text that fills every input position (SetMask turns it off).
    /// \param on  nonzero for on
    /// \return S_OK.
    virtual HRESULT SetFullFieldEntry(BOOL on) = 0;
    /// Slot 21: whether full-field entry is on.
    /// \param on  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetFullFieldEntry(BOOL* on) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_MASKEDSTRING_H
