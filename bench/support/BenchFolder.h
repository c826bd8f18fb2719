// BenchFolder: the temporary folder a benchmark keeps its databases in for one run.
#pragma once
#include <string>

namespace ostra::bench {

// A temporary folder (under TMPDIR, else /tmp) named Prefix-XXXXXX; removed with the object.
class TBenchFolder {
public:
    explicit TBenchFolder(const std::string& Prefix);
    ~TBenchFolder();
    TBenchFolder(const TBenchFolder&) = delete;
    TBenchFolder& operator=(const TBenchFolder&) = delete;

    const std::string& Path() const { return FPath; }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }
    // Removes every file of the folder (databases, journals, lock files).
    void Clear() const;

private:
    std::string FPath;
};

}  // namespace ostra::bench
