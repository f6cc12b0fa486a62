// The hashing pipeline against its ceilings and against a plain loop, on
// cached files:
//   (a) one 1 GiB file: the processor, a plain single-threaded loop (open,
//       read, hash, close), the CRC kernel on a buffer in memory and merely
//       reading the cached file;
//   (b) 20,000 files of 4 KiB: the processor and the plain loop.
// Every figure is the median over the repetitions; a summary with the ratios
// is printed after Google Benchmark's own table.
//
// KORVANE_BENCH_DIR chooses where the files are created (default: the system's
// temporary directory); KORVANE_BENCH_BIG_MIB the size of the big file.
#include <korvane/hasher.h>
#include <korvane/processor.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hash/crc32_paths.h"
#include "platform/file_read.h"

namespace {

namespace fs = std::filesystem;
namespace platform = korvane::platform;
using steady = std::chrono::steady_clock;

constexpr int small_count = 20000;
constexpr std::size_t small_size = 4096;
constexpr std::size_t piece = 4u * 1024u * 1024u;

std::uint64_t big_size() {
    const char* mib = std::getenv("KORVANE_BENCH_BIG_MIB");
    return std::uint64_t(mib != nullptr ? std::atoi(mib) : 1024) * 1024 * 1024;
}

struct fixture {
    fs::path root;
    fs::path big;
    std::vector<std::wstring> small;

