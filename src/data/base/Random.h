#pragma once

#include <cstdint>

namespace marvesa {

// The process-wide pseudo-random generator from which family codes are
// drawn. Seeded once per run, at start-up.
namespace Random {

void seed(std::uint32_t seed);
// The seed start-up uses: the exclusive or of the low and the high 32-bit
// halves of a high-resolution clock reading.
std::uint32_t clockSeed();
// An integer from 0 to m - 1 (0 when m is 0).
std::uint32_t next(std::uint32_t m);

}  // namespace Random

}  // namespace marvesa
