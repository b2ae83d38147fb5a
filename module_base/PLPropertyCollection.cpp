#include "module_base/PLPropertyCollection.h"

#include "module_base/PLClassFactoryMap.h"

PL_REGISTER_CLASS(CPLPropertyCollection, CLSID_PLPropertyCollection);