    fixture() {
        const char* base = std::getenv("KORVANE_BENCH_DIR");
        root = fs::path(base != nullptr ? base : fs::temp_directory_path().string()) /
               "korvane-bench-pipeline";
        fs::remove_all(root);
        fs::create_directories(root / "small");
        std::mt19937_64 gen(42);
        std::vector<std::uint64_t> block(piece / 8);
        big = root / "big";
        {
            std::ofstream out(big, std::ios::binary);
            for (std::uint64_t done = 0; done < big_size(); done += piece) {
                for (auto& word : block) {
                    word = gen();
                }
                out.write(reinterpret_cast<const char*>(block.data()), piece);
            }
        }
        for (int i = 0; i < small_count; ++i) {
            fs::path p = root / "small" / std::to_string(i);
            std::ofstream out(p, std::ios::binary);
            out.write(reinterpret_cast<const char*>(block.data()) + (i % 512) * 8, small_size);
            small.push_back(p.wstring());
        }
    }
    ~fixture() { fs::remove_all(root); }
};

fixture& files() {
    static fixture f;
    return f;
}

// Seconds of every repetition, by benchmark name.
std::map<std::string, std::vector<double>>& samples() {
    static std::map<std::string, std::vector<double>> s;
    return s;
}

template <typename F>
void timed(benchmark::State& state, const std::string& name, std::uint64_t bytes, F body) {
    for (auto _ : state) {
        auto start = steady::now();
        body();
        double seconds = std::chrono::duration<double>(steady::now() - start).count();
        state.SetIterationTime(seconds);
        samples()[name].push_back(seconds);
    }
    state.SetBytesProcessed(std::int64_t(bytes) * state.iterations());
}

// The plain loop: one thread opens, reads, hashes and closes every file.
std::uint32_t plain_hash(const std::wstring& path, std::vector<unsigned char>& buffer) {
    platform::file_handle file = platform::invalid_file;
    std::uint64_t size = 0;
    if (platform::open_for_hashing(path.c_str(), file, size) != 0) {
        std::abort();
    }
    crc c;
    c.init();
    for (std::uint64_t offset = 0; offset < size;) {
        auto length = std::size_t(std::min<std::uint64_t>(size - offset, buffer.size()));
        if (platform::read_exact(file, buffer.data(), length, offset) != 0) {
            std::abort();
        }
        c.update(buffer.data(), std::uint32_t(length));
        offset += length;
    }
    c.finalize();
    platform::close_file(file);
    return *static_cast<const std::uint32_t*>(c.hash());
}

void BM_big_crc_kernel(benchmark::State& state) {
    // The ceiling set by hashing: CRC over a 4 MiB buffer already in memory.
    std::vector<unsigned char> buffer(piece, 0x5A);
    std::uint64_t total = big_size();
    timed(state, "big_crc_kernel", total, [&] {
        crc c;
        c.init();
        for (std::uint64_t done = 0; done < total; done += piece) {
            c.update(buffer.data(), std::uint32_t(piece));
        }
        c.finalize();
        benchmark::DoNotOptimize(c.hash());
    });
}

void BM_big_read_only(benchmark::State& state) {
    // The ceiling set by the OS: reading the cached file into a buffer.
    std::vector<unsigned char> buffer(piece);
    std::wstring path = files().big.wstring();
    timed(state, "big_read_only", big_size(), [&] {
        platform::file_handle file = platform::invalid_file;
        std::uint64_t size = 0;
        if (platform::open_for_hashing(path.c_str(), file, size) != 0) {
            std::abort();
        }
        for (std::uint64_t offset = 0; offset < size; offset += piece) {
            if (platform::read_exact(file, buffer.data(),
                                     std::size_t(std::min<std::uint64_t>(piece, size - offset)),
                                     offset) != 0) {
                std::abort();
            }
        }
        platform::close_file(file);
        benchmark::DoNotOptimize(buffer.data());
    });
}

void BM_big_plain_loop(benchmark::State& state) {
    std::vector<unsigned char> buffer(std::size_t(state.range(0)));
    std::wstring path = files().big.wstring();
    timed(state, "big_plain_loop_" + std::to_string(state.range(0) / 1024) + "k", big_size(),
          [&] { benchmark::DoNotOptimize(plain_hash(path, buffer)); });
}

void BM_big_processor(benchmark::State& state) {
    processor p;
    p.start();
    crc c;
    std::wstring path = files().big.wstring();
    timed(state, "big_processor", big_size(), [&] {
        if (p.processFile(path.c_str(), &c) != 0) {
            std::abort();  // no thread would ever complete it
        }
        p.complete();
        if (p.error() != 0) {
            std::abort();
        }
    });
}

void BM_small_plain_loop(benchmark::State& state) {
    std::vector<unsigned char> buffer(64 * 1024);
    timed(state, "small_plain_loop", small_count * small_size, [&] {
        for (const auto& path : files().small) {
            benchmark::DoNotOptimize(plain_hash(path, buffer));
        }
    });
}

void BM_small_processor(benchmark::State& state) {
    processor p;
    p.start();
    crc c;
    timed(state, "small_processor", small_count * small_size, [&] {
        for (const auto& path : files().small) {
            if (p.processFile(path.c_str(), &c) != 0) {
                std::abort();  // no thread would ever complete it
            }
            // As the program waits: with a time-out, reading the percentage.
            while (!p.complete(3000)) {
            }
            benchmark::DoNotOptimize(p.percent_complete());
            if (p.error() != 0) {
                std::abort();
            }
        }
    });
}

constexpr int big_repetitions = 7;
constexpr int small_repetitions = 9;

BENCHMARK(BM_big_crc_kernel)
    ->Iterations(1)
    ->Repetitions(big_repetitions)
    ->UseManualTime()
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_big_read_only)
    ->Iterations(1)
    ->Repetitions(big_repetitions)
    ->UseManualTime()
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_big_plain_loop)
    ->Arg(256 * 1024)
    ->Arg(4 * 1024 * 1024)
    ->Iterations(1)
    ->Repetitions(big_repetitions)
    ->UseManualTime()
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_big_processor)
    ->Iterations(1)
    ->Repetitions(big_repetitions)
    ->UseManualTime()
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_small_plain_loop)
    ->Iterations(1)
    ->Repetitions(small_repetitions)
    ->UseManualTime()
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_small_processor)
    ->Iterations(1)
    ->Repetitions(small_repetitions)
    ->UseManualTime()
    ->ReportAggregatesOnly(true);

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v.size() % 2 != 0 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void print_summary() {
    auto& s = samples();
    auto gbps = [&](const std::string& name) {
        double m = median(s[name]);
        return m > 0 ? double(big_size()) / m / 1e9 : 0.0;
    };
    std::printf("\nSummary (medians; CRC path: %s; big file %llu MiB)\n",
                korvane::crc32::path_name(korvane::crc32::active_path()),
                static_cast<unsigned long long>(big_size() >> 20));
    if (s.count("big_processor") != 0) {
        double kernel = gbps("big_crc_kernel");
        double read = gbps("big_read_only");
        double ceiling = std::min(kernel, read);
        double proc = gbps("big_processor");
        std::printf("  (a) CRC kernel on a buffer     %7.2f GB/s\n", kernel);
        std::printf("      reading the cached file    %7.2f GB/s\n", read);
        std::printf("      plain loop, 256 KiB reads  %7.2f GB/s\n", gbps("big_plain_loop_256k"));
        std::printf("      plain loop, 4 MiB reads    %7.2f GB/s\n", gbps("big_plain_loop_4096k"));
        std::printf("      processor                  %7.2f GB/s = %.1f%% of the lower ceiling\n",
                    proc, ceiling > 0 ? 100 * proc / ceiling : 0.0);
    }
    if (s.count("small_processor") != 0) {
        double plain = median(s["small_plain_loop"]);
        double proc = median(s["small_processor"]);
        std::printf("  (b) %d files of %zu bytes: plain loop %.1f ms, processor %.1f ms\n",
                    small_count, small_size, plain * 1e3, proc * 1e3);
        std::printf(
            "      ratio %.2f; per file %.2f us plain, %.2f us processor, overhead %.2f us\n",
            plain > 0 ? proc / plain : 0.0, plain / small_count * 1e6, proc / small_count * 1e6,
            (proc - plain) / small_count * 1e6);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    files();  // create (and so cache) the files before anything is timed
    benchmark::RunSpecifiedBenchmarks();
    print_summary();
    benchmark::Shutdown();
    return 0;
}
