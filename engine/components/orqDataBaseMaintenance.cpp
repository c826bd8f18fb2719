// orqDataBaseMaintenance: copying the database file and rebuilding the database, or one table,
// from a backup copy.
//
// A database rebuild never works on the live file. It copies the database to its backup
// (".orx"), opens the backup to check that it can be read, creates the new database in a folder
// of its own beside the live one ("<name>.rebuild"), creates every table there and copies the
// records from the backup (the new file is not durable meanwhile: its commits skip the journal
// and the flushes), flushes the new file once and only then moves it over the live one (one
// rename, made durable with a flush of the folder). A failure or a crash before the rename leaves the live
// database as it was; after it, the new one is in place. A table rebuild copies one table's
// records from a database file into a cursor (the cursor's rebuild and restructure use it), or,
// without a cursor, rebuilds the table by the cursor's road (beside the table, then swapped in).
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataBaseScopes.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "host/Collation.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "platform/File.h"
#include "platform/LastError.h"

namespace ostra {

std::string DataBaseBackupFileName(const std::string& Directory, const std::string& DataBaseName) {
    const size_t dot = DataBaseName.find_last_of('.');
    return Directory + (dot == std::string::npos ? DataBaseName : DataBaseName.substr(0, dot)) + ".orx";
}

namespace {

// Page caches of the files a rebuild opens: the live file is only asked for its settings and the
// backup (also the source of a table rebuild) is read once in storage order, so small caches
// serve; the new file's indexes are built by random inserts and get the largest cache the
// file-size rule would give.
constexpr int32_t CRebuildReadCachePages = 50;
constexpr int32_t CRebuildTargetCachePages = 1000;

// The folder of Path with a trailing delimiter ("" for a bare name means the current folder,
// which is named in full).
std::string FolderOf(const std::string& Path) {
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(Path, error);
    if (error) full = Path;
    std::string folder = full.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Copying the database file

void TOrqDataBase::CopyDatabase(const std::string& FileName, bool Overwrite) {
    static constexpr const char* Caller = "TOrqDataBase.CopyDatabase";
    const std::string source = this->FileName();
    if (source == FileName || platform::SameFile(source, FileName)) OrqDatabaseError(9344, Caller, source, this);
    if (!platform::FileExists(source)) OrqDatabaseError(9988, Caller, source, this);
    if (platform::FileExists(FileName) && !Overwrite)
        OrqDatabaseError(9344, Caller, FileName + ": the file exists already", this);
    if (!FConnected || !FExclusive) {
        if (!platform::CopyFile(source, FileName, !Overwrite))
            OrqDatabaseError(9344, Caller, source + "." + platform::SysErrorMessage(platform::GetLastError()), this);
    } else {
        FDiskMgr->CopyCurrentFile(FileName);
    }
    if (!platform::FileExists(FileName)) OrqDatabaseError(9344, Caller, source, this);
}

// ---------------------------------------------------------------------------------------------
// Rebuilding one table

int TOrqDataBase::RebuildTable(const std::string& TableName, const std::string& SourceFile, TOrqDataSet* Target) {
    static constexpr const char* Caller = "TOrqDataBase.RebuildTable";
    CheckConnected(false);
    CheckExclusive();
    // Cursors on the table other than the target (which may be a new table built beside it).
    const bool targetOnTable = Target && AnsiSameText(Target->TableName(), TableName);
    if (GetLocalConnectedUserCountReleasingIdle(TableName) > (targetOnTable ? 1 : 0))
        OrqDatabaseErrorFmt(10031, Caller, SorqTableInUseFmt, {TableName}, this);

    const bool internal = !TableName.empty() && TableName[0] == '$';
    if (!Target) {
        // The table is built anew beside the old one and swapped in (or, inside a transaction,
        // emptied and refilled there), so that a failure or a crash half-way never leaves a
        // partial table; that road comes back here with the cursor of the new table as target.
        TOrqDataSet table(nullptr);
        table.TableDefinition().SetInternalTable(internal);
        table.SetDataBase(this);
        table.SetTableName(TableName);
        table.SetOnUpdateProgress(OnUpdateProgress);
        return table.RebuildFromFile(SourceFile);
    }

    TOrqDataBase source(nullptr);
    source.SetDirectory(FolderOf(SourceFile));
    source.SetDataBaseName(SourceFile);
    source.SetExclusive(true);
    source.SetReadOnly(true);
    source.SetMasterKey(FMasterKey);
    source.BeforeLogin = BeforeLogin;
    // Privilege checks are as this connection's (a rebuild switches them off for both).
    source.SetTempPrivilegeStatus(FTempPrivilegeStatus);
    source.FFileCachePages = CRebuildReadCachePages;
    source.SetConnected(true);
    TOrqDataSet sourceTable(nullptr);
    sourceTable.TableDefinition().SetInternalTable(internal);
    sourceTable.SetDataBase(&source);
    sourceTable.SetTableName(TableName);
    sourceTable.DataSetOpen();
    return sourceTable.CopyRawTableData(*Target);
}

// ---------------------------------------------------------------------------------------------
// Rebuilding the database

void TOrqDataBase::RebuildDatabase() {
    static constexpr const char* Caller = "TOrqDataBase.RebuildDatabase";
    CheckNotConnected();
    if (FDataBaseName.empty() || InMemory()) OrqDatabaseError(10118, Caller, FileName(), this);
    // The database file's own folder when no Directory is set.
    const std::string folder = FDirectory.empty() ? FolderOf(FDataBaseName) : FDirectory;
    const std::string name = FDataBaseName;
    const std::string live = folder + name;
    const std::string backup = DataBaseBackupFileName(folder, name);
    const std::string workFolder = folder + name + ".rebuild/";
    TDBLogger* logger = GDBLogger();
    auto log = [&](const std::string& Text) {
        if (logger) logger->LogItem(name, Text);
    };

    const std::string savedDirectory = FDirectory;
    const bool savedExclusive = FExclusive;
    const int32_t savedCachePages = FFileCachePages;
    const int32_t savedMaxLines = logger ? logger->MaxLogItemCount() : 0;
    bool succeeded = false;
    std::exception_ptr failure;
    try {
        FDirectory = folder;
        log("Rebuild database start");
        CopyDatabase(backup, true);
        log("Rebuild database start");
        FTempPrivilegeStatus = C_ALLPRIVILEGES;
        log("Backup database created -" + backup);
        if (logger) logger->SetMaxLogItemCount(-1);

        // The live database tells the settings of the new one (and the key it is read with).
        FExclusive = true;
        FFileCachePages = CRebuildReadCachePages;
        SetConnected(true);
        const std::string key = FMasterKey;
        SetConnected(false);

        // The backup must open before anything else happens.
        TOrqDataBase source(nullptr);
        source.SetDirectory(folder);
        source.SetDataBaseName(DataBaseBackupFileName("", name));
        source.SetExclusive(true);
        source.SetReadOnly(true);
        source.SetTempPrivilegeStatus(C_ALLPRIVILEGES);
        source.FFileCachePages = CRebuildReadCachePages;
        source.SetMasterKey(key);
        source.BeforeLogin = BeforeLogin;
        log("Opening Backup dir " + folder);
        log("Opening Backup file " + source.DataBaseName());
        log("Opening Source database");
        try {
            source.SetConnected(true);
        } catch (...) {
            log("Could not open source database");
            throw;
        }

        // The new database, in a folder of its own until it is complete.
        std::error_code error;
        std::filesystem::remove_all(workFolder, error);
        if (!std::filesystem::create_directory(workFolder, error) && error)
            OrqDatabaseError(9344, Caller, workFolder + "." + error.message(), this);
        FDirectory = workFolder;
        SetMasterKey(key);
        CreateDatabase();
        FTempPrivilegeStatus = C_ALLPRIVILEGES;
        SetMasterKey(key);
        FFileCachePages = CRebuildTargetCachePages;
        SetConnected(true);
        // Until it is complete the new file is of no use to anyone: a crash or a failure leaves
        // only the work folder, which is thrown away. So its commits (one every few hundred
        // records, to bound memory) skip the journal and the flushes; it is flushed once before
        // it takes the live file's place.
        FDiskMgr->File().SetDurable(false);

        TStringList skip, copy, sourceSystem;
        GetSystemTableNames(&skip);
        source.GetTableNames(&copy, false);
        source.GetSystemTableNames(&sourceSystem);
        for (int i = 0; i < sourceSystem.Count(); ++i) copy.Add(sourceSystem.Strings(i));
        auto inSkipList = [&](const std::string& Table) { return skip.IndexOf(Table) >= 0; };

        log("Creating tables...");
        std::vector<bool> memoryTable(size_t(copy.Count()), false);
        for (int i = 0; i < copy.Count(); ++i) {
            const std::string table = copy.Strings(i);
            if (inSkipList(table)) continue;
            TTableDef def(nullptr);
            source.QueryTableDef(table, false, &def);
            def.SetTableName(table);
            def.Validate();
            memoryTable[size_t(i)] = def.Memory();
            log("Creating table " + table);
            // What an unfinished table rebuild left is copied as it is; the next rebuild of its
            // table drops it.
            if (IsRebuildWorkTableName(table))
                CreateRebuildWorkTable(&def);
            else
                CreateTable(&def, false);
        }

        for (int i = 0; i < copy.Count(); ++i) {
            if (memoryTable[size_t(i)]) continue;
            const std::string table = copy.Strings(i);
            const bool internal = inSkipList(table) || (!table.empty() && table[0] == '$');
            TOrqDataSet target(nullptr);
            target.TableDefinition().SetInternalTable(internal);
            target.SetDataBase(this);
            target.SetTableName(table);
            target.SetOnUpdateProgress(OnUpdateProgress);
            // The new file is thrown away unless the rebuild completes: the indexes may wait
            // for the last record of each table.
            target.SetBuildIndexesAtEnd(true);
            target.SetBuildUniqueIndexesAtEnd(true);
            TOrqDataSet sourceTable(nullptr);
            sourceTable.TableDefinition().SetInternalTable(internal);
            sourceTable.SetDataBase(&source);
            sourceTable.SetTableName(table);
            try {
                target.DataSetOpen();
                // Its commits only bound the memory of the new file's transaction: a step of
                // records at a time, not every 100 records.
                target.SetCopyInSteps(true);
                if (target.GetTotalRecordCount() > 0) target.DataSetEmptyTable();
                log("Copying data from source table " + table);
                sourceTable.DataSetOpen();
                try {
                    sourceTable.CopyRawTableData(target);
                } catch (const EOrqDatabaseError&) {
                    if (!target.UniqueKeyRepeated()) throw;
                    // The copy key by key keeps the first record of each key and logs the others.
                    log("A unique key repeats in " + table + "; copying its records again key by key");
                    target.SetBuildUniqueIndexesAtEnd(false);
                    target.DataSetEmptyTable();
                    sourceTable.CopyRawTableData(target);
                }
                sourceTable.DataSetClose();
                target.DataSetClose();
            } catch (...) {
                log("Exception while copying data from source table " + table);
                log("Exception was " + CurrentExceptionMessage());
                sourceTable.DataSetClose();
                log("Attempting to empty this table");
                try {
                    if (target.InternalActive()) target.DataSetEmptyTable();
                } catch (...) {
                    log("Exception attempting to empty this table " + CurrentExceptionMessage());
                }
                target.DataSetClose();
            }
        }
        FDiskMgr->File().SetDurable(true);
        SetConnected(false);
        source.SetConnected(false);

        // The new file takes the live one's place in one step.
        FDirectory = folder;
        std::filesystem::rename(workFolder + name, live, error);
        if (error) OrqDatabaseError(9344, Caller, live + "." + error.message(), this);
        platform::FlushFolderOf(live);
        succeeded = true;
    } catch (...) {
        failure = std::current_exception();
    }
    TStepFailures steps(Caller);
    steps.Run([this] { SetConnected(false); });
    FDirectory = savedDirectory;
    FExclusive = savedExclusive;
    FFileCachePages = savedCachePages;
    FTempPrivilegeStatus = 0;
    {
        std::error_code error;
        std::filesystem::remove_all(workFolder, error);
    }
    log(succeeded ? "Rebuild database complete" : "Rebuild database failed - the database was left as it was");
    if (logger) {
        steps.Run([&] { logger->SaveLogToFile(folder + "dblog.txt"); });
        logger->SetMaxLogItemCount(savedMaxLines);
    }
    if (failure) std::rethrow_exception(failure);
    steps.RaiseFirst();
}

}  // namespace ostra
