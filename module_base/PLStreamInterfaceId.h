// The interface identifiers of the stream interfaces, for PLIidOf and the interface maps.
#ifndef KD_PLSTREAMINTERFACEID_H
#define KD_PLSTREAMINTERFACEID_H

#include <kdtrace/stream.h>

#include "module_base/PLInterfaceId.h"

PL_DECLARE_INTERFACE_ID(IPLStream, IID_IPLStream);
PL_DECLARE_INTERFACE_ID(IPLByteStream, IID_IPLByteStream);
PL_DECLARE_INTERFACE_ID(IPLRefFile, IID_IPLRefFile);
PL_DECLARE_INTERFACE_ID(IPLRefFilePriv, IID_IPLRefFilePriv);
PL_DECLARE_INTERFACE_ID(IPLFileStreamPriv, IID_IPLFileStreamPriv);
PL_DECLARE_INTERFACE_ID(IPLFilePage, IID_IPLFilePage);

#endif  // KD_PLSTREAMINTERFACEID_H
