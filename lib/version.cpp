#include <korvane/version.h>

extern "C" KORVANE_API const char g_version[] = "3.00";
