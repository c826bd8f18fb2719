// orqDataBaseScopes: what the units of the database component share (orqDataBase.h): the
// header-lock scope, the table-lock scope of its own cursors, and the collection of failures of
// steps that must all run. Internal to the component's .cpp files.
//
// An operation that changes the file's structure (tables, their rows in the master tables)
// holds the header lock. It takes the lock only when a lock that serves is not held already (by
// the caller, by SetLocked, or for the rest of a transaction) and gives back exactly what it
// took: Release() on the success path lets a failure of the release (writing the global header)
// reach the caller; the destructor releases on failure paths and drops the release's own failure.
#pragma once
#include <exception>
#include <functional>
#include <type_traits>

#include "engine/components/orqDataBase.h"

namespace ostra {

// Writes the message of the exception being handled to the engine's log with Caller.
void LogCurrentFailure(const char* Caller) noexcept;

// Steps that must all run, whatever fails: each failure is logged with Caller and the first one
// kept, to be raised by RaiseFirst once every step has run.
class TStepFailures {
public:
    explicit TStepFailures(const char* Caller) : FCaller(Caller) {}
    template <class F>
    void Run(F&& Step) {
        try {
            Step();
        } catch (...) {
            LogCurrentFailure(FCaller);
            if (!FFirst) FFirst = std::current_exception();
        }
    }
    bool Failed() const { return static_cast<bool>(FFirst); }
    void RaiseFirst() {
        if (FFirst) std::rethrow_exception(FFirst);
    }

private:
    const char* FCaller;
    std::exception_ptr FFirst;
};

// Runs Action while Cursor holds a table lock (a write lock when Write), taken unless the cursor
// holds one that serves and then given back on every exit; a release that fails after Action
// succeeded passes on.
template <class F>
auto UnderTableLock(TOrqDataSet& Cursor, bool Write, F&& Action) {
    const bool took = Write ? !Cursor.WriteLocked() : !Cursor.TableLocked();
    if (took && Write) Cursor.LockTable();
    if (took && !Write) Cursor.ReadLockTable();
    auto release = [&Cursor, took] {
        if (took) Cursor.UnlockTable();
    };
    try {
        if constexpr (std::is_void_v<decltype(Action())>) {
            Action();
            release();
        } else {
            auto result = Action();
            release();
            return result;
        }
    } catch (...) {
        if (took && Cursor.TableLocked()) {
            try {
                Cursor.UnlockTable();
            } catch (...) {
            }
        }
        throw;
    }
}

class TOrqDataBase::THeaderLock {
public:
    THeaderLock(TDiskMgr& Disk, bool Write)
        : FDisk(Disk), FTook(!Disk.HeaderWriteLocked() && (Write || !Disk.HeaderReadLocked())) {
        if (!FTook) return;
        if (Write)
            Disk.SetHeaderWriteLock();
        else
            Disk.SetHeaderReadLock();
    }
    ~THeaderLock() {
        if (!FTook) return;
        try {
            FDisk.ReleaseHeaderLock();
        } catch (...) {
            // A failure is already on its way out; the lock goes with the connection at the latest.
        }
    }
    // Gives the lock back now (when this object took it); a failure passes on.
    void Release() {
        if (!FTook) return;
        FTook = false;
        FDisk.ReleaseHeaderLock();
    }

private:
    TDiskMgr& FDisk;
    bool FTook;
};

}  // namespace ostra
