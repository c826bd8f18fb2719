// orqDataSetScopes: the table-lock scopes and the consistency check the units of the engine cursor
// share (orqDataSet.h). Internal to the cursor's .cpp files.
//
// An operation that needs a table lock takes it only when the cursor does not hold one already,
// and gives back exactly what it took on every exit: Release() on the success path lets a
// failure of the release (writing the table header) reach the caller; the destructor releases
// on failure paths and drops the release's own failure, so the first error is the one reported.
#pragma once
#include "engine/components/orqDataSet.h"

namespace ostra {

// A consistency check: raises EAssertionFailed with Text when Condition is false. Unlike Assert it
// builds no string unless it fails, so it costs nothing on the cursor's inner loops.
inline void CheckState(bool Condition, const char* Text) {
    if (!Condition) throw EAssertionFailed(Text);
}

// A table read lock, taken unless the cursor holds a table lock (or when not Wanted).
class TOrqDataSet::TReadLockScope {
public:
    explicit TReadLockScope(TOrqDataSet& Cursor, bool Wanted = true) : FCursor(Cursor) {
        if (Wanted && !Cursor.FTableLocked) {
            Cursor.InternalSetReadLock();
            FTook = true;
        }
    }
    ~TReadLockScope() {
        if (!FTook) return;
        try {
            FCursor.InternalReleaseLock();
        } catch (...) {
        }
    }
    TReadLockScope(const TReadLockScope&) = delete;
    TReadLockScope& operator=(const TReadLockScope&) = delete;

    // Gives the lock back now (when this scope took it).
    void Release() {
        if (!FTook) return;
        FTook = false;
        FCursor.InternalReleaseLock();
    }

private:
    TOrqDataSet& FCursor;
    bool FTook = false;
};

// A table write lock, taken unless the cursor holds one. A read lock the caller held is taken
// again after the write lock is released, so the caller's lock stays held.
class TOrqDataSet::TWriteLockScope {
public:
    explicit TWriteLockScope(TOrqDataSet& Cursor) : FCursor(Cursor) {
        if (Cursor.FWriteLocked) return;
        FHadReadLock = Cursor.FTableLocked;
        Cursor.InternalSetWriteLock();
        FTook = true;
    }
    ~TWriteLockScope() {
        if (!FTook) return;
        try {
            Restore();
        } catch (...) {
        }
    }
    TWriteLockScope(const TWriteLockScope&) = delete;
    TWriteLockScope& operator=(const TWriteLockScope&) = delete;

    // Gives the write lock back now (when this scope took it): the table header is written.
    void Release() {
        if (!FTook) return;
        FTook = false;
        Restore();
    }

private:
    void Restore() {
        FCursor.InternalReleaseLock();
        if (FHadReadLock) FCursor.InternalSetReadLock();
    }

    TOrqDataSet& FCursor;
    bool FTook = false;
    bool FHadReadLock = false;
};

}  // namespace ostra
