// Umbrella header of the kdtrace module's host interface.
#ifndef KDTRACE_KDTRACE_H
#define KDTRACE_KDTRACE_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>
#include <kdtrace/bstr.h>
#include <kdtrace/object.h>
#include <kdtrace/error.h>
#include <kdtrace/module.h>
#include <kdtrace/collection.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/trace.h>
#include <kdtrace/exports.h>

#endif  // KDTRACE_KDTRACE_H
