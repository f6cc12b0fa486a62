// The one way the hash code chooses among its paths (CRC-32, the SHA block
// functions, the MD5 lanes): a table of the paths a kernel has, and the
// choice among them, made once per process.
//
// A kernel describes its paths in a table, one row per value of its `path`
// enum and in that order: a name for test and benchmark labels, the function
// (null where this build has none: another CPU family, or a portable build)
// and what the CPU must offer for it (null: any CPU). A list of paths, best
// first and ending in one every CPU has, says which one is chosen, and a
// safe path is what a request for an unsupported one gets instead of a fault.
//
// The chosen function sits in one atomic pointer that starts out at a
// resolver: the first call detects the CPU, stores the best path and runs it,
// so the detection happens on the first use rather than at library load, and
// every later call costs one relaxed load and an indirect call. Two threads
// racing through the resolver store the same answer. Tests and benchmarks
// may force a path; forcing is process-wide and meant for single-threaded
// harnesses.
#ifndef KORVANE_LIB_HASH_CPU_PATHS_H
#define KORVANE_LIB_HASH_CPU_PATHS_H

#include <array>
#include <atomic>
#include <cstddef>

// The x86-64 paths exist in this build: an x86-64 target, and not a build of
// the portable paths alone (the starting point of a new CPU family).
#if (defined(__x86_64__) || defined(_M_X64)) && !defined(KORVANE_PORTABLE)
#define KORVANE_HASH_X86 1
#else
#define KORVANE_HASH_X86 0
#endif

// The function and the CPU test of an x86-64 row: `feature` names a member of
// hash_detail::x86::cpu_support. Elsewhere the row is there with neither, so
// every build has the same paths, by the same names, and only supports fewer.
#if KORVANE_HASH_X86
#define KORVANE_X86_PATH(function, feature) \
    function, [] { return ::korvane::hash_detail::x86::cpu().feature; }
#else
#define KORVANE_X86_PATH(function, feature) nullptr, nullptr
#endif

namespace korvane::hash_detail {

template <typename Fn>
struct cpu_path {
    const char* name;
    Fn function;          // null: not in this build
    bool (*available)();  // null: every CPU
};

// `Kernel` names the enum (`path`), the function type (`function`) and gives
// `rows` (std::array of cpu_path, one per enum value), `preference` (best
// first, the last one always available) and `safe`.
template <typename Kernel>
class path_lookup {
  public:
    using path = typename Kernel::path;
    using function = typename Kernel::function;
    static constexpr int count = static_cast<int>(Kernel::rows.size());
    static_assert(
        [] {
            for (const auto& r : Kernel::rows) {
                if (r.name == nullptr) {
                    return false;
                }
            }
            return true;
        }(),
        "every path has its row");

    static const char* name(path p) { return in_range(p) ? row(p).name : "unknown"; }

    // Whether this build, this CPU and the OS's saved register state allow `p`.
    static bool supported(path p) { return in_range(p) && support()[index(p)]; }

    static path best() {
        for (path p : Kernel::preference) {
            if (supported(p)) {
                return p;
            }
        }
        return Kernel::safe;
    }

    // The path the active function belongs to; before the first call, the
    // one the first call will choose.
    static path active_path() {
        if (active.load(std::memory_order_acquire) == &resolver<function>::call) {
            return best();
        }
        return active_id.load(std::memory_order_relaxed);
    }

    static bool force(path p) {
        if (!supported(p)) {
            return false;
        }
        active_id.store(p, std::memory_order_relaxed);
        active.store(row(p).function, std::memory_order_release);
        return true;
    }

    static void reset() { force(best()); }

    // The function of `p`, or of the safe path when `p` is not supported here
    // (never one that would fault on an illegal instruction).
    static function of(path p) { return row(supported(p) ? p : Kernel::safe).function; }

    // The function of a path already known to be supported, without the check.
    static function of_supported(path p) { return row(p).function; }

    // What the callers call: the active path.
    static function current() { return active.load(std::memory_order_relaxed); }

  private:
    template <typename F>
    struct resolver;
    template <typename R, typename... Args>
    struct resolver<R (*)(Args...)> {
        static R call(Args... args) {
            reset();
            return current()(args...);
        }
    };

    static constexpr int index(path p) { return static_cast<int>(p); }
    static constexpr bool in_range(path p) { return index(p) >= 0 && index(p) < count; }
    static constexpr const cpu_path<function>& row(path p) { return Kernel::rows[index(p)]; }

    static const std::array<bool, count>& support() {
        static const std::array<bool, count> table = [] {
            std::array<bool, count> t{};
            for (int i = 0; i < count; ++i) {
                const auto& r = Kernel::rows[i];
                t[i] = r.function != nullptr && (r.available == nullptr || r.available());
            }
            return t;
        }();  // thread-safe, once
        return table;
    }

    static inline std::atomic<function> active{&resolver<function>::call};
    static inline std::atomic<path> active_id{Kernel::safe};
};

}  // namespace korvane::hash_detail

#endif
