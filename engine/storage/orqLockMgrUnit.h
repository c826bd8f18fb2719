// orqLockMgrUnit: everything that coordinates connections through the lock file.
//
// Every database file that may be written has a lock file beside it (GetLockFileName). The
// file itself holds only a zero header and one 4096-byte slot per connected computer and user;
// all coordination is done with byte-range locks of the platform layer (platform/File.h), most
// of them far beyond the end of the file. Locks belong to a handle: two connections in one
// process conflict exactly as two processes do, and the operating system drops the locks of a
// process that dies, which is how dead connections are recognised.
//
//   TDBUserMonitor   creates, joins, leaves and deletes the lock file; keeps the user slots and
//                    the one-byte connection lock that marks this connection as live.
//   TBaseLockMgr     turns "lock id N for reading / writing" into byte-range locks on the lock
//                    file and remembers what it holds (TLockCollection of TLockItem).
//   TWinLockMgr      the lock manager on the platform's byte-range locks (the only descendant).
//
// Lock-file address map. Every range is disjoint from every other one; all addresses are
// 64-bit, so no id can wrap into another range:
//
//   Address                          Length          Holder
//   0                                1               slot mutex (held while slots change)
//   0 .. 4096                        4096            file header, all zero (data, not a lock)
//   4096 * k, k = 1..1023            4096            slot k: "computer,user" text (data)
//   0x400000 + 4096 * k              4096            connection bytes of slot k: every live
//                                                    connection of that slot holds one byte
//   0x800000 + 8192 * t              8192            table lock region of table id t
//                                                    (t < 3071; id 0 is the header lock)
//   0x1FFE000 + t                    1               transaction lock of table id t (t < 8192)
//   0x2000000 + a                    1               record lock of record address a (32-bit)
//   0x102000000 + 64 * t             64              intent bytes of table lock t: a writer
//                                                    waiting for its region holds all 64 (a
//                                                    pending lock), a reader one while it
//                                                    takes its read byte
//   0x102100000 + 64 * t             64              intent bytes of transaction lock t: each
//                                                    waiter holds one while it waits its turn
//
// On the database file: byte 8192 is the parent lock, held while the lock file is created,
// while a new connection opens it, and while it is deleted.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Collection.h"
#include "host/Object.h"
#include "platform/File.h"

