// The sound four frames at a time: AVX2 and SLEEF's 4-lane sine. Compiled with -mavx2
// (no FMA: every product rounds to double as in the scalar path); called only on
// processors that have AVX2.
#include <immintrin.h>
#include <sleef.h>

#include "sound/block_synth_kernels.h"

namespace {

struct Avx2Lanes {
    using D = __m256d;
    static constexpr std::uint32_t kLanes = 4;

    static D set(double v) { return _mm256_set1_pd(v); }
    static D load(const double* p) { return _mm256_load_pd(p); }
    static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D sin(D x) { return Sleef_sind4_u35(x); }

    // Frame indices first .. first + 3 as doubles, each wrapped at 2^32 like the scalar
    // path's: flipping the top bit makes the signed conversion exact, and adding 2^31
    // back is exact too.
    static D index(std::uint32_t first)
    {
        const __m128i n = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(first)), _mm_setr_epi32(0, 1, 2, 3));
        const __m128i shifted = _mm_xor_si128(n, _mm_set1_epi32(INT32_MIN));
        return _mm256_add_pd(_mm256_cvtepi32_pd(shifted), _mm256_set1_pd(2147483648.0));
    }

    static D abs(D v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }

    // |trunc(v)| as a double: the whole amplitude a scalar product truncates to.
    static D truncAbs(D v) { return abs(_mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)); }

    // Lanes whose value lies within `margin` of a whole number.
    static unsigned nearWhole(D v, D margin)
    {
        const D off = _mm256_sub_pd(v, _mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(abs(off), margin, _CMP_LE_OQ)));
    }

    static unsigned atLeastOne(D v)
    {
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(v, _mm256_set1_pd(1.0), _CMP_GE_OQ)));
    }

    // `v` in the lanes set in `lanes`, 0 elsewhere.
    static D keep(unsigned lanes, D v)
    {
        const __m256i bit = _mm256_setr_epi64x(1, 2, 4, 8);
        const __m256i set = _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_set1_epi64x(lanes), bit), bit);
        return _mm256_and_pd(_mm256_castsi256_pd(set), v);
    }

    // Truncates both channels toward zero and stores them interleaved, left first.
    static void storeStereo(std::int16_t* out, D left, D right)
    {
        const __m128i l = _mm256_cvttpd_epi32(left), r = _mm256_cvttpd_epi32(right);
        const __m128i packed = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
    }

    static void storeMono(std::int16_t* out, D v) { storeStereo(out, v, v); }
};

} // namespace

std::uint32_t synthesizeFramesAvx2(const VectorJob& job) { return synthesizeVector<Avx2Lanes>(job); }
