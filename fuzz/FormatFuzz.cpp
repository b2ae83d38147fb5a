// The printf-dialect formatter over outside format strings: the first bytes pick argument
// kinds, the rest is the (UTF-8) format.
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/FuzzThread.h"
#include "platform/Format.h"

KD_FUZZ_TARGET(data, size) {
    using kd::platform::FormatArg;
    std::vector<FormatArg> args;
    std::size_t i = 0;
    for (; i < size && i < 6; ++i) {
        switch (data[i] % 6) {
            case 0:
                args.emplace_back(static_cast<int32_t>(-12345));
                break;
            case 1:
                args.emplace_back(static_cast<uint64_t>(0xFFFFFFFFFFFFull));
                break;
            case 2:
                args.emplace_back(3.25);
                break;
            case 3:
                args.emplace_back(u"wide");
                break;
            case 4:
                args.emplace_back("narrow");
                break;
            default:
                args.emplace_back(static_cast<const void*>(data));
                break;
        }
    }
    const std::string_view format(reinterpret_cast<const char*>(data) + i, size - i);
    std::u16string out;
    kd::platform::FormatAppend(out, format, args);
    return 0;
}
