#include "frontend.h"

namespace korvane::app {

int run(int, wchar_t**) { return 0; }

}  // namespace korvane::app
