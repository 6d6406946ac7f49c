// The packed kernel with SSE2: two channel-samples per instruction, one
// generator's left and right channel side by side. SSE2 is part of every
// build of the engine (x86-64, and the 32-bit build's -msse2).
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "engine/exact_remainder.h"
#include "engine/precise_sine.h"
#include "engine/synthesis_kernels.h"

#ifndef __SSE2__
#error "the synthesis needs SSE2"
#endif

namespace synthesis_detail {
namespace sse2 {

using V = __m128d;
inline constexpr int kLanes = 2;
#define KQ_PACKED

inline V Set1(double x) { return _mm_set1_pd(x); }
inline V Zero() { return _mm_setzero_pd(); }
inline V Add(V a, V b) { return _mm_add_pd(a, b); }
inline V Sub(V a, V b) { return _mm_sub_pd(a, b); }
inline V Mul(V a, V b) { return _mm_mul_pd(a, b); }
inline V Div(V a, V b) { return _mm_div_pd(a, b); }
inline V And(V a, V b) { return _mm_and_pd(a, b); }
inline V AndNot(V a, V b) { return _mm_andnot_pd(a, b); }
inline V Or(V a, V b) { return _mm_or_pd(a, b); }
inline V Xor(V a, V b) { return _mm_xor_pd(a, b); }
inline V CmpLt(V a, V b) { return _mm_cmplt_pd(a, b); }
inline V CmpLe(V a, V b) { return _mm_cmple_pd(a, b); }
inline V CmpNotLt(V a, V b) { return _mm_cmpnlt_pd(a, b); }
inline bool AnyLane(V mask) { return _mm_movemask_pd(mask) != 0; }
inline V Select(V mask, V a, V b) { return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b)); }
inline V LoadA(const double* p) { return _mm_load_pd(p); }
inline V LoadU(const double* p) { return _mm_loadu_pd(p); }
inline void StoreU(double* p, V v) { _mm_storeu_pd(p, v); }
inline V Trunc31(V q) { return _mm_cvtepi32_pd(_mm_cvttpd_epi32(q)); }

// v > 1 becomes 1, then anything not >= -1 (NaN included) becomes -1. The
// instructions return their second operand when the comparison fails, which
// is exactly this order of tests.
inline V Limit(V v, V one, V minus_one) { return _mm_max_pd(_mm_min_pd(one, v), minus_one); }

// The quadrant int(n) & 3 as masks: odd takes the cosine, 2 and 3 negate.
inline void QuadrantMasks(V n, V sign, V& odd, V& negate) {
  const __m128i q = _mm_cvttpd_epi32(n);
  odd = _mm_cmpneq_pd(_mm_cvtepi32_pd(_mm_and_si128(q, _mm_set1_epi32(1))), _mm_setzero_pd());
  negate = _mm_and_pd(_mm_cmpneq_pd(_mm_cvtepi32_pd(_mm_and_si128(q, _mm_set1_epi32(2))), _mm_setzero_pd()), sign);
}

// (G1 + G2) * 0.2 for both sides, times 32767, truncated, as two
// little-endian 16-bit words; the limits keep every word far from saturation.
inline void StoreFrame(const V* generators, V mix, V scale, unsigned char* out) {
  const V mixed = _mm_mul_pd(_mm_add_pd(generators[0], generators[1]), mix);
  const __m128i words = _mm_cvttpd_epi32(_mm_mul_pd(mixed, scale));
  const std::int32_t both = _mm_cvtsi128_si32(_mm_packs_epi32(words, words));
  std::memcpy(out, &both, sizeof both);
}

#include "engine/packed_kernel.inc"

#undef KQ_PACKED

}  // namespace sse2

void FillSse2(const SynthesisPlan& plan, unsigned char* out, std::int32_t frames) {
  sse2::FillPacked(plan, out, frames);
}

void RemaindersSse2(const RemainderDivisor& period, const double* t, double* p, std::int32_t count) {
  sse2::Remainders(period, t, p, count);
}

void SinesSse2(const double* x, double* s, std::int32_t count) { sse2::Sines(x, s, count); }

}  // namespace synthesis_detail
