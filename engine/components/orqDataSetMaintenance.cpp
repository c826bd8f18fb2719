// orqDataSetMaintenance: the cursor's whole-table operations. Emptying a table, rebuilding its
// indexes from the stored records, rebuilding it through a backup copy of the database, changing
// its structure, and the raw record copy between two cursors that every rebuild and restructure
// uses as its data path.
//
// Atomicity. Reindexing, an index change, and a rebuild or restructure inside the caller's
// transaction run as one transaction (of their own when the caller holds none), so a failure, a
// cancel from the progress handler or a crash (the commit is atomic through the rollback journal)
// leaves the table as it was. A rebuild or a full-copy restructure outside a transaction builds
// the new table beside the old one in commits of bounded size and swaps it in with one atomic
// commit (RebuildIntoNewTable), so its memory stays bounded too. The raw copy, when it starts the
// transaction itself (a database rebuild copying into a new file), commits every 100 records.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/components/orqDataSet.h"
#include "engine/components/orqDataSetScopes.h"
#include "engine/storage/orqBTreeBulkLoad.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/orqRecordLayout.h"
#include "engine/storage/orqRestructureDefs.h"
#include "engine/storage/orqTableHeader.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Collation.h"
#include "host/Lists.h"
#include "host/StringList.h"
#include "host/Streams.h"
#include "host/SysUtils.h"
#include "host/db/FieldDefs.h"
#include "host/db/FieldType.h"
#include "host/db/IndexDefs.h"

