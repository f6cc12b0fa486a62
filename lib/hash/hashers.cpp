#include "hash/hashers.h"

#include <new>

#include <korvane/blake3.h>
#include <korvane/sha.h>
#include <korvane/xxhash_family.h>

namespace korvane::detail {

namespace {

template <class kind_of_hasher>
owned_hasher make() noexcept {
    return owned_hasher(new (std::nothrow) kind_of_hasher,
                        [](hasher* made) { delete static_cast<kind_of_hasher*>(made); });
}

}  // namespace

owned_hasher make_hasher(file_jobs::algorithm kind) noexcept {
    using algorithm = file_jobs::algorithm;
    switch (kind) {
        case algorithm::md5:
            return make<md5hasher>();
        case algorithm::sha1:
            return make<sha1hasher>();
        case algorithm::sha256:
            return make<sha256hasher>();
        case algorithm::sha512:
            return make<sha512hasher>();
        case algorithm::blake3:
            return make<blake3hasher>();
        case algorithm::xxh64:
            return make<xxh64hasher>();
        case algorithm::xxh3:
            return make<xxh3hasher>();
        case algorithm::xxh128:
            return make<xxh128hasher>();
        case algorithm::crc32:
            break;
    }
    return make<crc>();
}

int digest_size_of(file_jobs::algorithm kind) noexcept {
    using algorithm = file_jobs::algorithm;
    switch (kind) {
        case algorithm::md5:
            return 16;
        case algorithm::sha1:
            return 20;
        case algorithm::sha256:
            return 32;
        case algorithm::sha512:
            return 64;
        case algorithm::blake3:
            return 32;
        case algorithm::xxh64:
        case algorithm::xxh3:
            return 8;
        case algorithm::xxh128:
            return 16;
        case algorithm::crc32:
            break;
    }
    return 4;
}

}  // namespace korvane::detail
