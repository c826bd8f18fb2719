// orqLockMgrUnit, user monitor: the lock file's name, its creation and deletion, and the user
// slots with their connection bytes (TDBUserMonitor, declared in orqLockMgrUnit.h).
//
// Protocol between connections (every step by byte-range locks, so a dead process drops out):
//   open:   parent lock -> open or create the file -> write the header when short -> parent
//           unlock -> slot mutex -> free dead slots -> take a slot and a connection byte ->
//           slot mutex released.
//   close:  connection byte unlocked -> slot mutex -> free dead slots -> none live: parent lock
//           -> slot mutex released -> delete the file unless another handle has it open ->
//           parent unlock.
// The parent lock is never requested while the slot mutex is held by an opener, and an opener
// never requests the slot mutex while it holds the parent lock, so the two cannot deadlock.
// Deleting through File::CloseAndDeleteIfUnused means a file that any connection (or opener)
// has open is never removed.
#include <algorithm>
#include <cstring>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqLockMgrUnit.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "platform/Clock.h"
#include "platform/LastError.h"

namespace ostra {
namespace {

constexpr char CLockFileTooLarge[] = "The lock file has grown too large";
constexpr char CLockFileNotCreated[] = "Lock File could not be created:";
constexpr char CLockFileIncomplete[] = "Unable to complete lock file creation";
constexpr char CLockFileNotOpened[] = "The lock file could not be opened";
constexpr char CFileHandleNotSet[] = "File handle is not set";

// The position of the file name in Path: just after the last "/".
size_t FileNameStart(const std::string& Path) {
    size_t slash = Path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The extension of Path's file name, from its last dot; "" when it has none.
size_t ExtensionStart(const std::string& Path) {
    size_t dot = Path.rfind('.');
    return dot == std::string::npos || dot < FileNameStart(Path) ? Path.size() : dot;
}

// The text of a slot: its bytes up to the first zero.
std::string SlotText(const char* Slot) { return std::string(Slot, strnlen(Slot, CLockSlotSize)); }

}  // namespace

std::string GetLockFileName(const std::string& DatabaseFileName) {
    std::string base;
    if (LowerCase(DatabaseFileName).find(".orq") != std::string::npos) {
        base = DatabaseFileName;
    } else {
        size_t nameStart = FileNameStart(DatabaseFileName);
        std::string name = DatabaseFileName.substr(nameStart);
        std::replace(name.begin(), name.end(), '.', '_');
        // The folder part keeps its own separator; a bare name stays in the current folder.
        base = DatabaseFileName.substr(0, nameStart) + name + DatabaseFileName.substr(ExtensionStart(DatabaseFileName));
    }
    return base.substr(0, ExtensionStart(base)) + ".lck";
}

// ---------------------------------------------------------------------------------------------
// Life cycle

TDBUserMonitor::TDBUserMonitor(platform::File* DatabaseHandle, const std::string& LockFileName)
    : FLockFileName(LockFileName), FDatabaseHandle(DatabaseHandle), FLockErrMsg(SorqLckFileLockErr) {}

TDBUserMonitor::~TDBUserMonitor() { Close(); }

void TDBUserMonitor::Open(const std::string& UserName, const std::string& ComputerName) {
    if (IsOpen()) Close();
    FConnectionLockAddr = 0;
    {
        TStringList entry;
        entry.Add(ComputerName);
        entry.Add(UserName);
        FUserEntry = entry.CommaText();
        // A slot keeps its terminating zero.
        if (FUserEntry.size() >= CLockSlotSize) FUserEntry.resize(CLockSlotSize - 1);
    }

    // Create or open the file under the parent lock, so that no last connection deletes it
    // between this open and the header write.
    InternalSetParentLock();
    try {
        bool existed = platform::FileExists(FLockFileName);
        if (!FLockFile.Open(FLockFileName, platform::FileAccess::ReadWrite, platform::FileShare::DenyNone,
                            platform::FileCreate::OpenAlways))
            Assert(false, existed ? std::string(CLockFileNotOpened) : CLockFileNotCreated + FLockFileName);
        CreateLockFile();
    } catch (...) {
        if (FLockFile.IsOpen()) FLockFile.CloseAndDeleteIfUnused();
        InternalReleaseParentLock();
        throw;
    }
    InternalReleaseParentLock();

    try {
        InternalSetLock();
        try {
            std::vector<char> slots = ReadSlots();
            InternalSweep(slots);
            auto count = static_cast<uint32_t>(slots.size() / CLockSlotSize);
            // This computer and user's slot, else the first free one, else a new one.
            uint64_t slotAddress = 0;
            if (uint32_t slot = FindUserEntry(slots); slot != 0) {
                slotAddress = uint64_t(slot) * CLockSlotSize;
            } else if (slot = FindFirstEmptyUserSlot(slots); slot != 0) {
                slotAddress = uint64_t(slot) * CLockSlotSize;
                AddUserEntry(slotAddress);
            } else if (count < CLockFileMaxSlots) {
                slotAddress = AppendUserEntry(count);
            } else {
                OrqDatabaseError(9486, "TDBUserMonitor.Open", CLockFileTooLarge, this);
            }
            uint64_t lockAddress = CLockConnectionBase + slotAddress;
            for (uint64_t i = 0; i < CLockSlotSize; ++i) {
                if (FLockFile.Lock(lockAddress + i, 1)) {
                    FConnectionLockAddr = lockAddress + i;
                    break;
                }
            }
        } catch (...) {
            InternalReleaseLock();
            throw;
        }
        InternalReleaseLock();
    } catch (...) {
        // Unused by anybody else, the file goes; otherwise it stays for the others.
        FConnectionLockAddr = 0;
        FLockFile.CloseAndDeleteIfUnused();
        throw;
    }
}

void TDBUserMonitor::Close() {
    if (!IsOpen()) {
        FConnectionLockAddr = 0;
        return;
    }
    if (FConnectionLockAddr != 0) FLockFile.Unlock(FConnectionLockAddr, 1);
    FConnectionLockAddr = 0;

    bool deleteFile = false;
    bool parentHeld = false;
    try {
        if (LockWithRetries(FLockFile, CLockSlotMutexAddr)) {
            int32_t live = -1;
            try {
                std::vector<char> slots = ReadSlots();
                live = InternalSweep(slots);
            } catch (...) {
                // Unreadable slots count as live: the file stays.
            }
            if (live == 0) {
                bool hasParent = FDatabaseHandle && FDatabaseHandle->IsOpen();
                parentHeld = hasParent && LockWithRetries(*FDatabaseHandle, CParentLockAddr);
                deleteFile = parentHeld || !hasParent;
            }
            InternalReleaseLock();
        }
    } catch (...) {
        // Close never fails: whatever was not cleaned up here, the next sweep cleans up.
    }
    if (deleteFile)
        FLockFile.CloseAndDeleteIfUnused();
    else
        FLockFile.Close();
    if (parentHeld) FDatabaseHandle->Unlock(CParentLockAddr, 1);
}

// ---------------------------------------------------------------------------------------------
// Queries

void TDBUserMonitor::GetCurrentUsers(TStrings* List) {
    List->Clear();
    InternalSetLock();
    std::vector<char> slots;
    try {
        slots = ReadSlots();
    } catch (...) {
        InternalReleaseLock();
        throw;
    }
    InternalReleaseLock();
    for (size_t at = 0; at < slots.size(); at += CLockSlotSize) List->Add(SlotText(&slots[at]));
}

int32_t TDBUserMonitor::GetCurrentUserCount() {
    InternalSetLock();
    int32_t users = 0;
    try {
        auto count = static_cast<uint32_t>(ReadSlots().size() / CLockSlotSize);
        for (uint32_t k = 1; k <= count; ++k)
            if (!SlotRangeIsFree(uint64_t(k) * CLockSlotSize)) ++users;
    } catch (...) {
        InternalReleaseLock();
        throw;
    }
    InternalReleaseLock();
    return users;
}

int32_t TDBUserMonitor::GetCurrentConnectionCount() {
    InternalSetLock();
    int32_t connections = 0;
    try {
        auto count = static_cast<uint32_t>(ReadSlots().size() / CLockSlotSize);
        for (uint32_t k = 1; k <= count; ++k)
            connections += CountConnectionsForUser(CLockConnectionBase + uint64_t(k) * CLockSlotSize);
    } catch (...) {
        InternalReleaseLock();
        throw;
    }
    InternalReleaseLock();
    return connections;
}

int32_t TDBUserMonitor::CountConnectionsForUser(uint64_t LockAddress) {
    Assert(IsOpen(), CFileHandleNotSet);
    // A range nobody holds any byte of has no connection: one lock answers for all 4096.
    if (FLockFile.Lock(LockAddress, CLockSlotSize)) {
        FLockFile.Unlock(LockAddress, CLockSlotSize);
        return 0;
    }
    int32_t live = 0;
    for (uint64_t i = 0; i < CLockSlotSize; ++i) {
        if (FLockFile.Lock(LockAddress + i, 1))
            FLockFile.Unlock(LockAddress + i, 1);
        else
            ++live;
    }
    return live;
}

int32_t TDBUserMonitor::SweepLockFile() {
    InternalSetLock();
    int32_t live;
    try {
        std::vector<char> slots = ReadSlots();
        live = InternalSweep(slots);
    } catch (...) {
        InternalReleaseLock();
        throw;
    }
    InternalReleaseLock();
    return live;
}

void TDBUserMonitor::DebugDumpStatus(TStrings* List) {
    InternalSetLock();
    try {
        std::vector<char> slots = ReadSlots();
        auto count = static_cast<uint32_t>(slots.size() / CLockSlotSize);
        for (uint32_t k = 1; k <= count; ++k) {
            int32_t connections = CountConnectionsForUser(CLockConnectionBase + uint64_t(k) * CLockSlotSize);
            List->Add("User " + IntToStr(k) + "  :  " + SlotText(&slots[(k - 1) * CLockSlotSize]) +
                      " - connections " + IntToStr(connections));
        }
        List->Add("Total Users " + IntToStr(count));
    } catch (...) {
        InternalReleaseLock();
        throw;
    }
    InternalReleaseLock();
}

// ---------------------------------------------------------------------------------------------
// Locks

bool TDBUserMonitor::LockWithRetries(platform::File& Handle, uint64_t Address) {
    if (Handle.Lock(Address, 1)) return true;
    for (int32_t i = 0; i < FLockRetryCount; ++i) {
        platform::Sleep(FLockRetryInterval > 0 ? static_cast<uint32_t>(FLockRetryInterval) : 0);
        if (Handle.Lock(Address, 1)) return true;
    }
    return false;
}

void TDBUserMonitor::InternalSetLock() {
    Assert(IsOpen(), CFileHandleNotSet);
    if (!LockWithRetries(FLockFile, CLockSlotMutexAddr))
        OrqDatabaseError(10249, "TDBUserMonitor.InternalSetLock", FLockErrMsg, this);
}

void TDBUserMonitor::InternalReleaseLock() { FLockFile.Unlock(CLockSlotMutexAddr, 1); }

void TDBUserMonitor::InternalSetParentLock() {
    if (!FDatabaseHandle || !FDatabaseHandle->IsOpen()) return;
    if (!LockWithRetries(*FDatabaseHandle, CParentLockAddr))
        OrqDatabaseError(10249, "TDBUserMonitor.InternalSetParentLock", FLockErrMsg, this);
}

void TDBUserMonitor::InternalReleaseParentLock() {
    if (FDatabaseHandle && FDatabaseHandle->IsOpen()) FDatabaseHandle->Unlock(CParentLockAddr, 1);
}

bool TDBUserMonitor::SlotRangeIsFree(uint64_t SlotAddress) {
    uint64_t range = CLockConnectionBase + SlotAddress;
    if (!FLockFile.Lock(range, CLockSlotSize)) return false;
    FLockFile.Unlock(range, CLockSlotSize);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Slots

void TDBUserMonitor::CreateLockFile() {
    int64_t size = FLockFile.Size();
    if (size >= CLockSlotSize) return;
    std::vector<char> header(CLockSlotSize, 0);
    if (FLockFile.Write(0, header.data(), CLockSlotSize) != CLockSlotSize) Assert(false, CLockFileIncomplete);
}

std::vector<char> TDBUserMonitor::ReadSlots() {
    int64_t size = FLockFile.Size();
    if (size < 0) OrqDatabaseError(8450, "TDBUserMonitor.ReadSlots", platform::SysErrorMessage(platform::GetLastError()), this);
    int64_t count = size >= 2 * int64_t(CLockSlotSize) ? size / CLockSlotSize - 1 : 0;
    count = std::min<int64_t>(count, CLockFileMaxSlots);
    std::vector<char> slots(static_cast<size_t>(count * CLockSlotSize));
    if (count == 0) return slots;
    int64_t read = FLockFile.Read(CLockSlotSize, slots.data(), static_cast<int64_t>(slots.size()));
    if (read < 0 || (read < static_cast<int64_t>(slots.size()) && platform::GetLastError() != platform::ErrorHandleEof))
        OrqDatabaseError(8450, "TDBUserMonitor.ReadSlots", platform::SysErrorMessage(platform::GetLastError()), this);
    slots.resize(static_cast<size_t>(read / CLockSlotSize * CLockSlotSize));
    return slots;
}

uint32_t TDBUserMonitor::FindUserEntry(const std::vector<char>& Slots) const {
    for (size_t at = 0; at < Slots.size(); at += CLockSlotSize)
        if (Slots[at] != 0 && CompareText(SlotText(&Slots[at]), FUserEntry) == 0)
            return static_cast<uint32_t>(at / CLockSlotSize + 1);
    return 0;
}

uint32_t TDBUserMonitor::FindFirstEmptyUserSlot(const std::vector<char>& Slots) const {
    for (size_t at = 0; at < Slots.size(); at += CLockSlotSize)
        if (Slots[at] == 0) return static_cast<uint32_t>(at / CLockSlotSize + 1);
    return 0;
}

void TDBUserMonitor::AddUserEntry(uint64_t SlotAddress) { WriteUserEntry(SlotAddress, FUserEntry); }

uint64_t TDBUserMonitor::AppendUserEntry(uint32_t SlotCount) {
    // After the last full slot, whatever a torn earlier append left beyond it.
    uint64_t address = uint64_t(SlotCount + 1) * CLockSlotSize;
    WriteUserEntry(address, FUserEntry);
    return address;
}

void TDBUserMonitor::DeleteUserEntry(uint64_t SlotAddress) { WriteUserEntry(SlotAddress, std::string()); }

void TDBUserMonitor::WriteUserEntry(uint64_t SlotAddress, const std::string& Text) {
    std::vector<char> slot(CLockSlotSize, 0);
    std::memcpy(slot.data(), Text.data(), std::min<size_t>(Text.size(), CLockSlotSize - 1));
    if (FLockFile.Write(static_cast<int64_t>(SlotAddress), slot.data(), CLockSlotSize) != CLockSlotSize)
        Assert(false, CLockFileIncomplete);
}

int32_t TDBUserMonitor::InternalSweep(std::vector<char>& Slots) {
    int32_t live = 0;
    for (size_t at = 0; at < Slots.size(); at += CLockSlotSize) {
        uint64_t slotAddress = uint64_t(at / CLockSlotSize + 1) * CLockSlotSize;
        if (!SlotRangeIsFree(slotAddress)) {
            ++live;
        } else if (Slots[at] != 0) {
            try {
                DeleteUserEntry(slotAddress);
                std::fill_n(Slots.begin() + static_cast<std::ptrdiff_t>(at), CLockSlotSize, 0);
            } catch (const EAssertionFailed&) {
                // The slot stays as it was; the next sweep frees it.
            }
        }
    }
    return live;
}

}  // namespace ostra
