// The CRC-32 hasher. The arithmetic lives in the path functions; this class
// only holds the register.

#include <korvane/hasher.h>

#include "hash/crc32_paths.h"

crc::~crc() = default;

void crc::init() {
    crc_register = 0xFFFFFFFFu;
}

void crc::update(const unsigned char* data, std::uint32_t length) {
    if (length == 0) {
        return;  // whatever `data` is, even null
    }
    crc_register = korvane::crc32::update(crc_register, data, length);
}

void crc::finalize() {
    crc_register = ~crc_register;
}

const void* crc::hash() const {
    return &crc_register;
}

int crc::hash_size() const {
    return 4;
}
