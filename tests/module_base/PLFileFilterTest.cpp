#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "module_base/PLFileFilter.h"
#include "support/HResult.h"

namespace {

TEST(PLFileFilter, MapsMimeTypesIgnoringCaseAndFallsBackToAllFiles) {
    // MIME type, filter, extension.
    const std::tuple<const char16_t*, std::u16string, std::u16string> cases[] = {
        {u"IMAGE/PNG", u"PNG Files (*.png)", u"png"},
        {u"image/pngx", u"All Files (*.*)", u""},
        {u"", u"All Files (*.*)", u""}};
    for (const auto& [mimeType, filter, extension] : cases) {
        PLFileFilterEntry entry{nullptr, nullptr};
        EXPECT_HR(GetFileFilterForMimeType(0, mimeType, &entry), S_OK);
        EXPECT_EQ(std::pair(std::u16string(entry.filter), std::u16string(entry.extension)),
                  std::pair(filter, extension));
    }
    PLFileFilterEntry entry{};
    EXPECT_HR(GetFileFilterForMimeType(1, u"text/plain", &entry), E_INVALIDARG);
}

}  // namespace
