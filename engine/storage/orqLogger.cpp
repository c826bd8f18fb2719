// The trace log: TDBLogger's operations, the global critical section and the global logger's
// unit start and stop.
#include "engine/storage/orqLogger.h"

#include <atomic>

#include "host/DateTime.h"
#include "host/SysUtils.h"

namespace ostra {

std::recursive_mutex& DBLoggerCriticalSection() {
    // Never freed: static destructors of other units may still log while the program ends.
    static std::recursive_mutex* const criticalSection = new std::recursive_mutex;
    return *criticalSection;
}

namespace {

using TGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace

TDBLogger::TDBLogger()
    : FLogList(std::make_unique<TStringList>()), FMonitorList(std::make_unique<TStringList>()) {}

TDBLogger::~TDBLogger() {
    try {
        SaveLogToFile(OutputFileName());
    } catch (...) {
        // A destructor cannot pass the error on; the lines are lost, the process goes on.
    }
}

void TDBLogger::LogItem(const std::string& Caller, const std::string& Text) noexcept {
    try {
        TGuard guard(DBLoggerCriticalSection());
        try {
            if (FMaxLogItemCount > 0 && FLogList->Count() > FMaxLogItemCount) FLogList->Delete(0);
            FLogList->Add(Format("%10s; %30s : %s", {DateTimeToStr(Now()), Caller, Text}));
        } catch (...) {
            // Logging must never turn one failure into another.
        }
    } catch (...) {
        // The critical section could not be entered; the line is dropped.
    }
}

void TDBLogger::SaveLogToFile(const std::string& FileName) const {
    if (FileName.empty()) return;
    TGuard guard(DBLoggerCriticalSection());
    FLogList->SaveToFile(FileName);
}

void TDBLogger::Clear() {
    TGuard guard(DBLoggerCriticalSection());
    FLogList->Clear();
    FMonitorList->Clear();
}

int32_t TDBLogger::MaxLogItemCount() const {
    TGuard guard(DBLoggerCriticalSection());
    return FMaxLogItemCount;
}

void TDBLogger::SetMaxLogItemCount(int32_t Value) {
    TGuard guard(DBLoggerCriticalSection());
    FMaxLogItemCount = Value;
    if (Value > 0 && FLogList->Count() > Value) {
        const int excess = FLogList->Count() - Value + 1;
        FLogList->BeginUpdate();
        for (int i = 0; i < excess; ++i) FLogList->Delete(0);
        FLogList->EndUpdate();
    }
}

void TDBLogger::NamedMonitorDelta(const std::string& Name, int32_t Delta) {
    TGuard guard(DBLoggerCriticalSection());
    const int32_t current = StrToIntDef(FMonitorList->Values(Name), 0);
    // 32-bit arithmetic that wraps, as the counters are 32-bit values.
    const auto sum = static_cast<int32_t>(static_cast<uint32_t>(current) + static_cast<uint32_t>(Delta));
    FMonitorList->SetValues(Name, IntToStr(sum));
}

void TDBLogger::NamedMonitorReset(const std::string& Name, int32_t Value) {
    TGuard guard(DBLoggerCriticalSection());
    FMonitorList->SetValues(Name, IntToStr(Value));
}

void TDBLogger::AddLogTraceItem(int32_t Caller, int32_t Event) {
    TGuard guard(DBLoggerCriticalSection());
    if (FTracePosition == TraceSlotCount - 1) FTracePosition = 0;
    FTrace[FTracePosition] = {Caller, Event};
    ++FTracePosition;
}

void TDBLogger::ClearLogTrace() {
    TGuard guard(DBLoggerCriticalSection());
    FTrace.fill({});
    FTracePosition = 0;
}

void TDBLogger::DumpTraceToLog() {
    TGuard guard(DBLoggerCriticalSection());
    auto dump = [this](int slot) {
        FLogList->Add(Format("Caller %d  Event %d", {FTrace[slot].Caller, FTrace[slot].Event}));
    };
    FLogList->Add("TraceLog");
    for (int slot = FTracePosition; slot < TraceSlotCount; ++slot) dump(slot);
    for (int slot = 0; slot < FTracePosition; ++slot) dump(slot);
}

bool TDBLogger::Active() const {
    TGuard guard(DBLoggerCriticalSection());
    return FActive;
}

void TDBLogger::SetActive(bool Value) {
    TGuard guard(DBLoggerCriticalSection());
    FActive = Value;
}

int32_t TDBLogger::DumpMod() const {
    TGuard guard(DBLoggerCriticalSection());
    return FDumpMod;
}

void TDBLogger::SetDumpMod(int32_t Value) {
    TGuard guard(DBLoggerCriticalSection());
    FDumpMod = Value;
}

std::string TDBLogger::OutputFileName() const {
    TGuard guard(DBLoggerCriticalSection());
    return FOutputFileName;
}

void TDBLogger::SetOutputFileName(const std::string& Value) {
    TGuard guard(DBLoggerCriticalSection());
    FOutputFileName = Value;
}

TLockedStrings TDBLogger::LockLogList() {
    return TLockedStrings(DBLoggerCriticalSection(), *FLogList);
}

TLockedStrings TDBLogger::LockMonitorList() {
    return TLockedStrings(DBLoggerCriticalSection(), *FMonitorList);
}

std::unique_ptr<TStringList> TDBLogger::LogSnapshot() const {
    auto copy = std::make_unique<TStringList>();
    TGuard guard(DBLoggerCriticalSection());
    copy->AddStrings(*FLogList);
    return copy;
}

int TDBLogger::LogCount() const {
    TGuard guard(DBLoggerCriticalSection());
    return FLogList->Count();
}

// ---- The global logger

namespace {

std::atomic<TDBLogger*> GLogger{nullptr};
// Guarded by the critical section: the starts not yet matched by a stop, and whether the last
// stop has freed the logger (no lazy creation from then on, until the unit starts again).
int GUnitStarts = 0;
bool GUnitStopped = false;

// Creates the global logger unless it exists or the unit has stopped; returns it.
TDBLogger* StartGlobalLogger() {
    TGuard guard(DBLoggerCriticalSection());
    TDBLogger* logger = GLogger.load();
    if (!logger && !GUnitStopped) {
        logger = std::make_unique<TDBLogger>().release();  // freed by the last StopLoggerUnit
        GLogger.store(logger);
    }
    return logger;
}

// The unit's own start and stop for programs that link the engine's static libraries; in the
// runtime package the package entry has started the unit before this object is made, so this
// start and stop only count.
struct TLoggerUnit {
    TLoggerUnit() { StartLoggerUnit(); }
    ~TLoggerUnit() { StopLoggerUnit(); }
    TLoggerUnit(const TLoggerUnit&) = delete;
    TLoggerUnit& operator=(const TLoggerUnit&) = delete;
};

TLoggerUnit GLoggerUnit;

}  // namespace

void StartLoggerUnit() {
    TGuard guard(DBLoggerCriticalSection());
    ++GUnitStarts;
    GUnitStopped = false;
    StartGlobalLogger();
}

void StopLoggerUnit() {
    std::unique_ptr<TDBLogger> logger;
    {
        TGuard guard(DBLoggerCriticalSection());
        if (GUnitStarts == 0 || --GUnitStarts > 0) return;
        GUnitStopped = true;
        logger.reset(GLogger.exchange(nullptr));
    }
    // The logger goes here, outside the lock, saving its lines to OutputFileName when one is set.
}

TDBLogger* GDBLogger() {
    if (TDBLogger* logger = GLogger.load()) return logger;
    return StartGlobalLogger();
}

}  // namespace ostra
