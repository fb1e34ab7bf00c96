#include "data/base/Random.h"

#include <chrono>
#include <random>

namespace marvesa::Random {

namespace {
std::mt19937& generator() {
    static std::mt19937 g;
    return g;
}
}  // namespace

void seed(std::uint32_t s) {
    generator().seed(s);
}

std::uint32_t clockSeed() {
    const auto ticks = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    return static_cast<std::uint32_t>(ticks) ^ static_cast<std::uint32_t>(ticks >> 32);
}

std::uint32_t next(std::uint32_t m) {
    if (m == 0)
        return 0;
    return std::uniform_int_distribution<std::uint32_t>(0, m - 1)(generator());
}

}  // namespace marvesa::Random
