// The replay program of a fuzz target: feeds every file named on the command line, or found in a
// folder named there (sorted by name, not recursing), to the target's LLVMFuzzerTestOneInput, as
// the libFuzzer program would. A fault aborts the run; an empty or missing folder is an error, so
// that a corpus that went missing does not pass unnoticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzTarget.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadFile(const fs::path& Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> files;
        std::error_code error;
        if (fs::is_directory(argv[i], error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else if (fs::is_regular_file(argv[i], error)) {
            files.push_back(argv[i]);
        }
        if (files.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[i]);
            return 1;
        }
        for (const fs::path& file : files) {
            std::vector<uint8_t> input = ReadFile(file);
            // A copy of exactly the input's size, so that the sanitizers see reads beyond it.
            std::vector<uint8_t> exact(input);
            LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
