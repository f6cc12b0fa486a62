#include "frontend.h"
#include "platform/entry.h"

int korvane_main(int argc, wchar_t** argv) { return korvane::app::run(argc, argv); }

KORVANE_DEFINE_ENTRY
