// The fault report shared by the fuzz targets (see FuzzTarget.h).
#include "fuzz/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>

#include "host/Exceptions.h"

namespace ostra::fuzz {

void Fault(const std::string& What) {
    std::fprintf(stderr, "fault: %s\n", What.c_str());
    std::fflush(stderr);
    std::abort();
}

bool ToleratedEngineError(const std::exception& E) {
    static const bool tolerate = std::getenv("OSTRA_FUZZ_TOLERATE_ENGINE_ERRORS") != nullptr;
    return tolerate && (dynamic_cast<const EDatabaseError*>(&E) != nullptr ||
                        dynamic_cast<const EConvertError*>(&E) != nullptr);
}

void Refused(const std::exception& E) {
    static const bool verbose = std::getenv("OSTRA_FUZZ_VERBOSE") != nullptr;
    if (verbose) std::fprintf(stderr, "refused: %s\n", E.what());
}

}  // namespace ostra::fuzz
