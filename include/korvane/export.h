// The one visibility macro of libkorvane. Everything in the library is hidden
// unless it is marked KORVANE_API.
#ifndef KORVANE_EXPORT_H
#define KORVANE_EXPORT_H

#if defined(_WIN32)
#if defined(KORVANE_STATIC)
#define KORVANE_API
#elif defined(KORVANE_BUILDING_LIBRARY)
#define KORVANE_API __declspec(dllexport)
#else
#define KORVANE_API __declspec(dllimport)
#endif
#else
#define KORVANE_API __attribute__((visibility("default")))
#endif

#endif
