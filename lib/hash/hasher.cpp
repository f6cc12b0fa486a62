// The text form of digests, shared by every hasher.

#include <algorithm>
#include <atomic>
#include <cstdint>

#include <korvane/hasher.h>

#include "platform/text.h"

namespace {

// A buffer holds 255 characters and the terminating NUL.
constexpr int max_digest_bytes = 127;

}  // namespace

const wchar_t* hasher::hash_to_string(const void* hash_bytes) {
    // Each caller gets its own buffer from the counter, so up to four
    // concurrent callers never share one; the counter may wrap freely.
    const std::int32_t n = std::atomic_ref<std::int32_t>(text_counter).fetch_add(1) + 1;
    wchar_t* out = text_buffers[static_cast<std::uint32_t>(n) & 3u];

    const auto* bytes = static_cast<const unsigned char*>(hash_bytes ? hash_bytes : hash());
    const int size = std::clamp(hash_size(), 0, max_digest_bytes);
    korvane::platform::encode_hex(bytes, static_cast<std::size_t>(size), out,
                                  korvane::platform::hex_case::lower);
    out[2 * size] = L'\0';
    return out;
}
