// Throughput of every CRC-32 path, of MD5, of every BLAKE3 path and of the
// xxHash hashers on cache-resident buffers: 4 KiB (a small file, hashed in
// one piece), 64 KiB, and 4 MiB (the main loops alone: the ceiling for large
// files). The reader hands large files to the processor in chunks of
// reader::chunk_size (256 KiB) filled by read().

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <korvane/blake3.h>
#include <korvane/hasher.h>
#include <korvane/xxhash_family.h>

#include "hash/blake3_paths.h"
#include "hash/crc32_paths.h"

namespace {

std::vector<unsigned char> random_buffer(std::size_t size) {
    std::vector<unsigned char> buf(size);
    std::mt19937 gen(42);
    for (auto& b : buf) {
        b = static_cast<unsigned char>(gen());
    }
    return buf;
}

void crc_path(benchmark::State& state, korvane::crc32::path p) {
    if (!korvane::crc32::path_supported(p)) {
        state.SkipWithError("path not supported on this CPU");
        return;
    }
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    korvane::crc32::force_path(p);
    crc c;
    c.init();
    for (auto _ : state) {
        c.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        benchmark::DoNotOptimize(c.hash());
    }
    korvane::crc32::reset_path();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// What the processor does per chunk with the automatic choice.
void crc_auto(benchmark::State& state) {
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    korvane::crc32::reset_path();
    crc c;
    c.init();
    for (auto _ : state) {
        c.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        benchmark::DoNotOptimize(c.hash());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.SetLabel(korvane::crc32::path_name(korvane::crc32::active_path()));
}

// Whole small files: init, one update, finalize, as for many tiny files.
void crc_small_file(benchmark::State& state) {
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    crc c;
    for (auto _ : state) {
        c.init();
        c.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        c.finalize();
        benchmark::DoNotOptimize(c.hash());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void md5(benchmark::State& state) {
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    md5hasher h;
    h.init();
    for (auto _ : state) {
        h.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        benchmark::DoNotOptimize(h.hash());
    }
    h.finalize();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void blake3_path(benchmark::State& state, korvane::blake3::path p) {
    if (!korvane::blake3::path_supported(p)) {
        state.SkipWithError("path not supported on this CPU");
        return;
    }
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    korvane::blake3::force_path(p);
    blake3hasher h;
    for (auto _ : state) {
        h.init();
        h.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        h.finalize();
        benchmark::DoNotOptimize(h.hash());
    }
    korvane::blake3::reset_path();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// The xxHash hashers over the same buffers: the ceiling of an XXH3 or XXH128
// list's large files, far above what the reader brings.
template <class kind>
void xxhash(benchmark::State& state) {
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    kind h;
    h.init();
    for (auto _ : state) {
        h.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        benchmark::DoNotOptimize(h.hash());
    }
    h.finalize();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

#define KORVANE_SIZES Arg(4 << 10)->Arg(64 << 10)->Arg(4 << 20)

BENCHMARK_CAPTURE(crc_path, reference, korvane::crc32::path::reference)->KORVANE_SIZES;
BENCHMARK_CAPTURE(crc_path, slicing16, korvane::crc32::path::slicing16)->KORVANE_SIZES;
BENCHMARK_CAPTURE(crc_path, pclmul, korvane::crc32::path::pclmul)->KORVANE_SIZES;
BENCHMARK_CAPTURE(crc_path, vpclmul256, korvane::crc32::path::vpclmul256)->KORVANE_SIZES;
BENCHMARK_CAPTURE(crc_path, vpclmul512, korvane::crc32::path::vpclmul512)->KORVANE_SIZES;
BENCHMARK(crc_auto)->KORVANE_SIZES;
BENCHMARK(crc_small_file)->Arg(1)->Arg(9)->Arg(64)->Arg(300);
BENCHMARK(md5)->KORVANE_SIZES;
BENCHMARK_CAPTURE(blake3_path, portable, korvane::blake3::path::portable)->KORVANE_SIZES;
BENCHMARK_CAPTURE(blake3_path, sse41, korvane::blake3::path::sse41)->KORVANE_SIZES;
BENCHMARK_CAPTURE(blake3_path, avx2, korvane::blake3::path::avx2)->KORVANE_SIZES;
BENCHMARK_CAPTURE(blake3_path, avx512, korvane::blake3::path::avx512)->KORVANE_SIZES;
BENCHMARK_TEMPLATE(xxhash, xxh64hasher)->KORVANE_SIZES;
BENCHMARK_TEMPLATE(xxhash, xxh3hasher)->KORVANE_SIZES;
BENCHMARK_TEMPLATE(xxhash, xxh128hasher)->KORVANE_SIZES;

// `bench_hash --md5-file=PATH` (or --crc-file=PATH, --blake3-file=PATH) hashes one file the way a
// checksum run would (4 MiB reads, one hasher) and prints the digest and the
// throughput, for comparison with other tools on the same cached file.
int hash_file(const char* path, hasher& h, std::size_t piece = 4u << 20) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    std::vector<char> buf(piece);
    const auto start = std::chrono::steady_clock::now();
    h.init();
    std::uint64_t total = 0;
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto got = static_cast<std::uint32_t>(in.gcount());
        h.update(reinterpret_cast<const unsigned char*>(buf.data()), got);
        total += got;
    }
    h.finalize();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ls  %s\n%.3f s, %.1f MB/s\n", h.hash_to_string(), path, seconds,
                static_cast<double>(total) / seconds / 1e6);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* md5_flag = "--md5-file=";
    constexpr const char* crc_flag = "--crc-file=";
    if (argc == 2 && std::strncmp(argv[1], md5_flag, std::strlen(md5_flag)) == 0) {
        md5hasher h;
        return hash_file(argv[1] + std::strlen(md5_flag), h);
    }
    if (argc == 2 && std::strncmp(argv[1], crc_flag, std::strlen(crc_flag)) == 0) {
        crc h;
        return hash_file(argv[1] + std::strlen(crc_flag), h);
    }
    constexpr const char* blake3_flag = "--blake3-file=";
    if (argc == 2 && std::strncmp(argv[1], blake3_flag, std::strlen(blake3_flag)) == 0) {
        // The pieces the reader hands the workers (reader::chunk_size), which
        // stay in the core's cache between the read and the hashing.
        blake3hasher h;
        return hash_file(argv[1] + std::strlen(blake3_flag), h, 256u << 10);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
