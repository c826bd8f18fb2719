// orqBaseTableSearch: searching and filtering on the dataset face: Locate and Lookup through
// the best matching index, FindFirst and its kin through the filter, the filter properties
// mapped onto the cursor's filter manager, the per-record filter event, filter expressions from
// query execution, and blob streams.
#include <cstring>

#include "engine/components/orqBaseTable.h"
#include "engine/components/orqBlobStream.h"
#include "engine/components/orqFilterMgr.h"
#include "engine/storage/orqErrors.h"
#include "host/Collation.h"
#include "host/db/Field.h"

namespace ostra {

namespace {

std::vector<std::string> SplitFieldNames(const std::string& Names) {
    std::vector<std::string> list;
    size_t start = 0;
    while (start <= Names.size()) {
        const size_t end = std::min(Names.find(';', start), Names.size());
        std::string name = Names.substr(start, end - start);
        const size_t first = name.find_first_not_of(' ');
        const size_t last = name.find_last_not_of(' ');
        if (first != std::string::npos) list.push_back(name.substr(first, last - first + 1));
        start = end + 1;
    }
    return list;
}

bool ContainsName(const std::vector<std::string>& Names, const std::string& Name) {
    for (const std::string& n : Names)
        if (AnsiSameText(n, Name)) return true;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Locate and Lookup

bool TOrqBaseTable::MapFieldsToIndex(const std::vector<std::string>& FieldNames, bool CaseInsensitive,
                                     std::string& Name) {
    int best = 0;
    Name = IndexName();
    for (int i = 0; i < IndexDefs().Count(); ++i) {
        const TIndexDef* def = IndexDefs().Items(i);
        std::vector<std::string> fields = SplitFieldNames(def->Fields());
        for (const std::string& f : fields)
            if (FindField(f) == nullptr) fields.clear();
        const std::vector<std::string> caseInsensitive = SplitFieldNames(def->CaseInsFields());
        // The leading positions where the index holds the requested field, whole names only.
        int count = 0;
        while (count < int(FieldNames.size()) && count < int(fields.size()) &&
               AnsiSameText(fields[size_t(count)], FieldNames[size_t(count)])) {
            const TField* field = FindField(FieldNames[size_t(count)]);
            const bool text = field && (field->DataType() == ftString || field->DataType() == ftWideString);
            // A list of case-insensitive fields names them; without one the option covers all.
            const bool folded = caseInsensitive.empty() ? def->Options().Contains(ixCaseInsensitive)
                                                        : ContainsName(caseInsensitive, FieldNames[size_t(count)]);
            if (CaseInsensitive && text && !folded) break;
            ++count;
        }
        const bool exact = count == int(FieldNames.size()) && count == int(fields.size());
        if (count > best || (exact && count > 0)) {
            best = count;
            Name = def->Name();
        }
        if (exact && count > 0) break;
    }
    return best > 0;
}

bool TOrqBaseTable::LocateRecord(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                                 bool SyncCursor) {
    CheckBrowseMode();
    CursorPosChanged();
    std::vector<TField*> fields;
    GetFieldList(fields, KeyFields);
    char* filter = FFilterRecBuffer.data();
    TTempStateScope state(*this, dsFilter);
    std::memset(filter, 0, size_t(FAllocSize));
    InitializeNewRecord(RecBufOf(filter), false);
    std::vector<std::string> names;
    for (size_t i = 0; i < fields.size(); ++i) {
        TField* field = fields[i];
        if (field->FieldKind() != fkData)
            OrqDatabaseError(10000, "TOrqBaseTable.LocateRecord", field->FieldName(), this);
        const Variant value = fields.size() == 1 ? KeyValues : KeyValues[int(i)];
        if (VarIsNull(value) || VarIsEmpty(value))
            field->Clear();
        else
            field->SetValue(value);
        names.push_back(field->FieldName());
    }
    std::string index;
    const bool matched = MapFieldsToIndex(names, Options.Contains(loCaseInsensitive), index);
    std::string joined;
    for (const std::string& n : names) joined += (joined.empty() ? "" : ";") + n;
    return DoLocate(index, RecBufOf(filter), RecBufOf(filter), joined, Options, matched, SyncCursor);
}

bool TOrqBaseTable::Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
    DoBeforeScroll();
    const bool found = LocateRecord(KeyFields, KeyValues, Options, true);
    if (found) {
        FPending = ppCurrent;
        Resync(TResyncMode{rmExact, rmCenter});
        DoAfterScroll();
    }
    return found;
}

Variant TOrqBaseTable::Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) {
    Variant result = Null();
    if (!LocateRecord(KeyFields, KeyValues, {}, false)) return result;
    // The found record is in the filter buffer; its calculated fields are computed there.
    char* filter = FFilterRecBuffer.data();
    GetCalcFields(filter);
    TTempStateScope state(*this, dsFilter);
    return GetFieldValue(ResultFields);
}

// ---------------------------------------------------------------------------------------------
// FindFirst, FindNext, FindPrior, FindLast

bool TOrqBaseTable::FindRecord(bool Restart, bool GoForward) {
    CheckBrowseMode();
    DoBeforeScroll();
    SetFound(false);
    UpdateCursorPos();
    CursorPosChanged();
    // The filter applies to the search even when the dataset is not filtered.
    const bool switchOn = !Filtered();
    if (switchOn) InternalSetFilter();
    bool found = false;
    try {
        if (GoForward)
            found = Restart ? DataSetFirst() : DataSetNext();
        else
            found = Restart ? DataSetLast() : DataSetPrior();
    } catch (...) {
        if (switchOn) InternalClearFilter();
        throw;
    }
    if (switchOn) InternalClearFilter();
    SetFound(found);
    if (found) {
        FPending = ppCurrent;
        Resync(TResyncMode{rmExact, rmCenter});
        DoAfterScroll();
    }
    return found;
}

// ---------------------------------------------------------------------------------------------
// Filter properties

void TOrqBaseTable::SetFiltered(bool Value) {
    if (!Active()) {
        TOrqDataSet::SetFiltered(Value);
        return;
    }
    CheckBrowseMode();
    if (Value != Filtered()) {
        if (Value)
            InternalSetFilter();
        else
            InternalClearFilter();
        TOrqDataSet::SetFiltered(Value);
    } else if (!Value) {
        InternalClearFilter();
    }
    First();
}

void TOrqBaseTable::SetFilterText(const std::string& Value) {
    if (!Active() || !Filtered()) {
        TOrqDataSet::SetFilterText(Value);
        return;
    }
    CheckBrowseMode();
    if (Value == Filter()) return;
    const std::string previous = Filter();
    TOrqDataSet::SetFilterText(Value);
    try {
        InternalSetFilter();
    } catch (...) {
        // The previous filter stays in force.
        TOrqDataSet::SetFilterText(previous);
        InternalClearFilter();
        InternalSetFilter();
        throw;
    }
    First();
}

void TOrqBaseTable::SetFilterOptions(TFilterOptions Value) {
    if (!Active() || !Filtered()) {
        TOrqDataSet::SetFilterOptions(Value);
        return;
    }
    CheckBrowseMode();
    if (Value == FilterOptions()) return;
    TOrqDataSet::SetFilterOptions(Value);
    InternalSetFilter();
    First();
}

void TOrqBaseTable::SetOnFilterRecord(const TFilterRecordEvent& Value) {
    if (Active()) CheckBrowseMode();
    TOrqDataSet::SetOnFilterRecord(Value);
    // The cursor asks the event only while one is assigned.
    if (Value)
        SetFilterEventHandler([this](uint8_t* Record) { return RecordProcFilter(Record); });
    else
        SetFilterEventHandler(nullptr);
    if (Active() && Filtered()) {
        InternalClearFilter();
        InternalSetFilter();
        First();
    }
}

bool TOrqBaseTable::RecordProcFilter(uint8_t* RecordBuffer) {
    bool accept = true;
    if (!OnFilterRecord()) return accept;
    TTempStateScope state(*this, dsFilter);
    std::memset(FFilterRecBuffer.data(), 0, size_t(FAllocSize));
    std::memcpy(FFilterRecBuffer.data(), RecordBuffer, size_t(InternalGetRecordSize()));
    try {
        OnFilterRecord()(this, accept);
    } catch (...) {
        // A failing handler does not stop the scan: the record keeps the answer it had.
        try {
            InternalHandleException();
        } catch (...) {
        }
    }
    return accept;
}

void TOrqBaseTable::AssignFilterExpr(TOrqFilterExprDriver& Driver) {
    auto* manager = dynamic_cast<TFilterMgr*>(&FilterMgr());
    Assert(manager != nullptr, "Filter manager cannot take filter expressions");
    manager->SetExcludeRelopNulls(Driver.ExcludeRelopNulls());
    if (Driver.ExcludeRelopNulls()) manager->SetQueryActive(true);
    if (Driver.EnforceExprOrder()) InternalSetIndexName(Driver.OrderIndexName());
    manager->AssignExpr(*this, Driver);
    if (!Driver.AssessExprOnly())
        First();
    else if (Driver.ExprOptimizationLevel() == olNone)
        Driver.SetMaximalResultSetSize(RecordCount());
}

std::unique_ptr<TStream> TOrqBaseTable::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
    return std::make_unique<TBlobStream>(Field, Mode);
}

}  // namespace ostra
