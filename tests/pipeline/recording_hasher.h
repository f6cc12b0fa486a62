// A hasher for the pipeline tests: keeps every byte it is fed, so that a test
// can compare them with the file, and counts the calls it receives.
#ifndef KORVANE_TESTS_PIPELINE_RECORDING_HASHER_H
#define KORVANE_TESTS_PIPELINE_RECORDING_HASHER_H

#include <korvane/hasher.h>

#include <functional>
#include <string>
#include <vector>

class recording_hasher final : public hasher {
  public:
    virtual ~recording_hasher() = default;

    void init() override {
        ++inits;
        bytes.clear();
        lengths.clear();
    }
    void update(const unsigned char* data, std::uint32_t length) override {
        if (on_update) {
            on_update(lengths.size());
        }
        bytes.append(reinterpret_cast<const char*>(data), length);
        lengths.push_back(length);
    }
    void finalize() override { ++finalizes; }
    const void* hash() const override { return bytes.data(); }
    int hash_size() const override { return static_cast<int>(bytes.size()); }

    std::string bytes;
    std::vector<std::uint32_t> lengths;
    int inits = 0;
    int finalizes = 0;
    // Called before each chunk is taken, with the number of chunks so far.
    std::function<void(std::size_t)> on_update;
};

#endif
