// orqFilterMgr: the cursor's filter manager, its row source and its table-bound evaluator.
#include "engine/components/orqFilterMgr.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRecordMgr.h"
#include "host/Collation.h"
#include "host/Streams.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// TCursorTableFields

TCursorTableFields::TCursorTableFields(const TInternalFields& Fields) {
    for (int i = 0; i < Fields.Count(); ++i) {
        const TInternalFieldItem* f = Fields.GetIndex(i);
        FFields.push_back({f->FieldName(), f->DataType(), f->FieldSize()});
    }
}

std::unique_ptr<IOrqTableFields> TCursorTableFields::Clone() const { return std::make_unique<TCursorTableFields>(*this); }

int TCursorTableFields::IndexOfField(const std::string& Name) const {
    for (size_t i = 0; i < FFields.size(); ++i)
        if (AnsiSameText(FFields[i].Name, Name)) return int(i);
    return -1;
}

// ---------------------------------------------------------------------------------------------
// TOrqExprDBDataProvider

void TOrqExprDBDataProvider::Initialize(TOrqDataSet* Table) {
    Assert(Table != nullptr, "ExprDBDataProvider - source table is not assigned");
    FTable = Table;
    TInternalFields& fields = ProviderFields();
    fields.Assign(&Table->GetInternalFields());
    // The evaluator asks for values by FieldNo: make it the cursor's field number.
    for (int i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetFieldNo(fields.GetIndex(i)->FieldIndex());
    Refresh();
}

void TOrqExprDBDataProvider::Refresh() {
    SetDBStringCompare(FTable->StringCompare());
    SetHasPassFilterEvent(FTable->HasFilterEventHandler());
    FFilterBuffer.assign(size_t(FTable->InternalGetRecordSize() + C_RECTRAILERSIZE), 0);
}

void TOrqExprDBDataProvider::Open() {
    TOrqExprDataProvider::Open();
    Refresh();
}

const uint8_t* TOrqExprDBDataProvider::Buffer() const {
    return FReadDataFromRecBuf ? FTable->RecordBuffer() : FFilterBuffer.data();
}

Variant TOrqExprDBDataProvider::GetDataAsVariant(int FieldNo) {
    if (FTable->IsFieldTextBlob(FieldNo)) {
        TStringStream stream;
        bool isNull = true;
        FTable->DataSetGetFieldStreamFromRecBuf(Buffer(), FieldNo, isNull, stream);
        return isNull ? Null() : Variant(stream.DataString());
    }
    Variant value;
    FTable->DataSetGetFieldDataFromRecBufAsVariant(Buffer(), FieldNo, value);
    return value;
}

bool TOrqExprDBDataProvider::IsFieldNull(int FieldNo) { return FTable->GetIsFieldNullFromRecBuf(Buffer(), FieldNo); }

bool TOrqExprDBDataProvider::GetFieldNumber(int FieldNo, double& Value) {
    return FTable->GetFieldNumberFromRecBuf(Buffer(), FieldNo, Value);
}

void TOrqExprDBDataProvider::GetDefaultRecordList(TCompoundList& List) {
    SetBaseRecNo(FTable->InternalPrepareMasterRecordList(List));
}

bool TOrqExprDBDataProvider::MoveToRecord(uint32_t RecNo) {
    FTable->ReadRecordBuffer(RecNo, FFilterBuffer.data());
    return true;
}

bool TOrqExprDBDataProvider::StartStorageWalk() {
    if (FTable->RangeOn()) return false;
    FTable->RecordMgr().StartStorageOrderWalk();
    return true;
}

bool TOrqExprDBDataProvider::NextInStorageWalk(uint32_t& Address) {
    return FTable->RecordMgr().NextInStorageOrder(Address, FFilterBuffer.data());
}

TInternalFieldItem* TOrqExprDBDataProvider::FindField(const TParserToken*, const std::string& Name) {
    return ProviderFields().FindField(Name);
}

bool TOrqExprDBDataProvider::PassFilterEvent(int RecNo) { return FTable->PassFilterEvent(uint32_t(RecNo)); }

void TOrqExprDBDataProvider::CopyFilterBufFromRecBuf() {
    std::memcpy(FFilterBuffer.data(), FTable->RecordBuffer(), FFilterBuffer.size());
}

// ---------------------------------------------------------------------------------------------
// TOrqFilterEvaluator

TOrqFilterEvaluator::TOrqFilterEvaluator(TOrqDataSet& Table)
    : FProvider(std::make_unique<TOrqExprDBDataProvider>()), FTableList(std::make_unique<TTableList>()) {
    FProvider->Initialize(&Table);
    SetDataProvider(FProvider.get());
    TTableNameItem* item = FTableList->Add();
    item->SetTableName(Table.TableName());
    TCursorTableFields fields(Table.GetInternalFields());
    item->SetTableFields(&fields);
    SetTables(FTableList.get());
    TIndexManager& indexes = Table.IndexMgr();
    for (int i = 0; i < indexes.Count(); ++i) {
        TIndexItem* index = indexes.GetItems(i);
        if (index->IsOpen()) IndexQueryMgr().Add(index->IndexName(), &index->Tree());
    }
}

TOrqFilterEvaluator::~TOrqFilterEvaluator() {
    // The base's lists and optimizer go before the row source and table list they refer to.
    Close();
}

int TOrqFilterEvaluator::SearchRecordNo(TIndexItem& Index, const uint8_t* Record) {
    Index.CreateKeyBuffer(Record, nullptr);
    return Index.FullIndexSearch(stEQ) == 0 ? Index.GetRecordNo() : 0;
}

int TOrqFilterEvaluator::CursorRecordNo(uint32_t Address) {
    TOrqDataSet& table = *FProvider->Table();
    TIndexItem* index = table.IndexMgr().CurrentIndex();
    FRecord.resize(size_t(table.InternalGetRecordSize() + C_RECTRAILERSIZE));
    table.ReadRecordBuffer(Address, FRecord.data());
    const int recNo = SearchRecordNo(*index, FRecord.data());
    table.InvalidateTreeCursors();
    return recNo;
}

bool TOrqFilterEvaluator::OrderMatches(TCompoundList& Matching) {
    TOrqDataSet& table = *FProvider->Table();
    if (table.RangeOn()) return false;
    TIndexItem& index = *table.IndexMgr().CurrentIndex();
    if (int64_t(Matching.Count()) * 8 > index.GetRecordCount(false)) return false;
    std::vector<std::pair<int, uint32_t>> ordered;
    ordered.reserve(size_t(Matching.Count()));
    // Matches often come in the index's own order a few entries apart (a storage-order result
    // of a table filled in key order, an index answer whose keys end in the record number): the
    // tree cursor then steps from the last match to the next one, and the record number counts
    // the steps. A match not found within MaxSteps is searched by its key; when steps rarely
    // find the next match, they are no longer tried.
    constexpr int MaxSteps = 32;
    int lastRecNo = 0;  // the tree cursor's entry, when it stands on the last match
    int stepHits = 0, stepMisses = 0;
    for (uint32_t address : Matching.List1()) {
        int recNo = 0;
        if (lastRecNo > 0) {
            for (int step = 1; step <= MaxSteps && index.NextKey(); ++step)
                if (index.GetRecordAddress() == address) {
                    recNo = lastRecNo + step;
                    break;
                }
            if (recNo > 0) {
                ++stepHits;
            } else if (++stepMisses >= 16 && stepMisses > 4 * stepHits) {
                lastRecNo = -1;  // steps are not worth trying in this list
            }
        }
        if (recNo == 0) {
            uint8_t* record = nullptr;
            table.RecordMgr().ReadRecordByRef(address, record);
            recNo = SearchRecordNo(index, record);
        }
        if (lastRecNo >= 0) lastRecNo = recNo;
        if (recNo > 0) ordered.emplace_back(recNo, address);
    }
    table.InvalidateTreeCursors();
    std::sort(ordered.begin(), ordered.end());
    Matching.Clear();
    Matching.Reserve(int(ordered.size()));
    for (const auto& [recNo, address] : ordered) Matching.Add(address, recNo);
    return true;
}

// ---------------------------------------------------------------------------------------------
// TPreparedFilters

std::vector<uint32_t>& TPreparedFilters::AddFilter(const std::string& Text, TFilterOptions Options) {
    auto entry = std::make_unique<TPreparedFilter>();
    entry->FilterText = Text;
    entry->FilterOptions = Options;
    const int at = IndexOf(Text, Options);
    if (at >= 0) {
        FItems[size_t(at)] = std::move(entry);
        return FItems[size_t(at)]->RecordList;
    }
    FItems.push_back(std::move(entry));
    return FItems.back()->RecordList;
}

int TPreparedFilters::IndexOf(const std::string& Text, TFilterOptions Options) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (AnsiSameText(FItems[i]->FilterText, Text)) return FItems[i]->FilterOptions == Options ? int(i) : -1;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// TFilterMgr

TFilterMgr::TFilterMgr() = default;

TFilterMgr::~TFilterMgr() {
    CloseFilter();
    FEvaluator.reset();
}

void TFilterMgr::SetQueryActive(bool Value) {
    FQueryActive = Value;
    if (!Value) FPreparedFilters.Clear();
}

void TFilterMgr::CreateEvaluator(TOrqDataSet& Table, bool SortedOutput) {
    CloseFilter();
    FEvaluator.reset();
    FEvaluatorReusable = false;
    FTable = &Table;
    FEvaluator = std::make_unique<TOrqFilterEvaluator>(Table);
    FEvaluatorAssigned = false;
    FEvaluatorGeneration = Table.IndexMgrGeneration();
    ConfigureEvaluator(Table, SortedOutput);
}

void TFilterMgr::ConfigureEvaluator(TOrqDataSet& Table, bool SortedOutput) {
    CloseFilter();
    FEvaluator->SetFilterText(Table.Filter());
    FEvaluator->SetFilterOptions(Table.FilterOptions());
    FEvaluator->SetSortedOutput(SortedOutput);
    FEvaluator->SetExcludeRelopNulls(FExcludeRelopNulls);
    FEvaluator->SetQueryActive(FQueryActive);
    FEvaluator->SetForceFullScan(FForceFullScan);
}

bool TFilterMgr::OpenFilter(TOrqDataSet& Table) {
    CreateEvaluator(Table, FOrdered);
    TOrqDataSet::TReadLockScope lock(Table);
    const bool opened = FEvaluator->Open();
    // The index scans moved the trees' cursors.
    Table.InvalidateTreeCursors();
    lock.Release();
    if (!opened) {
        FErrorText = FEvaluator->GetErrors();
        return false;
    }
    IndexLists();
    FActive = true;
    return true;
}

void TFilterMgr::AssignExpr(TOrqDataSet& Table, TOrqFilterExprDriver& Driver) {
    // The evaluator of the last expression for this table takes the next one while the table's
    // index trees are the same ones (a prepared query run again assigns its filter at every
    // run); making one costs more than a key lookup.
    if (FEvaluator && FEvaluatorReusable && FTable == &Table && Table.Filter().empty() &&
        FEvaluatorGeneration == Table.IndexMgrGeneration())
        ConfigureEvaluator(Table, Driver.EnforceExprOrder());
    else
        CreateEvaluator(Table, Driver.EnforceExprOrder());
    FEvaluatorReusable = Table.Filter().empty();
    FEvaluatorAssigned = true;
    TOrqDataSet::TReadLockScope lock(Table);
    FEvaluator->DataProvider()->Open();
    // The filter text's expression, which the driver's is combined with.
    if (!Table.Filter().empty() && !FEvaluator->Parse()) {
        FErrorText = FEvaluator->GetErrors();
        OrqDatabaseError(10051, "TFilterMgr.AssignExpr", FErrorText, nullptr);
    }
    FEvaluator->AssignExpr(Driver, oeoAND);
    Table.InvalidateTreeCursors();
    lock.Release();
    FErrorText = FEvaluator->GetErrors();
    IndexLists();
    FActive = !Driver.AssessExprOnly();
}

void TFilterMgr::CloseFilter() {
    if (FEvaluator) FEvaluator->Close();
    FFilterPos.clear();
    FMasterPos.clear();
    FActive = false;
}

void TFilterMgr::ResetFilter() {
    FPreparedFilters.Clear();
    if (!FEvaluator || !FTable) return;
    if (FEvaluatorGeneration != FTable->IndexMgrGeneration()) {
        // The cursor's index trees were made anew (the table emptied or re-indexed): the
        // evaluator's index lists point at the old ones. A filter text is evaluated again by a
        // new evaluator; an assigned expression, which only the query engine can give again,
        // is dropped with its evaluator.
        if (FEvaluatorAssigned) {
            CloseFilter();
            FEvaluator.reset();
            FEvaluatorReusable = false;
        } else if (!OpenFilter(*FTable)) {
            OrqDatabaseError(10051, "TFilterMgr.ResetFilter", FErrorText, nullptr);
        }
        return;
    }
    TOrqDataSet::TReadLockScope lock(*FTable);
    bool opened;
    if (FActive) {
        // The expression stays (the filter text's, or the one a query assigned): only the rows
        // are read again.
        FEvaluator->DataProvider()->Open();
        opened = FEvaluator->Evaluate();
    } else {
        opened = FEvaluator->Open();
    }
    FTable->InvalidateTreeCursors();
    lock.Release();
    IndexLists();
    FActive = opened;
}

void TFilterMgr::RefreshDataProvider() {
    if (FEvaluator) FEvaluator->Provider().Refresh();
}

void TFilterMgr::IndexLists() {
    FFilterPos.clear();
    FMasterPos.clear();
    if (!FEvaluator) return;
    const auto& filtered = FEvaluator->RecordList().List1();
    FFilterPos.reserve(filtered.size());
    for (size_t i = 0; i < filtered.size(); ++i) FFilterPos.emplace(filtered[i], int(i));
}

int TFilterMgr::MasterPosition(uint32_t RecAddr) {
    const auto& master = GetMasterList().List1();
    if (FMasterPos.size() != master.size()) {
        FMasterPos.clear();
        FMasterPos.reserve(master.size());
        for (size_t i = 0; i < master.size(); ++i) FMasterPos.emplace_back(master[i], int(i));
        std::sort(FMasterPos.begin(), FMasterPos.end());
    }
    const auto at = std::lower_bound(FMasterPos.begin(), FMasterPos.end(), std::make_pair(RecAddr, INT_MIN));
    return at != FMasterPos.end() && at->first == RecAddr ? at->second : -1;
}

const TCompoundList& TFilterMgr::GetCurrentFilter() const {
    Assert(FEvaluator != nullptr, "ExprFilter is not assigned");
    return FEvaluator->RecordList();
}

const TCompoundList& TFilterMgr::GetMasterList() const {
    Assert(FEvaluator != nullptr, "ExprFilter is not assigned");
    return FEvaluator->DefaultRecords();
}

const TCompoundList* TFilterMgr::GetCurrentFilterList() { return FEvaluator ? &FEvaluator->RecordList() : nullptr; }

int TFilterMgr::GetBaseRecNo() { return FEvaluator ? FEvaluator->GetBaseRecNo() : 0; }

bool TFilterMgr::Accepted(uint32_t RecAddr) {
    return FTable == nullptr || !FTable->HasFilterEventHandler() || FTable->PassFilterEvent(RecAddr);
}

bool TFilterMgr::CheckRecordInFilter(uint32_t RecAddr) { return FActive && InFilter(RecAddr) && Accepted(RecAddr); }

int TFilterMgr::GetFilterRecordCount() {
    if (!FActive) return 0;
    const TCompoundList& list = GetCurrentFilter();
    if (FTable == nullptr || !FTable->HasFilterEventHandler()) return list.Count();
    int count = 0;
    for (uint32_t address : list.List1())
        if (FTable->PassFilterEvent(address)) ++count;
    return count;
}

int TFilterMgr::GetRecNo(uint32_t RecAddr) {
    if (FQueryActive) return int(RecAddr);
    return CursorRecNo(RecAddr);
}

int TFilterMgr::CursorRecNo(uint32_t RecAddr) {
    if (!FEvaluator || RecAddr == 0) return 0;
    // A passing record carries its number in the filter list.
    const auto at = FFilterPos.find(RecAddr);
    if (at != FFilterPos.end()) return GetCurrentFilter().List2()[size_t(at->second)];
    if (FEvaluator->DefaultRecordsFetched()) {
        const int position = MasterPosition(RecAddr);
        return position < 0 ? 0 : GetMasterList().List2()[size_t(position)];
    }
    return FEvaluator->CursorRecordNo(RecAddr);
}

uint32_t TFilterMgr::MoveBy(uint32_t RecAddr, int Distance) {
    const auto at = FFilterPos.find(RecAddr);
    if (at == FFilterPos.end()) return 0;
    if (Distance == 0) return RecAddr;
    const auto& list = GetCurrentFilter().List1();
    const int count = int(list.size());
    if (FTable == nullptr || !FTable->HasFilterEventHandler()) {
        const int64_t target = int64_t(at->second) + Distance;
        return target < 0 || target >= count ? 0 : list[size_t(target)];
    }
    // Only records the event accepts count.
    const int step = Distance > 0 ? 1 : -1;
    int remaining = std::abs(Distance);
    for (int p = at->second + step; p >= 0 && p < count; p += step)
        if (FTable->PassFilterEvent(list[size_t(p)]) && --remaining == 0) return list[size_t(p)];
    return 0;
}

uint32_t TFilterMgr::MoveToEnd(bool First) {
    const auto& list = GetCurrentFilter().List1();
    if (list.empty()) return 0;
    const uint32_t end = First ? list.front() : list.back();
    if (FTable == nullptr || !FTable->HasFilterEventHandler()) return end;
    return InternalFindNearestRecAddr(end, First ? stGE : stLE);
}

uint32_t TFilterMgr::FindNearest(uint32_t RecAddr, bool Forward) {
    return RecAddr == 0 ? 0 : InternalFindNearestRecAddr(RecAddr, Forward ? stGE : stLE);
}

uint32_t TFilterMgr::FindFilterRecord(uint32_t RecAddr, TIndexSearchType SearchType) {
    return InternalFindNearestRecAddr(RecAddr, SearchType);
}

uint32_t TFilterMgr::InternalFindNearestRecAddr(uint32_t RecAddr, TIndexSearchType SearchType) {
    Assert(FEvaluator != nullptr, "Filter allocation error. Current Filter has not been assigned");
    if (RecAddr == 0 || GetCurrentFilter().Count() == 0) return 0;
    // Where RecAddr stands: a position in the list the walks go through.
    int p = -1;
    if (FQueryActive) {
        const auto at = FFilterPos.find(RecAddr);
        if (at == FFilterPos.end()) return 0;
        p = at->second;
    } else if (FEvaluator->DefaultRecordsFetched()) {
        p = MasterPosition(RecAddr);
        if (p < 0) return 0;
    }
    // Without the master list the filter is in record-number order: RecAddr's neighbours are
    // found by its record number.
    int recNo = 0;
    if (p < 0 && !FQueryActive) {
        recNo = CursorRecNo(RecAddr);
        if (recNo == 0) return 0;
    }
    auto walk = [&](int Step) -> uint32_t {
        if (FQueryActive)
            OrqDatabaseError(8581, "TFilterMgr.InternalFindNearestRecAddr", "Error in filter find nearest in active query",
                             nullptr);
        if (p < 0) {
            const auto& list = GetCurrentFilter().List1();
            const auto& numbers = GetCurrentFilter().List2();
            int i = Step > 0 ? int(std::upper_bound(numbers.begin(), numbers.end(), recNo) - numbers.begin())
                             : int(std::lower_bound(numbers.begin(), numbers.end(), recNo) - numbers.begin()) - 1;
            for (; i >= 0 && i < int(list.size()); i += Step)
                if (Accepted(list[size_t(i)])) return list[size_t(i)];
            return 0;
        }
        const auto& master = GetMasterList().List1();
        // Only a passing record can stop the walk, so the event is asked for those alone.
        for (int i = p + Step; i >= 0 && i < int(master.size()); i += Step)
            if (InFilter(master[size_t(i)]) && Accepted(master[size_t(i)])) return master[size_t(i)];
        return 0;
    };
    const bool here = InFilter(RecAddr) && Accepted(RecAddr);
    switch (SearchType) {
        case stLT:
            return walk(-1);
        case stLE:
            return here ? RecAddr : walk(-1);
        case stEQ:
            return here ? RecAddr : 0;
        case stGE:
            return here ? RecAddr : walk(1);
        case stGT:
            return walk(1);
        case stLEG: {
            const uint32_t found = here ? RecAddr : walk(1);
            return found != 0 ? found : walk(-1);
        }
    }
    return 0;
}

}  // namespace ostra