namespace ostra {

class TStrings;

// ---------------------------------------------------------------------------------------------
// Lock-file layout

inline constexpr uint32_t CLockSlotSize = 4096;               // header and every slot
inline constexpr uint32_t CLockFileMaxSlots = 1023;           // slots 1..1023: the file stays below 4 MiB
inline constexpr uint64_t CLockSlotMutexAddr = 0;             // one byte
inline constexpr uint64_t CLockConnectionBase = 0x400000;     // + slot address: 4096 connection bytes
inline constexpr uint64_t CParentLockAddr = 8192;             // one byte of the database file
inline constexpr uint64_t CTableLockBase = 0x800000;          // region CTableLockRegionSize per id
inline constexpr int32_t CTableLockRegionSize = 8192;
inline constexpr uint64_t CTransactionLockBase = 0x1FFE000;   // region 1 per table id
inline constexpr uint64_t CRecordLockBase = 0x2000000;        // region 1 per record address
inline constexpr uint64_t CRecordLockEnd = CRecordLockBase + (uint64_t(1) << 32);
// Intent bytes: CLockIntentSize per id; table ids (below 3071) need 64 x 3071 bytes, transaction
// ids (below 8192) 64 x 8192 bytes, so both ranges fit in the 1 MiB steps chosen here.
inline constexpr uint32_t CLockIntentSize = 64;
inline constexpr uint64_t CTableIntentBase = CRecordLockEnd;
inline constexpr uint64_t CTransactionIntentBase = CRecordLockEnd + 0x100000;

// The retry rule of the slot mutex and the parent lock: one attempt, then this many more,
// each after a pause of this many milliseconds.
inline constexpr int32_t CLockFileRetryCount = 20;
inline constexpr int32_t CLockFileRetryInterval = 100;

// The lock type values of lock items and lock queries.
inline constexpr int32_t CLockTypeNone = 0;
inline constexpr int32_t CLockTypeRead = 1;
inline constexpr int32_t CLockTypeWrite = 4;

// The lock file of a database file. When the lower-cased name contains ".orq" the name itself is
// the base; otherwise the base is the folder part (kept as it is, empty for a bare name, so the
// lock file lands beside the database), the file name with every "." replaced by "_", and the
// name's extension. The result is the base with its extension replaced by ".lck":
// "/d/Shop.orq" -> "/d/Shop.lck", "/d/Shop.db" -> "/d/Shop_db.lck", "Shop" -> "Shop.lck".
std::string GetLockFileName(const std::string& DatabaseFileName);

// The end (exclusive) of the lock-file range that starts at BaseAddress: the start of the next
// range of the layout above, or BaseAddress + 2^32 regions beyond the last one.
uint64_t LockRangeEnd(uint64_t BaseAddress, int32_t RegionSize);

// Unit start: seeds the random generator that picks read-lock bytes (from the clock and the
// process id); only the first call of the process seeds, later ones do nothing. The runtime
// package's entry calls it when the package is loaded; a program that links the static
// libraries gets the call from a static object in orqLockMgrUnit.cpp.
void StartLockMgrUnit();

// ---------------------------------------------------------------------------------------------
// TDBUserMonitor

// The lock file and this connection's user slot.
//
// States: closed (no handle, no slot, no connection byte) -> Open -> open (lock file handle
// open, a slot holding this computer and user, normally one connection byte of that slot held)
// -> Close -> closed. The lock file exists from the first Open until the Close that finds no
// live slot and no other handle on the file.
//
// Invariants: slots change only under the slot mutex; the lock file is created and deleted only
// under the parent lock (when a database handle is given); a slot whose whole connection range
// can be locked belongs to no live connection and is freed by the next Open or Close of any
// connection (dead processes lose their byte locks).
class TDBUserMonitor : public TObject {
public:
    // DatabaseHandle: the database file, carrier of the parent lock; not owned, may be null
    // (then no parent lock is taken). LockFileName: the lock file's path.
    TDBUserMonitor(platform::File* DatabaseHandle, const std::string& LockFileName);
    // Close.
    ~TDBUserMonitor() override;
    TDBUserMonitor(const TDBUserMonitor&) = delete;
    TDBUserMonitor& operator=(const TDBUserMonitor&) = delete;

    // Joins the database: creates the lock file if needed, frees dead slots, takes this
    // computer and user's slot (the existing one, else the first free one, else a new one at
    // the end) and one byte of its connection range. Closes first when open. Raises 10249 when
    // the parent lock or slot mutex cannot be had, 9486 when all 1023 slots are live, and
    // assertion failures when the lock file cannot be created, opened or written; on failure
    // the monitor is closed.
    void Open(const std::string& UserName, const std::string& ComputerName);
    // Leaves the database: drops the connection byte, frees dead slots (this one too when no
    // other connection of the slot is live) and, when no live slot is left, deletes the lock
    // file unless another handle still has it open. Never raises: when the slot mutex or the
    // parent lock cannot be had, the slot is left for a later sweep and the file stays.
    void Close();

    // Clears List and adds the text of every slot in file order (free slots as ""). Slot mutex.
    void GetCurrentUsers(TStrings* List);
    // The number of slots with at least one live connection. Slot mutex.
    int32_t GetCurrentUserCount();
    // The number of live connections over all slots (this one included). Slot mutex.
    int32_t GetCurrentConnectionCount();
    // The live connections of the slot whose connection range starts at LockAddress: the
    // bytes of the 4096 that cannot be locked (this connection's own byte counts).
    int32_t CountConnectionsForUser(uint64_t LockAddress);
    // Frees every slot without a live connection; the number of live slots. Slot mutex.
    int32_t SweepLockFile();
    // Per slot "User <k>  :  <text> - connections <n>", then "Total Users <slots>". Slot mutex.
    void DebugDumpStatus(TStrings* List);
    // The custom text of error 10249 ("A lock could not be obtained on the lock file").
    void SetLockErrMsg(const std::string& Text) { FLockErrMsg = Text; }

