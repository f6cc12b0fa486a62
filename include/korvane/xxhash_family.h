// The XXH64, XXH3 (64-bit) and XXH128 hashers: non-cryptographic, for the
// integrity of files only. Each takes its pieces like the MD5 hasher: init,
// any number of updates of any size, finalize, then the digest through
// hash() in the canonical byte order (big-endian), as xxhsum prints it.
#ifndef KORVANE_XXHASH_FAMILY_H
#define KORVANE_XXHASH_FAMILY_H

#include <cstdint>

#include <korvane/export.h>
#include <korvane/hasher.h>

class KORVANE_API xxh64hasher : public hasher {
  public:
    xxh64hasher() = default;
    xxh64hasher(const xxh64hasher&) = default;
    xxh64hasher& operator=(const xxh64hasher&) = default;
    virtual ~xxh64hasher();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

    // Room for the running state of the xxHash library, which the library
    // alone reads; all zero before the first init() so that copying a fresh
    // object reads no indeterminate value.
    static constexpr int state_room = 128;

  private:
    alignas(16) unsigned char state[state_room] = {};
    unsigned char digest[8] = {};
};

class KORVANE_API xxh3hasher : public hasher {
  public:
    xxh3hasher() = default;
    xxh3hasher(const xxh3hasher&) = default;
    xxh3hasher& operator=(const xxh3hasher&) = default;
    virtual ~xxh3hasher();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

    // As xxh64hasher's; XXH3 and XXH128 share the library's state.
    static constexpr int state_room = 640;

  private:
    alignas(64) unsigned char state[state_room] = {};
    unsigned char digest[8] = {};
};

class KORVANE_API xxh128hasher : public hasher {
  public:
    xxh128hasher() = default;
    xxh128hasher(const xxh128hasher&) = default;
    xxh128hasher& operator=(const xxh128hasher&) = default;
    virtual ~xxh128hasher();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

    static constexpr int state_room = xxh3hasher::state_room;

  private:
    alignas(64) unsigned char state[state_room] = {};
    unsigned char digest[16] = {};
};

#endif
