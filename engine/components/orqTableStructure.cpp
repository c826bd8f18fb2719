// orqTableStructure: the table component's structure operations (indexes added and deleted,
// restructure, rebuild, re-index) and the import of another dataset's records.
//
// The change logs of a restructure's validation and the import's lines go to the global logger
// through its locked list (LockLogList): nothing writes into the logger's list without its lock,
// and lines added that way are not trimmed by the logger's line limit, so a long import does not
// push earlier lines out of the log.
#include <exception>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqTable.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/orqRestructureDefs.h"
#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/SysUtils.h"
#include "host/StringList.h"
#include "host/db/Field.h"

namespace ostra {

namespace {

constexpr int32_t C_MINBLOBBLOCKSIZE = 64;
constexpr int32_t C_MAXBLOBBLOCKSIZE = 65536;

// Appends lines to the global logger's list under its lock, in the logger's own line form.
void AppendToLog(const std::string& Caller, const TStrings& Lines) {
    TDBLogger* logger = GDBLogger();
    if (!logger || Lines.Count() == 0) return;
    TLockedStrings list = logger->LockLogList();
    const std::string stamp = DateTimeToStr(Now());
    for (int i = 0; i < Lines.Count(); ++i) list->Add(Format("%10s; %30s : %s", {stamp, Caller, Lines.Strings(i)}));
}

void AppendToLog(const std::string& Caller, const std::string& Line) {
    TStringList lines;
    lines.Add(Line);
    AppendToLog(Caller, lines);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Restructure definitions

void TOrqTable::ReadDefinitionsForRestructure() {
    // A closed table that never reported its definitions reads them now (the index definitions
    // come with the fields). Once a restructure list exists it refers to the definitions, which
    // must then stay as they are.
    if (!Active() && !FRestructureFieldDefs && !FRestructureIndexDefs && FieldDefs().Count() == 0) InitFieldDefs();
}

TRestructureFieldDefs& TOrqTable::GetRestructureFieldDefs() {
    if (!FRestructureFieldDefs) {
        ReadDefinitionsForRestructure();
        auto defs = std::make_unique<TRestructureFieldDefs>();
        defs->Assign(&FieldDefs());
        defs->SetFieldDefs(&FieldDefs());
        FRestructureFieldDefs = std::move(defs);
    }
    return *FRestructureFieldDefs;
}

TRestructureIndexDefs& TOrqTable::GetRestructureIndexDefs() {
    if (!FRestructureIndexDefs) {
        ReadDefinitionsForRestructure();
        auto defs = std::make_unique<TRestructureIndexDefs>();
        defs->Assign(&IndexDefs());
        FRestructureIndexDefs = std::move(defs);
    }
    return *FRestructureIndexDefs;
}

// ---------------------------------------------------------------------------------------------
// Indexes

template <class TChange>
void TOrqTable::ChangeIndexes(const std::string& DroppedIndex, const TChange& Change) {
    const bool wasActive = Active();
    DisableControls();
    TBookmark bookmark;
    std::exception_ptr failure;
    try {
        if (wasActive)
            bookmark = Bookmark();
        else
            Open();
        Change();
        Close();
        TRestructureRecord record;
        RestructureTable(record);
        if (!DroppedIndex.empty() && AnsiCompareText(TOrqDataSet::IndexName(), DroppedIndex) == 0) {
            SetIndexName("");
            bookmark.clear();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // The table is left open exactly when it was open before, at its record when that is still
    // there; the controls come back whatever happened.
    try {
        if (wasActive && !Active()) Open();
        if (!wasActive && Active()) Close();
        UpdateIndexDefs();
        if (Active() && !bookmark.empty() && BookmarkValid(bookmark)) GotoBookmark(bookmark);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    EnableControls();
    if (failure) std::rethrow_exception(failure);
}

void TOrqTable::AddIndex(const std::string& Name, const std::string& Fields, TIndexOptions Options) {
    ChangeIndexes("", [&] {
        TRestructureIndexDefs& indexes = GetRestructureIndexDefs();
        indexes.AddAndSetIndexDef(Name, Fields, Options);
        indexes.ValidateNewIndexDefs(&GetRestructureFieldDefs());
        indexes.ValidateAgainstOriginalDefs(&IndexDefs(), &GetRestructureFieldDefs());
    });
}

void TOrqTable::DeleteIndex(const std::string& Name) {
    ChangeIndexes(Name, [&] {
        auto missing = [&] { OrqDatabaseErrorFmt(9997, "TOrqTable.DeleteIndex", SorqIndexFmt, {Name}, this); };
        if (IndexDefs().Count() == 0 || !FindIndexDefByName(Name)) missing();
        TRestructureIndexDefs& indexes = GetRestructureIndexDefs();
        TRestructureIndexDef* item = indexes.Find(Name);
        if (!item) missing();
        indexes.DeleteItem(item->Index());
    });
}

// ---------------------------------------------------------------------------------------------
// Restructure, rebuild, re-index

int TOrqTable::RestructureTable(const TRestructureRecord& Record) {
    const char* caller = "TOrqTable.RestructureTable";
    CheckInactive();
    if (Memory()) OrqDatabaseError(10766, caller, "", this);
    TOrqDataBase* database = DataBase();
    if (!database) OrqDatabaseError(10112, caller, "", this);
    if (database->InTransaction()) OrqDatabaseError(10122, caller, "", this);
    if (database->Connected() && database->GetLocalConnectedUserCountReleasingIdle(TableName()) > 0)
        OrqDatabaseError(10031, caller, "", this);
    SetMemory(false);

    TRestructureFieldDefs fields;
    fields.Assign(&GetRestructureFieldDefs());
    fields.SetFieldDefs(&FieldDefs());
    TRestructureIndexDefs indexes;
    indexes.Assign(&GetRestructureIndexDefs());
    TStringList changeLog;
    fields.SetChangeLog(&changeLog);
    indexes.SetChangeLog(&changeLog);
    struct TLogOnExit {
        const TStringList& Lines;
        std::string Caller;
        ~TLogOnExit() { AppendToLog(Caller, Lines); }
    } logOnExit{changeLog, caller};

    fields.ValidateAgainstOriginalDefs(&FieldDefs());
    indexes.ValidateAgainstOriginalDefs(&IndexDefs(), &fields);
    if (Record.ResetBlobSize &&
        (Record.BlobBlockSize < C_MINBLOBBLOCKSIZE || Record.BlobBlockSize > C_MAXBLOBBLOCKSIZE))
        OrqDatabaseErrorFmt(10029, caller, "%s is not a valid value (min. length %d, max. length %d) bytes",
                            {std::to_string(Record.BlobBlockSize), C_MINBLOBBLOCKSIZE, C_MAXBLOBBLOCKSIZE}, this);

    TInternalRestructureRecord request;
    request.NewFieldDefs = &fields;
    request.NewIndexDefs = &indexes;
    request.DestFieldDefs = &FieldDefs();
    request.DestIndexDefs = &IndexDefs();
    request.ResetAutoInc = Record.ResetAutoInc;
    request.AutoIncValue = Record.AutoIncValue;
    request.ResetBlobSize = Record.ResetBlobSize;
    request.BlobBlockSize = Record.BlobBlockSize;
    request.ChangeBlobCompression = true;
    request.NewBlobCompression = true;
    request.ChangeSortOrder = Record.ChangeSortOrder;
    request.NewSortOrder = Record.NewSortOrder;
    if (Record.ResetAutoInc || Record.ResetBlobSize || Record.ChangeSortOrder) fields.SetChangeStatus(dcDataChange);
    const int failures = InternalRestructureTable(request);
    // FieldDefs and IndexDefs now describe the new structure: lists made from the old one would
    // refer to definitions that are gone.
    FRestructureFieldDefs.reset();
    FRestructureIndexDefs.reset();
    return failures;
}

bool TOrqTable::ReIndex(bool Flag) {
    TOrqDataBase* database = DataBase();
    if (!database) OrqDatabaseError(10112, "TOrqTable.ReIndex", "", this);
    database->QueryOpenStatus(true, true);
    CheckActive();
    InternalReIndex(Flag);
    ReapplyFilter();
    First();
    return true;
}

bool TOrqTable::RebuildTable() {
    CheckInactive();
    if (Memory()) OrqDatabaseError(10766, "TOrqTable.RebuildTable", "", this);
    InternalRebuildTable();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Import

int TOrqTable::ImportData(TDataSet& Source) {
    CheckActive();
    Source.CheckBrowseMode();
    if (!FRestructureFieldDefs) OrqDatabaseError(8576, "TOrqTable.ImportData", "FRestructureFieldDefs", this);
    const std::string caller = TableName() + ".DataImport";
    AppendToLog(caller, "Matching fields");

    // The source field of each of this table's fields (null: none).
    std::vector<TField*> sources(size_t(FieldCount()), nullptr);
    for (int i = 0; i < FieldCount() && i < FRestructureFieldDefs->Count(); ++i) {
        const TRestructureFieldDef& def = *FRestructureFieldDefs->GetItems(i);
        const std::string& name = def.SourceFieldName().empty() ? def.Name() : def.SourceFieldName();
        TField* source = Source.FindField(name);
        if (source) {
            sources[size_t(i)] = source;
            AppendToLog(caller, Format("Source field [%s] mapped to Field [%s]", {source->FieldName(), def.Name()}));
        } else {
            AppendToLog(caller, Format("No Source field set for Field [%s]", {def.Name()}));
        }
    }

    const int sourceCount = Source.RecordCount();
    const int step = sourceCount > 0 ? sourceCount / 20 : 0;
    int counter = 0, errors = 0, inserted = 0;
    int64_t progress = 0;
    bool cancel = false;
    Source.First();
    while (!Source.Eof() && !cancel) {
        AppendToLog(caller, "Starting import");
        try {
            Insert();
            for (size_t i = 0; i < sources.size(); ++i) {
                TField* dest = Fields().Fields(int(i));
                if (!sources[i] || dest->DataType() == ftAutoInc || dest->ReadOnly()) continue;
                try {
                    dest->SetAsVariant(sources[i]->AsVariant());
                } catch (const Exception& E) {
                    std::string value;
                    try {
                        value = sources[i]->AsString();
                    } catch (const Exception&) {
                    }
                    AppendToLog(caller,
                                Format("   Record %d  Source field \"%-10s\" could not be converted to Destination "
                                       "field \"%-10s\". Source value \"%s\"   Error: %s",
                                       {counter, sources[i]->FieldName(), dest->FieldName(), value, E.Message()}));
                    ++errors;
                }
            }
            Post();
            Source.Next();
            ++inserted;
            ++counter;
            progress += 100;
            if (OnUpdateProgress() && step != 0 && counter % step == 0)
                OnUpdateProgress()(int(progress / (sourceCount > 0 ? sourceCount : 1)), cancel);
        } catch (const Exception& E) {
            AppendToLog(caller, Format("Record %d could not be added. Error: %s", {counter, E.Message()}));
            try {
                Cancel();
            } catch (const Exception&) {
            }
            Source.Next();
            ++counter;
            ++errors;
        }
        AppendToLog(caller, "Errors detected = " + std::to_string(errors));
        AppendToLog(caller, "Records inserted = " + std::to_string(inserted));
    }
    return inserted;
}

}  // namespace ostra
