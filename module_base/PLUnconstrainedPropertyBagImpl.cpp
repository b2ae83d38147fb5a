#include "module_base/PLUnconstrainedPropertyBagImpl.h"

#include <new>

#include "module_base/PLClassFactoryMap.h"

PL_REGISTER_CLASS(CPLUnconstrainedPropertyBagImpl, CLSID_PLPropertyBag);

namespace {
constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "CPLPropertyBag";
}  // namespace

HRESULT CPLUnconstrainedPropertyBagImpl::SetProperty(const WCHAR* name, IPLVariant* value) {
    if (name == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        hr = StoreProperty(name, value);
        FireEvent<IPLPropertyBagListener>(
            IID_IPLPropertyBagListener, [&](IPLPropertyBagListener* listener) { listener->PropertySet(name, value); });
    });
}

HRESULT CPLUnconstrainedPropertyBagImpl::SetPropertyAdopting(const WCHAR* name, PLComPtr<IPLVariant> value) {
    if (name == nullptr || !value) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        IPLVariant* const told = value.Get();  // the bag's reference keeps it alive
        hr = AdoptProperty(name, std::move(value));
        FireEvent<IPLPropertyBagListener>(IID_IPLPropertyBagListener,
                                          [&](IPLPropertyBagListener* listener) { listener->PropertySet(name, told); });
    });
}

HRESULT CPLUnconstrainedPropertyBagImpl::DeleteProperty(const WCHAR* name) {
    if (name == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        EnsureInitialized();
        const std::u16string_view key = PLPropertyNameView(name);
        hr = GetConstraint().ValidateProperty(key);
        PL_THROW_ERROR_FORMAT(hr, 0, "Failed to validate property '%s' on property bag", key);
        auto& entries = GetAccessor();
        const auto found = entries.Find(key);
        if (found == entries.End()) {
            hr = S_FALSE;
            return;
        }
        // The value goes after the entry: its end may reach this bag.
        PLComPtr<IPLVariant> value = entries.Erase(found);
        hr = S_OK;
    });
}

HRESULT CPLUnconstrainedPropertyBagImpl::AddListener(REFIID iid, IUnknown* object, void** cookie) {
    if (iid != IID_IPLPropertyBagListener) return E_NOINTERFACE;
    if (object == nullptr || cookie == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        IUnknown* listener = nullptr;
        if (object->QueryInterface(IID_IPLPropertyBagListener, reinterpret_cast<void**>(&listener)) < 0 ||
            listener == nullptr) {
            hr = E_INVALIDARG;
            return;
        }
        // The list keeps no reference: the caller removes the listener before it goes away.
        struct Release {
            IUnknown* listener;
            ~Release() { listener->Release(); }
        } release{listener};
        *cookie = listener;  // before the registration: a fault here leaves none behind
        AppendListenerRecord(listener, object, iid);
    });
}
