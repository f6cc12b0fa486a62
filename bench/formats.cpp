// Reading and writing checksum lists of 100,000 entries.
#include <benchmark/benchmark.h>

#include <korvane/md5.h>
#include <korvane/sfv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr int entry_count = 100000;

std::filesystem::path bench_folder() {
    static std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() / "korvane-bench-formats";
        std::filesystem::create_directories(path / "config");
        // Keep the benchmark's signature out of the user's own configuration.
        ::setenv("LOCALAPPDATA", (path / "config").c_str(), 1);
        return path;
    }();
    return folder;
}

std::wstring wide(const std::filesystem::path& path) {
    std::string bytes = path.string();
    return std::wstring(bytes.begin(), bytes.end());
}

std::wstring entry_name(int i) {
    return L"photos/2024/holiday/IMG_" + std::to_wstring(100000 + i) + L".jpg";
}

// Writing: create and close, with the entries collected in between untimed.
template <typename List>
void write_list(benchmark::State& state, const char* file_name) {
    std::wstring target = wide(bench_folder() / file_name);
    unsigned char digest[16] = {0x12, 0x34, 0x56, 0x78};
    for (auto _ : state) {
        List list;
        if (list.create(target.c_str()) != 0) {
            state.SkipWithError("create failed");
            break;
        }
        state.PauseTiming();
        for (int i = 0; i < entry_count; ++i) {
            if (list.addFile(entry_name(i).c_str(), digest) != 0) {
                state.SkipWithError("addFile failed");
            }
        }
        state.ResumeTiming();
        if (list.close() != 0) {
            state.SkipWithError("close failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * entry_count);
}

// The names of the entries of one list.
std::vector<std::wstring> entry_names() {
    std::vector<std::wstring> names;
    for (int i = 0; i < entry_count; ++i) {
        names.push_back(entry_name(i));
    }
    return names;
}

// Collecting: addFile alone, which for SFV queries each file's size and time.
template <typename List>
void collect_list(benchmark::State& state, const char* file_name) {
    std::wstring target = wide(bench_folder() / file_name);
    unsigned char digest[16] = {0x12, 0x34, 0x56, 0x78};
    const std::vector<std::wstring> names = entry_names();
    for (auto _ : state) {
        List list;
        if (list.create(target.c_str()) != 0) {
            state.SkipWithError("create failed");
            break;
        }
        int failed = 0;
        for (const auto& name : names) {
            failed |= list.addFile(name.c_str(), digest);
        }
        state.PauseTiming();
        if (failed != 0 || list.close() != 0) {
            state.SkipWithError("the list was not written");
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * entry_count);
}

// Creating: addFile for every entry and close, timed together, as a creation
// run spends them. SFV entries come with their size and time, so that no file
// is looked up.
template <typename List>
int add_entry(List& list, const std::wstring& name, const unsigned char* digest, int i) {
    if constexpr (std::is_same_v<List, sfv>) {
        return list.addFile(name.c_str(), digest, 1000 + static_cast<std::uint64_t>(i),
                            133500000000000000ULL + static_cast<std::uint64_t>(i) * 10000000ULL);
    } else {
        return list.addFile(name.c_str(), digest);
    }
}

template <typename List>
void create_list(benchmark::State& state, const char* file_name) {
    std::wstring target = wide(bench_folder() / file_name);
    unsigned char digest[16] = {0x12, 0x34, 0x56, 0x78};
    const std::vector<std::wstring> names = entry_names();
    for (auto _ : state) {
        List list;
        if (list.create(target.c_str()) != 0) {
            state.SkipWithError("create failed");
            break;
        }
        int failed = 0;
        for (int i = 0; i < entry_count; ++i) {
            failed |= add_entry(list, names[static_cast<std::size_t>(i)], digest, i);
        }
        if (failed != 0 || list.close() != 0) {
            state.SkipWithError("the list was not written");
        }
    }
    state.SetItemsProcessed(state.iterations() * entry_count);
}

template <typename List>
void read_list(benchmark::State& state, const char* file_name, int digest_size) {
    std::wstring target = wide(bench_folder() / file_name);
    {
        List list;
        int failed = list.create(target.c_str());
        unsigned char digest[16] = {0xAB};
        for (int i = 0; i < entry_count && failed == 0; ++i) {
            failed = list.addFile(entry_name(i).c_str(), digest);
        }
        if (failed != 0 || list.close() != 0) {
            state.SkipWithError("the list was not written");
            return;
        }
    }
    for (auto _ : state) {
        List list;
        if (list.open(target.c_str()) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        wchar_t name[264];
        unsigned char hash[16];
        std::uint64_t size;
        int count = 0;
        while (list.getNextFile(name, 264, &size, hash) > 0) {
            ++count;
        }
        // Nothing verified: the list is left as it is.
        if (list.close() != 0 || count != entry_count) {
            state.SkipWithError("wrong entry count, or close failed");
        }
        benchmark::DoNotOptimize(hash[digest_size - 1]);
    }
    state.SetItemsProcessed(state.iterations() * entry_count);
}

void BM_SfvWrite100k(benchmark::State& state) {
    write_list<sfv>(state, "write.sfv");
}
void BM_Md5Write100k(benchmark::State& state) {
    write_list<md5>(state, "write.md5");
}
void BM_SfvAddFile100k(benchmark::State& state) {
    collect_list<sfv>(state, "collect.sfv");
}
void BM_Md5AddFile100k(benchmark::State& state) {
    collect_list<md5>(state, "collect.md5");
}
void BM_SfvCreate100k(benchmark::State& state) {
    create_list<sfv>(state, "create.sfv");
}
void BM_Md5Create100k(benchmark::State& state) {
    create_list<md5>(state, "create.md5");
}
void BM_SfvRead100k(benchmark::State& state) {
    read_list<sfv>(state, "read.sfv", 4);
}
void BM_Md5Read100k(benchmark::State& state) {
    read_list<md5>(state, "read.md5", 16);
}

BENCHMARK(BM_SfvWrite100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5Write100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SfvAddFile100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5AddFile100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SfvCreate100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5Create100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SfvRead100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Md5Read100k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