    // The slot mutex and parent lock retry rule (CLockFileRetryCount / CLockFileRetryInterval).
    int32_t LockRetryCount() const { return FLockRetryCount; }
    void SetLockRetryCount(int32_t Value) { FLockRetryCount = Value; }
    int32_t LockRetryInterval() const { return FLockRetryInterval; }
    void SetLockRetryInterval(int32_t Value) { FLockRetryInterval = Value; }

    bool IsOpen() const { return FLockFile.IsOpen(); }
    const std::string& LockFileName() const { return FLockFileName; }
    // The slot text of this connection (the comma text of computer name, user name).
    const std::string& UserEntry() const { return FUserEntry; }
    // The lock-file address of the connection byte held; 0 when none.
    uint64_t ConnectionLockAddress() const { return FConnectionLockAddr; }
    // The lock file handle: the lock managers of this connection lock through it.
    platform::File* LockFileHandle() { return &FLockFile; }

private:
    void InternalSetLock();
    void InternalReleaseLock();
    void InternalSetParentLock();
    void InternalReleaseParentLock();
    // One attempt at Address, then LockRetryCount more after a pause each; true when held.
    bool LockWithRetries(platform::File& Handle, uint64_t Address);
    // Writes the 4096-byte header when the file is shorter (a new or half-made file).
    void CreateLockFile();
    // The full slots of the file (at most CLockFileMaxSlots), slot k at (k - 1) * 4096;
    // raises 8450 with the system's message when the file cannot be read.
    std::vector<char> ReadSlots();
    // The slot number (from 1) whose text equals the user entry ignoring case; 0 when none.
    uint32_t FindUserEntry(const std::vector<char>& Slots) const;
    // The first slot whose first byte is 0; 0 when none.
    uint32_t FindFirstEmptyUserSlot(const std::vector<char>& Slots) const;
    // Writes the user entry into slot SlotAddress / 4096.
    void AddUserEntry(uint64_t SlotAddress);
    // Writes the user entry as a new slot after the last full one; its address.
    uint64_t AppendUserEntry(uint32_t SlotCount);
    // Overwrites the slot at SlotAddress with zeros.
    void DeleteUserEntry(uint64_t SlotAddress);
    // Writes Text zero-padded to 4096 bytes at SlotAddress.
    void WriteUserEntry(uint64_t SlotAddress, const std::string& Text);
    // Frees the dead slots of Slots (as read by ReadSlots) in the file and in Slots; the
    // number of live slots. The caller holds the slot mutex. A slot that cannot be written
    // stays for a later sweep.
    int32_t InternalSweep(std::vector<char>& Slots);
    bool SlotRangeIsFree(uint64_t SlotAddress);

    std::string FUserEntry;
    std::string FLockFileName;
    platform::File FLockFile;
    uint64_t FConnectionLockAddr = 0;
    platform::File* FDatabaseHandle;
    std::string FLockErrMsg;
    int32_t FLockRetryCount = CLockFileRetryCount;
    int32_t FLockRetryInterval = CLockFileRetryInterval;
};

// ---------------------------------------------------------------------------------------------
// Lock items

// One byte-range lock held for an id: LckSize bytes from LckAddr, of type 1 (read) or 4 (write).
class TLockItem : public TCollectionItem {
public:
    explicit TLockItem(TCollection* ACollection);
    ~TLockItem() override;

