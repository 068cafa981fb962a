/// @file
/// KESTRUNE_API marks what the shared library exports; everything else in it
/// stays hidden.
#pragma once

#if defined(KESTRUNE_STATIC)
#define KESTRUNE_API
#elif defined(_WIN32)
#if defined(KESTRUNE_BUILDING_LIBRARY)
#define KESTRUNE_API __declspec(dllexport)
#else
#define KESTRUNE_API __declspec(dllimport)
#endif
#else
/// Marks a declaration the shared library exports (empty with KESTRUNE_STATIC).
#define KESTRUNE_API __attribute__((visibility("default")))
#endif
