// orqRecordFilterMgr: TRecordFilterMgr, a filter manager that filters by the cursor's record filter
// handler alone (no filter expressions), for the tests of the cursor's moves through a filter until
// the engine's filter evaluation exists.
//
// Opening it lists the table's records in cursor order (the current index, within the range) and
// keeps those the handler accepts. A filter text is refused ("Filter expressions are not
// supported here"), so the cursor raises 10051 for it.
#pragma once
#include <string>

#include "engine/components/orqFilterMgrIntf.h"
#include "engine/storage/orqCompoundList.h"

namespace ostra::componentstest {

// A filter by the record filter handler of the cursor.
class TRecordFilterMgr : public TBaseFilterMgr {
public:
    bool Active() const override { return FActive; }
    void SetQueryActive(bool Value) override {}
    bool OpenFilter(TOrqDataSet& Table) override;
    void CloseFilter() override { FActive = false; }
    // Lists the records again.
    void ResetFilter() override;
    void RefreshDataProvider() override { ++FRefreshes; }
    int GetBaseRecNo() override { return FBaseRecNo; }
    bool CheckRecordInFilter(uint32_t RecAddr) override { return FActive && FFiltered.IndexOfList1(RecAddr) >= 0; }
    int GetFilterRecordCount() override { return FActive ? FFiltered.Count() : 0; }
    int GetRecNo(uint32_t RecAddr) override;
    uint32_t MoveBy(uint32_t RecAddr, int Distance) override;
    uint32_t MoveToEnd(bool First) override;
    uint32_t FindFilterRecord(uint32_t RecAddr, TIndexSearchType SearchType) override;
    const TCompoundList* GetCurrentFilterList() override { return FTable ? &FFiltered : nullptr; }

    // How often the cursor asked for a refresh and a re-evaluation.
    int Refreshes() const { return FRefreshes; }
    int Resets() const { return FResets; }

private:
    // The master list and the records the handler accepts, in cursor order.
    void Evaluate();

    TOrqDataSet* FTable = nullptr;
    bool FActive = false;
    TCompoundList FMaster;    // (address, record number), cursor order
    TCompoundList FFiltered;  // the accepted ones, cursor order
    int FBaseRecNo = 0;
    int FRefreshes = 0;
    int FResets = 0;
};

}  // namespace ostra::componentstest
