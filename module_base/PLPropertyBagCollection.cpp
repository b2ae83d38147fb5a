#include "module_base/PLPropertyBagCollection.h"

#include "module_base/PLClassFactoryMap.h"

PL_REGISTER_CLASS(CPLPropertyBagCollection, CLSID_PLPropertyBagCollection);
