// A property bag of plain values for tests of objects that configure themselves from a bag:
// longs, booleans and strings by name (names compare without regard to the case of A-Z). Values
// answer only the getter of their own kind; every other variant operation is E_NOTIMPL. Both
// objects live on the test's stack: their reference counts are not used.
#ifndef KDTRACE_TESTS_SUPPORT_FAKE_PROPERTY_BAG_H
#define KDTRACE_TESTS_SUPPORT_FAKE_PROPERTY_BAG_H

#include <map>
#include <memory>
#include <string>
#include <variant>

#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

namespace kdtest {

class FakeValue : public IPLVariant {
public:
    using Value = std::variant<LONG, bool, std::u16string>;
    explicit FakeValue(Value value) : m_value(std::move(value)) {}

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetValueLong(LONG* v) override { return Get(v); }
    HRESULT GetValueBoolean(bool* v) override { return Get(v); }
    HRESULT GetValueStringLength(LONG* length) override {
        const auto* text = std::get_if<std::u16string>(&m_value);
        if (text == nullptr) return E_FAIL;
        *length = static_cast<LONG>(text->size() + 1);
        return S_OK;
    }
    HRESULT GetValueString(WCHAR* buffer, LONG size) override {
        const auto* text = std::get_if<std::u16string>(&m_value);
        if (text == nullptr || static_cast<std::size_t>(size) <= text->size()) return E_FAIL;
        text->copy(buffer, text->size());
        buffer[text->size()] = 0;
        return S_OK;
    }
#define KD_FAKE_NOTIMPL(signature) \
    HRESULT signature override {   \
        return E_NOTIMPL;          \
    }
    KD_FAKE_NOTIMPL(SetValueString(const WCHAR*))
    KD_FAKE_NOTIMPL(AllocSysString(BSTR*))
    KD_FAKE_NOTIMPL(SetValueLong(LONG))
    KD_FAKE_NOTIMPL(SetValueLongLong(LONGLONG))
    KD_FAKE_NOTIMPL(GetValueLongLong(LONGLONG*))
    KD_FAKE_NOTIMPL(SetValueDouble(double))
    KD_FAKE_NOTIMPL(GetValueDouble(double*))
    KD_FAKE_NOTIMPL(SetValueBoolean(bool))
    KD_FAKE_NOTIMPL(SetValueVariant(IPLVariant*))
    KD_FAKE_NOTIMPL(GetValueVariant(IPLVariant**))
    KD_FAKE_NOTIMPL(SetValueDateTime(IPLDateTime*))
    KD_FAKE_NOTIMPL(SetValueDateTimeOfDay(IPLDateTime*))
    KD_FAKE_NOTIMPL(GetValueDateTime(IPLDateTime**))
    KD_FAKE_NOTIMPL(GetValueDateTimeOfDay(IPLDateTime**))
    KD_FAKE_NOTIMPL(SetDateTimeFormatString(const WCHAR*))
    KD_FAKE_NOTIMPL(GetDateTimeFormatString(WCHAR*, LONG))
    KD_FAKE_NOTIMPL(SetValueIUnknown(IUnknown*))
    KD_FAKE_NOTIMPL(GetValueIUnknown(IUnknown**))
    KD_FAKE_NOTIMPL(SetValueCollection(IPLVariantCollection*))
    KD_FAKE_NOTIMPL(GetValueCollection(IPLVariantCollection**))
    KD_FAKE_NOTIMPL(GetType(LONG*))
    KD_FAKE_NOTIMPL(CompareEx(IPLVariant*, bool, LONG*))
    KD_FAKE_NOTIMPL(Convert(LONG))
    KD_FAKE_NOTIMPL(SetEmpty())
#undef KD_FAKE_NOTIMPL

private:
    template <class T>
    HRESULT Get(T* out) {
        const T* held = std::get_if<T>(&m_value);
        if (held == nullptr) return E_FAIL;
        *out = *held;
        return S_OK;
    }
    Value m_value;
};

class FakePropertyBag : public IPLPropertyBag {
public:
    FakePropertyBag& Set(std::u16string name, FakeValue::Value value) {
        m_values[Key(name)] = std::make_unique<FakeValue>(std::move(value));
        return *this;
    }

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SetProperty(const WCHAR*, IPLVariant*) override { return E_NOTIMPL; }
    HRESULT GetProperty(const WCHAR* name, IPLVariant** value) override {
        const auto it = m_values.find(Key(name));
        if (it == m_values.end()) return S_FALSE;
        *value = it->second.get();
        return S_OK;
    }
    HRESULT GetProperties(IPLPropertyCollection**) override { return E_NOTIMPL; }
    HRESULT ContainsKey(const WCHAR* name, BOOL* contains) override {
        *contains = m_values.count(Key(name)) != 0 ? TRUE : FALSE;
        return *contains ? S_OK : S_FALSE;
    }
    HRESULT DeleteProperty(const WCHAR*) override { return E_NOTIMPL; }

private:
    static std::u16string Key(std::u16string name) {
        for (char16_t& c : name)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        return name;
    }
    std::map<std::u16string, std::unique_ptr<FakeValue>> m_values;
};

}  // namespace kdtest

#endif  // KDTRACE_TESTS_SUPPORT_FAKE_PROPERTY_BAG_H
