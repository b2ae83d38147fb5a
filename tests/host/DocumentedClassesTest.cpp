// The reference's table of classes (docs/mainpage.md) says truly which interfaces each class
// answers: every one listed, IUnknown with the first of them, and no other interface.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

#include "support/HResult.h"

namespace {

#define KD_NAMED(id) {#id, id},
// clang-format off
const std::map<std::string, GUID> kInterfaces = {
    KD_NAMED(IID_IPLComObject) KD_NAMED(IID_IPLSupportRichErrorInfo) KD_NAMED(IID_IPLEventSource)
    KD_NAMED(IID_IPLCloneable) KD_NAMED(IID_IPLErrorInfo) KD_NAMED(IID_IPLErrorItem) KD_NAMED(IID_IKDXErrorItemCore)
    KD_NAMED(IID_IPLModule) KD_NAMED(IID_IPLFactoryLoader) KD_NAMED(IID_IPLTraceModule) KD_NAMED(IID_IPLTraceContext)
    KD_NAMED(IID_IPLTraceContextPriv) KD_NAMED(IID_IPLTraceContextCollection) KD_NAMED(IID_IPLVariant)
    KD_NAMED(IID_IPLVariantPriv) KD_NAMED(IID_IPLVariantCollection) KD_NAMED(IID_IPLEnumVariant)
    KD_NAMED(IID_IPLDateTime) KD_NAMED(IID_IPLDateTimePriv) KD_NAMED(IID_IPLTimeSpan) KD_NAMED(IID_IPLCurrency)
    KD_NAMED(IID_IPLMaskedString) KD_NAMED(IID_IPLMaskedStringPriv) KD_NAMED(IID_IPLPropertyBag)
    KD_NAMED(IID_IPLPersistPropertyBag) KD_NAMED(IID_IPLSerializeXML) KD_NAMED(IID_IPLProperty)
    KD_NAMED(IID_IPLPropertyCollection) KD_NAMED(IID_IPLPropertyBagCollection) KD_NAMED(IID_IPLXMLWriter)
    KD_NAMED(IID_IPLStream) KD_NAMED(IID_IPLByteStream) KD_NAMED(IID_IPLRefFile) KD_NAMED(IID_IPLRefFilePriv)
    KD_NAMED(IID_IPLFileStreamPriv) KD_NAMED(IID_IPLPersistFile) KD_NAMED(IID_IPLPersistMemory)
    KD_NAMED(IID_IPLPersistStream) KD_NAMED(IID_IPLPageData) KD_NAMED(IID_IPLPageDataPriv)
    KD_NAMED(IID_IPLPageDataCollection)};
const std::map<std::string, GUID> kClasses = {
    KD_NAMED(CLSID_PLTraceModule) KD_NAMED(CLSID_PLTraceContext) KD_NAMED(CLSID_PLTraceContextCollection)
    KD_NAMED(CLSID_PLErrorInfo) KD_NAMED(CLSID_PLErrorItem) KD_NAMED(CLSID_KDXErrorItemCore) KD_NAMED(CLSID_PLVariant)
    KD_NAMED(CLSID_PLVariantCollection) KD_NAMED(CLSID_PLVariantCollectionEnumerator) KD_NAMED(CLSID_PLDateTime)
    KD_NAMED(CLSID_PLTimeSpan) KD_NAMED(CLSID_PLCurrency) KD_NAMED(CLSID_PLMaskedString) KD_NAMED(CLSID_PLPropertyBag)
    KD_NAMED(CLSID_PLProperty) KD_NAMED(CLSID_PLPropertyCollection) KD_NAMED(CLSID_PLPropertyBagCollection)
    KD_NAMED(CLSID_PLXMLWriter) KD_NAMED(CLSID_PLByteStream) KD_NAMED(CLSID_PLFileStream) KD_NAMED(CLSID_PLRefFile)
    KD_NAMED(CLSID_PLPageData) KD_NAMED(CLSID_PLPageDataCollection)};
// clang-format on
#undef KD_NAMED

TEST(DocumentedClassesTest, EachClassAnswersWhatTheTableSays) {
    kdtrace::host::Module module;
    ASSERT_TRUE(module.Load(KDTRACE_MODULE_PATH)) << module.Error();
    std::ifstream table(KDTRACE_SOURCE_DIR "/docs/mainpage.md");
    // A class's row: its identifier, then its interfaces, the first of them taken apart.
    const std::regex row(R"(^\| (CLSID_\w+)[^|]*\| (I\w+)([^|(]*))");
    std::set<std::string> seen;
    for (std::string line; std::getline(table, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, row)) continue;
        const std::string clsid = m[1];
        SCOPED_TRACE(clsid);
        ASSERT_EQ(kClasses.count(clsid), 1u);
        seen.insert(clsid);
        std::set<std::string> listed = {"IID_IPLComObject", "IID_IPLSupportRichErrorInfo"};
        const std::string first = "IID_" + m.str(2), names = m.str(2) + m.str(3);
        static const std::regex kInterfaceName(R"(I\w+)");
        for (std::sregex_iterator i(names.begin(), names.end(), kInterfaceName), end; i != end; ++i)
            listed.insert("IID_" + i->str());
        kdtrace::host::ComPtr<IUnknown> object;
        ASSERT_HR(module.PLCreateInstance(kClasses.at(clsid), IID_IUnknown, object.PutVoid()), S_OK);
        for (const auto& [name, iid] : kInterfaces) {
            void* answered = nullptr;
            const HRESULT hr = object->QueryInterface(iid, &answered);
            EXPECT_EQ(SUCCEEDED(hr), listed.count(name) == 1) << name;
            if (FAILED(hr)) continue;
            EXPECT_TRUE(name != first || answered == static_cast<void*>(object.Get())) << name << " is not the object";
            static_cast<IUnknown*>(answered)->Release();
        }
    }
    EXPECT_EQ(seen.size(), kClasses.size()) << "a class the table leaves out";
}

}  // namespace
