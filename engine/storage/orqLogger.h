// orqLogger: the engine's trace log. TDBLogger keeps a bounded list of trace lines (every
// engine error writes one, and so do rebuild, copy and import steps), a list of named integer
// counters, and a ring of 101 (caller, event) trace slots.
//
// Concurrency: one global critical section (a recursive mutex, so that code holding a list
// through LockLogList may still log) guards every operation of every logger. Nothing reads or
// changes a logger's lists without it: readers take a LogSnapshot or hold a TLockedStrings.
//
// Lifetime of the global logger: StartLoggerUnit creates it, and the stop that matches the
// last start frees it; from then on GDBLogger() returns null. The runtime package's entry
// starts the unit when the package is loaded and stops it when it is unloaded; a program that
// links the static libraries gets the same from a static object in orqLogger.cpp. A call of
// GDBLogger() before any start (from another unit's static initialisation) creates the logger
// early. The critical section is created on first use and never freed, so that logging stays
// safe from any static destructor.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "host/Object.h"
#include "host/StringList.h"

namespace ostra {

// One of a logger's lists, held under the global critical section for this object's lifetime.
class TLockedStrings {
public:
    TLockedStrings(std::recursive_mutex& Lock, TStringList& List) : FLock(Lock), FList(&List) {}
    TStringList* operator->() const { return FList; }
    TStringList& operator*() const { return *FList; }

private:
    std::unique_lock<std::recursive_mutex> FLock;
    TStringList* FList;
};

// The engine's trace log: trace lines, named counters and trace slots.
class TDBLogger : public TObject {
public:
    // The number of trace slots (numbered 0..100); AddLogTraceItem writes slots 0..99 only.
    static constexpr int TraceSlotCount = 101;

    // Empty lists, limit 500, trace slots and position zero, inactive, no output file.
    TDBLogger();
    // Saves the log lines to OutputFileName when it is set; a failing save is dropped, since
    // a destructor cannot pass it on.
    ~TDBLogger() override;
    TDBLogger(const TDBLogger&) = delete;
    TDBLogger& operator=(const TDBLogger&) = delete;

    // Appends "%10s; %30s : %s" (local date-time text, Caller, Text). When a limit is set and
    // the list already holds more lines than the limit, the oldest line goes first, so the list
    // holds at most MaxLogItemCount + 1 lines. Never raises.
    void LogItem(const std::string& Caller, const std::string& Text) noexcept;
    // Writes the log lines to `FileName`, one per line; nothing for an empty name. Raises the
    // file errors of the host string list.
    void SaveLogToFile(const std::string& FileName) const;
    // Empties the log lines and the counters.
    void Clear();

    // The line limit; 0 or negative means no limit.
    int32_t MaxLogItemCount() const;
    // Sets the limit; a positive limit below the line count trims the oldest lines at once,
    // leaving Value - 1 lines.
    void SetMaxLogItemCount(int32_t Value);

    // Adds `Delta` to the counter `Name` (missing or non-numeric counts as 0; 32-bit wrap).
    void NamedMonitorDelta(const std::string& Name, int32_t Delta);
    // Sets the counter `Name` to `Value`.
    void NamedMonitorReset(const std::string& Name, int32_t Value);

    // Stores (Caller, Event) in the slot at the trace position, which wraps from 100 to 0
    // first, then advances the position.
    void AddLogTraceItem(int32_t Caller, int32_t Event);
    // Zeroes every slot and the trace position.
    void ClearLogTrace();
    // Appends "TraceLog", then "Caller %d  Event %d" for slots position..100 and 0..position-1,
    // without date, caller or line limit.
    void DumpTraceToLog();

    // Stored flags that no operation consults.
    bool Active() const;
    void SetActive(bool Value);
    int32_t DumpMod() const;
    void SetDumpMod(int32_t Value);
    // The file the destructor writes the log lines to; empty for none.
    std::string OutputFileName() const;
    void SetOutputFileName(const std::string& Value);

    // The log lines, oldest first, under the lock for the holder's lifetime. Lines added
    // directly bypass the line limit.
    TLockedStrings LockLogList();
    // The counters as Name=Value entries, under the lock for the holder's lifetime.
    TLockedStrings LockMonitorList();
    // A copy of the log lines, oldest first.
    std::unique_ptr<TStringList> LogSnapshot() const;
    // The number of log lines.
    int LogCount() const;

private:
    struct TTraceSlot {
        int32_t Caller = 0;
        int32_t Event = 0;
    };

    std::unique_ptr<TStringList> FLogList;
    std::unique_ptr<TStringList> FMonitorList;
    std::array<TTraceSlot, TraceSlotCount> FTrace{};
    int32_t FTracePosition = 0;
    bool FActive = false;
    int32_t FDumpMod = 0;
    std::string FOutputFileName;
    int32_t FMaxLogItemCount = 500;
};

// The global critical section that guards every logger.
std::recursive_mutex& DBLoggerCriticalSection();

// The engine's one logger; null once the unit has stopped.
TDBLogger* GDBLogger();

// Unit start: creates the global logger unless it exists. Each call counts; thread-safe.
void StartLoggerUnit();
// Unit stop: matches one start; the stop of the last start frees the global logger (which
// saves its lines to its OutputFileName when set). Without an unmatched start it does nothing.
void StopLoggerUnit();

}  // namespace ostra
