#include "platform/random.h"

#include "platform/win32/native.h"

#include <bcrypt.h>

namespace korvane::platform {

bool random_bytes(void* out, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        ULONG part = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(
                ::BCryptGenRandom(nullptr, bytes, part, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            return false;
        }
        bytes += part;
        size -= part;
    }
    return true;
}

}  // namespace korvane::platform
