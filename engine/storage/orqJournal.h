// orqJournal: the rollback journal that makes a commit atomic.
//
// While a commit runs, a file beside the database (GetJournalFileName) holds the old content of
// every byte range the commit overwrites inside the old file, and the old length of the file. A
// crash or an error in the middle of the commit is undone by writing those bytes back and cutting
// the file to its old length, so the file is always as it was before the transaction or as it is
// after it, never between.
//
// The states of a commit (TOrqFile::Commit drives them, this unit does the journal's I/O):
//
//   locked     the committer holds the journal lock (one byte of the database file at
//              CJournalLockAddress), taken under the recovery lock, and has found no valid
//              journal of a dead commit beside the file. Only the holder writes, replays or
//              removes the journal, so
//              the commits of all connections take turns, and a journal whose lock nobody holds
//              is not being written by anyone.
//   journaled  the records (old bytes of each range) and then the header are written, and the
//              journal and then its folder (so that its name lasts too) are flushed to stable
//              storage (Write). The database is untouched: a journal cut short or torn here never
//              validates, and dropping it loses nothing.
//   writing    the pages and ranges go to the database in place and it is flushed. From the first
//              database write on, the valid journal on disk says how to get back.
//   committed  the header is overwritten with zeros and flushed (Invalidate): the journal is
//              invalid and the commit durable. Then the file is deleted (Delete), with no flush
//              of the folder: a file that stays, or comes back after a crash, is invalid and
//              harmless. (A journal deleted while it may still be valid has its folder flushed.)
// A failure while journaling deletes the journal. A failure while writing or committing undoes
// the commit (RollBack: header made valid again, records written back, file cut, flushed) and
// then removes the journal; a failure of the undo leaves the valid journal for recovery.
//
// Recovery. A valid journal whose lock can be taken belongs to a commit that died or whose undo
// failed. Before a connection reads, it replays such a journal (Inspect, Replay) while it holds
// the journal lock and keeps other connections out (TDiskMgr::RecoverInterruptedCommit). Only a
// live commit, once it has made sure under the recovery lock (CRecoveryLockAddress) that no
// other journal lies beside the file, holds the journal lock without the recovery lock; whoever
// inspects a journal holds both. So another connection never takes an inspection of a dead
// commit's journal for a live commit, and never reads the dead commit's pages. Replaying
// the journal of a commit that never reached the database writes back the bytes that are already
// there, so it does no harm either.
//
// Why a stale or torn journal is never replayed wrongly:
//   - the header carries a CRC and the journal's exact length; a file shorter than that length,
//     or with a record count that does not add up to it, is invalid;
//   - every record carries a CRC that covers a nonce drawn afresh for each commit, so records
//     left in the file's blocks by an earlier commit never validate under a new header;
//   - records lie inside the old file length, and the page size must be the opener's;
//   - a committed journal has a zero header, and a new database file (CreateNewFile) removes any
//     journal of an earlier file of that name.
//
// Journal layout (integers little-endian). The header, CJournalHeaderSize bytes at offset 0:
//
//   Offset  Size  Item         Meaning
//   0       8     Magic        "ORQJRNL" followed by 0x1A
//   8       4     Version      1
//   12      4     PageSize     page size of the database file
//   16      8     OldFileSize  length of the database file before the commit
//   24      8     CommitEnd    end of the commit's furthest write; when it lies beyond
//                              OldFileSize, replaying cuts the file back to OldFileSize
//   32      8     Nonce        random value drawn for this commit
//   40      4     RecordCount  number of records that follow the header
//   44      4     reserved     zero
//   48      8     JournalSize  header + all records, in bytes
//   56      4     reserved     zero
//   60      4     HeaderCRC    CRC-32 (orqCrypt.h) of bytes 0 to 59
//
// Then RecordCount records back to back, each CJournalRecordHeaderSize + Size bytes (ranges the
// commit writes one after the other share a record):
//
//   Offset  Size  Item         Meaning
//   0       8     Position     file address of the range
//   8       4     Size         bytes in the range, at least 1; Position + Size <= OldFileSize
//   12      4     RecordCRC    CRC-32 of the whole record (16 + Size bytes) computed while this
//                              field holds the salt: the low 32 bits of Nonce xor Nonce >> 32
//   16      Size  Data         the bytes the range held before the commit
//
// Ranges that lie beyond OldFileSize (pages appended by the commit) have no record: cutting the
// file back removes them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/File.h"

