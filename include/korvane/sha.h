// The SHA-1, SHA-256 and SHA-512 hashers. Each one takes its pieces like the
// MD5 hasher: init, any number of updates of any size, finalize, then the
// digest in its standard byte order through hash().
#ifndef KORVANE_SHA_H
#define KORVANE_SHA_H

#include <cstdint>

#include <korvane/export.h>
#include <korvane/hasher.h>

class KORVANE_API sha1hasher : public hasher {
  public:
    sha1hasher() = default;
    sha1hasher(const sha1hasher&) = default;
    sha1hasher& operator=(const sha1hasher&) = default;
    virtual ~sha1hasher();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

  private:
    // All zero before the first init() so that copying a fresh object reads no
    // indeterminate value.
    std::uint32_t state[5] = {};
    std::uint64_t total = 0;  // bytes fed since init()
    unsigned char buffer[64] = {};
    unsigned char digest[20] = {};
};

class KORVANE_API sha256hasher : public hasher {
  public:
    sha256hasher() = default;
    sha256hasher(const sha256hasher&) = default;
    sha256hasher& operator=(const sha256hasher&) = default;
    virtual ~sha256hasher();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

  private:
    std::uint32_t state[8] = {};
    std::uint64_t total = 0;
    unsigned char buffer[64] = {};
    unsigned char digest[32] = {};
};

class KORVANE_API sha512hasher : public hasher {
  public:
    sha512hasher() = default;
    sha512hasher(const sha512hasher&) = default;
    sha512hasher& operator=(const sha512hasher&) = default;
    virtual ~sha512hasher();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

  private:
    std::uint64_t state[8] = {};
    std::uint64_t total = 0;  // bytes; the 128-bit bit count is derived from it
    unsigned char buffer[128] = {};
    unsigned char digest[64] = {};
};

#endif
