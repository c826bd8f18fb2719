// orq14rd6, the runtime package's entry: what loading and unloading the shared library does.
//
// The package contains every unit of the engine's layers (the static libraries of engine/storage,
// engine/sql, engine/components and the host layers under them, linked in whole; see
// CMakeLists.txt). Two of them need start-up work before any caller uses the engine: the trace
// log creates the global logger with its critical section, and the lock managers seed the random
// generator that picks read-lock bytes. The table below registers those units in the order they
// start. Its entry object has the first construction priority of the library, so it runs before
// every other static initialiser of the package (the units' own start objects then find their
// unit started and only count), and it is destroyed after every other static object of the
// package, so the logger stays there for their destructors and is freed when the package goes.
#include <iterator>

#include "engine/storage/orqLockMgrUnit.h"
#include "engine/storage/orqLogger.h"

namespace ostra {
namespace {

// A unit with start-up work: its start on load, its stop (if any) on unload.
struct TPackageUnit {
    const char* Name;
    void (*Start)();
    void (*Stop)();
};

// The package's units with start-up work, in start order; they stop in the reverse order.
constexpr TPackageUnit CPackageUnits[] = {
    {"orqLogger", StartLoggerUnit, StopLoggerUnit},
    {"orqLockMgrUnit", StartLockMgrUnit, nullptr},
};

// The package entry: starts the units when the library is loaded, stops them when it goes.
struct TPackageEntry {
    TPackageEntry() {
        for (const TPackageUnit& unit : CPackageUnits) unit.Start();
    }
    ~TPackageEntry() {
        for (auto unit = std::rbegin(CPackageUnits); unit != std::rend(CPackageUnits); ++unit)
            if (unit->Stop) unit->Stop();
    }
    TPackageEntry(const TPackageEntry&) = delete;
    TPackageEntry& operator=(const TPackageEntry&) = delete;
};

// 101 is the first priority open to programs: before every static object without one.
__attribute__((init_priority(101))) TPackageEntry GPackageEntry;

}  // namespace
}  // namespace ostra
