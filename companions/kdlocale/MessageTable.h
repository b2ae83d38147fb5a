// The compiled message table of the language companion (generated from messages.txt).
#ifndef KDLOCALE_MESSAGE_TABLE_H
#define KDLOCALE_MESSAGE_TABLE_H

#include <cstddef>
#include <cstdint>

namespace kdlocale {

struct MessageText {
    std::uint32_t id;
    std::uint32_t language;  // a language identifier, e.g. 0x0409
    const char16_t* text;    // with its inserts; ends in CR LF unless the source ended it with %0
};

// Ordered by identifier, then language.
extern const MessageText kMessageTexts[];
extern const std::size_t kMessageTextCount;

}  // namespace kdlocale

#endif  // KDLOCALE_MESSAGE_TABLE_H
