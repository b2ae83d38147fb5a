// CPLUnconstrainedPropertyBagImpl: the general-purpose property bag. Every name is allowed,
// DeleteProperty really deletes, and every successful SetProperty is told to the listeners
// registered under IID_IPLPropertyBagListener, with the caller's value object, in registration
// order and on the caller's thread.
#ifndef KD_PLUNCONSTRAINEDPROPERTYBAGIMPL_H
#define KD_PLUNCONSTRAINEDPROPERTYBAGIMPL_H

#include <kdtrace/object.h>
#include <kdtrace/propertybag.h>

#include "module_base/PLComObject.h"
#include "module_base/PLEventSource.h"
#include "module_base/PLOwnObject.h"
#include "module_base/PLPropertyBag.h"

class CPLUnconstrainedPropertyBagImpl : public CPLComObject<CPLReleaseModel>,
                                        public CPLUnconstrainedPropertyBagBase,
                                        public CPLEventSource {
    PL_BEGIN_INTERFACE_MAP(CPLUnconstrainedPropertyBagImpl, IPLPropertyBag)
    PL_INTERFACE_ENTRY(IPLPropertyBag)
    PL_INTERFACE_ENTRY(IPLPersistPropertyBag)
    PL_INTERFACE_ENTRY(IPLSerializeXML)
    PL_INTERFACE_ENTRY(IPLEventSource)
    PL_OWN_OBJECT_ENTRY(IPLPropertyBag)
    PL_END_INTERFACE_MAP()

public:
    PL_DECLARE_OWN_OBJECT(IPLPropertyBag,
                          {0xA6E15B25, 0x9FAF, 0x458D, {0x8C, 0x38, 0xDC, 0x17, 0xAC, 0x36, 0x7D, 0xCB}});

    CPLUnconstrainedPropertyBagImpl() = default;

    // Stores as the template does, then tells the listeners.
    HRESULT SetProperty(const WCHAR* name, IPLVariant* value) override;
    // SetProperty for library code that hands over a value it has just made and will not touch
    // again: the value itself is stored, not a copy. The listeners are told as by SetProperty.
    HRESULT SetPropertyAdopting(const WCHAR* name, PLComPtr<IPLVariant> value);
    // S_OK when removed, S_FALSE when absent.
    HRESULT DeleteProperty(const WCHAR* name) override;

    // IPLEventSource: accepts only IPLPropertyBagListener (E_NOINTERFACE for another identifier,
    // E_INVALIDARG for an object that does not answer it).
    HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) override;
    HRESULT RemoveListener(void* cookie) override { return CPLEventSource::RemoveListener(cookie); }

protected:
    ~CPLUnconstrainedPropertyBagImpl() override = default;
    HRESULT InitPropertyBag() override { return S_OK; }
};

#endif  // KD_PLUNCONSTRAINEDPROPERTYBAGIMPL_H
