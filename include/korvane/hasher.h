// Streaming hash algorithms: the abstract hasher, CRC-32 and MD5, and the
// exported MD5 C functions they are built on.
#ifndef KORVANE_HASHER_H
#define KORVANE_HASHER_H

#include <cstdint>
#include <memory>

#include <korvane/export.h>

extern "C" {

// The record the MD5 C functions work on. Callers allocate it, so its layout is
// part of the interface.
struct md5_context {
    std::uint32_t state[4];  // A, B, C, D
    std::uint32_t count[2];  // message length in bits mod 2^64, low word first
    unsigned char buffer[64];
};

KORVANE_API void MD5Init(md5_context* context);
KORVANE_API void MD5Update(md5_context* context, const unsigned char* input, std::uint32_t length);
KORVANE_API void MD5Final(unsigned char digest[16], md5_context* context);

}  // extern "C"

class KORVANE_API hasher {
  public:
    hasher() = default;
    hasher(const hasher&) = default;
    hasher& operator=(const hasher&) = default;

    virtual void init() = 0;
    virtual void update(const unsigned char* data, std::uint32_t length) = 0;
    virtual void finalize() = 0;
    virtual const void* hash() const = 0;
    virtual int hash_size() const = 0;

    // Lower-case hexadecimal text of `hash_size()` bytes at `hash` (the object's
    // own digest when null). Four rotating buffers: a result stays intact until
    // four further calls have been made on the same object.
    const wchar_t* hash_to_string(const void* hash = nullptr);

  protected:
    // Nothing destroys a hasher through this base; the concrete classes have
    // virtual destructors of their own.
    ~hasher() = default;

  private:
    wchar_t text_buffers[4][256] = {};
    std::int32_t text_counter = 0;  // accessed atomically
};

namespace korvane {

// A hasher made by the library (list_type::make_hasher). The hasher classes
// are destroyed through their own type only, so the deleter remembers it.
using owned_hasher = std::unique_ptr<hasher, void (*)(hasher*)>;

}  // namespace korvane

class KORVANE_API crc : public hasher {
  public:
    crc() = default;
    crc(const crc&) = default;
    crc& operator=(const crc&) = default;
    virtual ~crc();

    void init() override;
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override;
    const void* hash() const override;
    int hash_size() const override;

  private:
    // Meaningful only between init() and the next init(); zero before the
    // first init() so that copying a fresh object reads no indeterminate value.
    std::uint32_t crc_register = 0;
};

class KORVANE_API md5hasher : public hasher {
  public:
    md5hasher() = default;
    md5hasher(const md5hasher&) = default;
    md5hasher& operator=(const md5hasher&) = default;
    virtual ~md5hasher();

    void init() override { MD5Init(&context); }
    void update(const unsigned char* data, std::uint32_t length) override;
    void finalize() override { MD5Final(digest, &context); }
    const void* hash() const override;
    int hash_size() const override;

  private:
    md5_context context = {};  // zero before the first init(), like after finalize()
    unsigned char digest[16] = {};
};

#endif
