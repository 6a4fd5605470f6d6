// The program-wide pseudo-random generator: a linear congruential generator
// giving 0..32767, seeded once at start-up and repeatable when seeded alike.
#pragma once

#include <cstdint>

void SeedRandom(uint32_t seed);
int NextRandom();
