// Hashes known buffers through the installed library and checks the results.
#include <korvane/hasher.h>
#include <korvane/sha.h>
#include <korvane/version.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

int main() {
    const char* check = "123456789";
    crc checksum;
    checksum.init();
    checksum.update(reinterpret_cast<const unsigned char*>(check), 9);
    checksum.finalize();
    unsigned value = 0;
    const auto* bytes = static_cast<const unsigned char*>(checksum.hash());
    for (int i = checksum.hash_size() - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    std::printf("crc %08x\n", value);

    md5_context context;
    unsigned char digest[16];
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const unsigned char*>("abc"), 3);
    MD5Final(digest, &context);
    static const unsigned char abc[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                          0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    std::printf("version %s\n", g_version);

    sha256hasher sha;
    sha.init();
    sha.update(reinterpret_cast<const unsigned char*>("abc"), 3);
    sha.finalize();
    const bool sha_ok =
        sha.hash_size() == 32 &&
        std::wcscmp(sha.hash_to_string(),
                    L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") == 0;
    std::printf("sha256 %s\n", sha_ok ? "ok" : "wrong");

    bool ok = checksum.hash_size() == 4 && value == 0xcbf43926u &&
              std::memcmp(digest, abc, 16) == 0 && std::strcmp(g_version, "3.00") == 0 && sha_ok;
    std::puts(ok ? "consumer ok" : "consumer FAILED");
    return ok ? 0 : 1;
}
