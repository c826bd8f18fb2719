// Fuzz target: a damaged database file, through the database component and the cursor. The
// input is the whole file; its definition record gets a valid check value (so that damage
// anywhere else is reached, not only the check). The target connects, opens every table, walks
// every index both ways, goes to records by number, reads every field and blob, then changes
// each table (rewrite, add, delete) in one transaction, commits, and reads the tables again.
// Data read from a file is never trusted: every refusal must be an engine error.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orqDBDefRecord.h"
#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqRecordLayout.h"
#include "fuzz/FuzzTarget.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/Streams.h"
#include "host/Variant.h"

using namespace ostra;
namespace fs = std::filesystem;

namespace {

// Bounds that keep one input quick whatever its counts say.
constexpr int kMaxTables = 6;
constexpr int kMaxIndexes = 6;
constexpr int kMaxSteps = 64;

constexpr char kScratchPrefix[] = "ostra-fuzz-db-";

// Removes the scratch folders of processes that ended without removing their own (a fuzzing job
// that was stopped or crashed).
void RemoveStaleScratchFolders(const fs::path& Base) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(Base, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kScratchPrefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + sizeof kScratchPrefix - 1, nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(entry.path(), error);
    }
}

// A folder of this process for the file, in memory where the machine has /dev/shm (commits flush).
const fs::path& ScratchFolder() {
    static const fs::path folder = [] {
        fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        RemoveStaleScratchFolders(base);
        fs::path f = base / (kScratchPrefix + std::to_string(getpid()));
        fs::create_directories(f);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(ScratchFolder(), ignored);
        });
        return f;
    }();
    return folder;
}

// The input as the database file, alone in the scratch folder (no lock file or journal of an
// earlier input).
std::string WriteFile(const uint8_t* Data, size_t Size) {
    const fs::path& folder = ScratchFolder();
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    std::string bytes(reinterpret_cast<const char*>(Data), Size);
    if (bytes.size() >= CDBDefRecordSize) {
        auto* record = reinterpret_cast<uint8_t*>(bytes.data());
        Store32(record + CDBDefCheckOffset, DBDefCheckValue(record));
    }
    const fs::path path = folder / "damaged.orq";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

void ReadFields(TOrqDataSet& Cursor) {
    const TInternalFields& fields = Cursor.GetInternalFields();
    for (int i = 0; i < fields.Count(); ++i) {
        const int fieldNo = fields.GetIndex(i)->FieldIndex();
        if (Cursor.IsFieldBlob(fieldNo)) {
            TMemoryStream blob;
            bool isNull = false;
            Cursor.DataSetGetFieldStream(fieldNo, isNull, blob);
        } else {
            Variant value;
            Cursor.DataSetGetFieldDataAsVariant(fieldNo, value);
        }
    }
}

// Walks the current index forward and backward, and visits records by number.
void WalkIndex(TOrqDataSet& Cursor) {
    int steps = 0;
    for (bool more = Cursor.DataSetFirst(); more && steps < kMaxSteps; more = Cursor.DataSetNext(), ++steps) {
        ReadFields(Cursor);
        Cursor.DataSetGetRecordNo();
    }
    steps = 0;
    for (bool more = Cursor.DataSetLast(); more && steps < kMaxSteps / 4; more = Cursor.DataSetPrior(), ++steps)
        ReadFields(Cursor);
    const int count = Cursor.GetTotalRecordCount();
    for (int recNo : {1, count / 2, count, count + 1})
        if (recNo >= 1 && Cursor.DataSetSetRecordNo(recNo) >= 0) ReadFields(Cursor);
}

void ReadTable(TOrqDataBase& DataBase, const std::string& Name) {
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&DataBase);
    cursor.SetTableName(Name);
    cursor.DataSetOpen();
    TStringList indexes;
    cursor.GetIndexNames(indexes);
    for (int i = 0; i < std::min(indexes.Count(), kMaxIndexes); ++i) {
        cursor.InternalSetIndexName(indexes.Strings(i));
        WalkIndex(cursor);
    }
    if (indexes.Count() == 0) WalkIndex(cursor);
}

// Rewrites the first record; adds a record with its plain field values and a new blob value in
// each blob field (a record buffer is never added with another record's blob addresses: the two
// records would share one chain); deletes the first record.
void ChangeTable(TOrqDataBase& DataBase, const std::string& Name) {
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&DataBase);
    cursor.SetTableName(Name);
    cursor.DataSetOpen();
    const TInternalFields& fields = cursor.GetInternalFields();
    std::vector<Variant> values(static_cast<size_t>(fields.Count()));
    const bool any = cursor.DataSetFirst();
    if (any) {
        cursor.UpdateRecord();
        for (int i = 0; i < fields.Count(); ++i) {
            const int fieldNo = fields.GetIndex(i)->FieldIndex();
            if (!cursor.IsFieldBlob(fieldNo)) cursor.DataSetGetFieldDataAsVariant(fieldNo, values[size_t(i)]);
        }
    }
    cursor.InitializeNewRecord(cursor.RecordBuffer(), false);
    for (int i = 0; i < fields.Count(); ++i) {
        const int fieldNo = fields.GetIndex(i)->FieldIndex();
        if (cursor.IsFieldBlob(fieldNo)) {
            TStringStream blob(std::string(700, 'b'));
            cursor.DataSetSetFieldStream(fieldNo, false, &blob);
        } else if (any && fields.GetIndex(i)->DataType() != ftAutoInc) {
            cursor.DataSetSetFieldDataAsVariant(fieldNo, values[size_t(i)]);
        }
    }
    cursor.AddRecord(true);
    if (any && cursor.DataSetFirst()) cursor.DeleteRecord(cursor.RecordBuffer());
}

void Exercise(const std::string& Path) {
    TOrqDataBase database(nullptr);
    database.SetDataBaseName(Path);
    database.SetLockRetryMaximum(1);
    database.SetLockRetryInterval(1);
    database.SetTempPrivilegeStatus(C_ALLPRIVILEGES);
    database.SetConnected(true);
    TStringList names;
    database.GetTableNames(&names, false);
    const int tables = std::min(names.Count(), kMaxTables);
    for (int i = 0; i < tables; ++i)
        fuzz::Refusing<EDatabaseError>([&] { ReadTable(database, names.Strings(i)); });
    database.StartTransaction();
    for (int i = 0; i < tables; ++i)
        fuzz::Refusing<EDatabaseError>([&] { ChangeTable(database, names.Strings(i)); });
    database.Commit();
    for (int i = 0; i < tables; ++i)
        fuzz::Refusing<EDatabaseError>([&] { ReadTable(database, names.Strings(i)); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string path = WriteFile(Data, Size);
    fuzz::Refusing<EDatabaseError>([&] { Exercise(path); });
    return 0;
}
