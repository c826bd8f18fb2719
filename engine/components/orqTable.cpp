// orqTable: the table component's construction, open, index selection, key searches, ranges and
// master-detail linking. The structure operations and the import are in orqTableStructure.cpp.
#include "engine/components/orqTable.h"

#include <algorithm>

#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqSearchKey.h"
#include "host/Collation.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSource.h"
#include "host/db/Field.h"

namespace ostra {

TOrqTable::TOrqTable(TComponent* AOwner) : TOrqBaseTable(AOwner), FMasterLink(this) {
    FMasterLink.OnMasterChange = [this](TObject*) { MasterChanged(); };
    FMasterLink.OnMasterDisable = [this](TObject*) { MasterDisabled(); };
}

TOrqTable::~TOrqTable() {
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    FMasterLink.OnMasterChange = nullptr;
    FMasterLink.OnMasterDisable = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Opening

void TOrqTable::InternalOpen() {
    // The cursor chooses another index when the stored name is none of the table's: the name asked
    // for is kept to refuse it.
    const std::string requested = TOrqDataSet::IndexName();
    TOrqBaseTable::InternalOpen();
    UpdateIndexDefs();
    if (IndexDefs().Count() > 0 && !requested.empty() && requested != C_LOGICALRECNOINDEXNAME &&
        !FindIndexDefByName(requested))
        OrqDatabaseErrorFmt(9997, "TOrqTable.InternalOpen", SorqIndexFmt, {requested}, this);
    FRestructureFieldDefs.reset();
    FRestructureIndexDefs.reset();
    if (!FPendingIndexFieldNames.empty()) {
        const std::string name = FindIndexForFields(FPendingIndexFieldNames);
        InternalSetIndexName(name);
        FPendingIndexFieldNames.clear();
    }
}

void TOrqTable::Loaded() {
    TOrqBaseTable::Loaded();
    if (!Active()) return;
    if (MasterSource() && MasterSource()->DataSet() && !MasterFields().empty()) CheckMasterRange();
    if (IndexName().empty() && !FPendingIndexFieldNames.empty()) SetIndexFieldNames(FPendingIndexFieldNames);
}

// ---------------------------------------------------------------------------------------------
// Index selection

std::string TOrqTable::IndexName() const {
    const std::string& name = TOrqDataSet::IndexName();
    return name == C_LOGICALRECNOINDEXNAME ? std::string() : name;
}

void TOrqTable::SetIndexName(const std::string& Value) {
    if (Value == TOrqDataSet::IndexName()) return;
    if (Active()) {
        if (!Value.empty()) {
            CheckIndexesPresent();
            if (!FindIndexDefByName(Value))
                OrqDatabaseErrorFmt(9997, "TOrqTable.SetIndexName", SorqIndexFmt, {Value}, this);
        }
        CheckBrowseMode();
        InternalSetIndexName(Value.empty() ? std::string(C_LOGICALRECNOINDEXNAME) : FindIndexDefByName(Value)->Name());
        if (Value.empty() && !IndexMgr().FindIndex(C_LOGICALRECNOINDEXNAME)) {
            // No built-in index: the first of the table's stands in.
            InternalSetIndexName(IndexDefs().Count() > 0 ? IndexDefs().Items(0)->Name() : std::string());
        }
        SetRangeOn(false);
        First();
        CheckMasterRange();
    } else {
        InternalSetIndexName(Value);
    }
    FPendingIndexFieldNames.clear();
}

std::string TOrqTable::IndexFieldNames() const {
    if (!Active()) return FPendingIndexFieldNames;
    const TIndexDef* def = FindIndexDefByName(TOrqDataSet::IndexName());
    return def ? def->Fields() : std::string();
}

void TOrqTable::SetIndexFieldNames(const std::string& Value) {
    if (!Active()) {
        InternalSetIndexName("");
    } else if (!Value.empty()) {
        SetIndexName(FindIndexForFields(Value));
    } else if (TOrqDataSet::IndexName() != C_LOGICALRECNOINDEXNAME) {
        SetIndexName("");
    }
    FPendingIndexFieldNames = Value;
}

std::vector<TField*> TOrqTable::CurrentIndexFields() {
    std::vector<TField*> fields;
    const TIndexDef* def = FindIndexDefByName(TOrqDataSet::IndexName());
    if (def) GetFieldList(fields, def->Fields());
    return fields;
}

TField* TOrqTable::GetIndexField(int Index) {
    if (IndexDefs().Count() == 0) OrqDatabaseError(9997, "TOrqTable.GetIndexField", "", this);
    const TIndexDef* def = FindIndexDefByName(TOrqDataSet::IndexName());
    if (!def) OrqDatabaseErrorFmt(9997, "TOrqTable.GetIndexField", SorqIndexFmt, {TOrqDataSet::IndexName()}, this);
    std::vector<TField*> fields;
    GetFieldList(fields, def->Fields());
    if (Index < 0 || size_t(Index) >= fields.size())
        OrqDatabaseError(9985, "TOrqTable.GetIndexField", "The specified index field is out of range", this);
    return fields[size_t(Index)];
}

int TOrqTable::GetIndexCount() {
    CheckActive();
    return IndexDefs().Count();
}

// ---------------------------------------------------------------------------------------------
// Key searches

void TOrqTable::EnterKeyState(TKeyMode Mode, TRangeMode End, bool Clear) {
    CheckBrowseMode();
    if (Mode == kmRange) CheckIndexesPresent();
    SetKeyMode(Mode);
    SetRangeMode(End);
    if (Clear) {
        if (Mode == kmFind)
            InitializeNewRecord(reinterpret_cast<uint8_t*>(KeyBuffer()), false);
        else
            InitializeRangeBuffers(End);
    }
    SetState(dsSetKey);
}

void TOrqTable::SetKey() {
    FKeyFieldCount = 0;
    EnterKeyState(kmFind, RangeMode(), true);
}

void TOrqTable::EditKey() { EnterKeyState(kmFind, RangeMode(), false); }

void TOrqTable::CancelKey() {
    if (State() == dsSetKey) SetState(dsBrowse);
    SetKeyMode(kmNone);
}

void TOrqTable::SetKeyFieldCount(int Value) {
    if (State() != dsSetKey) DatabaseError(SNotEditing, this);
    if (Value < 0 || Value > IndexFieldCount())
        OrqDatabaseError(9985, "TOrqTable.SetKeyFieldCount", "The specified index field count is out of range", this);
    FKeyFieldCount = Value;
}

bool TOrqTable::SearchKeyBuffer(TIndexSearchType SearchType, int Count) {
    TSearchModifier modifier;
    modifier.SetLimitedSearch(true);
    modifier.SetIncludedKeyFieldCount(Count);
    bool found;
    {
        // One lock for the search and the reads around the record found.
        TReadLockScope lock(*this);
        found = FindBuf(reinterpret_cast<const uint8_t*>(KeyBuffer()), SearchType, TOrqDataSet::IndexName(),
                        &modifier, true);
        // The cursor moved, found or not: the framework no longer knows where it stands.
        CursorPosChanged();
        if (found) {
            DoBeforeScroll();
            FPending = ppCurrent;
            Resync({rmCenter});
        }
        lock.Release();
    }
    if (found) DoAfterScroll();
    return found;
}

bool TOrqTable::ApplyKey(bool Exact) {
    CheckActive();
    const int count = FKeyFieldCount > 0 ? FKeyFieldCount : IndexFieldCount();
    if (State() == dsSetKey) SetState(dsBrowse);
    SetKeyMode(kmNone);
    return SearchKeyBuffer(Exact ? stEQ : stLEG, count);
}

int TOrqTable::FillKeyBuffer(const std::vector<Variant>& Values, bool Blank) {
    CheckBrowseMode();
    const TDataSetState saved = SetTempState(dsSetKey);
    SetKeyMode(kmFind);
    int count = 0;
    try {
        InitializeNewRecord(reinterpret_cast<uint8_t*>(KeyBuffer()), Blank);
        count = SetIndexFields(Values, TOrqDataSet::IndexName());
    } catch (...) {
        RestoreState(saved);
        SetKeyMode(kmNone);
        throw;
    }
    RestoreState(saved);
    SetKeyMode(kmNone);
    return count;
}

bool TOrqTable::FindKey(const std::vector<Variant>& Values) { return SearchKeyBuffer(stEQ, FillKeyBuffer(Values, false)); }

void TOrqTable::FindNearest(const std::vector<Variant>& Values) { SearchKeyBuffer(stLEG, FillKeyBuffer(Values, true)); }

// ---------------------------------------------------------------------------------------------
// Ranges

void TOrqTable::SetRangeStart() { EnterKeyState(kmRange, rmRangeStart, true); }
void TOrqTable::SetRangeEnd() { EnterKeyState(kmRange, rmRangeEnd, true); }
void TOrqTable::EditRangeStart() { EnterKeyState(kmRange, rmRangeStart, false); }
void TOrqTable::EditRangeEnd() { EnterKeyState(kmRange, rmRangeEnd, false); }

void TOrqTable::ApplyRange() {
    CheckActive();
    CheckIndexesPresent();
    SetRangeOn(true);
    if (State() == dsSetKey) SetState(dsBrowse);
    SetKeyMode(kmNone);
    First();
}

void TOrqTable::CancelRange() {
    CheckBrowseMode();
    SetRangeOn(false);
    First();
}

// ---------------------------------------------------------------------------------------------
// Master-detail

void TOrqTable::SetMasterSource(TDataSource* Value) {
    if (Value && IsLinkedTo(Value)) DatabaseError(SCircularDataLink, this);
    FMasterLink.SetDataSource(Value);
}

void TOrqTable::MasterChanged() {
    CheckBrowseMode();
    SetDetailLinkRange(FMasterLink.Fields());
}

void TOrqTable::MasterDisabled() {
    if (Active()) CancelRange();
}

void TOrqTable::CheckMasterRange() {
    if (Active() && FMasterLink.Active() && !FMasterLink.Fields().empty()) SetDetailLinkRange(FMasterLink.Fields());
}

void TOrqTable::InternalCheckMasterRange() {
    if (FMasterLink.Active() && !FMasterLink.Fields().empty()) SetDetailLinkRange(FMasterLink.Fields());
}

void TOrqTable::SetDetailLinkRange(const std::vector<TField*>& MasterFields) {
    if (!FCheckFirst) CheckBrowseMode();
    const std::vector<TField*> indexFields = CurrentIndexFields();
    // The range covers the leading index fields that a master field matches.
    const size_t count = std::min(MasterFields.size(), indexFields.size());
    const TDataSetState saved = SetTempState(dsSetKey);
    SetKeyMode(kmRange);
    try {
        DataSetClearRange();
        for (TRangeMode end : {rmRangeStart, rmRangeEnd}) {
            SetRangeMode(end);
            for (size_t i = 0; i < count; ++i) indexFields[i]->AssignValue(MasterFields[i]->AsVariant());
        }
        SetRangeOn(true);
    } catch (...) {
        RestoreState(saved);
        SetKeyMode(kmNone);
        throw;
    }
    RestoreState(saved);
    SetKeyMode(kmNone);
    if (!FCheckFirst) First();
}

void TOrqTable::GetDetailLinkFields(std::vector<TField*>& MasterFields, std::vector<TField*>& DetailFields) {
    MasterFields.clear();
    DetailFields.clear();
    if (MasterSource() && MasterSource()->DataSet() && !this->MasterFields().empty())
        MasterSource()->DataSet()->GetFieldList(MasterFields, this->MasterFields());
    UpdateIndexDefs();
    const std::string names = IndexFieldNames();
    if (!names.empty()) GetFieldList(DetailFields, names);
}

void TOrqTable::DoOnNewRecord() {
    if (FMasterLink.Active() && !FMasterLink.Fields().empty()) {
        const std::vector<TField*> indexFields = CurrentIndexFields();
        const std::vector<TField*>& master = FMasterLink.Fields();
        for (size_t i = 0; i < master.size(); ++i) {
            if (i >= indexFields.size())
                DatabaseError("Master-detail error" + master[i]->FieldName() + " is not a valid index field for this index",
                              this);
            indexFields[i]->AssignValue(master[i]->AsVariant());
        }
    }
    TOrqBaseTable::DoOnNewRecord();
}

}  // namespace ostra
