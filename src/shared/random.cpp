// The classic linear congruential generator: state * 214013 + 2531011, value
// bits 16..30. Guarded, because the main thread and request workers draw from it.
#include "src/shared/random.h"

#include <mutex>

namespace {

std::mutex randomLock;
uint32_t randomState = 1;

}  // namespace

void SeedRandom(uint32_t seed) {
    std::lock_guard<std::mutex> hold(randomLock);
    randomState = seed;
}

int NextRandom() {
    std::lock_guard<std::mutex> hold(randomLock);
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7fff);
}
