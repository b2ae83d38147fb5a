#include <gtest/gtest.h>

#include <string>

#include "module_base/PLFileFilter.h"
#include "support/HResult.h"

namespace {

TEST(PLFileFilter, MapsMimeTypesIgnoringCaseAndFallsBackToAllFiles) {
    const struct {
        const char16_t *mimeType, *filter, *extension;
    } cases[] = {
        {u"IMAGE/PNG", u"PNG Files (*.png)", u"png"},
        {u"image/pngx", u"All Files (*.*)", u""},
        {u"", u"All Files (*.*)", u""},
    };
    for (const auto& c : cases) {
        PLFileFilterEntry entry{nullptr, nullptr};
        EXPECT_HR(GetFileFilterForMimeType(0, c.mimeType, &entry), S_OK);
        EXPECT_EQ(std::u16string(entry.filter), c.filter);
        EXPECT_EQ(std::u16string(entry.extension), c.extension);
    }
    PLFileFilterEntry entry{};
    EXPECT_HR(GetFileFilterForMimeType(1, u"text/plain", &entry), E_INVALIDARG);
}

}  // namespace
