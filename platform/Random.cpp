// The shared pseudo-random generator, guarded by a mutex so that threads can draw from it.
#include "platform/Random.h"

#include <unistd.h>

#include <chrono>
#include <mutex>
#include <random>

namespace ostra::platform {
namespace {
std::mutex gMutex;
std::mt19937& Engine() {
    static std::mt19937 engine(12345u);
    return engine;
}
}  // namespace

void Randomize() {
    auto t = static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    RandSeed(t ^ (static_cast<uint32_t>(getpid()) << 16));
}

void RandSeed(uint32_t seed) {
    std::lock_guard<std::mutex> lock(gMutex);
    Engine().seed(seed);
}

int32_t Random(int32_t range) {
    if (range <= 0) return 0;
    std::lock_guard<std::mutex> lock(gMutex);
    std::uniform_int_distribution<int32_t> dist(0, range - 1);
    return dist(Engine());
}

}  // namespace ostra::platform
