// The one place that turns a hashing algorithm into a hasher object, for the
// workers and for anything else in the library that hashes by algorithm.
#ifndef KORVANE_HASH_HASHERS_H
#define KORVANE_HASH_HASHERS_H

#include <korvane/hasher.h>
#include <korvane/jobs.h>

namespace korvane::detail {

// A new hasher of the given kind, or a null one when memory is short.
owned_hasher make_hasher(file_jobs::algorithm kind) noexcept;

// The digest size in bytes of the given kind.
int digest_size_of(file_jobs::algorithm kind) noexcept;

}  // namespace korvane::detail

#endif
