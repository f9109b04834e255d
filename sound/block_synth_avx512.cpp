// The sound eight frames at a time: AVX-512F and SLEEF's 8-lane sine. Compiled with
// -mavx512f and -ffp-contract=off (every product rounds to double as in the scalar
// path); called only on processors that have AVX-512F.
#include <immintrin.h>
#include <sleef.h>

#include "sound/block_synth_kernels.h"

namespace {

struct Avx512Lanes {
    using D = __m512d;
    static constexpr std::uint32_t kLanes = 8;
    // All lanes. The zero-masked forms of the conversions and roundings give the same
    // results; the plain ones start from an "undefined" register that GCC 12 warns about.
    static constexpr __mmask8 kAll = 0xFF;

    static D set(double v) { return _mm512_set1_pd(v); }
    static D load(const double* p) { return _mm512_load_pd(p); }
    static D mul(D a, D b) { return _mm512_mul_pd(a, b); }
    static D sin(D x) { return Sleef_sind8_u35(x); }

    // Frame indices first .. first + 7 as doubles, each wrapped at 2^32.
    static D index(std::uint32_t first)
    {
        const __m256i n =
            _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(first)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        return _mm512_maskz_cvtepu32_pd(kAll, n);
    }

    static D truncAbs(D v) { return _mm512_abs_pd(_mm512_maskz_roundscale_pd(kAll, v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)); }

    static unsigned nearWhole(D v, D margin)
    {
        const D off = _mm512_sub_pd(v, _mm512_maskz_roundscale_pd(kAll, v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
        return _mm512_cmp_pd_mask(_mm512_abs_pd(off), margin, _CMP_LE_OQ);
    }

    static unsigned atLeastOne(D v) { return _mm512_cmp_pd_mask(v, _mm512_set1_pd(1.0), _CMP_GE_OQ); }

    static D keep(unsigned lanes, D v) { return _mm512_maskz_mov_pd(static_cast<__mmask8>(lanes), v); }

    // Truncates both channels and stores them interleaved, left first. The 256-bit
    // unpacks and pack work within each 128-bit half, which here keeps frame order.
    static void storeStereo(std::int16_t* out, D left, D right)
    {
        const __m256i l = _mm512_maskz_cvttpd_epi32(kAll, left), r = _mm512_maskz_cvttpd_epi32(kAll, right);
        const __m256i packed = _mm256_packs_epi32(_mm256_unpacklo_epi32(l, r), _mm256_unpackhi_epi32(l, r));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
    }

    static void storeMono(std::int16_t* out, D v) { storeStereo(out, v, v); }
};

} // namespace

std::uint32_t synthesizeFramesAvx512(const VectorJob& job) { return synthesizeVector<Avx512Lanes>(job); }
