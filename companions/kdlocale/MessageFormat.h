// Looking up and formatting the texts of the message table.
#ifndef KDLOCALE_MESSAGE_FORMAT_H
#define KDLOCALE_MESSAGE_FORMAT_H

#include <cstddef>
#include <string>
#include <string_view>

#include <kdtrace/msgtable.h>

#include "companions/kdlocale/MessageTable.h"

namespace kdlocale {

// The text of `id` in `language` (exact identifier first, then the primary language; 0 means
// English) among `table`. Null with PL_E_MESSAGE_NOT_FOUND or PL_E_LANGUAGE_NOT_FOUND in
// `failure` when there is none.
const MessageText* FindText(const MessageText* table, std::size_t count, std::uint32_t id, std::uint32_t language,
                            HRESULT& failure) noexcept;

// Expands the inserts and escapes of a text (see kdtrace/msgtable.h) into `out`. E_INVALIDARG
// for an insert whose argument is missing or whose conversion is malformed.
HRESULT ExpandInserts(std::u16string_view text, const PLMessageArgument* arguments, std::size_t count,
                      std::u16string& out);

}  // namespace kdlocale

#endif  // KDLOCALE_MESSAGE_FORMAT_H
