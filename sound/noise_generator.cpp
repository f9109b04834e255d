#include "sound/noise_generator.h"

NoiseGenerator gNoiseGenerator;

void NoiseGenerator::skip(std::uint64_t count)
{
    // Compose the affine step x -> a*x + c with itself, squaring as we go.
    std::uint32_t a = 214013u, c = 2531011u;
    std::uint32_t accA = 1u, accC = 0u;
    while (count != 0) {
        if (count & 1u) {
            accA = accA * a;
            accC = accC * a + c;
        }
        c = c * a + c;
        a = a * a;
        count >>= 1;
    }
    state = state * accA + accC;
}
