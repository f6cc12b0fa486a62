// The folding routine of the carry-less-multiply CRC-32 paths, written once
// over the vector width W (hash/x86/crc32_clmul.cpp defines the widths).
//
// A function template cannot take its target attribute from its template
// argument, and a vector routine compiled without the target of its width
// either fails to build or runs instructions the CPU may not have. So this
// file is included once per width: the includer defines KORVANE_FOLD_TARGET
// (the target attribute of the width) and KORVANE_FOLD_NAME (the name of this
// copy), and the file undefines both. No include guard, on purpose.
//
// Four accumulators of width W take four vectors per step; they are then
// folded into one, which takes the remaining whole vectors; its lanes are
// folded into 128 bits, and finish128 does the rest. `n` is at least four
// vectors.

template <class W>
KORVANE_FOLD_TARGET inline std::uint32_t KORVANE_FOLD_NAME(std::uint32_t reg,
                                                           const unsigned char* p, std::size_t n) {
    using vec = typename W::vec;
    constexpr std::size_t step = 4 * W::bytes;
    // Computed by the compiler: at run time only the broadcasts remain.
    constexpr fold_constants k1 = fold_vectors<W>(1);
    constexpr fold_constants k2 = fold_vectors<W>(2);
    constexpr fold_constants k3 = fold_vectors<W>(3);
    constexpr fold_constants k4 = fold_vectors<W>(4);

    vec a0 = W::with_register(W::load(p), reg);
    vec a1 = W::load(p + W::bytes);
    vec a2 = W::load(p + 2 * W::bytes);
    vec a3 = W::load(p + 3 * W::bytes);
    p += step;
    n -= step;
    const vec by4 = W::constants(k4);
    while (n >= step) {
        a0 = W::fold_xor(a0, by4, W::load(p));
        a1 = W::fold_xor(a1, by4, W::load(p + W::bytes));
        a2 = W::fold_xor(a2, by4, W::load(p + 2 * W::bytes));
        a3 = W::fold_xor(a3, by4, W::load(p + 3 * W::bytes));
        p += step;
        n -= step;
    }
    const vec by1 = W::constants(k1);
    a0 = W::fold_xor(a0, W::constants(k3),
                     W::fold_xor(a1, W::constants(k2), W::fold_xor(a2, by1, a3)));
    while (n >= W::bytes) {
        a0 = W::fold_xor(a0, by1, W::load(p));
        p += W::bytes;
        n -= W::bytes;
    }
    return finish128(W::narrow(a0), p, n);
}

#undef KORVANE_FOLD_TARGET
#undef KORVANE_FOLD_NAME
