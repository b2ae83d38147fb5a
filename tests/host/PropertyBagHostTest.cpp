// A host built without type information (this file is compiled with -fno-rtti) hands its own
// variants and bags to the module, which knows them only by their slots.
#include <gtest/gtest.h>

#include <string>

#include <kdtrace/kdtrace.h>

#include "support/ForwardingVariant.h"
#include "support/HostModule.h"

namespace {

// The module's object `m`, behind the host's own table: answers IUnknown and `Interface` itself
// (nothing else: not the identifiers `m` answers), and is deleted at count zero.
template <class Interface>
struct HostObject : kdhost::HostObject<Interface> {
    HostObject(const IID& iid, Interface* inner) : m_iid(iid), m(inner) {}

protected:
    ~HostObject() override { m->Release(); }
    const IID& InterfaceId() const override { return m_iid; }
    const IID& m_iid;
    Interface* m;
};

using HostVariant = kdtest::ForwardingVariant<HostObject<IPLVariant>>;

struct HostBag : HostObject<IPLPropertyBag> {
    explicit HostBag(IPLPropertyBag* inner) : HostObject(IID_IPLPropertyBag, inner) {}
    HRESULT SetProperty(const WCHAR* n, IPLVariant* x) override { return m->SetProperty(n, x); }
    HRESULT GetProperty(const WCHAR* n, IPLVariant** x) override { return m->GetProperty(n, x); }
    HRESULT GetProperties(IPLPropertyCollection** c) override { return m->GetProperties(c); }
    HRESULT ContainsKey(const WCHAR* n, BOOL* c) override { return m->ContainsKey(n, c); }
    HRESULT DeleteProperty(const WCHAR* n) override { return m->DeleteProperty(n); }
};

using PropertyBagHostTest = kdtest::HostModuleTest;

// The module copies a host's variant into its bag and writes a host's bag as XML through their
// slots (it once asked the compiler's type information, which such objects do not have); the
// exported writer's text reads back through the exported reader.
TEST_F(PropertyBagHostTest, HostObjectsWithoutTypeInformationAreUsedThroughTheirSlots) {
    IPLPropertyBag* inner = nullptr;
    ASSERT_HR(Export<PFN_PLCreatePropertyBag>("PLCreatePropertyBag")(&inner), S_OK);
    IPLPropertyBag* bag = new HostBag(inner);
    for (const auto& [name, text] : {std::pair{u"Title", u"a<b"}, std::pair{u"Size", u"5"}}) {
        IPLVariant* value = new HostVariant(IID_IPLVariant, Create<IPLVariant>(CLSID_PLVariant, IID_IPLVariant));
        ASSERT_HR(value->SetValueString(text), S_OK);
        EXPECT_HR(bag->SetProperty(name, value), S_OK);
        value->Release();
    }
    IPLVariant* xml = nullptr;
    ASSERT_HR(Export<PFN_CreateXMLFromPropertyBag>("CreateXMLFromPropertyBag")(bag, &xml, u"Root"), S_OK);
    WCHAR text[256] = {};
    EXPECT_HR(xml->GetValueString(text, 256), S_OK);
    EXPECT_EQ(std::u16string(text),
              u"<Root><PROPERTY DATATYPE=\"String\" NAME=\"Size\">5</PROPERTY>"
              u"<PROPERTY DATATYPE=\"String\" NAME=\"Title\">a&lt;b</PROPERTY></Root>");
    xml->Release();
    // The exported reader reads it back (names in any case).
    IPLPropertyBag* back = nullptr;
    IPLVariant* size = nullptr;
    ASSERT_HR(Export<PFN_RestorePropertyBagFromXML>("RestorePropertyBagFromXML")(text, &back), S_OK);
    ASSERT_HR(back->GetProperty(u"size", &size), S_OK);
    EXPECT_HR(size->GetValueString(text, 256), S_OK);
    EXPECT_EQ(std::u16string(text), u"5");
    size->Release();
    EXPECT_EQ(std::pair(back->Release(), bag->Release()), std::pair(0u, 0u));  // the last references
}

}  // namespace
