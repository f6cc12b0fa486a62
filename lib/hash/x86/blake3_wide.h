// BLAKE3's compression on W inputs at once, one input per vector lane: the
// body every x86-64 width shares. The including file defines
// KORVANE_B3_INLINE (inline, always_inline and its target) and an `ops`
// struct: the vector type `v`, `lanes`, add, xor_, the four rotations,
// set1, load (of `lanes` aligned words) and load_message (one block of each
// input, transposed so that vector i holds message word i of every input).
// Included inside namespace korvane::blake3::x86 of each width's file, so
// each width compiles it for its own target.

template <class O>
KORVANE_B3_INLINE void g(typename O::v* s, int a, int b, int c, int d, typename O::v x,
                         typename O::v y) {
    s[a] = O::add(O::add(s[a], s[b]), x);
    s[d] = O::rot16(O::xor_(s[d], s[a]));
    s[c] = O::add(s[c], s[d]);
    s[b] = O::rot12(O::xor_(s[b], s[c]));
    s[a] = O::add(O::add(s[a], s[b]), y);
    s[d] = O::rot8(O::xor_(s[d], s[a]));
    s[c] = O::add(s[c], s[d]);
    s[b] = O::rot7(O::xor_(s[b], s[c]));
}

template <class O, int R>
KORVANE_B3_INLINE void round(typename O::v* s, const typename O::v* m) {
    constexpr const auto& w = schedule[R];
    g<O>(s, 0, 4, 8, 12, m[w[0]], m[w[1]]);
    g<O>(s, 1, 5, 9, 13, m[w[2]], m[w[3]]);
    g<O>(s, 2, 6, 10, 14, m[w[4]], m[w[5]]);
    g<O>(s, 3, 7, 11, 15, m[w[6]], m[w[7]]);
    g<O>(s, 0, 5, 10, 15, m[w[8]], m[w[9]]);
    g<O>(s, 1, 6, 11, 12, m[w[10]], m[w[11]]);
    g<O>(s, 2, 7, 8, 13, m[w[12]], m[w[13]]);
    g<O>(s, 3, 4, 9, 14, m[w[14]], m[w[15]]);
}

// One block of every lane into the chaining values `h`.
template <class O>
KORVANE_B3_INLINE void compress_lanes(typename O::v* h, const typename O::v* m, typename O::v lo,
                                      typename O::v hi, std::uint32_t flags) {
    using v = typename O::v;
    v s[16] = {h[0],
               h[1],
               h[2],
               h[3],
               h[4],
               h[5],
               h[6],
               h[7],
               O::set1(iv[0]),
               O::set1(iv[1]),
               O::set1(iv[2]),
               O::set1(iv[3]),
               lo,
               hi,
               O::set1(static_cast<std::uint32_t>(block_bytes)),
               O::set1(flags)};
    round<O, 0>(s, m);
    round<O, 1>(s, m);
    round<O, 2>(s, m);
    round<O, 3>(s, m);
    round<O, 4>(s, m);
    round<O, 5>(s, m);
    round<O, 6>(s, m);
    for (int k = 0; k < 8; ++k) {
        h[k] = O::xor_(s[k], s[k + 8]);
    }
}

// Inputs first .. first + lanes - 1 of `job`.
template <class O>
KORVANE_B3_INLINE void hash_group(const many_job& job, std::size_t first, unsigned char* out) {
    using v = typename O::v;
    constexpr int w = O::lanes;
    const unsigned char* inputs[w];
    alignas(64) std::uint32_t lo[w];
    alignas(64) std::uint32_t hi[w];
    for (int i = 0; i < w; ++i) {
        inputs[i] = job.data + (first + i) * job.stride;
        const std::uint64_t c = job.counter + (job.increment ? first + i : 0);
        lo[i] = static_cast<std::uint32_t>(c);
        hi[i] = static_cast<std::uint32_t>(c >> 32);
    }
    v h[8];
    for (int k = 0; k < 8; ++k) {
        h[k] = O::set1(iv[k]);
    }
    const v vlo = O::load(lo);
    const v vhi = O::load(hi);
    for (std::size_t b = 0; b < job.blocks; ++b) {
        std::uint32_t flags = job.flags;
        flags |= b == 0 ? job.first : 0;
        flags |= b + 1 == job.blocks ? job.last : 0;
        v m[16];
        O::load_message(inputs, b * block_bytes, m);
        compress_lanes<O>(h, m, vlo, vhi, flags);
    }
    alignas(64) std::uint32_t words[8][w];
    for (int k = 0; k < 8; ++k) {
        O::store(words[k], h[k]);
    }
    // x86-64 is little-endian: the words' bytes are the chaining values'.
    for (int i = 0; i < w; ++i) {
        for (int k = 0; k < 8; ++k) {
            std::memcpy(out + (first + i) * cv_bytes + 4 * k, &words[k][i], 4);
        }
    }
}

// Runs whole groups of `job`; returns how many inputs are left over.
template <class O>
KORVANE_B3_INLINE std::size_t hash_groups(const many_job& job, unsigned char* out) {
    std::size_t done = 0;
    for (; job.count - done >= O::lanes; done += O::lanes) {
        hash_group<O>(job, done, out);
    }
    return done;
}

// The inputs of `job` from `done` on, as a job of their own.
inline many_job rest_of(const many_job& job, std::size_t done) {
    many_job rest = job;
    rest.data += done * job.stride;
    rest.count -= done;
    rest.counter += job.increment ? done : 0;
    return rest;
}
