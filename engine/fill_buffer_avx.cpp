// The packed kernel with AVX: all four channel-samples of a frame in one
// instruction. Only these functions are built for AVX (a target attribute on
// each, no build flag), and FillBuffer calls them only after CPUID and XGETBV
// have shown that the processor has AVX and the system saves its registers.
// AVX alone brings no fused multiply-add, so every rounding stays the
// scalar kernel's.
#include <cpuid.h>
#include <immintrin.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "engine/exact_remainder.h"
#include "engine/precise_sine.h"
#include "engine/synthesis_kernels.h"

namespace synthesis_detail {
namespace avx {

using V = __m256d;
inline constexpr int kLanes = 4;
#define KQ_PACKED __attribute__((target("avx")))

KQ_PACKED inline V Set1(double x) { return _mm256_set1_pd(x); }
KQ_PACKED inline V Zero() { return _mm256_setzero_pd(); }
KQ_PACKED inline V Add(V a, V b) { return _mm256_add_pd(a, b); }
KQ_PACKED inline V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
KQ_PACKED inline V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
KQ_PACKED inline V Div(V a, V b) { return _mm256_div_pd(a, b); }
KQ_PACKED inline V And(V a, V b) { return _mm256_and_pd(a, b); }
KQ_PACKED inline V AndNot(V a, V b) { return _mm256_andnot_pd(a, b); }
KQ_PACKED inline V Or(V a, V b) { return _mm256_or_pd(a, b); }
KQ_PACKED inline V Xor(V a, V b) { return _mm256_xor_pd(a, b); }
KQ_PACKED inline V CmpLt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
KQ_PACKED inline V CmpLe(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
KQ_PACKED inline V CmpNotLt(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NLT_UQ); }
KQ_PACKED inline bool AnyLane(V mask) { return _mm256_movemask_pd(mask) != 0; }
KQ_PACKED inline V Select(V mask, V a, V b) { return _mm256_blendv_pd(b, a, mask); }
// VEX instructions take unaligned memory operands.
KQ_PACKED inline V LoadA(const double* p) { return _mm256_loadu_pd(p); }
KQ_PACKED inline V LoadU(const double* p) { return _mm256_loadu_pd(p); }
KQ_PACKED inline void StoreU(double* p, V v) { _mm256_storeu_pd(p, v); }
KQ_PACKED inline V Trunc31(V q) { return _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(q)); }

// As in the SSE2 kernel: the instructions return their second operand when
// the comparison fails, so NaN ends at -1.
KQ_PACKED inline V Limit(V v, V one, V minus_one) { return _mm256_max_pd(_mm256_min_pd(one, v), minus_one); }

KQ_PACKED inline void QuadrantMasks(V n, V sign, V& odd, V& negate) {
  const __m128i q = _mm256_cvttpd_epi32(n);
  odd = _mm256_cmp_pd(_mm256_cvtepi32_pd(_mm_and_si128(q, _mm_set1_epi32(1))), _mm256_setzero_pd(), _CMP_NEQ_OQ);
  negate = _mm256_and_pd(
      _mm256_cmp_pd(_mm256_cvtepi32_pd(_mm_and_si128(q, _mm_set1_epi32(2))), _mm256_setzero_pd(), _CMP_NEQ_OQ), sign);
}

// Lanes G1L, G1R, G2L, G2R: the halves add to (left, right).
KQ_PACKED inline void StoreFrame(const V* channels, V mix, V scale, unsigned char* out) {
  const __m128d sum = _mm_add_pd(_mm256_castpd256_pd128(channels[0]), _mm256_extractf128_pd(channels[0], 1));
  const __m128d mixed = _mm_mul_pd(sum, _mm256_castpd256_pd128(mix));
  const __m128i words = _mm_cvttpd_epi32(_mm_mul_pd(mixed, _mm256_castpd256_pd128(scale)));
  const std::int32_t both = _mm_cvtsi128_si32(_mm_packs_epi32(words, words));
  std::memcpy(out, &both, sizeof both);
}

#include "engine/packed_kernel.inc"

#undef KQ_PACKED

}  // namespace avx

void FillAvx(const SynthesisPlan& plan, unsigned char* out, std::int32_t frames) { avx::FillPacked(plan, out, frames); }

void RemaindersAvx(const RemainderDivisor& period, const double* t, double* p, std::int32_t count) {
  avx::Remainders(period, t, p, count);
}

void SinesAvx(const double* x, double* s, std::int32_t count) { avx::Sines(x, s, count); }

bool AvxUsable() {
  // CPUID runs once (under a hypervisor it can cost microseconds).
  static std::atomic<std::int32_t> usable{-1};
  std::int32_t known = usable.load(std::memory_order_relaxed);
  if (known < 0) {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    bool ok = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0;
    if (ok) {
      // XCR0 bits 1 and 2: the system saves the SSE and the AVX registers.
      unsigned xcr0_low = 0, xcr0_high = 0;
      __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
      ok = (xcr0_low & 6u) == 6u;
    }
    known = ok ? 1 : 0;
    usable.store(known, std::memory_order_relaxed);
  }
  return known == 1;
}

}  // namespace synthesis_detail
