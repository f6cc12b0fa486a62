// Throughput of every SHA path, one stream on a cache-resident buffer, the
// paired SHA-1/SHA-256 lanes (two whole messages at once), and a fixed
// workload for instruction counts under callgrind.
//
//   bench_sha                            Google Benchmark runs of every path
//   bench_sha --work=ALG:PATH:BUFFERS    hashes BUFFERS times 64 KiB on one
//                                        path and prints the digest; run under
//                                        callgrind at two counts, the
//                                        difference gives instructions/byte
// bench/sha_speed.sh compares the paths with openssl speed in one script.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <korvane/sha.h>

#include "hash/sha_lanes.h"
#include "hash/sha_paths.h"

namespace {

namespace sha = korvane::sha;

std::vector<unsigned char> random_buffer(std::size_t size) {
    std::vector<unsigned char> buf(size);
    std::mt19937 gen(42);
    for (auto& b : buf) {
        b = static_cast<unsigned char>(gen());
    }
    return buf;
}

template <typename H>
void run_path(benchmark::State& state, sha::algorithm a, sha::path p) {
    if (!sha::force_path(a, p)) {
        state.SkipWithError("path not supported on this CPU");
        return;
    }
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    H h;
    h.init();
    for (auto _ : state) {
        h.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        benchmark::DoNotOptimize(h.hash());
    }
    h.finalize();
    sha::reset_path(a);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// The same loop as openssl speed: whole messages of one buffer each.
template <typename H>
void run_message(benchmark::State& state, sha::algorithm a) {
    sha::reset_path(a);
    const auto buf = random_buffer(static_cast<std::size_t>(state.range(0)));
    H h;
    for (auto _ : state) {
        h.init();
        h.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
        h.finalize();
        benchmark::DoNotOptimize(h.hash());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.SetLabel(sha::path_name(sha::active_path(a)));
}

void sha_path(benchmark::State& state, sha::algorithm a, sha::path p) {
    switch (a) {
        case sha::algorithm::sha1:
            return run_path<sha1hasher>(state, a, p);
        case sha::algorithm::sha256:
            return run_path<sha256hasher>(state, a, p);
        case sha::algorithm::sha512:
            return run_path<sha512hasher>(state, a, p);
    }
}

void sha_message(benchmark::State& state, sha::algorithm a) {
    switch (a) {
        case sha::algorithm::sha1:
            return run_message<sha1hasher>(state, a);
        case sha::algorithm::sha256:
            return run_message<sha256hasher>(state, a);
        case sha::algorithm::sha512:
            return run_message<sha512hasher>(state, a);
    }
}

// Two messages of the benchmark's size at once through the lanes, as the
// workers hash two small files; bytes counted are both messages'.
void sha_lanes(benchmark::State& state, sha::algorithm a, korvane::shamb::path p) {
    if (!korvane::shamb::path_supported(a, p)) {
        state.SkipWithError("path not supported on this CPU");
        return;
    }
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto buf = random_buffer(2 * size);
    korvane::shamb::sha_lanes lanes(a, p);
    unsigned char digest[32];
    for (auto _ : state) {
        const unsigned char* data[2] = {buf.data(), buf.data() + size};
        for (int l = 0; l < 2; ++l) {
            lanes.attach();
        }
        lanes.run(data, size / 64);
        for (int l = 0; l < 2; ++l) {
            lanes.finish(l, data[l] + size / 64 * 64, size % 64);
        }
        lanes.flush();
        for (int l = 0; l < 2; ++l) {
            lanes.take(l, digest);
        }
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 2);
}

#define KORVANE_SIZES Arg(4 << 10)->Arg(64 << 10)->Arg(4 << 20)

BENCHMARK_CAPTURE(sha_path, sha1_portable, sha::algorithm::sha1, sha::path::portable)
    ->KORVANE_SIZES;
BENCHMARK_CAPTURE(sha_path, sha1_shani, sha::algorithm::sha1, sha::path::shani)->KORVANE_SIZES;
BENCHMARK_CAPTURE(sha_path, sha256_portable, sha::algorithm::sha256, sha::path::portable)
    ->KORVANE_SIZES;
BENCHMARK_CAPTURE(sha_path, sha256_shani, sha::algorithm::sha256, sha::path::shani)->KORVANE_SIZES;
BENCHMARK_CAPTURE(sha_path, sha512_portable, sha::algorithm::sha512, sha::path::portable)
    ->KORVANE_SIZES;
BENCHMARK_CAPTURE(sha_path, sha512_avx2, sha::algorithm::sha512, sha::path::avx2)->KORVANE_SIZES;
BENCHMARK_CAPTURE(sha_path, sha512_avx512, sha::algorithm::sha512, sha::path::avx512)
    ->KORVANE_SIZES;
BENCHMARK_CAPTURE(sha_lanes, sha1_single, sha::algorithm::sha1, korvane::shamb::path::single)
    ->Arg(4 << 10);
BENCHMARK_CAPTURE(sha_lanes, sha1_shani, sha::algorithm::sha1, korvane::shamb::path::shani)
    ->Arg(4 << 10);
BENCHMARK_CAPTURE(sha_lanes, sha256_single, sha::algorithm::sha256, korvane::shamb::path::single)
    ->Arg(4 << 10);
BENCHMARK_CAPTURE(sha_lanes, sha256_shani, sha::algorithm::sha256, korvane::shamb::path::shani)
    ->Arg(4 << 10);
BENCHMARK_CAPTURE(sha_message, sha1, sha::algorithm::sha1)->Arg(64 << 10);
BENCHMARK_CAPTURE(sha_message, sha256, sha::algorithm::sha256)->Arg(64 << 10);
BENCHMARK_CAPTURE(sha_message, sha512, sha::algorithm::sha512)->Arg(64 << 10);

template <typename H>
int work(sha::algorithm a, sha::path p, long buffers) {
    if (!sha::force_path(a, p)) {
        std::fprintf(stderr, "%s: path %s not supported here\n", sha::algorithm_name(a),
                     sha::path_name(p));
        return 1;
    }
    const auto buf = random_buffer(64 << 10);
    H h;
    h.init();
    for (long i = 0; i < buffers; ++i) {
        h.update(buf.data(), static_cast<std::uint32_t>(buf.size()));
    }
    h.finalize();
    std::printf("%ls\n", h.hash_to_string());
    return 0;
}

// --work=ALG:PATH:BUFFERS
int run_work(const char* request) {
    const std::string s(request);
    const auto c1 = s.find(':');
    const auto c2 = s.find(':', c1 == std::string::npos ? c1 : c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) {
        std::fprintf(stderr, "expected --work=ALG:PATH:BUFFERS\n");
        return 2;
    }
    const std::string alg = s.substr(0, c1);
    const std::string path = s.substr(c1 + 1, c2 - c1 - 1);
    const long buffers = std::strtol(s.c_str() + c2 + 1, nullptr, 10);
    for (int pi = 0; pi < sha::path_count; ++pi) {
        const auto p = static_cast<sha::path>(pi);
        if (path != sha::path_name(p)) {
            continue;
        }
        if (alg == "sha1") {
            return work<sha1hasher>(sha::algorithm::sha1, p, buffers);
        }
        if (alg == "sha256") {
            return work<sha256hasher>(sha::algorithm::sha256, p, buffers);
        }
        if (alg == "sha512") {
            return work<sha512hasher>(sha::algorithm::sha512, p, buffers);
        }
    }
    std::fprintf(stderr, "unknown algorithm or path in %s\n", request);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* work_flag = "--work=";
    if (argc == 2 && std::strncmp(argv[1], work_flag, std::strlen(work_flag)) == 0) {
        return run_work(argv[1] + std::strlen(work_flag));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
