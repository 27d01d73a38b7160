// Diagnostic trace lines. Debug builds print them on stderr; release builds, the configuration
// that ships, compile every TRACE away, arguments included, so tracing costs nothing there.
#pragma once

#ifdef NDEBUG
#define TRACE(...) ((void)0)
#else
#include <cstdio>
#define TRACE(...) std::fprintf(stderr, __VA_ARGS__)
#endif
