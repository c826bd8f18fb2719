// orqJournal: writing, checking, replaying and removing a rollback journal (layout and states in
// orqJournal.h).
#include "engine/storage/orqJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCrypt.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqFile.h"
#include "engine/storage/orqLockMgrUnit.h"
#include "platform/LastError.h"

namespace ostra {
namespace {

constexpr uint8_t CJournalMagic[8] = {'O', 'R', 'Q', 'J', 'R', 'N', 'L', 0x1A};
// Records are gathered into writes of about this size.
constexpr std::size_t CJournalWriteChunk = 32 * 1024;
// Adjacent ranges share one record (and one read of the database) up to this size.
constexpr uint64_t CJournalMaxRecord = 256 * 1024;
constexpr uint64_t CAddressSpace = uint64_t(1) << 32;

// Header item offsets.
constexpr std::size_t HdrVersion = 8, HdrPageSize = 12, HdrOldFileSize = 16, HdrCommitEnd = 24, HdrNonce = 32,
                      HdrRecordCount = 40, HdrJournalSize = 48, HdrCRC = 60;
// Record item offsets.
constexpr std::size_t RecPosition = 0, RecSize = 8, RecCRC = 12;

uint32_t SaltOf(uint64_t Nonce) {
    return uint32_t(Nonce) ^ uint32_t(Nonce >> 32);
}

// The CRC of a record (header and data in Record, RecordSize bytes) with the salt in its CRC field.
uint32_t RecordCRC(uint8_t* Record, std::size_t RecordSize, uint64_t Nonce) {
    const uint32_t stored = Load32(Record + RecCRC);
    Store32(Record + RecCRC, SaltOf(Nonce));
    const uint32_t crc = CalcCRC(Record, int(RecordSize));
    Store32(Record + RecCRC, stored);
    return crc;
}

uint64_t NewNonce() {
    std::random_device device;
    return uint64_t(device()) << 32 | device();
}

}  // namespace

std::string GetJournalFileName(const std::string& DatabaseFileName) {
    const std::string lockName = GetLockFileName(DatabaseFileName);  // always ends in ".lck"
    return lockName.substr(0, lockName.size() - 4) + ".orj";
}

// ---------------------------------------------------------------------------------------------
// I/O helpers

void TOrqJournal::WriteAt(uint64_t Position, const uint8_t* Bytes, std::size_t Size, const char* Caller) {
    if (FFile.Write(int64_t(Position), Bytes, int64_t(Size)) != int64_t(Size))
        OrqDatabaseError(9218, Caller, "Unable to complete file write operation", nullptr);
}

void TOrqJournal::FlushJournal(const char* Caller) {
    if (!FFile.Flush()) OrqDatabaseError(8450, Caller, "The rollback journal could not be flushed", nullptr);
}

bool TOrqJournal::ReadAt(uint64_t Position, uint8_t* Bytes, std::size_t Size, const char* Caller) {
    const int64_t n = FFile.Read(int64_t(Position), Bytes, int64_t(Size));
    if (n == int64_t(Size)) return true;
    if (n >= 0 && platform::GetLastError() == platform::ErrorHandleEof) return false;
    OrqDatabaseError(8450, Caller, "The rollback journal could not be read", nullptr);
}

void TOrqJournal::EncodeHeader(uint8_t* Bytes) const {
    std::memset(Bytes, 0, CJournalHeaderSize);
    std::memcpy(Bytes, CJournalMagic, sizeof CJournalMagic);
    Store32(Bytes + HdrVersion, CJournalVersion);
    Store32(Bytes + HdrPageSize, FPageSize);
    Store64(Bytes + HdrOldFileSize, uint64_t(FOldFileSize));
    Store64(Bytes + HdrCommitEnd, uint64_t(FCommitEnd));
    Store64(Bytes + HdrNonce, FNonce);
    Store32(Bytes + HdrRecordCount, FRecordCount);
    Store64(Bytes + HdrJournalSize, FJournalSize);
    Store32(Bytes + HdrCRC, CalcCRC(Bytes, int(HdrCRC)));
}

// ---------------------------------------------------------------------------------------------
// The committer's side

void TOrqJournal::Write(platform::File& Database, uint32_t PageSize, int64_t OldFileSize,
                        const std::vector<TFileRange>& Ranges) {
    static constexpr const char* Caller = "TOrqJournal.Write";
    FPageSize = PageSize;
    FOldFileSize = OldFileSize;
    FCommitEnd = OldFileSize;
    FNonce = NewNonce();
    FRecordCount = 0;
    FHeaderMayBeInvalid = false;
    if (!FFile.Open(FFileName, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                    platform::FileCreate::CreateAlways))
        OrqDatabaseError(8459, Caller,
                         "Unable to create the rollback journal. Error type of: " +
                             platform::SysErrorMessage(platform::GetLastError()),
                         nullptr);
    // The records first, gathered into chunks; the header last, so that a journal cut short
    // before its header is plainly not one.
    std::vector<uint8_t> chunk;
    chunk.reserve(CJournalWriteChunk + CJournalRecordHeaderSize);
    uint64_t offset = CJournalHeaderSize;
    for (std::size_t i = 0; i < Ranges.size();) {
        // The run of ranges that follow each other without a gap (Ranges are in address order).
        const uint64_t start = Ranges[i].Position;
        uint64_t stop = start + Ranges[i].Size;
        for (++i; i < Ranges.size() && Ranges[i].Position == stop && stop + Ranges[i].Size - start <= CJournalMaxRecord;
             ++i)
            stop += Ranges[i].Size;
        FCommitEnd = std::max<int64_t>(FCommitEnd, int64_t(stop));
        const uint64_t end = std::min<uint64_t>(stop, uint64_t(OldFileSize));
        if (start >= end) continue;  // appended: cutting the file back removes it
        const std::size_t size = std::size_t(end - start);
        const std::size_t at = chunk.size();
        chunk.resize(at + CJournalRecordHeaderSize + size);
        uint8_t* record = chunk.data() + at;
        Store64(record + RecPosition, start);
        Store32(record + RecSize, uint32_t(size));
        Store32(record + RecCRC, 0);
        if (Database.Read(int64_t(start), record + CJournalRecordHeaderSize, int64_t(size)) !=
            int64_t(size))
            OrqDatabaseError(9217, Caller, "Unable to complete file read operation", nullptr);
        Store32(record + RecCRC, RecordCRC(record, CJournalRecordHeaderSize + size, FNonce));
        ++FRecordCount;
        if (chunk.size() >= CJournalWriteChunk) {
            WriteAt(offset, chunk.data(), chunk.size(), Caller);
            offset += chunk.size();
            chunk.clear();
        }
    }
    if (!chunk.empty()) {
        WriteAt(offset, chunk.data(), chunk.size(), Caller);
        offset += chunk.size();
    }
    FJournalSize = offset;
    uint8_t header[CJournalHeaderSize];
    EncodeHeader(header);
    WriteAt(0, header, sizeof header, Caller);
    FlushJournal(Caller);
    // The journal's name must last as long as its bytes: a crash that kept the database writes
    // but lost the new folder entry would leave nothing to undo them.
    if (!platform::FlushFolderOf(FFileName))
        OrqDatabaseError(8450, Caller, "The folder of the rollback journal could not be flushed", nullptr);
}

void TOrqJournal::Invalidate() {
    static constexpr const char* Caller = "TOrqJournal.Invalidate";
    FHeaderMayBeInvalid = true;
    const uint8_t zeros[CJournalHeaderSize] = {};
    WriteAt(0, zeros, sizeof zeros, Caller);
    FlushJournal(Caller);
    FInvalidOnDisk = true;
}

void TOrqJournal::RollBack(platform::File& Database) {
    static constexpr const char* Caller = "TOrqJournal.RollBack";
    if (FHeaderMayBeInvalid) {
        // A crash while the records are written back must still find the journal valid.
        uint8_t header[CJournalHeaderSize];
        EncodeHeader(header);
        FInvalidOnDisk = false;
        WriteAt(0, header, sizeof header, Caller);
        FlushJournal(Caller);
        FHeaderMayBeInvalid = false;
    }
    ReplayRecords(Database, Caller);
}

void TOrqJournal::ReplayRecords(platform::File& Database, const char* Caller) {
    std::vector<uint8_t> record;
    uint64_t offset = CJournalHeaderSize;
    for (uint32_t i = 0; i < FRecordCount; ++i) {
        uint8_t head[CJournalRecordHeaderSize];
        if (!ReadAt(offset, head, sizeof head, Caller))
            OrqDatabaseError(8451, Caller, "The rollback journal is damaged", nullptr);
        const uint32_t size = Load32(head + RecSize);
        record.resize(CJournalRecordHeaderSize + std::size_t(size));
        std::memcpy(record.data(), head, sizeof head);
        if (!ReadAt(offset + CJournalRecordHeaderSize, record.data() + CJournalRecordHeaderSize, size,
                    Caller) ||
            RecordCRC(record.data(), record.size(), FNonce) != Load32(head + RecCRC))
            OrqDatabaseError(8451, Caller, "The rollback journal is damaged", nullptr);
        const uint64_t position = Load64(head + RecPosition);
        if (Database.Write(int64_t(position), record.data() + CJournalRecordHeaderSize, size) !=
            int64_t(size))
            OrqDatabaseError(9218, Caller, "Unable to complete file write operation", nullptr);
        offset += record.size();
    }
    if (FCommitEnd > FOldFileSize && Database.Size() > FOldFileSize && !Database.SetSize(FOldFileSize))
        OrqDatabaseError(8450, Caller, "The database file could not be cut back to its old length", nullptr);
    if (!Database.Flush()) OrqDatabaseError(8450, Caller, "The file buffers could not be flushed", nullptr);
}

// ---------------------------------------------------------------------------------------------
// Recovery

TJournalState TOrqJournal::Inspect(uint32_t PageSize, bool Writable) {
    static constexpr const char* Caller = "TOrqJournal.Inspect";
    FFile.Close();
    bool opened = Writable && FFile.Open(FFileName, platform::FileAccess::ReadWrite,
                                         platform::FileShare::DenyNone, platform::FileCreate::OpenExisting);
    if (!opened && !FFile.Open(FFileName, platform::FileAccess::Read, platform::FileShare::DenyNone,
                               platform::FileCreate::OpenExisting)) {
        if (platform::GetLastError() == ENOENT) return jsMissing;
        OrqDatabaseError(8450, Caller,
                         "The rollback journal could not be read. Error type of: " +
                             platform::SysErrorMessage(platform::GetLastError()),
                         nullptr);
    }
    uint8_t header[CJournalHeaderSize];
    if (!ReadAt(0, header, sizeof header, Caller)) return jsInvalid;
    if (std::memcmp(header, CJournalMagic, sizeof CJournalMagic) != 0 ||
        Load32(header + HdrVersion) != CJournalVersion ||
        Load32(header + HdrCRC) != CalcCRC(header, int(HdrCRC)))
        return jsInvalid;
    const uint32_t pageSize = Load32(header + HdrPageSize);
    const uint64_t oldFileSize = Load64(header + HdrOldFileSize);
    const uint64_t commitEnd = Load64(header + HdrCommitEnd);
    const uint64_t nonce = Load64(header + HdrNonce);
    const uint32_t count = Load32(header + HdrRecordCount);
    const uint64_t journalSize = Load64(header + HdrJournalSize);
    const int64_t fileSize = FFile.Size();
    if (fileSize < 0) OrqDatabaseError(8450, Caller, "The rollback journal could not be read", nullptr);
    if (oldFileSize > CAddressSpace || commitEnd > CAddressSpace || journalSize < CJournalHeaderSize ||
        journalSize > uint64_t(fileSize))
        return jsInvalid;
    // Every record must be whole, inside the old file and intact; together they fill the journal.
    std::vector<uint8_t> record;
    uint64_t offset = CJournalHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (journalSize - offset < CJournalRecordHeaderSize) return jsInvalid;
        uint8_t head[CJournalRecordHeaderSize];
        if (!ReadAt(offset, head, sizeof head, Caller)) return jsInvalid;
        const uint64_t position = Load64(head + RecPosition);
        const uint32_t size = Load32(head + RecSize);
        if (size == 0 || size > uint32_t(INT32_MAX) - CJournalRecordHeaderSize ||
            position + size > oldFileSize || journalSize - offset - CJournalRecordHeaderSize < size)
            return jsInvalid;
        record.resize(CJournalRecordHeaderSize + std::size_t(size));
        std::memcpy(record.data(), head, sizeof head);
        if (!ReadAt(offset + CJournalRecordHeaderSize, record.data() + CJournalRecordHeaderSize, size,
                    Caller) ||
            RecordCRC(record.data(), record.size(), nonce) != Load32(head + RecCRC))
            return jsInvalid;
        offset += record.size();
    }
    if (offset != journalSize) return jsInvalid;
    FPageSize = pageSize;
    FOldFileSize = int64_t(oldFileSize);
    FCommitEnd = int64_t(commitEnd);
    FNonce = nonce;
    FRecordCount = count;
    FJournalSize = journalSize;
    FHeaderMayBeInvalid = false;
    return pageSize == PageSize ? jsValid : jsOtherPageSize;
}

void TOrqJournal::Replay(platform::File& Database) {
    ReplayRecords(Database, "TOrqJournal.Replay");
}

// ---------------------------------------------------------------------------------------------
// Removal

bool TOrqJournal::Delete() noexcept {
    const bool deleted = FFile.IsOpen() ? FFile.CloseAndDeleteIfUnused() : platform::DeleteFile(FFileName);
    if (!deleted) return !platform::FileExists(FFileName);
    // A journal whose zero header is on stable storage is harmless should it come back after a
    // crash; any other lasts as deleted only once the folder is flushed.
    return FInvalidOnDisk || platform::FlushFolderOf(FFileName);
}

bool TOrqJournal::Erase() noexcept {
    if (Delete()) return true;
    // It could not be deleted: a zero header makes it harmless all the same.
    if (!FFile.Open(FFileName, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                    platform::FileCreate::OpenExisting))
        return !platform::FileExists(FFileName);
    const uint8_t zeros[CJournalHeaderSize] = {};
    const bool done = FFile.Write(0, zeros, sizeof zeros) == int64_t(sizeof zeros) && FFile.Flush();
    FFile.Close();
    return done;
}

}  // namespace ostra