    uint32_t LckSize() const { return FLckSize; }
    void SetLckSize(uint32_t Value) { FLckSize = Value; }
    int32_t LckType() const { return FLckType; }
    void SetLckType(int32_t Value) { FLckType = Value; }
    // The first lock-file address locked (64-bit: record locks reach beyond 4 GiB).
    uint64_t LckAddr() const { return FLckAddr; }
    void SetLckAddr(uint64_t Value) { FLckAddr = Value; }
    uint32_t RqID() const { return FRqID; }
    void SetRqID(uint32_t Value);

private:
    uint32_t FLckSize = 0;
    int32_t FLckType = 0;
    uint64_t FLckAddr = 0;
    uint32_t FRqID = 0;
};

// The locks a manager holds, in the order they were taken, with a per-id index so that lookups
// stay O(1) however many record locks a transaction collects.
class TLockCollection : public TCollection {
public:
    TLockCollection();
    ~TLockCollection() override;

    // Appends an item and returns it.
    TLockItem* AddLock(uint32_t RqID, uint64_t LckAddr, int32_t LckType, uint32_t LckSize);
    // The first item of RqID with that type; null when none.
    TLockItem* FindLockInRegion(uint32_t RqID, int32_t LckType) const;
    // The type of the first item of RqID; 0 when none.
    int32_t FindLockType(uint32_t RqID) const;
    // The items of RqID in the order they were taken (empty when none).
    std::vector<TLockItem*> ItemsOf(uint32_t RqID) const;
    TLockItem* LockItems(int Index) const { return static_cast<TLockItem*>(Items(Index)); }
    // "TLockCollection.DebugDumpStatus - start", "Locks present - <n>", one
    // "Lock <i>: Addr <a> Size <s> Type <t>" per item, "TLockCollection.DebugDumpStatus - end".
    void DebugDumpStatus(TStrings* List) const;

private:
    friend class TLockItem;
    void IndexItem(TLockItem* Item);
    void UnindexItem(TLockItem* Item);
    std::unordered_map<uint32_t, std::vector<TLockItem*>> FByID;
};

// ---------------------------------------------------------------------------------------------
// Lock managers

// How the waits for a manager's locks are ordered; every wait still ends under the retry rule.
//   lwrNone     first come when the bytes happen to be free (the plain byte-range locks).
//   lwrPending  for ids that readers share: a writer holds all intent bytes of the id while it
//               waits for its region (a fresh write lock or an upgrade), and every read-lock
//               attempt must hold one intent byte while it takes its read byte, so no new reader
//               gets in while a writer waits; the readers already in finish and leave.
//   lwrTurns    for write-only ids: waiters take turns, in batches. A request that finds nobody
//               waiting is a senior (it holds one of intent bytes 0..31 while it waits) and
//               takes the lock whenever it finds it free. A request that finds anyone waiting
//               is a junior (bytes 32..63) and leaves the lock alone until no senior is left;
//               then it is a senior itself. So every waiter gets its turn before anyone gets a
//               second one, and the connection that just released the lock cannot take it
//               straight back while others wait, whatever their polling intervals.
enum TLockWaitRule { lwrNone, lwrPending, lwrTurns };

// Locks on ids: id N owns RegionSize bytes at BaseAddress + N * RegionSize of the lock file. A
// read lock holds Size bytes of the region at a random place, so that many readers can share an
// id; a write lock holds the whole region, so it excludes every reader and writer.
//
// Retry rule of every waiting operation: up to LockRetryCount attempts (at least one); after each
// failed attempt a beep when BeepOnLockRetry is set and a pause of LockRetryInterval ms (under a
// wait rule the lock is tried again eight times within each pause).
//
// Wait rule (SetWaitRule): the order in which waiting connections get a lock. Intent bytes are
// held only during a call, never between calls, so a connection that dies or gives up frees them.
//
// Per id the states are: none -> read (Size bytes) -> write (after an upgrade: the read item,
// retyped as write, and the write items around it) -> none; or none -> write -> none.
// QueryLockType always answers the strongest lock the id holds.
class TBaseLockMgr : public TObject {
public:
    // FileHandle: the lock file (not owned); a null or closed handle fails the assertion "File
    // handle is not set", a RegionSize <= 0 "Lock region size is 0". Ids whose region would
    // pass LockRangeEnd(BaseAddress, RegionSize) fail "Lock Request address is out of range".
    TBaseLockMgr(platform::File* FileHandle, uint64_t BaseAddress, int32_t RegionSize);
    // Releases every lock (never raises).
    ~TBaseLockMgr() override;
    TBaseLockMgr(const TBaseLockMgr&) = delete;
    TBaseLockMgr& operator=(const TBaseLockMgr&) = delete;

