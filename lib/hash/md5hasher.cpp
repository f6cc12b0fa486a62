// The MD5 hasher: a thin wrapper over the exported MD5 functions.

#include <korvane/hasher.h>

md5hasher::~md5hasher() = default;

void md5hasher::update(const unsigned char* data, std::uint32_t length) {
    MD5Update(&context, data, length);
}

const void* md5hasher::hash() const {
    return digest;
}

int md5hasher::hash_size() const {
    return 16;
}
