// The benchmarks' temporary folder.
#include "bench/support/BenchFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace ostra::bench {

TBenchFolder::TBenchFolder(const std::string& Prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (Prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    FPath = pattern;
}

TBenchFolder::~TBenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

void TBenchFolder::Clear() const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(FPath, ignored))
        std::filesystem::remove(entry.path(), ignored);
}

}  // namespace ostra::bench
