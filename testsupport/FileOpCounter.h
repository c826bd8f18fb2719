// Test helper: counts the operations of one kind on one file while it is installed as the file
// fault injector (platform::ScopedFileFaultInjector); it makes none of them fail.
#pragma once
#include <cstdint>
#include <string>
#include <utility>

#include "platform/FileFault.h"

namespace ostra::test {

class FileOpCounter : public platform::FileFaultInjector {
public:
    FileOpCounter(std::string Path, platform::FileOp Op) : FPath(std::move(Path)), FOp(Op) {}
    platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
        if (Op == FOp && Path == FPath) ++Count;
        return {};
    }
    int Count = 0;

private:
    std::string FPath;
    platform::FileOp FOp;
};

}  // namespace ostra::test
