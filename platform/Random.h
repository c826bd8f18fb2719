// The process-wide pseudo-random generator: seeded once, then shared by every caller.
#pragma once
#include <cstdint>

namespace ostra::platform {

// Seeds the generator from the clock and the process id. Called once at start; later calls re-seed.
void Randomize();

// Seeds the generator with a fixed value, so that tests can repeat a sequence.
void RandSeed(uint32_t seed);

// A uniformly distributed integer in [0, range); 0 when range <= 0. Thread-safe.
int32_t Random(int32_t range);

}  // namespace ostra::platform