    // A read lock of Size bytes (0 counts as 1) on RqID; true at once when the id holds any
    // lock. Each attempt tries several random places before it pauses. Raises 8449 for an
    // invalid handle, 10249 with the read failure text when every attempt fails.
    bool SetReadLock(uint32_t RqID, uint32_t Size);
    // A write lock on RqID (Size 0 = the whole region); returns 4. Held write lock: 4 at once;
    // held read lock: upgraded. Raises 8450 for an invalid handle, 10249 with the write failure
    // text when it cannot be had.
    uint16_t SetWriteLock(uint32_t RqID, uint32_t Size);
    // Turns the id's read lock into a write lock (under lwrPending first taking every intent
    // byte of the id, so no new reader gets in meanwhile); 10249 with the write failure text on
    // failure (the read lock then stays as it was).
    void UpgradeReadLockToWriteLock(uint32_t RqID, uint32_t Size);
    // Every read lock held becomes a write lock, in the order taken; a failure raises 10249
    // and keeps the upgrades made so far.
    void UpgradeReadLocks();
    // Unlocks and forgets every item of RqID, last first; always true.
    bool ReleaseLock(uint32_t RqID);
    // Unlocks and forgets every item, last first.
    void ReleaseAllLocks();

    // The type the id holds: 4 write (also after an upgrade), 1 read, 0 none.
    int32_t QueryLockType(uint32_t RqID) const { return FLocks.FindLockType(RqID); }
    // True when the id holds an item of that type.
    bool LockExists(uint32_t RqID, int32_t LckType) const { return FLocks.FindLockInRegion(RqID, LckType) != nullptr; }
    int32_t GetLockCount() const { return FLocks.Count(); }
    // The start of the id's region: BaseAddress + RqID (RegionSize below 2) or
    // BaseAddress + RqID * RegionSize, in 64 bits.
    uint64_t GetCalculatedLockAddr(uint32_t RqID) const;

    bool BeepOnLockRetry() const { return FBeepOnLockRetry; }
    void SetBeepOnLockRetry(bool Value) { FBeepOnLockRetry = Value; }
    int32_t LockRetryCount() const { return FLockRetryCount; }
    void SetLockRetryCount(int32_t Value) { FLockRetryCount = Value; }
    int32_t LockRetryInterval() const { return FLockRetryInterval; }
    void SetLockRetryInterval(int32_t Value) { FLockRetryInterval = Value; }
    void SetReadLockErrMsg(const std::string& Text) { FReadLockErrMsg = Text; }
    void SetWriteLockErrMsg(const std::string& Text) { FWriteLockErrMsg = Text; }
    // Orders the waits by Rule with the intent bytes of id N at IntentBase + N * CLockIntentSize
    // (lwrNone: no intent bytes). Set before the first lock is taken.
    void SetWaitRule(TLockWaitRule Rule, uint64_t IntentBase);
    TLockWaitRule WaitRule() const { return FWaitRule; }
    // The first of the id's CLockIntentSize intent bytes.
    uint64_t IntentAddress(uint32_t RqID) const { return FIntentBase + uint64_t(RqID) * CLockIntentSize; }

    uint64_t BaseAddress() const { return FBaseAddress; }
    int32_t RegionSize() const { return FRegionSize; }
    const TLockCollection& Locks() const { return FLocks; }

    // "TBaseLockMgr.DebugDumpStatus", "Hnd - <lock file path>", then the collection's dump.
    void DebugDumpStatus(TStrings* List) const;

protected:
    // Removes a byte-range lock; the base answers false.
    virtual bool InternalReleaseFileLock(uint64_t Address, uint32_t Size);
    // Takes a byte-range lock, one attempt; the base answers false.
    virtual bool InternalLockFile(uint64_t Address, uint32_t Size, uint8_t LockType);
    // Locks the rest of the id's region around its read item; the base answers false.
    virtual bool InternalUpgradeReadLock(uint32_t RqID, uint32_t Size);

