// A small stand-in for the variant, registered under CLSID_PLVariant where the library has none
// of its own: scalar kinds and IUnknown, copies through SetValueVariant (an Undefined source
// fails), and their text forms.
#ifndef KDTRACE_TESTS_FAKE_VARIANT_H
#define KDTRACE_TESTS_FAKE_VARIANT_H

#include <atomic>
#include <string>

#include <kdtrace/kdtrace.h>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLComObject.h"
#include "module_base/PLError.h"

namespace kdtest {

class FakeVariant : public CPLComObject<CPLReleaseModel>, public IPLVariant {
    PL_BEGIN_INTERFACE_MAP(FakeVariant, IPLVariant)
    PL_INTERFACE_ENTRY(IPLVariant)
    PL_END_INTERFACE_MAP()

public:
    HRESULT SetValueString(const WCHAR* text) override { return Set(PLVariantString, text ? text : u"", 0, 0); }
    HRESULT GetValueString(WCHAR* buffer, LONG size) override {
        std::u16string text;
        switch (m_type) {
            case PLVariantString:
                text = m_text;
                break;
            case PLVariantLong:
            case PLVariantLongLong:
                text = Widen(std::to_string(m_long));
                break;
            case PLVariantBoolean:
                text = m_long ? u"true" : u"false";
                break;
            case PLVariantDouble:
                text = Widen(std::to_string(m_double));
                break;
            case PLVariantEmpty:
                break;
            default:
                return E_FAIL;
        }
        if (static_cast<LONG>(text.size()) + 1 > size) return E_FAIL;
        text.copy(buffer, text.size());
        buffer[text.size()] = 0;
        return S_OK;
    }
    HRESULT GetValueStringLength(LONG* length) override {
        WCHAR buffer[256];
        if (m_type == PLVariantString) return *length = static_cast<LONG>(m_text.size()) + 1, S_OK;
        const HRESULT hr = GetValueString(buffer, 256);
        if (hr >= 0) *length = static_cast<LONG>(std::u16string(buffer).size()) + 1;
        return hr;
    }
    HRESULT AllocSysString(BSTR*) override { return E_NOTIMPL; }
    HRESULT SetValueLong(LONG v) override { return Set(PLVariantLong, u"", v, 0); }
    HRESULT GetValueLong(LONG* v) override {
        if (m_type != PLVariantLong && m_type != PLVariantLongLong) return E_FAIL;
        *v = static_cast<LONG>(m_long);
        return S_OK;
    }
    HRESULT SetValueLongLong(LONGLONG v) override { return Set(PLVariantLongLong, u"", v, 0); }
    HRESULT GetValueLongLong(LONGLONG* v) override {
        if (m_type != PLVariantLong && m_type != PLVariantLongLong) return E_FAIL;
        *v = m_long;
        return S_OK;
    }
    HRESULT SetValueDouble(double v) override { return Set(PLVariantDouble, u"", 0, v); }
    HRESULT GetValueDouble(double* v) override {
        if (m_type != PLVariantDouble) return E_FAIL;
        *v = m_double;
        return S_OK;
    }
    HRESULT SetValueBoolean(bool v) override { return Set(PLVariantBoolean, u"", v ? 1 : 0, 0); }
    HRESULT GetValueBoolean(bool* v) override {
        if (m_type != PLVariantBoolean) return E_FAIL;
        *v = m_long != 0;
        return S_OK;
    }
    HRESULT SetValueVariant(IPLVariant* source) override {
        if (source == nullptr) return E_POINTER;
        auto* other = static_cast<FakeVariant*>(source);
        if (other->m_type == PLVariantUndefined) {
            PLRecordErrorMessage("Core", "CPLVariant", "CPLVariant::SetValueVariant", E_FAIL, 0,
                                 u"Source variant is of undefined type", 1);
            return E_FAIL;
        }
        m_type = other->m_type;
        m_text = other->m_text;
        m_long = other->m_long;
        m_double = other->m_double;
        m_object = other->m_object;
        return S_OK;
    }
    HRESULT GetValueVariant(IPLVariant**) override { return E_NOTIMPL; }
    HRESULT SetValueDateTime(IPLDateTime*) override { return E_NOTIMPL; }
    HRESULT SetValueDateTimeOfDay(IPLDateTime*) override { return E_NOTIMPL; }
    HRESULT GetValueDateTime(IPLDateTime**) override { return E_NOTIMPL; }
    HRESULT GetValueDateTimeOfDay(IPLDateTime**) override { return E_NOTIMPL; }
    HRESULT SetDateTimeFormatString(const WCHAR*) override { return E_NOTIMPL; }
    HRESULT GetDateTimeFormatString(WCHAR*, LONG) override { return E_NOTIMPL; }
    HRESULT SetValueIUnknown(IUnknown* object) override {
        if (object == nullptr) return E_POINTER;
        Set(PLVariantIUnknown, u"", 0, 0);
        m_object = PLComPtr<IUnknown>(object);
        return S_OK;
    }
    HRESULT GetValueIUnknown(IUnknown** object) override {
        if (m_type != PLVariantIUnknown) return E_FAIL;
        return m_object.CopyTo(object);
    }
    HRESULT SetValueCollection(IPLVariantCollection*) override { return E_NOTIMPL; }
    HRESULT GetValueCollection(IPLVariantCollection**) override { return E_NOTIMPL; }
    HRESULT GetType(LONG* type) override {
        *type = m_type;
        return S_OK;
    }
    HRESULT CompareEx(IPLVariant*, bool, LONG*) override { return E_NOTIMPL; }
    HRESULT Convert(LONG) override { return E_NOTIMPL; }
    HRESULT SetEmpty() override { return Set(PLVariantEmpty, u"", 0, 0); }

protected:
    ~FakeVariant() override = default;

private:
    static std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }
    HRESULT Set(LONG type, const WCHAR* text, LONGLONG number, double real) {
        m_type = type;
        m_text = text;
        m_long = number;
        m_double = real;
        m_object = nullptr;
        return S_OK;
    }
    LONG m_type = PLVariantUndefined;
    std::u16string m_text;
    LONGLONG m_long = 0;
    double m_double = 0;
    PLComPtr<IUnknown> m_object;
};

inline const CLSID& FakeVariant::PLClassID() noexcept {
    return GUID_NULL;
}

// Registers the stand-in unless the library has a variant of its own.
inline bool RegisterFakeVariant() {
    if (PLFindClassFactory(CLSID_PLVariant) != nullptr) return false;
    RegisterClassFactory(CLSID_PLVariant, &PLCreateObject<FakeVariant>);
    return true;
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_FAKE_VARIANT_H
