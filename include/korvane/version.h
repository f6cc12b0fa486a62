#ifndef KORVANE_VERSION_H
#define KORVANE_VERSION_H

#include <korvane/export.h>

// The library's version text, "3.00".
extern "C" KORVANE_API const char g_version[];

#endif
