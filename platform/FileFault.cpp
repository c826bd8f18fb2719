// The process-global fault-injection hook of file I/O and the counting injector.
#include "platform/FileFault.h"

namespace ostra::platform {
namespace {
std::atomic<FileFaultInjector*> gInjector{nullptr};
}  // namespace

FileFaultInjector* SetFileFaultInjector(FileFaultInjector* injector) {
    return gInjector.exchange(injector, std::memory_order_acq_rel);
}

FileFaultInjector* CurrentFileFaultInjector() { return gInjector.load(std::memory_order_acquire); }

FileFault NthCallFault::Decide(FileOp op, const std::string& path, int64_t, int64_t) {
    if ((FOps & FileOps(op)) == 0) return {};
    if (!FPathPart.empty() && path.find(FPathPart) == std::string::npos) return {};
    int64_t n = ++FCalls;
    if (n == FN || (FSticky && n > FN)) {
        ++FInjected;
        return FFault;
    }
    return {};
}

}  // namespace ostra::platform