namespace ostra {

namespace {

constexpr char CReIndexCaller[] = "TOrqDataSet.ReIndex";
constexpr char CRestructureCaller[] = "TOrqDataSet.InternalRestructureTable";
constexpr char CRebuildCaller[] = "TOrqDataSet.InternalRebuildTable";
// The raw copy commits the transaction it started after every this many records.
constexpr size_t CCopyCommitInterval = 100;

bool KeysCanCollide(const TIndexItem& Index) { return Index.Unique() || Index.Primary(); }

// Progress in whole percent of Count steps, reported to Handler when the percentage moved.
class TProgress {
public:
    TProgress(const TUpdateProgressProc& Handler, size_t Count) : FHandler(Handler), FCount(Count) {}
    // Reports step Step (from 0); true when the handler asked to cancel.
    bool Report(size_t Step) {
        if (!FHandler || FCount == 0) return false;
        const int percent = int(uint64_t(Step) * 100 / FCount);
        if (percent == FLast) return false;
        FLast = percent;
        bool cancel = false;
        FHandler(percent, cancel);
        return cancel;
    }

private:
    const TUpdateProgressProc& FHandler;
    size_t FCount;
    int FLast = 0;
};

// Runs Work as a transaction of its own when Disk and the database is in none. Work returns
// false to have its changes taken back (a cancel). A failure rolls back and passes on.
template <class TWork>
void RunInOwnTransaction(IOrqDataBase& DataBase, bool Disk, TWork&& Work) {
    const bool own = Disk && !DataBase.InTransaction();
    if (own) DataBase.StartTransaction();
    bool keep = false;
    try {
        keep = Work(own);
    } catch (...) {
        if (own && DataBase.InTransaction()) {
            try {
                DataBase.Rollback();
            } catch (...) {
            }
        }
        throw;
    }
    if (!own) return;
    if (keep)
        DataBase.Commit();
    else
        DataBase.Rollback();
}

// Runs Work between DataSetOpen and DataSetClose of Cursor (closed also on failure).
template <class TWork>
auto WhileOpen(TOrqDataSet& Cursor, TWork&& Work) {
    Cursor.DataSetOpen();
    try {
        if constexpr (std::is_void_v<decltype(Work())>) {
            Work();
            Cursor.DataSetClose();
        } else {
            auto result = Work();
            Cursor.DataSetClose();
            return result;
        }
    } catch (...) {
        Cursor.DataSetClose();
        throw;
    }
}

// Runs Work on Def, opened as the definition of the table Name (OpenTable) and closed again
// (CloseTable) also on failure.
template <class TWork>
void WhileDefinitionOpen(IOrqDataBase& DataBase, const std::string& Name, TTableDef& Def, TWork&& Work) {
    DataBase.OpenTable(Name, &Def);
    try {
        Work();
    } catch (...) {
        try {
            DataBase.CloseTable(&Def);
        } catch (...) {
        }
        throw;
    }
    DataBase.CloseTable(&Def);
}

void Log(const std::string& Caller, const std::string& Text) {
    if (TDBLogger* log = GDBLogger()) log->LogItem(Caller, Text);
}

std::string BackupFileName(const IOrqDataBase& DataBase) {
    return DataBaseBackupFileName(DataBase.Directory(), DataBase.DataBaseName());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Emptying and reindexing

void TOrqDataSet::RecreateIndexes(bool EmptyStorage) {
    TTableDef& def = *FTableDef;
    if (EmptyStorage) def.IndexInterface()->Empty(true);
    FIndexMgr->CreateIndexes();
    WriteTableHeader();
    FCurrentIndex = nullptr;
    FIndexMgr->Close();
    FIndexMgr->Assign(def.InternalIndexDefs());
    FIndexMgr->AssignKeyFields(*def.KeyFields());
    FIndexMgr->SetIOInterface(def.IndexInterface());
    FIndexMgr->SetTableHeader(def.TableHeader());
    FLocatePlan.reset();
    ++FIndexMgrGeneration;
    FIndexMgr->Open();
    ChooseCurrentIndex();
    FTreeCursorsStale = true;
    FRangeCached[0] = FRangeCached[1] = false;
    InvalidateReadAhead(true);
    ClearBlobCache();
}

void TOrqDataSet::DataSetEmptyTable() {
    static constexpr const char* Caller = "TOrqDataSet.EmptyTable";
    CheckInternalActive();
    CheckWritable(Caller);
    TWriteLockScope lock(*this);
    TTableDef& def = *FTableDef;
    const bool lockDataBase = !def.Memory() && !FDataBase->Locked();
    if (lockDataBase) FDataBase->SetLocked(true);
    try {
        TBaseIOInterface& records = *def.RecordInterface();
        // On disk this frees every page of the table: records, blobs and index pages.
        records.Empty(false);
        records.SetFirstEmpty(0);
        TTableHeader& header = *def.TableHeader();
        header.SetLogicalRecordNo(0);
        header.SetDirty(true);
        if (def.Memory()) {
            def.IndexInterface()->Empty(true);
            if (def.UsesBlobs() && def.BlobInterface()) def.BlobInterface()->Empty(true);
        }
        if (def.UsesBlobs() && def.BlobInterface()) def.BlobInterface()->SetFirstEmpty(0);
        RecreateIndexes(false);
        InitializeNewRecord(FRecBuf.data(), false);
        FBufferState = 0;
        if (FFilterMgr->Active()) FFilterMgr->ResetFilter();
    } catch (...) {
        if (lockDataBase) {
            try {
                FDataBase->SetLocked(false);
            } catch (...) {
            }
        }
        throw;
    }
    if (lockDataBase) FDataBase->SetLocked(false);
    lock.Release();
}

void TOrqDataSet::DataSetEmptyTableInPlace(int MaxRecords) {
    CheckInternalActive();
    CheckWritable("TOrqDataSet.EmptyTable");
    TWriteLockScope lock(*this);
    if (GetTotalRecordCount() > MaxRecords) {
        DataSetEmptyTable();
        return;
    }
    TList records;
    LoadCompleteListOfRecords(records);
    for (int i = 0; i < records.Count(); ++i) {
        DataSetSetToUnorderedRecord(uint32_t(reinterpret_cast<uintptr_t>(records.Items(i))));
        DeleteRecord(nullptr);
    }
    // No record is left, so logical record numbers restart as after DataSetEmptyTable.
    TTableHeader& header = *FTableDef->TableHeader();
    header.SetLogicalRecordNo(0);
    header.SetDirty(true);
    InitializeNewRecord(FRecBuf.data(), false);
    FBufferState = 0;
    if (FFilterMgr->Active()) FFilterMgr->ResetFilter();
    lock.Release();
}

void TOrqDataSet::InitializeRebuild() {
    CheckInternalActive();
    CheckWritable("TOrqDataSet.InitializeRebuild");
    TWriteLockScope lock(*this);
    TBaseIOInterface& records = *FTableDef->RecordInterface();
    records.Empty(true);
    records.SetFirstEmpty(0);
    InitializeNewRecord(FRecBuf.data(), false);
    FBufferState = 0;
    InvalidateReadAhead(true);
    lock.Release();
}

void TOrqDataSet::FinalizeRebuild() {
    CheckInternalActive();
    TWriteLockScope lock(*this);
    InternalReIndex(true);
    lock.Release();
}

bool TOrqDataSet::IndexRecord(uint32_t Address, bool IgnoreDuplicates) {
    const uint8_t* rec = FRecBuf.data();
    const int count = FIndexMgr->Count();
    // Only unique and primary indexes can meet the key again: the others end their keys in
    // the logical record number.
    for (int i = 0; i < count; ++i) {
        TIndexItem& index = *FIndexMgr->GetItems(i);
        if (!KeysCanCollide(index)) continue;
        index.CreateKeyBuffer(rec, nullptr);
        if (index.FullIndexSearch(stEQ) == 0)
            OrqDatabaseErrorFmt(9729, CReIndexCaller, SorqIndexFmt, {index.IndexName()}, this);
    }
    for (int i = 0; i < count; ++i) {
        TIndexItem& index = *FIndexMgr->GetItems(i);
        if (!KeysCanCollide(index)) index.CreateKeyBuffer(rec, nullptr);
        if (index.InsertKey(Address) == 0) continue;
        if (!IgnoreDuplicates)
            OrqDatabaseErrorFmt(8581, CReIndexCaller, std::string("Failed to add key to ") + SorqIndexFmt,
                                {index.IndexName()}, this);
        // Left out of every index: the keys inserted so far go again.
        for (int j = 0; j < i; ++j) {
            TIndexItem& done = *FIndexMgr->GetItems(j);
            done.CreateKeyBuffer(rec, nullptr);
            if (done.FullIndexSearch(stEQ) == 0) done.DeleteKey();
        }
        return false;
    }
    return true;
}

void TOrqDataSet::InternalReIndex(bool IgnoreDuplicates) {
    CheckInternalActive();
    CheckWritable(CReIndexCaller);
    FMaintenanceCancelled = false;
    RunInOwnTransaction(*FDataBase, !FTableDef->Memory(), [&](bool Own) {
        TWriteLockScope lock(*this);
        std::vector<uint32_t> addresses;
        FTableDef->RecordInterface()->ListBlocks(addresses);
        RecreateIndexes(true);
        ReadTableHeader();
        TProgress progress(FOnUpdateProgress, addresses.size());
        bool cancelled = false;
        uint8_t* rec = FRecBuf.data();
        // A cancel is honoured where the pass can be taken back: in its own transaction, or in a
        // restructure's, which rolls back when it sees the flag.
        const bool mayCancel = Own || FCancelTakenBack;
        for (size_t i = 0; i < addresses.size() && !cancelled; ++i) {
            ReadRecordAt(addresses[i], rec, true);
            if (rec[C_RECINUSEOFFSET] != 0) IndexRecord(addresses[i], IgnoreDuplicates);
            cancelled = progress.Report(i) && mayCancel;
        }
        if (cancelled) FMaintenanceCancelled = true;
        FBufferState = 0;
        FTreeCursorsStale = true;
        lock.Release();
        return !cancelled;
    });
    FTreeCursorsStale = true;
    InvalidateReadAhead(true);
}

// ---------------------------------------------------------------------------------------------
// Indexes built at the end of a raw copy

// The keys collected for the deferred indexes: one bulk load per index, in index order.
class TOrqDataSet::TBulkIndexes {
public:
    struct TLoad {
        TIndexItem* Index;
        std::unique_ptr<TBTreeBulkLoad> Load;
    };
    std::vector<TLoad> Loads;
    std::vector<uint8_t> Key;  // scratch: one entry
    // A record's keys reached some loads but not all: the build cannot be trusted.
    bool Broken = false;
};

void TOrqDataSet::TBulkIndexesDeleter::operator()(TBulkIndexes* Value) const { delete Value; }

void TOrqDataSet::BeginBulkIndexes() {
    AbandonBulkIndexes();
    FUniqueKeyRepeated = false;
    if (GetTotalRecordCount() != 0) return;
    const bool unique = FBuildUniqueIndexesAtEnd && FBuildIndexesAtEnd;
    const int count = FIndexMgr->Count();
    std::vector<TIndexItem*> deferred;
    for (int i = 0; i < count; ++i) {
        TIndexItem& index = *FIndexMgr->GetItems(i);
        // Keys of the other indexes decide whether a record may be added: they stay immediate,
        // unless the whole copy may be redone key by key when one repeats.
        if ((unique || !KeysCanCollide(index)) && TBTreeBulkLoad::CanLoad(index.Tree()))
            deferred.push_back(&index);
    }
    if (deferred.empty()) return;
    std::unique_ptr<TBulkIndexes, TBulkIndexesDeleter> bulk(new TBulkIndexes);
    const size_t runBytes = std::max<size_t>(1, FMaintenanceSortBytes / deferred.size());
    size_t keySize = 0;
    for (TIndexItem* index : deferred) {
        bulk->Loads.push_back({index, std::make_unique<TBTreeBulkLoad>(index->Tree(), runBytes)});
        keySize = std::max(keySize, size_t(index->MaximumKeySize()) + 1);
    }
    bulk->Key.assign(keySize, 0);
    FDeferredIndexes.assign(size_t(count), false);
    for (TIndexItem* index : deferred) FDeferredIndexes[size_t(index->Index())] = true;
    FBulkIndexes = std::move(bulk);
}

void TOrqDataSet::CollectDeferredKeys(const uint8_t* Rec, uint32_t Address) {
    TBulkIndexes& bulk = *FBulkIndexes;
    try {
        for (TBulkIndexes::TLoad& load : bulk.Loads) {
            load.Index->CreateTempKeyBuffer(Rec, bulk.Key.data(), nullptr);
            Store32(bulk.Key.data() + C_KEYADDROFFSET, Address);
            load.Load->Add(bulk.Key.data());
        }
    } catch (...) {
        bulk.Broken = true;
        throw;
    }
}

void TOrqDataSet::SpillDeferredKeys() {
    if (!FBulkIndexes) return;
    for (TBulkIndexes::TLoad& load : FBulkIndexes->Loads) load.Load->SpillIfFull();
}

void TOrqDataSet::FinishBulkIndexes() {
    if (!FBulkIndexes) return;
    std::unique_ptr<TBulkIndexes, TBulkIndexesDeleter> bulk = std::move(FBulkIndexes);
    FDeferredIndexes.clear();
    FTreeCursorsStale = true;
    if (bulk->Broken) OrqDatabaseError(8581, "TOrqDataSet.CopyRawTableData", "The keys collected are incomplete", this);
    for (TBulkIndexes::TLoad& load : bulk->Loads) {
        try {
            load.Index->SetDepth(load.Load->Build());
        } catch (const EOrqDatabaseError&) {
            if (!load.Load->FoundDuplicate() || !KeysCanCollide(*load.Index)) throw;
            FUniqueKeyRepeated = true;
            OrqDatabaseErrorFmt(9729, "TOrqDataSet.AddRecord", SorqIndexFmt, {load.Index->IndexName()}, this);
        }
        load.Load.reset();
    }
    FTableDef->TableHeader()->SetDirty(true);
    WriteTableHeader();
}

void TOrqDataSet::AbandonBulkIndexes() {
    FBulkIndexes.reset();
    FDeferredIndexes.clear();
}

void TOrqDataSet::SetCopyInSteps(bool Value) {
    FCopyCommitRecords = Value ? std::max<size_t>(1, FMaintenanceStepBytes / size_t(std::max(FRecordSize, 1))) : 0;
}

// ---------------------------------------------------------------------------------------------
// The raw copy

int TOrqDataSet::CopyRawTableData(TOrqDataSet& Dest) {
    CheckInternalActive();
    Dest.CheckInternalActive();
    Dest.CheckConnected();
    const std::string source = FTableName;
    const bool hideValues = FEncryptionLevel != encNone || Dest.EncryptionLevel() != encNone;
    Log(source, "Copying record data - Starting");
    IOrqDataBase& destBase = *Dest.DataBase();
    const bool ownTransaction = !Dest.TableDefinition().Memory() && !destBase.InTransaction();
    if (ownTransaction) destBase.StartTransaction();
    Dest.FMaintenanceCancelled = false;
    int failures = 0;
    auto finish = [&] {
        Log(source, "Copying record data - Done");
        if (TDBLogger* log = GDBLogger()) {
            try {
                // An in-memory database has no folder to hold the log.
                if (FDataBase && !(FTableDef->Memory() && FDataBase->Directory().empty()))
                    log->SaveLogToFile(FDataBase->Directory() + "dblog.txt");
            } catch (...) {
            }
        }
    };
    try {
        TWriteLockScope destLock(Dest);
        TWriteLockScope sourceLock(*this);
        std::vector<uint32_t> addresses;
        FTableDef->RecordInterface()->ListBlocks(addresses);
        Log(source, Format("Found %d records (including unallocated and deleted records)", {int(addresses.size())}));
        Log("Importing data - field mapping...", "");

        // Each target field's source is looked up once for the whole copy. A field of the same
        // type and size on both sides is stored the same way: its bytes (null flag, value, length
        // marker) are copied as they are, without a conversion through a variant.
        struct TMapping {
            int Dest;
            int Source;
            bool Blob;
            bool Raw;
        };
        auto sameStorage = [](const TInternalFieldItem& A, const TInternalFieldItem& B) {
            return A.DataType() == B.DataType() && A.FieldSize() == B.FieldSize() &&
                   (A.SizeMarkerOffset() > 0) == (B.SizeMarkerOffset() > 0);
        };
        std::vector<TMapping> mapping;
        for (int d = 0; d < Dest.GetInternalFieldCount(); ++d) {
            const TInternalFieldItem& field = Dest.Field(d);
            Log(source, field.FieldName() + " -> " + field.SourceField());
            const int from = field.SourceField().empty() ? -1 : GetFieldNo(field.SourceField());
            if (from < 0) continue;
            const bool destBlob = Dest.IsFieldBlob(d);
            if (destBlob != IsFieldBlob(from)) continue;
            mapping.push_back({d, from, destBlob, !destBlob && sameStorage(field, Field(from))});
        }

        Dest.SetBulkAdding(true);
        struct TEndBulk {
            TOrqDataSet& Cursor;
            ~TEndBulk() {
                Cursor.SetBulkAdding(false);
                Cursor.AbandonBulkIndexes();
            }
        } endBulk{Dest};
        // Into an empty table that nobody sees before the copy is complete, the indexes whose
        // keys cannot collide are built at the end from their keys sorted.
        if (!ownTransaction || Dest.FBuildIndexesAtEnd) Dest.BeginBulkIndexes();
        TProgress progress(Dest.OnUpdateProgress(), addresses.size());
        const size_t commitInterval = Dest.FCopyCommitRecords ? Dest.FCopyCommitRecords : CCopyCommitInterval;
        uint8_t* rec = FRecBuf.data();
        int stored = 0;
        Variant value;
        TMemoryStream stream;
        for (size_t r = 0; r < addresses.size(); ++r) {
            ReadRecordAt(addresses[r], rec, true);
            if (rec[C_RECINUSEOFFSET] != 0) {
                Dest.ClearRecord(nullptr);
                uint8_t* to = Dest.FRecBuf.data();
                for (const TMapping& m : mapping) {
                    if (m.Raw) {
                        const TInternalFieldItem& from = Field(m.Source);
                        const TInternalFieldItem& into = Dest.Field(m.Dest);
                        to[into.NullFlagOffset()] = rec[from.NullFlagOffset()];
                        std::memcpy(to + into.DataOffset(), rec + from.DataOffset(), size_t(into.FieldSize()));
                        if (into.SizeMarkerOffset() > 0)
                            std::memcpy(to + into.SizeMarkerOffset(), rec + from.SizeMarkerOffset(), 2);
                        continue;
                    }
                    try {
                        if (m.Blob) {
                            bool isNull = false;
                            stream.Clear();
                            DataSetGetFieldStream(m.Source, isNull, stream);
                            stream.SetPosition(0);
                            Dest.DataSetSetFieldStream(m.Dest, isNull, &stream);
                        } else {
                            DataSetGetFieldDataAsVariant(m.Source, value);
                            Dest.DataSetSetFieldDataAsVariant(m.Dest, value);
                        }
                    } catch (...) {
                        const TInternalFieldItem& to = Dest.Field(m.Dest);
                        // Values of encrypted tables stay out of the log file.
                        std::string text = "(not shown)";
                        if (!hideValues && !m.Blob) {
                            try {
                                text = VarToStr(value);
                            } catch (...) {
                            }
                        }
                        Log(source, Format("Record %d: Error converting %s (%s) to %s (%s)). Message: %s",
                                           {int(r), Field(m.Source).FieldName(), text, to.FieldName(),
                                            std::string(FieldTypeName(to.DataType())),
                                            hideValues ? std::string("(not shown)") : CurrentExceptionMessage()}));
                        ++failures;
                    }
                }
                try {
                    Dest.AddRecord(false);
                    ++stored;
                } catch (...) {
                    Log(source, Format("Record %d: Data post exception - %s",
                                       {int(r), hideValues ? std::string("(not shown)") : CurrentExceptionMessage()}));
                    ++failures;
                }
            }
            Dest.SpillDeferredKeys();
            if (progress.Report(r)) {
                Dest.FMaintenanceCancelled = true;
                break;
            }
            if (ownTransaction && r % commitInterval == 0) destBase.FlushBuffers();
        }
        // Also after a cancel: what was copied is whole, with every key.
        Dest.FinishBulkIndexes();
        Log(source, "Records Copied " + IntToStr(stored));
        sourceLock.Release();
        destLock.Release();
    } catch (...) {
        if (ownTransaction && destBase.InTransaction()) {
            try {
                destBase.Rollback();
            } catch (...) {
            }
        }
        finish();
        throw;
    }
    try {
        if (ownTransaction) destBase.Commit();
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return failures;
}

// ---------------------------------------------------------------------------------------------
// Rebuild and restructure

bool TOrqDataSet::BuildsBesideTheTable() const {
    return !FMemory && !FDataBase->InTransaction() && !FTableDef->InternalTable() &&
           !(!FTableName.empty() && FTableName[0] == '$');
}

void TOrqDataSet::InternalRebuildTable() {
    CheckConnected();
    FDataBase->QueryOpenStatus(true, true);
    CheckInternalInactive();
    const std::string backup = BackupFileName(*FDataBase);
    FDataBase->CopyDatabase(backup, true);
    RebuildFromFile(backup);
}

int TOrqDataSet::RebuildFromFile(const std::string& SourceFile) {
    CheckInternalInactive();
    FMaintenanceCancelled = false;
    // Outside a transaction the table is built anew beside the old one, in steps of bounded
    // memory, and swapped in at the end.
    if (BuildsBesideTheTable()) return RebuildIntoNewTable(nullptr, SourceFile);
    int failures = 0;
    RunInOwnTransaction(*FDataBase, !FMemory, [&](bool) {
        WhileOpen(*this, [&] {
            DataSetEmptyTable();
            failures = FDataBase->RebuildTable(FTableName, SourceFile, this);
        });
        return !FMaintenanceCancelled;
    });
    return FMaintenanceCancelled ? 0 : failures;
}

void TOrqDataSet::CommitNewTableDef(const TInternalRestructureRecord& Request, bool ReadHeader) {
    TTableDef temporary(nullptr);
    temporary.SetMemory(FMemory);
    WhileDefinitionOpen(*FDataBase, FTableName, temporary, [&] {
        if (ReadHeader) temporary.TableHeader()->ReadHeader();
        FTableDef->SetTableID(temporary.TableID());
        temporary.Assign(FTableDef.get());
        TInternalRestructureRecord request = Request;
        FDataBase->UpdateTableDef(&temporary, request);
    });
}

void TOrqDataSet::BuildRestructuredDef(const TInternalRestructureRecord& Request) {
    // The stored definition, and the generator identifier of each field by its name.
    FDataBase->QueryTableDef(FTableName, FMemory, FTableDef.get());
    TStringList generatorIDs;
    const TInternalFields& stored = *FTableDef->InternalFields();
    for (int i = 0; i < stored.Count(); ++i)
        generatorIDs.SetValues(stored.GetIndex(i)->FieldName(), IntToStr(stored.GetIndex(i)->FieldGeneratorID()));
    FBlobBlockSize = Request.ResetBlobSize ? Request.BlobBlockSize : FTableDef->DefaultBlobSize();
    FSortOrder = Request.ChangeSortOrder ? Request.NewSortOrder : FTableDef->SortOrder();
    FBlobCompression = Request.ChangeBlobCompression ? Request.NewBlobCompression : FTableDef->BlobCompression();
    FEncryptionLevel = FTableDef->EncryptionLevel();

    SetTableDef(false, *Request.DestFieldDefs, *Request.DestIndexDefs);
    TInternalFields& layout = *FTableDef->InternalFields();
    for (int i = 0; i < Request.NewFieldDefs->Count(); ++i) {
        const TRestructureFieldDef& item = *Request.NewFieldDefs->GetItems(i);
        const int saved = generatorIDs.IndexOfName(item.SourceFieldName());
        TInternalFieldItem* field = layout.FindField(item.Name());
        if (field && saved >= 0 && !item.SourceFieldName().empty())
            field->SetFieldGeneratorID(StrToInt(generatorIDs.ValueFromIndex(saved)));
    }
}

int TOrqDataSet::CopyFromBackup(const TInternalRestructureRecord* Request, const std::string& BackupFile,
                                const std::string& SourceTable) {
    return WhileOpen(*this, [&] {
        // Without a request every field is copied from the field of its own name (as opened).
        if (!Request) return FDataBase->RebuildTable(SourceTable, BackupFile, this);
        TInternalFields& fields = FRecordMgr->Fields();
        for (int i = 0; i < fields.Count(); ++i) {
            TInternalFieldItem& field = *fields.GetIndex(i);
            const TRestructureFieldDef* item = Request->NewFieldDefs->Find(field.FieldName());
            field.SetSourceField(item ? item->SourceFieldName() : std::string());
        }
        const int autoInc = fields.AutoIncFieldNo();
        if (autoInc >= 0 && !Request->ResetAutoInc && !Field(autoInc).SourceField().empty())
            fields.SetAutoIncFieldNo(-1);
        return FDataBase->RebuildTable(SourceTable, BackupFile, this);
    });
}

int TOrqDataSet::RestructureByCopy(const TInternalRestructureRecord& Request, const std::string& BackupFile) {
    BuildRestructuredDef(Request);
    CommitNewTableDef(Request, false);
    return CopyFromBackup(&Request, BackupFile, FTableName);
}

int TOrqDataSet::RebuildIntoNewTable(const TInternalRestructureRecord* Request, const std::string& BackupFile) {
    const char* caller = Request ? CRestructureCaller : CRebuildCaller;
    const std::string name = FTableName;
    // The counters of the table's header go on in the new table, unless the request resets them.
    uint32_t autoInc = 0, generator1 = 0, generator2 = 0;
    {
        TTableDef old(nullptr);
        WhileDefinitionOpen(*FDataBase, name, old, [&] {
            TTableHeader& header = *old.TableHeader();
            header.ReadHeader();
            autoInc = header.GetRecordAutoIncVal();
            generator1 = header.GetGenerator1();
            generator2 = header.GetGenerator2();
        });
    }
    if (Request && Request->ResetAutoInc) autoInc = uint32_t(Request->AutoIncValue);
    if (Request && Request->ResetGenerator1) generator1 = Request->Generator1Value;
    if (Request && Request->ResetGenerator2) generator2 = Request->Generator2Value;

    // The new table and, after the swap, the old one have names of their own, the same for every
    // restructure of this table, so that what a crash left of an earlier one is found and dropped.
    const std::string building = RebuildWorkTableName(name, false), retired = RebuildWorkTableName(name, true);
    for (const std::string& leftover : {building, retired}) {
        try {
            FDataBase->DiscardTable(leftover);
            Log(caller, "Dropped the table " + leftover + " left by an unfinished rebuild of " + name);
        } catch (const EOrqDatabaseError& E) {
            if (E.ErrorCode != 10024) throw;
        }
    }

    struct TRestoreName {
        TOrqDataSet& Cursor;
        std::string Name;
        ~TRestoreName() {
            if (Cursor.FTableName != Name) {
                Cursor.FTableName = Name;
                Cursor.FTableDef->SetTableName(Name);
            }
        }
    } restoreName{*this, name};
    // Builds and fills the new table; a failure drops it. UniqueAtEnd: its unique and primary
    // indexes too are built from their sorted keys at the end of the copy.
    auto build = [&](bool UniqueAtEnd) {
        if (FTableName != name) {
            FTableName = name;
            FTableDef->SetTableName(name);
        }
        // A restructure's definition is made from its request; a rebuild's is the stored one.
        if (Request)
            BuildRestructuredDef(*Request);
        else
            FDataBase->QueryTableDef(name, false, FTableDef.get());
        FTableName = building;
        FTableDef->SetTableName(building);
        FTableDef->SetAltName(TableCheckValue(building, FTableDef->Encrypted()));
        FDataBase->CreateRebuildWorkTable(FTableDef.get());
        try {
            // The new table is nobody's until the swap: it is filled in steps of
            // MaintenanceStepBytes and its indexes may wait for the last record.
            struct TResetCopy {
                size_t& Interval;
                bool& AtEnd;
                bool SavedAtEnd;
                bool& Unique;
                bool SavedUnique;
                ~TResetCopy() {
                    Interval = 0;
                    AtEnd = SavedAtEnd;
                    Unique = SavedUnique;
                }
            } resetCopy{FCopyCommitRecords, FBuildIndexesAtEnd, FBuildIndexesAtEnd, FBuildUniqueIndexesAtEnd,
                        FBuildUniqueIndexesAtEnd};
            FBuildIndexesAtEnd = true;
            FBuildUniqueIndexesAtEnd = UniqueAtEnd;
            WhileOpen(*this, [&] {
                FDataBase->StartTransaction();
                try {
                    TWriteLockScope lock(*this);
                    TTableHeader& header = *FTableDef->TableHeader();
                    header.SetRecordAutoIncVal(autoInc);
                    header.SetGenerator1(generator1);
                    header.SetGenerator2(generator2);
                    WriteTableHeader();
                    SetCopyInSteps(true);
                    lock.Release();
                    FDataBase->Commit();
                } catch (...) {
                    if (FDataBase->InTransaction()) FDataBase->Rollback();
                    throw;
                }
            });
            return CopyFromBackup(Request, BackupFile, name);
        } catch (...) {
            try {
                FDataBase->DiscardTable(building);
            } catch (...) {
                Log(caller, "The unfinished table " + building + " could not be dropped: " + CurrentExceptionMessage());
            }
            throw;
        }
    };

    int failures = 0;
    try {
        failures = build(true);
    } catch (const EOrqDatabaseError&) {
        if (!FUniqueKeyRepeated) throw;
        FUniqueKeyRepeated = false;
        if (FMaintenanceCancelled) return 0;
        // A key repeats in a unique index: the copy is made again key by key, which keeps the
        // first record of each key in storage order and logs and counts the others.
        Log(caller, "A unique key repeats in " + name + "; copying its records again key by key");
        failures = build(false);
    }
    if (FMaintenanceCancelled) {
        FDataBase->DiscardTable(building);
        return 0;
    }
    FDataBase->ReplaceTable(name, building, retired);
    return failures;
}

void TOrqDataSet::RestructureDefinitionOnly(const TInternalRestructureRecord& Request) {
    TTableDef def(nullptr);
    def.SetMemory(FMemory);
    WhileDefinitionOpen(*FDataBase, FTableName, def, [&] {
        TInternalFields& fields = *def.InternalFields();
        CheckState(Request.NewFieldDefs->Count() == fields.Count(),
                   "Unexpected mismatch in restructure field defs count and table defs count");
        for (int i = 0; i < Request.NewFieldDefs->Count(); ++i) {
            const TRestructureFieldDef& item = *Request.NewFieldDefs->GetItems(i);
            if (item.ChangeStatus() != dcDefOnlyChange) continue;
            TInternalFieldItem* field = fields.FindField(item.SourceFieldName());
            CheckState(field != nullptr, "Field def not found for updating");
            if (field->FieldName() != item.Name()) field->SetFieldName(item.Name());
            if (field->FieldIndex() != i) field->SetFieldIndex(i);
            if (field->Required() != item.Required()) field->SetRequired(item.Required());
        }
        if (Request.NewIndexDefs->ChangeStatus() == dcDefOnlyChange) {
            TInternalIndexDefs& indexes = *def.InternalIndexDefs();
            TKeyFields& keys = *def.KeyFields();
            for (int i = 0; i < indexes.Count() && i < Request.NewIndexDefs->Count(); ++i) {
                const TRestructureIndexDef& item = *Request.NewIndexDefs->GetItems(i);
                TInternalIndexDef& index = *indexes.GetItems(i);
                if (item.ChangeStatus() != dcDefOnlyChange || index.IndexName() == item.Name()) continue;
                for (int k = 0; k < keys.Count(); ++k)
                    if (keys.GetIndex(k)->IndexName() == index.IndexName()) keys.GetIndex(k)->SetIndexName(item.Name());
                index.SetIndexName(item.Name());
            }
        }
        TInternalRestructureRecord request = Request;
        FDataBase->UpdateTableDef(&def, request);
    });
}

int TOrqDataSet::InternalRestructureTable(const TInternalRestructureRecord& RestructureDetails) {
    CheckConnected();
    FDataBase->QueryOpenStatus(true, true);
    CheckInternalInactive();
    // Without the alter privilege the table stays as it is.
    if (!FDataBase->QueryObjectPrivilegeExists(doTable, FTableName, C_PRIVALTER))
        OrqDatabaseError(10624, CRestructureCaller, FTableName, this);
    const TInternalRestructureRecord& request = RestructureDetails;
    if (!request.NewFieldDefs || !request.NewIndexDefs)
        OrqDatabaseErrorFmt(8576, CRestructureCaller, SorqValueInvalidFmt, {"RestructureDetails.NewFieldDefs"}, this);
    if (!request.DestFieldDefs || !request.DestIndexDefs)
        OrqDatabaseErrorFmt(8576, CRestructureCaller, SorqValueInvalidFmt, {"RestructureDetails.DestFieldDefs"}, this);
    request.DestFieldDefs->Assign(request.NewFieldDefs);
    request.DestIndexDefs->Assign(request.NewIndexDefs);
    const std::string backup = BackupFileName(*FDataBase);
    FDataBase->CopyDatabase(backup, true);

    const TDefChangeType fields = request.NewFieldDefs->ChangeStatus();
    const TDefChangeType indexes = request.NewIndexDefs->ChangeStatus();
    int failures = 0;
    FMaintenanceCancelled = false;
    FCancelTakenBack = !FMemory;
    struct TResetFlag {
        bool& Flag;
        ~TResetFlag() { Flag = false; }
    } resetFlag{FCancelTakenBack};
    // A copy of the records outside the caller's transaction builds the new table beside the old
    // one, in steps, so that its memory stays bounded.
    if (fields >= dcAdded && BuildsBesideTheTable()) {
        failures = RebuildIntoNewTable(&request, backup);
        return FMaintenanceCancelled ? 0 : failures;
    }
    RunInOwnTransaction(*FDataBase, !FMemory, [&](bool) {
        if (fields >= dcAdded) {
            failures = RestructureByCopy(request, backup);
        } else if (indexes >= dcAdded) {
            SetTableDef(false, *request.DestFieldDefs, *request.DestIndexDefs);
            CommitNewTableDef(request, true);
            WhileOpen(*this, [&] { InternalReIndex(true); });
        } else if (fields == dcDefOnlyChange || indexes == dcDefOnlyChange) {
            RestructureDefinitionOnly(request);
        }
        return !FMaintenanceCancelled;
    });
    return FMaintenanceCancelled ? 0 : failures;
}

}  // namespace ostra
