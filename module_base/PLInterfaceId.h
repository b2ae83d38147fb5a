// The interface-identifier trait: ties each interface type to its identifier, so that code that
// queries or creates into a typed pointer names the type only and cannot pair it with another
// interface's identifier. Every interface is declared here once.
#ifndef KD_PLINTERFACEID_H
#define KD_PLINTERFACEID_H

#include <kdtrace/collection.h>
#include <kdtrace/currency.h>
#include <kdtrace/datetime.h>
#include <kdtrace/dbghlp.h>
#include <kdtrace/error.h>
#include <kdtrace/maskedstring.h>
#include <kdtrace/module.h>
#include <kdtrace/object.h>
#include <kdtrace/pagedata.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/stream.h>
#include <kdtrace/timespan.h>
#include <kdtrace/trace.h>
#include <kdtrace/types.h>
#include <kdtrace/variant.h>
#include <kdtrace/xmlwriter.h>

// Left undefined: an interface without a declaration below does not compile where its
// identifier is needed.
template <class Interface>
struct PLInterfaceId;

// Declares `iid` as the identifier of `Interface` (at namespace scope).
#define PL_DECLARE_INTERFACE_ID(Interface, iid)     \
    template <>                                     \
    struct PLInterfaceId<Interface> {               \
        static constexpr const GUID& value = (iid); \
    }

template <class Interface>
inline constexpr const GUID& PLIidOf = PLInterfaceId<Interface>::value;

PL_DECLARE_INTERFACE_ID(IUnknown, IID_IUnknown);
PL_DECLARE_INTERFACE_ID(IPLComObject, IID_IPLComObject);
PL_DECLARE_INTERFACE_ID(IPLSupportRichErrorInfo, IID_IPLSupportRichErrorInfo);
PL_DECLARE_INTERFACE_ID(IPLEventSource, IID_IPLEventSource);
PL_DECLARE_INTERFACE_ID(IPLCloneable, IID_IPLCloneable);
PL_DECLARE_INTERFACE_ID(IPLCollectionListener, IID_IPLCollectionListener);
PL_DECLARE_INTERFACE_ID(IPLModuleSet, IID_IPLModuleSet);
PL_DECLARE_INTERFACE_ID(IPLErrorInfo, IID_IPLErrorInfo);
PL_DECLARE_INTERFACE_ID(IPLErrorItem, IID_IPLErrorItem);
PL_DECLARE_INTERFACE_ID(IKDXErrorItemCore, IID_IKDXErrorItemCore);
PL_DECLARE_INTERFACE_ID(IPLErrorModule, IID_IPLErrorModule);
PL_DECLARE_INTERFACE_ID(IPLModule, IID_IPLModule);
PL_DECLARE_INTERFACE_ID(IPLFactoryLoader, IID_IPLFactoryLoader);
PL_DECLARE_INTERFACE_ID(IPLModuleInfoFactory, IID_IPLModuleInfoFactory);
PL_DECLARE_INTERFACE_ID(IPLModuleInfo, IID_IPLModuleInfo);
PL_DECLARE_INTERFACE_ID(IPLModuleInfoCollection, IID_IPLModuleInfoCollection);
PL_DECLARE_INTERFACE_ID(IPLPropertyBag, IID_IPLPropertyBag);
PL_DECLARE_INTERFACE_ID(IPLPersistPropertyBag, IID_IPLPersistPropertyBag);
PL_DECLARE_INTERFACE_ID(IPLSerializeXML, IID_IPLSerializeXML);
PL_DECLARE_INTERFACE_ID(IPLPropertyBagListener, IID_IPLPropertyBagListener);
PL_DECLARE_INTERFACE_ID(IPLProperty, IID_IPLProperty);
PL_DECLARE_INTERFACE_ID(IPLPropertyCollection, IID_IPLPropertyCollection);
PL_DECLARE_INTERFACE_ID(IPLPropertyBagCollection, IID_IPLPropertyBagCollection);
PL_DECLARE_INTERFACE_ID(IPLXMLWriter, IID_IPLXMLWriter);
PL_DECLARE_INTERFACE_ID(IPLDateTime, IID_IPLDateTime);
PL_DECLARE_INTERFACE_ID(IPLVariant, IID_IPLVariant);
PL_DECLARE_INTERFACE_ID(IPLVariantPriv, IID_IPLVariantPriv);
PL_DECLARE_INTERFACE_ID(IPLVariantCollection, IID_IPLVariantCollection);
PL_DECLARE_INTERFACE_ID(IPLEnumVariant, IID_IPLEnumVariant);
PL_DECLARE_INTERFACE_ID(IPLDateTimePriv, IID_IPLDateTimePriv);
PL_DECLARE_INTERFACE_ID(IPLTimeSpan, IID_IPLTimeSpan);
PL_DECLARE_INTERFACE_ID(IPLTraceModule, IID_IPLTraceModule);
PL_DECLARE_INTERFACE_ID(IPLTraceContext, IID_IPLTraceContext);
PL_DECLARE_INTERFACE_ID(IPLTraceContextPriv, IID_IPLTraceContextPriv);
PL_DECLARE_INTERFACE_ID(IPLTraceListener, IID_IPLTraceListener);
PL_DECLARE_INTERFACE_ID(IPLTraceContextCollection, IID_IPLTraceContextCollection);
PL_DECLARE_INTERFACE_ID(IPLStream, IID_IPLStream);
PL_DECLARE_INTERFACE_ID(IPLByteStream, IID_IPLByteStream);
PL_DECLARE_INTERFACE_ID(IPLRefFile, IID_IPLRefFile);
PL_DECLARE_INTERFACE_ID(IPLRefFilePriv, IID_IPLRefFilePriv);
PL_DECLARE_INTERFACE_ID(IPLFileStreamPriv, IID_IPLFileStreamPriv);
PL_DECLARE_INTERFACE_ID(IPLFilePage, IID_IPLFilePage);
PL_DECLARE_INTERFACE_ID(IPLPersistFile, IID_IPLPersistFile);
PL_DECLARE_INTERFACE_ID(IPLPersistMemory, IID_IPLPersistMemory);
PL_DECLARE_INTERFACE_ID(IPLPersistStream, IID_IPLPersistStream);
PL_DECLARE_INTERFACE_ID(IPLPageData, IID_IPLPageData);
PL_DECLARE_INTERFACE_ID(IPLPageDataPriv, IID_IPLPageDataPriv);
PL_DECLARE_INTERFACE_ID(IPLPageDataCollection, IID_IPLPageDataCollection);
PL_DECLARE_INTERFACE_ID(IPLCurrency, IID_IPLCurrency);
PL_DECLARE_INTERFACE_ID(IPLMaskedString, IID_IPLMaskedString);
PL_DECLARE_INTERFACE_ID(IPLMaskedStringPriv, IID_IPLMaskedStringPriv);

#endif  // KD_PLINTERFACEID_H
