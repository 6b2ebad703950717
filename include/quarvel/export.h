#ifndef QUARVEL_EXPORT_H
#define QUARVEL_EXPORT_H

// The library is built with -fvisibility=hidden; only what carries this
// macro (the Quarvel class, and the quarvel:: classes and functions of the
// public headers) is part of the shared object's interface.
#if defined(__GNUC__) || defined(__clang__)
#define QUARVEL_EXPORT __attribute__((visibility("default")))
#else
#define QUARVEL_EXPORT
#endif

#endif
