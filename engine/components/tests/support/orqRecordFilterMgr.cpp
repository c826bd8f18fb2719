// orqRecordFilterMgr: the record-handler filter manager of the cursor tests.
#include "orqRecordFilterMgr.h"

#include "engine/components/orqDataSet.h"

namespace ostra::componentstest {

bool TRecordFilterMgr::OpenFilter(TOrqDataSet& Table) {
    FActive = false;
    if (!FFilterText.empty()) {
        FErrorText = "Filter expressions are not supported here";
        return false;
    }
    FTable = &Table;
    Evaluate();
    FActive = true;
    return true;
}

void TRecordFilterMgr::ResetFilter() {
    ++FResets;
    if (FTable) Evaluate();
}

void TRecordFilterMgr::Evaluate() {
    FMaster.Clear();
    FFiltered.Clear();
    FBaseRecNo = FTable->InternalPrepareMasterRecordList(FMaster);
    for (int i = 0; i < FMaster.Count(); ++i)
        if (FTable->PassFilterEvent(FMaster.Items(i))) FFiltered.Add(FMaster.Items(i), FMaster.List2()[size_t(i)]);
}

int TRecordFilterMgr::GetRecNo(uint32_t RecAddr) {
    const int position = FMaster.IndexOfList1(RecAddr);
    return position < 0 ? 0 : FMaster.List2()[size_t(position)];
}

uint32_t TRecordFilterMgr::MoveBy(uint32_t RecAddr, int Distance) {
    const int position = FFiltered.IndexOfList1(RecAddr);
    if (position < 0) return 0;
    const int target = position + Distance;
    return target < 0 || target >= FFiltered.Count() ? 0 : FFiltered.Items(target);
}

uint32_t TRecordFilterMgr::MoveToEnd(bool First) {
    if (FFiltered.Count() == 0) return 0;
    return FFiltered.Items(First ? 0 : FFiltered.Count() - 1);
}

uint32_t TRecordFilterMgr::FindFilterRecord(uint32_t RecAddr, TIndexSearchType SearchType) {
    const int position = FMaster.IndexOfList1(RecAddr);
    if (RecAddr == 0 || position < 0 || FFiltered.Count() == 0) return 0;
    const bool in = FFiltered.IndexOfList1(RecAddr) >= 0;
    auto next = [&]() -> uint32_t {
        for (int i = position + 1; i < FMaster.Count(); ++i)
            if (FFiltered.IndexOfList1(FMaster.Items(i)) >= 0) return FMaster.Items(i);
        return 0;
    };
    auto prior = [&]() -> uint32_t {
        for (int i = position - 1; i >= 0; --i)
            if (FFiltered.IndexOfList1(FMaster.Items(i)) >= 0) return FMaster.Items(i);
        return 0;
    };
    switch (SearchType) {
        case stLT: return prior();
        case stLE: return in ? RecAddr : prior();
        case stEQ: return in ? RecAddr : 0;
        case stGE: return in ? RecAddr : next();
        case stGT: return next();
        case stLEG: {
            const uint32_t found = in ? RecAddr : next();
            return found ? found : prior();
        }
    }
    return 0;
}

}  // namespace ostra::componentstest
