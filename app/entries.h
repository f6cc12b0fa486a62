// A per-entry step of the verification run that depends on how a list was
// written: folders named with backslashes.
#ifndef KORVANE_APP_ENTRIES_H
#define KORVANE_APP_ENTRIES_H

#include "expand.h"

namespace korvane::app {

// `path` is the whole path of an entry, `name` the part of it the list gave.
// Where '\' is no separator, a name holding one whose file does not exist is
// taken as a Windows folder path: its backslashes become '/' when that names a
// file. A file whose own name holds a backslash still wins.
void resolve_windows_separators(wchar_t* path, wchar_t* name);

}  // namespace korvane::app

#endif
