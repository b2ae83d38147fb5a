// Recognising the library's own objects among those a caller hands in.
//
// An object a caller hands in is known only by its slots: a host may be built without type
// information (-fno-rtti) or write its tables by hand, so neither dynamic_cast nor typeid may
// look at it. A class whose objects the library wants to treat directly (reading their state
// instead of calling slot after slot) answers a private identifier in its interface map:
//
//   class CPLThing : public CPLComObject<CPLReleaseModel>, public IPLThing {
//       PL_BEGIN_INTERFACE_MAP(CPLThing, IPLThing)
//       PL_INTERFACE_ENTRY(IPLThing)
//       PL_OWN_OBJECT_ENTRY(IPLThing)
//       PL_END_INTERFACE_MAP()
//   public:
//       PL_DECLARE_OWN_OBJECT(IPLThing, {0x..., ...});
//
// and PLAsOwnObject<CPLThing>(object) asks the object, through its own QueryInterface, for that
// identifier. The identifier is in no public header; a foreign object does not answer it.
#ifndef KD_PLOWNOBJECT_H
#define KD_PLOWNOBJECT_H

#include "module_base/PLComObject.h"

// Inside the class: its private identifier, and the interface it is answered with.
#define PL_DECLARE_OWN_OBJECT(Interface, ...) \
    using PLOwnObjectInterface = Interface;   \
    static constexpr GUID kPLOwnObjectIid = __VA_ARGS__

// In the interface map: answers the private identifier with `Interface`.
#define PL_OWN_OBJECT_ENTRY(Interface) PL_INTERFACE_ENTRY_IID(PLThisClass::kPLOwnObjectIid, Interface)

// The object behind `object` as a `Class`, with a reference of its own, when it is one of ours;
// null otherwise (and for null).
template <class Class, class Interface>
PLComPtr<Class> PLAsOwnObject(Interface* object) {
    if (object == nullptr) return nullptr;
    void* found = nullptr;
    if (object->QueryInterface(Class::kPLOwnObjectIid, &found) < 0 || found == nullptr) return nullptr;
    // Only `Class` answers the identifier, with this interface of itself.
    auto* answer = static_cast<typename Class::PLOwnObjectInterface*>(found);
    return PLComPtr<Class>::Adopt(static_cast<Class*>(answer));
}

#endif  // KD_PLOWNOBJECT_H
