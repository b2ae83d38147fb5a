// A host built without type information (this file is compiled with -fno-rtti) hands its own
// variants and bags to the module, which knows them only by their slots.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include <kdtrace/kdtrace.h>

#include "support/HostModule.h"

namespace {

// Answers IUnknown and `Interface` itself (nothing else: not the wrapped object's identifiers),
// and is deleted at count zero.
template <class Interface>
class HostObject : public Interface {
public:
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
    HostObject(const IID& iid, IUnknown* inner) : m_iid(iid), m_inner(inner) {}
    virtual ~HostObject() { m_inner->Release(); }
    const IID& m_iid;
    IUnknown* m_inner;  // the module's object that does the work

private:
    std::atomic<ULONG> m_refs{1};
};

// A host's variant: one of the module's, behind the host's own table.
class HostVariant : public HostObject<IPLVariant> {
public:
    explicit HostVariant(IPLVariant* inner) : HostObject(IID_IPLVariant, inner), v(inner) {}
    HRESULT SetValueString(const WCHAR* t) override { return v->SetValueString(t); }
    HRESULT GetValueString(WCHAR* b, LONG n) override { return v->GetValueString(b, n); }
    HRESULT GetValueStringLength(LONG* n) override { return v->GetValueStringLength(n); }
    HRESULT AllocSysString(BSTR* t) override { return v->AllocSysString(t); }
    HRESULT SetValueLong(LONG x) override { return v->SetValueLong(x); }
    HRESULT GetValueLong(LONG* x) override { return v->GetValueLong(x); }
    HRESULT SetValueLongLong(LONGLONG x) override { return v->SetValueLongLong(x); }
    HRESULT GetValueLongLong(LONGLONG* x) override { return v->GetValueLongLong(x); }
    HRESULT SetValueDouble(double x) override { return v->SetValueDouble(x); }
    HRESULT GetValueDouble(double* x) override { return v->GetValueDouble(x); }
    HRESULT SetValueBoolean(bool x) override { return v->SetValueBoolean(x); }
    HRESULT GetValueBoolean(bool* x) override { return v->GetValueBoolean(x); }
    HRESULT SetValueVariant(IPLVariant* x) override { return v->SetValueVariant(x); }
    HRESULT GetValueVariant(IPLVariant** x) override { return v->GetValueVariant(x); }
    HRESULT SetValueDateTime(IPLDateTime* d) override { return v->SetValueDateTime(d); }
    HRESULT SetValueDateTimeOfDay(IPLDateTime* d) override { return v->SetValueDateTimeOfDay(d); }
    HRESULT GetValueDateTime(IPLDateTime** d) override { return v->GetValueDateTime(d); }
    HRESULT GetValueDateTimeOfDay(IPLDateTime** d) override { return v->GetValueDateTimeOfDay(d); }
    HRESULT SetDateTimeFormatString(const WCHAR* m) override { return v->SetDateTimeFormatString(m); }
    HRESULT GetDateTimeFormatString(WCHAR* b, LONG n) override { return v->GetDateTimeFormatString(b, n); }
    HRESULT SetValueIUnknown(IUnknown* o) override { return v->SetValueIUnknown(o); }
    HRESULT GetValueIUnknown(IUnknown** o) override { return v->GetValueIUnknown(o); }
    HRESULT SetValueCollection(IPLVariantCollection* c) override { return v->SetValueCollection(c); }
    HRESULT GetValueCollection(IPLVariantCollection** c) override { return v->GetValueCollection(c); }
    HRESULT GetType(LONG* t) override { return v->GetType(t); }
    HRESULT CompareEx(IPLVariant* o, bool i, LONG* r) override { return v->CompareEx(o, i, r); }
    HRESULT Convert(LONG t) override { return v->Convert(t); }
    HRESULT SetEmpty() override { return v->SetEmpty(); }

private:
    IPLVariant* v;
};

// A host's bag: one of the module's, behind the host's own table.
class HostBag : public HostObject<IPLPropertyBag> {
public:
    explicit HostBag(IPLPropertyBag* inner) : HostObject(IID_IPLPropertyBag, inner), b(inner) {}
    HRESULT SetProperty(const WCHAR* n, IPLVariant* x) override { return b->SetProperty(n, x); }
    HRESULT GetProperty(const WCHAR* n, IPLVariant** x) override { return b->GetProperty(n, x); }
    HRESULT GetProperties(IPLPropertyCollection** c) override { return b->GetProperties(c); }
    HRESULT ContainsKey(const WCHAR* n, BOOL* c) override { return b->ContainsKey(n, c); }
    HRESULT DeleteProperty(const WCHAR* n) override { return b->DeleteProperty(n); }

private:
    IPLPropertyBag* b;
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
