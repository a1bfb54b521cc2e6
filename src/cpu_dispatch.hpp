// Code compiled for more than one x86-64 instruction set, chosen by the processor that runs
// it. The baseline is x86-64-v2 (CMakeLists.txt); AVX2 doubles the vector width.
//
// TARNWICK_AVX2_CLONES before a function compiles it twice, for the baseline and with
// AVX2, and the loader picks one (GCC's target_clones). The clones run the same source, so
// they give the same bits wherever the source fixes the order of every rounding (no fused
// multiply-add: -ffp-contract=off). A cloned function must not throw: an exception does
// not pass through the clones' dispatch. Elsewhere (another compiler or processor) it is
// empty and the function is compiled once.
//
// TARNWICK_AVX2_TARGET marks a function written with AVX2 intrinsics, compiled where
// TARNWICK_HAS_AVX2_TARGET is defined and called only when has_avx2() says the processor
// has it.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TARNWICK_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARNWICK_AVX2_CLONES
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define TARNWICK_HAS_AVX2_TARGET 1
#define TARNWICK_AVX2_TARGET __attribute__((target("avx2")))

namespace tarnwick {
/// Whether the processor running this has AVX2 (asked once).
inline bool has_avx2() noexcept {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
}  // namespace tarnwick
#endif
