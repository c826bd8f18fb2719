// Fault injection for file I/O: the one hook through which every read, write, flush and size
// change of a platform::File passes, so that tests can make the N-th call fail or cut a
// transfer short and check that the caller reports the failure and keeps its data sound.
//
// The hook is process-global: one injector, installed with SetFileFaultInjector or a
// ScopedFileFaultInjector, sees the calls of every File of the process, in every thread, and
// can pick the files it cares about by path. With no injector installed a call costs one
// atomic pointer load and a branch that is not taken.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace ostra::platform {

// The kinds of file call that pass through the hook.
enum class FileOp : unsigned { Read = 1, Write = 2, Flush = 4, SetSize = 8 };

// A set of FileOp values as bit flags.
constexpr unsigned FileOps(FileOp op) { return static_cast<unsigned>(op); }
constexpr unsigned FileOpsAll = 15;

// What the hook decides for one call.
struct FileFault {
    int Error = 0;         // errno to report; 0 = let the call run normally
    int64_t Transfer = -1; // reads/writes only: transfer this many bytes (< requested), then
                           // report Error (ENOSPC/EIO) as the reason for the short count;
                           // -1 = transfer nothing and fail with Error
};

// The interface a test implements to decide the fate of each call. Called before the call
// touches the file; must be thread-safe when files are used from several threads.
class FileFaultInjector {
public:
    virtual ~FileFaultInjector() = default;
    // Decides one call: op, the file's path, the position and the byte count (0 for Flush; the
    // new size as position for SetSize).
    virtual FileFault Decide(FileOp op, const std::string& path, int64_t position, int64_t count) = 0;
};

// Installs the process-global injector (nullptr removes it); returns the previous one.
// The injector is not owned and must outlive its installation.
FileFaultInjector* SetFileFaultInjector(FileFaultInjector* injector);

// The installed injector, or nullptr. Used by File on every hooked call.
FileFaultInjector* CurrentFileFaultInjector();

// Installs an injector for the lifetime of the object, restoring the previous one after.
class ScopedFileFaultInjector {
public:
    explicit ScopedFileFaultInjector(FileFaultInjector& injector) : FPrevious(SetFileFaultInjector(&injector)) {}
    ~ScopedFileFaultInjector() { SetFileFaultInjector(FPrevious); }
    ScopedFileFaultInjector(const ScopedFileFaultInjector&) = delete;
    ScopedFileFaultInjector& operator=(const ScopedFileFaultInjector&) = delete;

private:
    FileFaultInjector* FPrevious;
};

// The usual injector: counts the calls of the chosen kinds (optionally only on paths that
// contain a given text) and returns Fault on the N-th of them (1-based), and on every later
// one too when Sticky is set (a disk that stays full or broken). Other calls run normally.
class NthCallFault : public FileFaultInjector {
public:
    NthCallFault(unsigned ops, int64_t n, FileFault fault, bool sticky = false, std::string pathPart = "")
        : FOps(ops), FN(n), FFault(fault), FSticky(sticky), FPathPart(std::move(pathPart)) {}
    FileFault Decide(FileOp op, const std::string& path, int64_t position, int64_t count) override;
    // Number of matching calls seen so far.
    int64_t Calls() const { return FCalls.load(); }
    // Number of calls that were given the fault.
    int64_t Injected() const { return FInjected.load(); }

private:
    unsigned FOps;
    int64_t FN;
    FileFault FFault;
    bool FSticky;
    std::string FPathPart;
    std::atomic<int64_t> FCalls{0};
    std::atomic<int64_t> FInjected{0};
};

}  // namespace ostra::platform
