// The fault report shared by the fuzz targets (see FuzzTarget.h).
#include "fuzz/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>

namespace ostra::fuzz {

void Fault(const std::string& What) {
    std::fprintf(stderr, "fault: %s\n", What.c_str());
    std::fflush(stderr);
    std::abort();
}

void Refused(const std::exception& E) {
    static const bool verbose = std::getenv("OSTRA_FUZZ_VERBOSE") != nullptr;
    if (verbose) std::fprintf(stderr, "refused: %s\n", E.what());
}

}  // namespace ostra::fuzz
