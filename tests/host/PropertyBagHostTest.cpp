// A host built without type information (this file is compiled with -fno-rtti) hands its own
// variants and bags to the module, which knows them only by their slots.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include <kdtrace/kdtrace.h>

#include "support/HostModule.h"

namespace {

// The module's object `m`, behind the host's own table: answers IUnknown and `Interface` itself
// (nothing else: not the identifiers `m` answers), and is deleted at count zero.
template <class Interface>
class HostObject : public Interface {
public:
    HostObject(const IID& iid, Interface* inner) : m_iid(iid), m(inner) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown && iid != m_iid) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~HostObject() { m->Release(); }
    const IID& m_iid;
    Interface* m;
    std::atomic<ULONG> m_refs{1};
};

class HostVariant : public HostObject<IPLVariant> {
public:
    explicit HostVariant(IPLVariant* inner) : HostObject(IID_IPLVariant, inner) {}
    HRESULT SetValueString(const WCHAR* t) override { return m->SetValueString(t); }
    HRESULT GetValueString(WCHAR* b, LONG n) override { return m->GetValueString(b, n); }
    HRESULT GetValueStringLength(LONG* n) override { return m->GetValueStringLength(n); }
    HRESULT AllocSysString(BSTR* t) override { return m->AllocSysString(t); }
    HRESULT SetValueLong(LONG x) override { return m->SetValueLong(x); }
    HRESULT GetValueLong(LONG* x) override { return m->GetValueLong(x); }
    HRESULT SetValueLongLong(LONGLONG x) override { return m->SetValueLongLong(x); }
    HRESULT GetValueLongLong(LONGLONG* x) override { return m->GetValueLongLong(x); }
    HRESULT SetValueDouble(double x) override { return m->SetValueDouble(x); }
    HRESULT GetValueDouble(double* x) override { return m->GetValueDouble(x); }
    HRESULT SetValueBoolean(bool x) override { return m->SetValueBoolean(x); }
    HRESULT GetValueBoolean(bool* x) override { return m->GetValueBoolean(x); }
    HRESULT SetValueVariant(IPLVariant* x) override { return m->SetValueVariant(x); }
    HRESULT GetValueVariant(IPLVariant** x) override { return m->GetValueVariant(x); }
    HRESULT SetValueDateTime(IPLDateTime* d) override { return m->SetValueDateTime(d); }
    HRESULT SetValueDateTimeOfDay(IPLDateTime* d) override { return m->SetValueDateTimeOfDay(d); }
    HRESULT GetValueDateTime(IPLDateTime** d) override { return m->GetValueDateTime(d); }
    HRESULT GetValueDateTimeOfDay(IPLDateTime** d) override { return m->GetValueDateTimeOfDay(d); }
    HRESULT SetDateTimeFormatString(const WCHAR* k) override { return m->SetDateTimeFormatString(k); }
    HRESULT GetDateTimeFormatString(WCHAR* b, LONG n) override { return m->GetDateTimeFormatString(b, n); }
    HRESULT SetValueIUnknown(IUnknown* o) override { return m->SetValueIUnknown(o); }
    HRESULT GetValueIUnknown(IUnknown** o) override { return m->GetValueIUnknown(o); }
    HRESULT SetValueCollection(IPLVariantCollection* c) override { return m->SetValueCollection(c); }
    HRESULT GetValueCollection(IPLVariantCollection** c) override { return m->GetValueCollection(c); }
    HRESULT GetType(LONG* t) override { return m->GetType(t); }
    HRESULT CompareEx(IPLVariant* o, bool i, LONG* r) override { return m->CompareEx(o, i, r); }
    HRESULT Convert(LONG t) override { return m->Convert(t); }
    HRESULT SetEmpty() override { return m->SetEmpty(); }
};

class HostBag : public HostObject<IPLPropertyBag> {
public:
    explicit HostBag(IPLPropertyBag* inner) : HostObject(IID_IPLPropertyBag, inner) {}
    HRESULT SetProperty(const WCHAR* n, IPLVariant* x) override { return m->SetProperty(n, x); }
    HRESULT GetProperty(const WCHAR* n, IPLVariant** x) override { return m->GetProperty(n, x); }
    HRESULT GetProperties(IPLPropertyCollection** c) override { return m->GetProperties(c); }
    HRESULT ContainsKey(const WCHAR* n, BOOL* c) override { return m->ContainsKey(n, c); }
    HRESULT DeleteProperty(const WCHAR* n) override { return m->DeleteProperty(n); }
};

class PropertyBagHostTest : public kdtest::HostModuleTest {
protected:
    template <class Function>
    Function Export(const char* name) {
        return reinterpret_cast<Function>(::dlsym(api.handle, name));
    }
};

// The module copies a host's variant into its bag and writes a host's bag as XML through their
// slots (it once asked the compiler's type information, which such objects do not have).
TEST_F(PropertyBagHostTest, HostObjectsWithoutTypeInformationAreUsedThroughTheirSlots) {
    const auto createBag = Export<PFN_PLCreatePropertyBag>("PLCreatePropertyBag");
    const auto toXML = Export<PFN_CreateXMLFromPropertyBag>("CreateXMLFromPropertyBag");
    IPLPropertyBag* inner = nullptr;
    ASSERT_HR(createBag(&inner), S_OK);
    IPLPropertyBag* bag = new HostBag(inner);
    for (const auto& [name, text] : {std::pair{u"Title", u"a<b"}, std::pair{u"Size", u"5"}}) {
        IPLVariant* value = new HostVariant(Create<IPLVariant>(CLSID_PLVariant, IID_IPLVariant));
        ASSERT_HR(value->SetValueString(text), S_OK);
        EXPECT_HR(bag->SetProperty(name, value), S_OK);
        value->Release();
    }
    IPLVariant* xml = nullptr;
    ASSERT_HR(toXML(bag, &xml, u"Root"), S_OK);
    WCHAR text[256] = {};
    EXPECT_HR(xml->GetValueString(text, 256), S_OK);
    EXPECT_EQ(std::u16string(text),
              u"<Root><PROPERTY DATATYPE=\"String\" NAME=\"Size\">5</PROPERTY>"
              u"<PROPERTY DATATYPE=\"String\" NAME=\"Title\">a&lt;b</PROPERTY></Root>");
    xml->Release();
    EXPECT_EQ(bag->Release(), 0u);
}

}  // namespace
