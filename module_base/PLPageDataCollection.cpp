#include "module_base/PLPageDataCollection.h"

#include "module_base/PLClassFactoryMap.h"

PL_REGISTER_CLASS(CPLPageDataCollection, CLSID_PLPageDataCollection);
