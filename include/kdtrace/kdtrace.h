// Umbrella header of the kdtrace module's host interface.
#ifndef KDTRACE_KDTRACE_H
#define KDTRACE_KDTRACE_H

#include <kdtrace/bstr.h>
#include <kdtrace/collection.h>
#include <kdtrace/currency.h>
#include <kdtrace/datetime.h>
#include <kdtrace/error.h>
#include <kdtrace/exports.h>
#include <kdtrace/maskedstring.h>
#include <kdtrace/module.h>
#include <kdtrace/object.h>
#include <kdtrace/pagedata.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/stream.h>
#include <kdtrace/timespan.h>
#include <kdtrace/trace.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>
#include <kdtrace/variant.h>
#include <kdtrace/xmlwriter.h>

#endif  // KDTRACE_KDTRACE_H
