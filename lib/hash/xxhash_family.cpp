// The xxHash hashers, over the xxHash library's header compiled into this
// file alone (XXH_INLINE_ALL): no xxHash library is linked or shipped, and
// every function of it stays private to this file. The build finds the
// header and names it by its full path (KORVANE_XXHASH_HEADER), so that a
// cross build takes that one header without the host's include folder.

#include <cstring>
#include <new>

#include <korvane/xxhash_family.h>

#define XXH_INLINE_ALL
#include KORVANE_XXHASH_HEADER

namespace {

static_assert(sizeof(XXH64_state_t) <= xxh64hasher::state_room && alignof(XXH64_state_t) <= 16,
              "the XXH64 state must fit the hasher");
static_assert(sizeof(XXH3_state_t) <= xxh3hasher::state_room && alignof(XXH3_state_t) <= 64,
              "the XXH3 state must fit the hasher");

// The library's state lives in the hasher's room; it holds plain data only,
// so that a copy of the hasher is a copy of the state (its secret pointer
// points at the library's static default secret).
XXH64_state_t* as_xxh64(unsigned char* room) {
    return std::launder(reinterpret_cast<XXH64_state_t*>(room));
}

XXH3_state_t* as_xxh3(unsigned char* room) {
    return std::launder(reinterpret_cast<XXH3_state_t*>(room));
}

}  // namespace

xxh64hasher::~xxh64hasher() = default;

void xxh64hasher::init() {
    XXH64_reset(as_xxh64(state), 0);
}

void xxh64hasher::update(const unsigned char* data, std::uint32_t length) {
    if (length != 0) {
        XXH64_update(as_xxh64(state), data, length);
    }
}

void xxh64hasher::finalize() {
    XXH64_canonical_t canonical;
    XXH64_canonicalFromHash(&canonical, XXH64_digest(as_xxh64(state)));
    std::memcpy(digest, canonical.digest, sizeof digest);
}

const void* xxh64hasher::hash() const {
    return digest;
}

int xxh64hasher::hash_size() const {
    return static_cast<int>(sizeof digest);
}

xxh3hasher::~xxh3hasher() = default;

void xxh3hasher::init() {
    XXH3_64bits_reset(as_xxh3(state));
}

void xxh3hasher::update(const unsigned char* data, std::uint32_t length) {
    if (length != 0) {
        XXH3_64bits_update(as_xxh3(state), data, length);
    }
}

void xxh3hasher::finalize() {
    XXH64_canonical_t canonical;
    XXH64_canonicalFromHash(&canonical, XXH3_64bits_digest(as_xxh3(state)));
    std::memcpy(digest, canonical.digest, sizeof digest);
}

const void* xxh3hasher::hash() const {
    return digest;
}

int xxh3hasher::hash_size() const {
    return static_cast<int>(sizeof digest);
}

xxh128hasher::~xxh128hasher() = default;

void xxh128hasher::init() {
    XXH3_128bits_reset(as_xxh3(state));
}

void xxh128hasher::update(const unsigned char* data, std::uint32_t length) {
    if (length != 0) {
        XXH3_128bits_update(as_xxh3(state), data, length);
    }
}

void xxh128hasher::finalize() {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(as_xxh3(state)));
    std::memcpy(digest, canonical.digest, sizeof digest);
}

const void* xxh128hasher::hash() const {
    return digest;
}

int xxh128hasher::hash_size() const {
    return static_cast<int>(sizeof digest);
}
