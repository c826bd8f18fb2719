// orqFilterMgrIntf: IOrqFilterMgr, what the engine cursor (orqDataSet.h) asks of its filter
// manager (TFilterMgr, orqFilterMgr.h, unless a test puts in its own).
//
// Every cursor owns one filter manager. The manager holds the dataset's filter (its text and
// options, the list of record addresses that pass it, in cursor order) and answers the cursor's
// questions about it: whether a record passes, how many pass, which passing record lies a given
// distance away, which is the first, the last or the nearest. The cursor decides when the filter
// is opened, closed, refreshed and reset (after a change of the filter, of the range, and when
// another writer changed the table).
//
// Record addresses are the storage's record block addresses; 0 stands for "none".
#pragma once
#include <cstdint>
#include <string>

#include "engine/storage/orqSearchKey.h"
#include "host/db/DBTypes.h"

namespace ostra {

class TCompoundList;
class TOrqDataSet;

// The filter services the cursor calls.
class IOrqFilterMgr {
public:
    virtual ~IOrqFilterMgr() = default;

    // The filter was opened and evaluated, and restricts the cursor.
    virtual bool Active() const = 0;
    virtual const std::string& FilterText() const = 0;
    virtual void SetFilterText(const std::string& Value) = 0;
    virtual TFilterOptions FilterOptions() const = 0;
    virtual void SetFilterOptions(TFilterOptions Value) = 0;
    // The cursor serves a query result; false also empties any cached filter results.
    virtual void SetQueryActive(bool Value) = 0;
    // Opens the filter of Table's filter text and options; false (and ErrorText) when it cannot
    // be opened.
    virtual bool OpenFilter(TOrqDataSet& Table) = 0;
    // Closes the filter; Active becomes false.
    virtual void CloseFilter() = 0;
    // Evaluates the filter again over the table as it is now.
    virtual void ResetFilter() = 0;
    // Re-reads the table settings the filter reads records with.
    virtual void RefreshDataProvider() = 0;
    // Why the last open failed.
    virtual const std::string& ErrorText() const = 0;

    // The record number of the first record the filter list was built from.
    virtual int GetBaseRecNo() = 0;
    // True when the filter is active and RecAddr passes it.
    virtual bool CheckRecordInFilter(uint32_t RecAddr) = 0;
    // The number of records that pass; 0 when not active.
    virtual int GetFilterRecordCount() = 0;
    // The record number of the passing record at RecAddr; 0 when it is not in the list.
    virtual int GetRecNo(uint32_t RecAddr) = 0;
    // The passing record Distance records away from RecAddr; 0 when there is none.
    virtual uint32_t MoveBy(uint32_t RecAddr, int Distance) = 0;
    // The first (First) or last passing record; 0 when none passes.
    virtual uint32_t MoveToEnd(bool First) = 0;
    // The passing record that SearchType finds from RecAddr in cursor order (stLT the nearest
    // before it, stLE it or the nearest before, stEQ it, stGE it or the nearest after, stGT the
    // nearest after, stLEG as stGE, else as stLE); 0 when none.
    virtual uint32_t FindFilterRecord(uint32_t RecAddr, TIndexSearchType SearchType) = 0;
    // The addresses of the passing records; null when no filter was ever opened.
    virtual const TCompoundList* GetCurrentFilterList() = 0;
};

// The settings every filter manager keeps: the filter text and options it is opened with, and
// why its last open failed.
class TBaseFilterMgr : public IOrqFilterMgr {
public:
    const std::string& FilterText() const override { return FFilterText; }
    void SetFilterText(const std::string& Value) override { FFilterText = Value; }
    TFilterOptions FilterOptions() const override { return FFilterOptions; }
    void SetFilterOptions(TFilterOptions Value) override { FFilterOptions = Value; }
    const std::string& ErrorText() const override { return FErrorText; }

protected:
    std::string FFilterText;
    TFilterOptions FFilterOptions;
    std::string FErrorText;
};

}  // namespace ostra
