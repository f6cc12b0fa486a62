// Multi-lane MD5 against the single-stream hasher, on cache-resident buffers.
//
//   md5_blocks/<way>/<bytes>  every lane continues a long stream by <bytes>
//                             per run (the steady state of large files)
//   md5_files/<way>/<bytes>   whole files of <bytes>: attach, blocks, finish,
//                             take on every lane (small files, padding included)
//   md5_occupancy/<way>/<n>   only n lanes busy, throughput of those n
//                             (ratio against md5_blocks/hasher/16384)
// <way> is "hasher" (md5hasher, one stream: the reference) or a lane path.
// Throughput is aggregate over all lanes. After the runs the program prints,
// per benchmark, the median throughput and its ratio to the hasher's.
//
// `bench_md5_lanes --work=WAY:BYTES` only hashes 64 MiB as whole files of
// BYTES through WAY and exits: the workload for instruction counts, e.g.
//   valgrind --tool=callgrind --toggle-collect='*md5_lanes::run*'
//     --toggle-collect='*md5_lanes::finish*' --toggle-collect='MD5*'
//     bench_md5_lanes --work=avx512:4096

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <korvane/hasher.h>

#include "hash/md5_lanes.h"

namespace {

using korvane::md5mb::md5_lanes;
using korvane::md5mb::path;

constexpr int hasher_way = -1;  // the single-stream md5hasher

std::vector<unsigned char> random_buffer(std::size_t size, unsigned seed) {
    std::vector<unsigned char> buf(size);
    std::mt19937 gen(seed);
    for (auto& b : buf) {
        b = static_cast<unsigned char>(gen());
    }
    return buf;
}

bool way_usable(benchmark::State& state, int way) {
    if (way != hasher_way && !korvane::md5mb::path_supported(static_cast<path>(way))) {
        state.SkipWithError("path not supported on this CPU");
        return false;
    }
    return true;
}

// One buffer per lane, so that lanes read different memory as files would.
struct lane_buffers {
    std::vector<std::vector<unsigned char>> bufs;
    const unsigned char* data[korvane::md5mb::max_lanes] = {};

    lane_buffers(int lanes, std::size_t size) {
        for (int l = 0; l < lanes; ++l) {
            bufs.push_back(random_buffer(size, static_cast<unsigned>(l + 1)));
            data[l] = bufs.back().data();
        }
    }
};

void md5_blocks(benchmark::State& state, int way) {
    if (!way_usable(state, way)) {
        return;
    }
    const auto size = static_cast<std::size_t>(state.range(0));
    std::int64_t per_iteration = static_cast<std::int64_t>(size);
    if (way == hasher_way) {
        const auto buf = random_buffer(size, 1);
        md5hasher h;
        h.init();
        for (auto _ : state) {
            h.update(buf.data(), static_cast<std::uint32_t>(size));
        }
        h.finalize();
        benchmark::DoNotOptimize(h.hash());
    } else {
        md5_lanes h(static_cast<path>(way));
        const lane_buffers in(h.lanes(), size);
        while (h.attach() >= 0) {
        }
        for (auto _ : state) {
            h.run(in.data, size / 64);
        }
        benchmark::ClobberMemory();
        per_iteration *= h.lanes();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * per_iteration);
}

// Only range(0) lanes of 16 KiB streams have data: what a partly filled
// object gives. Throughput counts the busy lanes only.
void md5_occupancy(benchmark::State& state, int way) {
    if (!way_usable(state, way)) {
        return;
    }
    constexpr std::size_t size = 16 << 10;
    md5_lanes h(static_cast<path>(way));
    const int busy = std::min(static_cast<int>(state.range(0)), h.lanes());
    lane_buffers in(h.lanes(), size);
    for (int l = busy; l < h.lanes(); ++l) {
        in.data[l] = nullptr;
    }
    while (h.attach() >= 0) {
    }
    for (auto _ : state) {
        h.run(in.data, size / 64);
    }
    benchmark::ClobberMemory();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * busy *
                            static_cast<std::int64_t>(size));
}

// Hashes every lane's buffer as one whole file; returns the lanes used.
int whole_files(md5_lanes& h, const lane_buffers& in, std::size_t size) {
    int lanes = 0;
    while (h.attach() >= 0) {
        ++lanes;
    }
    h.run(in.data, size / 64);
    for (int l = 0; l < lanes; ++l) {
        h.finish(l, in.data[l] + size / 64 * 64, size % 64);
    }
    h.flush();
    unsigned char digest[16];
    for (int l = 0; l < lanes; ++l) {
        h.take(l, digest);
    }
    benchmark::DoNotOptimize(digest);
    return lanes;
}

