// Code compiled for more than one x86-64 instruction set, chosen by the processor that runs
// it. The baseline is x86-64-v2 (CMakeLists.txt); AVX2 doubles the vector width.
//
// TARNWICK_AVX2_CLONES before a function compiles it twice, for the baseline and with
// AVX2, and the loader picks one (GCC's target_clones). The clones run the same source, so
// they give the same bits wherever the source fixes the order of every rounding (no fused
// multiply-add: -ffp-contract=off). A cloned function must not throw: an exception does
// not pass through the clones' dispatch. Elsewhere (another compiler or processor) it is
// empty and the function is compiled once.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TARNWICK_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARNWICK_AVX2_CLONES
#endif
