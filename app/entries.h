// Per-entry steps of the verification run that depend on how a list was
// written: folders named with backslashes, and the checksums in a mismatch line.
#ifndef KORVANE_APP_ENTRIES_H
#define KORVANE_APP_ENTRIES_H

#include "expand.h"

namespace korvane::app {

// `path` is the whole path of an entry, `name` the part of it the list gave.
// Where '\' is no separator, a name holding one whose file does not exist is
// taken as a Windows folder path: its backslashes become '/' when that names a
// file. A file whose own name holds a backslash still wins.
void resolve_windows_separators(wchar_t* path, wchar_t* name);

// Prints "<path>: hash mismatch: <stored> != <computed>", both as lists of
// the `type` write them (an SFV list: eight upper-case digits of the value), so
// that they compare with the list and with other tools.
void print_mismatch(const wchar_t* path, const list_type& type, const void* expected,
                    const void* computed);

}  // namespace korvane::app

#endif