void md5_files(benchmark::State& state, int way) {
    if (!way_usable(state, way)) {
        return;
    }
    const auto size = static_cast<std::size_t>(state.range(0));
    std::int64_t per_iteration = static_cast<std::int64_t>(size);
    if (way == hasher_way) {
        const auto buf = random_buffer(size, 1);
        md5hasher h;
        for (auto _ : state) {
            h.init();
            h.update(buf.data(), static_cast<std::uint32_t>(size));
            h.finalize();
            benchmark::DoNotOptimize(h.hash());
        }
    } else {
        md5_lanes h(static_cast<path>(way));
        const lane_buffers in(h.lanes(), size);
        for (auto _ : state) {
            whole_files(h, in, size);
        }
        per_iteration *= h.lanes();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * per_iteration);
}

#define KORVANE_WAYS(family, sizes)                                           \
    BENCHMARK_CAPTURE(family, hasher, hasher_way)->sizes;                     \
    BENCHMARK_CAPTURE(family, single, static_cast<int>(path::single))->sizes; \
    BENCHMARK_CAPTURE(family, avx2, static_cast<int>(path::avx2))->sizes;     \
    BENCHMARK_CAPTURE(family, avx512, static_cast<int>(path::avx512))->sizes

KORVANE_WAYS(md5_blocks, Arg(4 << 10)->Arg(16 << 10));
KORVANE_WAYS(md5_files, Arg(100)->Arg(1 << 10)->Arg(4 << 10)->Arg(64 << 10));
BENCHMARK_CAPTURE(md5_occupancy, avx2, static_cast<int>(path::avx2))->Arg(1)->Arg(4)->Arg(8);
BENCHMARK_CAPTURE(md5_occupancy, avx512, static_cast<int>(path::avx512))
    ->Arg(1)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16);

// Prints the medians of the repetitions and their ratio to the hasher's median
// for the same family and size.
class ratio_reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                const auto it = r.counters.find("bytes_per_second");
                if (it != r.counters.end()) {
                    medians_.emplace_back(r.run_name.str(), it->second.value);
                }
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::map<std::string, double> reference;
        for (const auto& [name, rate] : medians_) {
            if (name.find("/hasher/") != std::string::npos) {
                reference[key(name)] = rate;
            }
        }
        std::printf("\nmedian GB/s (aggregate over lanes), ratio to the single-stream hasher\n");
        for (const auto& [name, rate] : medians_) {
            const auto ref = reference.find(key(name));
            const double ratio =
                ref == reference.end() || ref->second == 0 ? 0 : rate / ref->second;
            std::printf("%-28s %8.2f GB/s  x%.2f\n", name.c_str(), rate / 1e9, ratio);
        }
    }

  private:
    // "family/way/size" -> "family/size"; occupancy compares with the
    // hasher on the same 16 KiB pieces.
    static std::string key(const std::string& name) {
        if (name.rfind("md5_occupancy/", 0) == 0) {
            return "md5_blocks/16384";
        }
        const auto first = name.find('/');
        const auto last = name.rfind('/');
        return name.substr(0, first) + name.substr(last);
    }

    std::vector<std::pair<std::string, double>> medians_;
};

int work(const char* request) {
    const char* colon = std::strchr(request, ':');
    if (colon == nullptr) {
        return 2;
    }
    const std::string way(request, colon);
    const auto size = static_cast<std::size_t>(std::strtoull(colon + 1, nullptr, 10));
    const std::size_t total = 64u << 20;
    std::size_t done = 0;
    if (way == "hasher") {
        const auto buf = random_buffer(size, 1);
        md5hasher h;
        for (; done < total; done += std::max<std::size_t>(size, 1)) {
            h.init();
            h.update(buf.data(), static_cast<std::uint32_t>(size));
            h.finalize();
        }
    } else {
        int p = -1;
        for (int i = 0; i < korvane::md5mb::path_count; ++i) {
            if (way == korvane::md5mb::path_name(static_cast<path>(i))) {
                p = i;
            }
        }
        if (p < 0 || !korvane::md5mb::path_supported(static_cast<path>(p))) {
            std::fprintf(stderr, "unknown or unsupported way %s\n", way.c_str());
            return 2;
        }
        md5_lanes h(static_cast<path>(p));
        const lane_buffers in(h.lanes(), size);
        while (done < total) {
            done +=
                std::max<std::size_t>(size, 1) * static_cast<std::size_t>(whole_files(h, in, size));
        }
    }
    std::printf("%zu bytes\n", done);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* work_flag = "--work=";
    if (argc == 2 && std::strncmp(argv[1], work_flag, std::strlen(work_flag)) == 0) {
        return work(argv[1] + std::strlen(work_flag));
    }
    // Medians need repetitions; a command-line value still wins.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions.data(), aggregates.data()});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
