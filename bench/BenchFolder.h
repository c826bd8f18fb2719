// BenchFolder: the temporary folder a benchmark keeps its databases in for one run.
#pragma once
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace ostra::bench {

// A fresh folder (under TMPDIR, else /tmp) named after the benchmark; removed at exit. Its path is
// recorded in the benchmark's context.
class TBenchFolder {
public:
    explicit TBenchFolder(const std::string& Benchmark) {
        std::string pattern = (std::filesystem::temp_directory_path() / ("ostra-" + Benchmark + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
        FPath = pattern;
        benchmark::AddCustomContext(Benchmark + " folder", FPath);
    }
    ~TBenchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TBenchFolder(const TBenchFolder&) = delete;
    TBenchFolder& operator=(const TBenchFolder&) = delete;
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }
    // Removes every file of the folder (databases, journals, lock files).
    void Clear() const {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(FPath, ignored))
            std::filesystem::remove(entry.path(), ignored);
    }

private:
    std::string FPath;
};

}  // namespace ostra::bench