namespace ostra {

struct TFileRange;

// The journal lock: one byte of the database file, far beyond its data and apart from the other
// locks on the database file (the parent lock at 8192, the open lock at 0x0FF10000, 1000 bytes).
inline constexpr uint64_t CJournalLockAddress = 0x0FF20000;
// The recovery lock: one byte of the database file beside the journal lock. A connection that
// looks at a journal it did not write (to replay or remove it) takes this lock first and keeps it
// while it holds the journal lock; a commit holds it only while it takes the journal lock and
// makes sure that no journal of a dead commit lies beside the file. So a connection holding the
// recovery lock that finds the journal lock held knows that a live commit holds it, and that the
// journal beside the file (if any) is that commit's.
inline constexpr uint64_t CRecoveryLockAddress = 0x0FF20010;

// Sizes of the journal's parts: header 8 magic + 4 + 4 + 8 + 8 + 8 + 4 + 4 + 8 + 4 + 4 CRC;
// record header 8 position + 4 size + 4 CRC.
inline constexpr uint32_t CJournalHeaderSize = 64;
inline constexpr uint32_t CJournalRecordHeaderSize = 16;
inline constexpr uint32_t CJournalVersion = 1;

// The journal of a database file: the lock file's name (orqLockMgrUnit.h) with the extension
// ".orj" instead of ".lck": "/d/Shop.orq" -> "/d/Shop.orj", "/d/Shop.db" -> "/d/Shop_db.orj".
std::string GetJournalFileName(const std::string& DatabaseFileName);

// What a journal file found beside a database holds.
enum TJournalState : uint8_t {
    jsMissing,        // there is no such file
    jsInvalid,        // not a complete journal (committed, cut short, torn or foreign): ignore it
    jsValid,          // the journal of a commit that did not finish: replay it
    jsOtherPageSize,  // a valid journal of a file with another page size: not this opener's
};

// One rollback journal file and its I/O. The caller holds the journal lock throughout.
//
// States: closed -> Write (committer) or Inspect (recovery) -> open -> Delete -> closed. Write and
// Inspect leave the file open; the destructor closes it without deleting it.
class TOrqJournal {
public:
    explicit TOrqJournal(std::string FileName) : FFileName(std::move(FileName)) {}
    TOrqJournal(const TOrqJournal&) = delete;
    TOrqJournal& operator=(const TOrqJournal&) = delete;

    const std::string& FileName() const { return FFileName; }

    // ----- The committer's side
    // Creates the journal (replacing a file of that name), writes a record of the current bytes
    // of every range of Database inside OldFileSize, then the header, and flushes the journal and
    // its folder. Not creatable: 8459 "Unable to create the rollback journal. Error type of: " and
    // the system message; a short read of Database: 9217; a short write: 9218; a failed flush of
    // the journal or the folder: 8450.
    void Write(platform::File& Database, uint32_t PageSize, int64_t OldFileSize,
               const std::vector<TFileRange>& Ranges);
    // Overwrites the header with zeros and flushes: the journal no longer undoes anything. A short
    // write: 9218; a failed flush: 8450.
    void Invalidate();
    // Undoes the commit this object wrote: makes the header valid again (flushed) when Invalidate
    // was tried, writes every record back into Database, cuts Database to OldFileSize when the
    // commit went beyond it, and flushes Database. Raises on any failure (the journal stays).
    void RollBack(platform::File& Database);

    // ----- Recovery
    // Opens the file (for writing too when Writable and allowed) and checks it completely; a
    // valid journal stays open for Replay. An existing file that cannot be opened or read:
    // 8450 "The rollback journal could not be read".
    TJournalState Inspect(uint32_t PageSize, bool Writable);
    // Writes the records of a journal that Inspect found valid back into Database, cuts it to
    // OldFileSize when the commit went beyond it, and flushes it. Raises on any failure.
    void Replay(platform::File& Database);

    // ----- Removal
    // Closes the file, deletes it and flushes its folder, unless Invalidate's zero header is on
    // stable storage (a journal coming back after a crash is then harmless, so the commit needs
    // no further flush); false when it could not be deleted (it stays) or the folder could not be
    // flushed (it may come back after a crash).
    bool Delete() noexcept;
    // Makes sure no usable journal of this name is left: deletes the file, or when that fails
    // overwrites its header with zeros. True when the file is gone or invalid.
    bool Erase() noexcept;

    // ----- What the header says (after Write or a successful Inspect)
    uint64_t Nonce() const { return FNonce; }
    int64_t OldFileSize() const { return FOldFileSize; }
    int64_t CommitEnd() const { return FCommitEnd; }
    uint32_t RecordCount() const { return FRecordCount; }
    uint64_t JournalSize() const { return FJournalSize; }

private:
    // The header bytes of the fields above.
    void EncodeHeader(uint8_t* Bytes) const;
    // Writes the records back (each checked again), cuts and flushes Database.
    void ReplayRecords(platform::File& Database, const char* Caller);
    void WriteAt(uint64_t Position, const uint8_t* Bytes, std::size_t Size, const char* Caller);
    void FlushJournal(const char* Caller);
    // Reads Size bytes at Position; false at the end of the file, raises on an I/O error.
    bool ReadAt(uint64_t Position, uint8_t* Bytes, std::size_t Size, const char* Caller);

    std::string FFileName;
    platform::File FFile;
    uint32_t FPageSize = 0;
    int64_t FOldFileSize = 0;
    int64_t FCommitEnd = 0;
    uint64_t FNonce = 0;
    uint32_t FRecordCount = 0;
    uint64_t FJournalSize = 0;
    bool FHeaderMayBeInvalid = false;  // Invalidate was tried: RollBack writes the header again
    bool FInvalidOnDisk = false;       // Invalidate's zero header was flushed (and not rewritten)
};

}  // namespace ostra
