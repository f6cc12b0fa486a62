// MD5 checksum files in the common "digest, space, marker, name" layout.
#ifndef KORVANE_MD5_H
#define KORVANE_MD5_H

#include <cstdint>

#include <korvane/container.h>
#include <korvane/export.h>

class KORVANE_API md5 : public container {
  public:
    md5();
    ~md5() override;
    md5(const md5&) = delete;
    md5& operator=(const md5&) = delete;

    int open(const wchar_t* path) override;
    int close() override;
    int getNextFile(wchar_t* name, int nameSize, std::uint64_t* size, void* hashBytes) override;
    int isPreviouslyVerified(const wchar_t* path) override;
    int setPreviouslyVerified(bool verified) override;
    int create(const wchar_t* path) override;
    int addFile(const wchar_t* name, const void* hashBytes) override;
};

#endif