    // Runs Attempt under the retry rule; true as soon as one attempt succeeds.
    template <class F>
    bool WithRetries(F&& Attempt);
    // The id's region start, checked to lie wholly inside this manager's range.
    uint64_t RegionStart(uint32_t RqID) const;
    bool HandleValid() const { return FFileHandle && FFileHandle->IsOpen(); }
    // ReleaseAllLocks for destructors: never raises, always empties the collection. Each
    // descendant that unlocks calls it in its own destructor, where its overrides still apply.
    void ReleaseAllLocksQuietly() noexcept;

    platform::File* FFileHandle;
    TLockCollection FLocks;

private:
    // The tries per retry interval under a wait rule.
    static constexpr int32_t CWaitSlices = 8;
    // After a failed attempt: the beep when set, and the pause (under a wait rule the rest of the
    // interval after its slices).
    void RetryPause();
    // One slice of the interval.
    void SlicePause();
    // A write lock of Size bytes at Start under the retry rule and the wait rule.
    bool WaitForWriteLock(uint32_t RqID, uint64_t Start, uint32_t Size);
    // One attempt at intent bytes From .. From + Count - 1 of the id: all of them, or with One a
    // single one at a random place (a few places tried); Address := the first byte locked.
    bool LockIntent(uint32_t RqID, uint32_t From, uint32_t Count, bool One, uint64_t& Address);
    // True when another connection holds one of the id's intent bytes From .. From + Count - 1.
    bool IntentHeld(uint32_t RqID, uint32_t From, uint32_t Count);

    class TIntentHold;

    int32_t FRegionSize;
    bool FBeepOnLockRetry = false;
    int32_t FLockRetryCount = 10;
    int32_t FLockRetryInterval = 200;
    uint64_t FBaseAddress;
    uint64_t FRangeEnd;
    std::string FWriteLockErrMsg;
    std::string FReadLockErrMsg;
    TLockWaitRule FWaitRule = lwrNone;
    uint64_t FIntentBase = 0;
};

template <class F>
bool TBaseLockMgr::WithRetries(F&& Attempt) {
    const int32_t attempts = FLockRetryCount < 1 ? 1 : FLockRetryCount;
    // Under a wait rule each pause is cut into slices with a try after each: the same attempts
    // and time, but a lock given back is seen sooner, so a fair hand-over does not leave it idle
    // for most of an interval.
    const int32_t slices = FWaitRule == lwrNone ? 1 : CWaitSlices;
    for (int32_t i = 0; i < attempts; ++i) {
        for (int32_t slice = 1; slice < slices; ++slice) {
            if (Attempt()) return true;
            SlicePause();
        }
        if (Attempt()) return true;
        RetryPause();
    }
    return false;
}

// The lock manager on the platform's byte-range locks.
class TWinLockMgr : public TBaseLockMgr {
public:
    using TBaseLockMgr::TBaseLockMgr;
    // Releases every lock (never raises).
    ~TWinLockMgr() override;

protected:
    // The handle's unlock; raises 8450 "File handle is invalid" for an invalid handle.
    bool InternalReleaseFileLock(uint64_t Address, uint32_t Size) override;
    // The handle's lock of Size bytes at Address; the lock type does not change how.
    bool InternalLockFile(uint64_t Address, uint32_t Size, uint8_t LockType) override;
    // Locks [region start, read item) and (read item, region end) under the retry rule; on
    // failure undoes the first part and answers false.
    bool InternalUpgradeReadLock(uint32_t RqID, uint32_t Size) override;
};

// A new lock manager on LockFileHandle with BaseAddress and RegionSize. DatabaseHandle and
// IsTransactionLock are not used.
std::unique_ptr<TBaseLockMgr> GetLockManager(platform::File* DatabaseHandle, platform::File* LockFileHandle,
                                             uint64_t BaseAddress, int32_t RegionSize, bool IsTransactionLock);

}  // namespace ostra
