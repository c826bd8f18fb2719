// orqNode: the page operations of TNode: reading and checking pages, entry insert, delete and
// replace, the in-page binary search, record counts, split, redistribution, merge, listing
// and the diagnostic dumps.
#include "engine/storage/orqNode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqBTree.h"
#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqHash.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

[[noreturn]] void NodeError(const char* Caller, const std::string& Text) {
    OrqDatabaseError(8581, Caller, Text, nullptr);
}

}  // namespace

void IndexCorrupt(const char* Caller, const std::string& Text) {
    OrqDatabaseError(8965, Caller, Text, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Checked pages

namespace {
constexpr std::size_t CCheckedPagesFirst = 64;       // slots of a new table
constexpr std::size_t CCheckedPagesLimit = 1 << 16;  // slots at most: 1 MiB
}  // namespace

std::size_t TCheckedPages::SlotOf(uint32_t Address) const {
    // Page addresses are multiples of the block size: a multiplicative hash spreads them. The
    // slot comes from the product's top bits, which every bit of the address moves; its low bits
    // keep the address's trailing zeros (a dozen for whole pages), which would leave most slots
    // unused as starts and make long probe runs.
    const int bits = std::countr_zero(FSlots.size());
    return std::size_t((Address * 0x9E3779B1u) >> (32 - bits));
}

bool TCheckedPages::Contains(uint32_t Address, uint64_t Stamp) const {
    if (Stamp == 0 || FSlots.empty()) return false;
    for (std::size_t i = SlotOf(Address);; i = (i + 1) & (FSlots.size() - 1)) {
        const TSlot& slot = FSlots[i];
        if (slot.Address == Address) return slot.Stamp == Stamp;
        if (slot.Address == 0) return false;
    }
}

void TCheckedPages::Add(uint32_t Address, uint64_t Stamp) {
    if (Stamp == 0 || Address == 0) return;
    if ((FUsed + 1) * 2 > FSlots.size()) {
        // Grow while below the limit; at the limit start again.
        std::vector<TSlot> old;
        old.swap(FSlots);
        FUsed = 0;
        FSlots.assign(old.empty() ? CCheckedPagesFirst : std::min(old.size() * 2, CCheckedPagesLimit), TSlot{});
        if (old.size() < CCheckedPagesLimit)
            for (const TSlot& slot : old)
                if (slot.Address != 0) Add(slot.Address, slot.Stamp);
    }
    for (std::size_t i = SlotOf(Address);; i = (i + 1) & (FSlots.size() - 1)) {
        TSlot& slot = FSlots[i];
        if (slot.Address == Address) {
            slot.Stamp = Stamp;
            return;
        }
        if (slot.Address == 0) {
            slot = {Address, Stamp};
            ++FUsed;
            return;
        }
    }
}

void TCheckedPages::Clear() {
    FSlots.clear();
    FUsed = 0;
}

// ---------------------------------------------------------------------------------------------
// Page life

void TNode::Open(TBTree* Tree, TBaseIOInterface* IOInterface, uint32_t PageSize) {
    Assert(Tree != nullptr, "Node tree not assigned");
    FTree = Tree;
    FIO = IOInterface;
    FPageSize = PageSize;
    FKeySize = Tree->MaximumKeySize();
    Assert(FKeySize >= 1, "MaxKeySize is 0");
    Assert(FPageSize > static_cast<uint32_t>(C_NODEHEADERSIZE + 2 * FKeySize),
           "Index page size is too small");
    FBuffer = std::make_unique<uint8_t[]>(FPageSize);  // zero-filled
    FPage = FBuffer.get();
    FViewedAddress = 0;
    FAddress = 0;
    FCursor = 0;
    Change(0, FPageSize);
    FZeroFrom = 0;
    FPositions.resize(FPageSize / static_cast<uint32_t>(FKeySize) + 1);
    for (size_t i = 0; i < FPositions.size(); ++i) FPositions[i] = static_cast<int>(i) * FKeySize;
}

void TNode::CheckOpen() const {
    if (!FBuffer) NodeError("TNode.CheckOpen", "Node Buffer not allocated");
}

void TNode::SetAddress(uint32_t Address) {
    CheckOpen();
    if (Viewing()) DropView();
    FViewedAddress = 0;
    if (Address == FAddress) return;
    ClearNode();
    FAddress = Address;
}

void TNode::ReadNode(uint32_t Address) {
    CheckOpen();
    if (Viewing()) DropView();
    FViewedAddress = 0;
    if (Address != FAddress) {
        FAddress = 0;
        ForgetSum();
        uint64_t stamp = 0;
        if (const uint8_t* view = FIO->ReadBlockView(Address, FPageSize, stamp)) {
            // Only the header and the entries are copied (a bad entry count: the whole page, for
            // the check to refuse); the rest of the buffer is zero, as the tree leaves it.
            const uint32_t used = Load32(view + C_NODEUSEDOFFSET);
            const uint32_t n = used <= FPageSize - C_NODEHEADERSIZE ? C_NODEHEADERSIZE + used : FPageSize;
            std::memcpy(FBuffer.get(), view, n);
            if (FZeroFrom > n) std::memset(FBuffer.get() + n, 0, FZeroFrom - n);
            FZeroFrom = n;
        } else {
            FIO->ReadBlockStamped(Address, FPageSize, FBuffer.get(), stamp);
            FZeroFrom = FPageSize;
        }
        if (!FTree->FCheckedPages.Contains(Address, stamp)) {
            ValidatePage(Address);
            FTree->FCheckedPages.Add(Address, stamp);
        }
        FAddress = Address;
        FStamp = stamp;
        Unchanged();
    }
    FCursor = 0;
}

bool TNode::ViewNode(uint32_t Address) {
    CheckOpen();
    if (Viewing()) DropView();
    uint64_t stamp = 0;
    const uint8_t* view = FIO->ReadBlockView(Address, FPageSize, stamp);
    // Only a page checked under this very content is read in place; any other is read (and
    // checked) with a copy.
    if (!view || stamp == 0 || !FTree->FCheckedPages.Contains(Address, stamp)) return false;
    FPage = view;
    FAddress = Address;
    FStamp = stamp;
    FViewedAddress = 0;
    FCursor = 0;
    ForgetSum();
    Unchanged();
    return true;
}

void TNode::EndView() {
    if (!Viewing()) return;
    FViewedAddress = FAddress;
    FViewedCursor = FCursor;
    FPage = FBuffer.get();
    FAddress = 0;
}

void TNode::DropView() {
    FPage = FBuffer.get();
    FAddress = 0;
    FViewedAddress = 0;
    ForgetSum();
}

bool TNode::ViewAgain() {
    if (FViewedAddress == 0 || Viewing()) return false;
    uint64_t stamp = 0;
    const uint8_t* view = FIO->ReadBlockView(FViewedAddress, FPageSize, stamp);
    if (!view || stamp == 0 || stamp != FStamp) return false;
    // The same content as viewed before: the remembered sum still holds.
    FPage = view;
    FAddress = FViewedAddress;
    FCursor = FViewedCursor;
    FViewedAddress = 0;
    return true;
}

bool TNode::HoldViewed() {
    const uint32_t address = FViewedAddress;
    const uint64_t stamp = FStamp;
    const int cursor = FViewedCursor;
    if (address == 0) return false;
    ReadNode(address);
    if (FStamp == 0 || FStamp != stamp) return false;
    FCursor = cursor;
    return true;
}

void TNode::ValidatePage(uint32_t Address) {
    const uint32_t used = Load32(FBuffer.get() + C_NODEUSEDOFFSET);
    auto fail = [&](const std::string& What) {
        std::memset(Change(0, FPageSize), 0, FPageSize);
        IndexCorrupt("TNode.ReadNode", Format("Index page %u: %s", {Address, What}));
    };
    if (used > FPageSize - C_NODEHEADERSIZE || used % static_cast<uint32_t>(FKeySize) != 0)
        fail(Format("entry bytes %u out of range", {used}));
    const auto& fields = FTree->FieldList();
    const int dataStart = C_KEYHEADERSIZE + FTree->KeyFields().DataOffset();
    for (int p = 0; p < static_cast<int>(used); p += FKeySize) {
        const uint8_t* entry = Data() + p;
        if (Load16(entry + C_KEYSIZEOFFSET) != FKeySize) fail(Format("invalid entry size at %d", {p}));
        int pos = dataStart;
        for (size_t i = 0; i < fields.size(); ++i) {
            if ((entry[C_KEYHEADERSIZE + i / 8] & (128u >> (i % 8))) == 0) continue;
            int len = fields[i]->FieldSize();
            if (IsStringKeyType(fields[i]->DataType())) {
                if (pos + 2 > FKeySize) fail(Format("invalid key value at %d", {p}));
                len = Load16(entry + pos);
                pos += 2;
            }
            if (len < 0 || pos + len > FKeySize) fail(Format("invalid key value at %d", {p}));
            pos += len;
        }
    }
}

void TNode::WriteNode() {
    CheckOpen();
    if (FAddress == 0) NodeError("TNode.WriteNode", "Node address is not set");
    if (!Changed()) return;
    // The bytes outside the changed range are what the storage holds: only the range is written.
    // The tree writes only pages it read and checked or built itself.
    uint64_t stamp = 0;
    FIO->WriteBlockPart(FAddress, FPageSize, FChangedFrom, FChangedTo - FChangedFrom, FBuffer.get(), stamp);
    FTree->FCheckedPages.Add(FAddress, stamp);
    FStamp = stamp;
    Unchanged();
}

uint8_t* TNode::Change(uint32_t From, uint32_t To) {
    // A viewed page is never changed in place: the tree holds (copies) a page before changing it.
    Assert(!Viewing(), "Node changed while viewed");
    FViewedAddress = 0;
    ForgetSum();
    FChangedFrom = std::min(FChangedFrom, From);
    FChangedTo = std::max(FChangedTo, To);
    FZeroFrom = std::max(FZeroFrom, To);
    return FBuffer.get() + From;
}

uint8_t* TNode::MutableData() {
    return Change(0, FPageSize) + C_NODEHEADERSIZE;
}

void TNode::ClearNode() {
    CheckOpen();
    const uint32_t type = NodeType();
    std::memset(Change(0, FPageSize), 0, FPageSize);
    Store32(FBuffer.get() + C_NODETYPEOFFSET, type);
    FZeroFrom = C_NODETYPEOFFSET + 4;
    FCursor = 0;
}

void TNode::CopyNode(const uint8_t* Buffer) {
    CheckOpen();
    std::memcpy(Change(0, FPageSize), Buffer, FPageSize);
    FCursor = 0;
}

// ---------------------------------------------------------------------------------------------
// Header

void TNode::SetLeaf(uint32_t Value) {
    Store32(Change(C_NODETYPEOFFSET, C_NODETYPEOFFSET + 4), Value & 127);
}

void TNode::SetNext(uint32_t Value) {
    Store32(Change(C_NODENEXTOFFSET, C_NODENEXTOFFSET + 4), Value);
}

void TNode::SetPrior(uint32_t Value) {
    Store32(Change(C_NODEPRIOROFFSET, C_NODEPRIOROFFSET + 4), Value);
}

void TNode::SetUsed(int Value) {
    Store32(Change(C_NODEUSEDOFFSET, C_NODEUSEDOFFSET + 4), static_cast<uint32_t>(Value));
}

bool TNode::CheckNodeFull() const {
    return static_cast<int64_t>(Used()) + C_NODEHEADERSIZE + FKeySize >= FPageSize;
}

bool TNode::CheckNodeTooEmpty() const {
    return static_cast<int64_t>(Used()) + C_NODEHEADERSIZE < (FPageSize >> 1);
}

bool TNode::RoomForKey(int Size) const {
    return static_cast<int64_t>(Used()) + Size + C_NODEHEADERSIZE <= FPageSize;
}

// ---------------------------------------------------------------------------------------------
// Positions

int TNode::FindKeyByPosition(TKeySearchType SearchType, int Pos) const {
    const int used = Used();
    if (Pos > used) return -1;
    int result = -1;
    switch (SearchType) {
        case ksLE:
            if (Pos == used)
                result = used;
            else if (Pos >= 0)
                result = Pos / FKeySize * FKeySize;
            break;
        case ksEQ:
            result = Pos >= 0 && Pos < used && Pos % FKeySize == 0 ? Pos : -1;
            break;
        case ksGE: {
            const int start = Pos <= 0 ? 0 : (Pos + FKeySize - 1) / FKeySize * FKeySize;
            result = start <= used ? start : -1;
            break;
        }
    }
    Assert(result >= -1 && result <= used, [&] { return "FIndKeyPos error: " + IntToStr(result); });
    return result;
}

void TNode::SetEntryAddress(int Pos, uint32_t Value) {
    Store32(ChangeEntries(Pos + C_KEYADDROFFSET, Pos + C_KEYADDROFFSET + 4), Value);
}

void TNode::SetEntryCount(int Pos, uint32_t Value) {
    Store32(ChangeEntries(Pos + C_KEYCOUNTOFFSET, Pos + C_KEYCOUNTOFFSET + 4), Value);
}

// ---------------------------------------------------------------------------------------------
// Cursor

void TNode::SetCursor(int Pos) {
    Assert(Pos >= 0 && Pos <= Used() && Pos % FKeySize == 0, "Node cursor out of range");
    FCursor = Pos;
}

const uint8_t* TNode::GetCurrentKey() const {
    Assert(FBuffer != nullptr, "Node buffers not assigned");
    if (FCursor >= Used()) NodeError("TNode.GetCurrentKey", "Node cursor out of range");
    return Data() + FCursor;
}

uint32_t TNode::GetRecordAddress() const {
    if (FCursor >= Used()) NodeError("TNode.GetRecordAddress", "Node cursor out of range");
    return EntryAddress(FCursor);
}

void TNode::CopyCurrentKey(uint8_t* KeyBuf) const {
    if (FCursor >= Used()) NodeError("TNode.CopyCurrentKey", "Cursor is out of range");
    std::memcpy(KeyBuf, Data() + FCursor, FKeySize);
}

void TNode::SetCursorToEnd(bool ToStart) {
    FCursor = ToStart || Used() == 0 ? 0 : Used() - FKeySize;
}

bool TNode::NextRecord() {
    if (FCursor < Used() && FCursor + FKeySize < Used()) {
        FCursor += FKeySize;
        return true;
    }
    return false;
}

bool TNode::PriorRecord() {
    if (FCursor > 0) {
        FCursor -= FKeySize;
        return true;
    }
    return false;
}

void TNode::ForceCursorToPhysicalKey() {
    if (Used() == 0) NodeError("TNode.ForceCursorToPhysicalKey", "Node is empty");
    if (FCursor >= Used()) FCursor = Used() - FKeySize;
}

// ---------------------------------------------------------------------------------------------
// Entries

void TNode::MoveBlock(int StartPos, int Delta, bool Up) {
    if (Delta == 0) return;
    const int used = Used();
    if (StartPos < 0 || StartPos > used || Delta < 0)
        NodeError("TNode.MoveBlock", "Move block error - Start Pos - Delta are out of range");
    const int length = used - StartPos;
    if (Up) {
        if (static_cast<int64_t>(used) + Delta + C_NODEHEADERSIZE > FPageSize)
            NodeError("TNode.MoveBlock", "Node is overfull");
        std::memmove(ChangeEntries(StartPos + Delta, used + Delta), Data() + StartPos, length);
    } else {
        if (Delta > StartPos)
            NodeError("TNode.MoveBlock", "Move block error - Start Pos - Delta are out of range");
        std::memmove(ChangeEntries(StartPos - Delta, used - Delta), Data() + StartPos, length);
    }
}

void TNode::InsertKey(int Pos, const uint8_t* Entry) {
    if (!RoomForKey(FKeySize)) NodeError("TNode.InsertKey", "Node is overfull");
    if (FindKeyByPosition(ksGE, Pos) != Pos)
        NodeError("TNode.InsertKey", "ReadPos is out of range: " + IntToStr(Pos));
    MoveBlock(Pos, FKeySize, true);
    std::memcpy(ChangeEntries(Pos, Pos + FKeySize), Entry, FKeySize);
    SetUsed(Used() + FKeySize);
}

void TNode::DeleteKey(int Pos) {
    const int used = Used();
    if (Pos < 0 || Pos >= used) NodeError("TNode.DeleteKey", "ReadPos is out of range: " + IntToStr(Pos));
    const int size = Load16(Data() + Pos + C_KEYSIZEOFFSET);
    if (size == 0 || size > FKeySize || Pos + size > used)
        NodeError("TNode.DeleteKey", "Invalid key size in Delete key: " + IntToStr(size));
    MoveBlock(Pos + size, size, false);
    SetUsed(used - size);
    std::memset(ChangeEntries(used - size, used), 0, size);
}

int TNode::UpdateKey(int Pos, const uint8_t* Entry) {
    const int used = Used();
    if (Pos < 0 || Pos >= used) NodeError("TNode.UpdateKey", "ReadPos is out of range: " + IntToStr(Pos));
    const int delta = FKeySize - Load16(Data() + Pos + C_KEYSIZEOFFSET);
    Assert(delta < used, [&] { return Format("Hdr %d Delta %d", {used, delta}); });
    std::memcpy(ChangeEntries(Pos, Pos + FKeySize), Entry, FKeySize);
    return delta;
}

void TNode::ReadKey(int Pos, uint8_t* KeyBuf) const {
    if (Pos < 0 || Pos >= Used()) NodeError("TNode.ReadKey", "ReadPos is out of range: " + IntToStr(Pos));
    std::memcpy(KeyBuf, Data() + Pos, FKeySize);
}

// ---------------------------------------------------------------------------------------------
// Search

namespace {

// The partition point of Count sorted entries of Size bytes from Data: the first entry that
// Compare puts the key before (strict), or before or at when StopAtEqual.
template <class TCompare>
int PartitionEntries(const uint8_t* Data, int Size, int Count, bool StopAtEqual, const TCompare& Compare) {
    int lo = 0;
    int hi = Count;
    while (lo < hi) {
        const int mid = (lo + hi) >> 1;
        const int r = Compare(Data + mid * Size);
        if (r < 0 || (r == 0 && StopAtEqual))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// Key against Entry: the first field of type T compared in place (its value in the key is
// KeyValue, in an entry at data offset Offset when not null); that field decides most
// comparisons of a binary search, so the whole key is compared only on a tie or a null. Entries
// of a held or viewed page were checked when the page was read, so the value lies inside them.
template <class T>
int CompareOnFirstField(const TBTree& Tree, const TOptimizedSearchKey& Key, T KeyValue, int FieldCount,
                        const uint8_t* Entry, int Offset, bool Descending) {
    if ((Entry[C_KEYHEADERSIZE] & 128u) != 0) {
        T value;
        std::memcpy(&value, Entry + Offset, sizeof value);
        // Unordered doubles (a NaN) fall through to the whole comparison and its NaN rule.
        const int r = KeyValue < value ? -1 : value < KeyValue ? 1 : 0;
        if (r != 0) return Descending ? -r : r;
    }
    return Tree.CompareDecodedKey(Key, FieldCount, Entry);
}

// Body's result for the comparison of Key against one entry that a search of Tree may use (a
// callable on the entry): the first field in place (FirstFieldInPlace) for its fixed-size
// types, else the whole key.
template <class TBody>
int WithEntryComparison(const TBTree& Tree, const TOptimizedSearchKey& Key, int FieldCount, const TBody& Body) {
    int offset = 0;
    TFieldType type = ftUnknown;
    bool descending = false;
    auto onFirst = [&](auto Sample) {
        decltype(Sample) key;
        std::memcpy(&key, Key.GetValue(0), sizeof key);
        return Body([&, key](const uint8_t* Entry) {
            return CompareOnFirstField(Tree, Key, key, FieldCount, Entry, offset, descending);
        });
    };
    switch (Tree.FirstFieldInPlace(Key, offset, type, descending) ? type : ftUnknown) {
        case ftInteger:
        case ftAutoInc:
            return onFirst(int32_t());
        case ftSmallint:
            return onFirst(int16_t());
        case ftWord:
            return onFirst(uint16_t());
        case ftBCD:
            return onFirst(int64_t());
        case ftFloat:
        case ftCurrency:
        case ftDate:
        case ftTime:
        case ftDateTime:
            return onFirst(double());
        default:
            return Body([&](const uint8_t* Entry) { return Tree.CompareDecodedKey(Key, FieldCount, Entry); });
    }
}

}  // namespace

int TNode::CompareEntry(const TOptimizedSearchKey& Key, int FieldCount, int Pos) const {
    const uint8_t* entry = Data() + Pos;
    return WithEntryComparison(*FTree, Key, FieldCount, [&](const auto& Compare) { return Compare(entry); });
}

int TNode::SearchNode(const TOptimizedSearchKey& Key, int FieldCount, TSearchBound Bound, int& InsPos) {
    InsPos = 0;
    Assert(FKeySize >= 1, "MaxKeySize is 0");
    const int count = GetCount();
    if (count == 0) {
        FCursor = 0;
        return 1;
    }
    const bool leaf = CheckIsLeaf();
    // The partition point: the first entry the key sorts before (strict), or before or at.
    // Leaves look for the first entry not below the key (sbUpper: above it); internal pages
    // for the first entry above the key (sbLower: not below it) and descend into the one
    // before it.
    const bool stopAtEqual = leaf ? Bound != sbUpper : Bound == sbLower;
    const uint8_t* data = Data();
    const int lo = WithEntryComparison(*FTree, Key, FieldCount, [&](const auto& Compare) {
        return PartitionEntries(data, FKeySize, count, stopAtEqual, Compare);
    });
    int r;
    if (leaf) {
        InsPos = FPositions[lo];
        r = lo < count ? FTree->CompareDecodedKey(Key, FieldCount, data + InsPos) : 1;
    } else {
        const int child = lo > 0 ? lo - 1 : 0;
        InsPos = FPositions[child];
        r = FTree->CompareDecodedKey(Key, FieldCount, data + InsPos);
    }
    FCursor = InsPos;
    return r;
}

uint32_t TNode::SearchNodeByRecNo(int64_t RecNo, int64_t& Before) const {
    Before = 0;
    const int count = GetCount();
    if (count == 0) return 0;
    if (RecNo <= 1) return EntryAddress(0);
    const bool leaf = CheckIsLeaf();
    int64_t sum = 0;
    for (int i = 0; i < count; ++i) {
        const int64_t c = leaf ? 1 : EntryCount(FPositions[i]);
        if (sum + c >= RecNo || i == count - 1) {
            Before = sum;
            return EntryAddress(FPositions[i]);
        }
        sum += c;
    }
    return 0;
}

namespace {

// The sum of the count fields of the entries at data offsets [From, To).
int64_t SumCounts(const uint8_t* Data, int From, int To, int KeySize) {
    int64_t sum = 0;
    for (const uint8_t* p = Data + From + C_KEYCOUNTOFFSET; From < To; From += KeySize, p += KeySize) sum += Load32(p);
    return sum;
}

}  // namespace

int TNode::GetRecordCount(int Pos) const {
    const int used = Used();
    const int last = Pos < 0 || Pos >= used ? used - FKeySize : Pos;
    if (CheckIsLeaf()) return last < 0 ? 0 : last / FKeySize + 1;
    const int64_t sum = last < 0 ? 0 : SumCounts(Data(), 0, last + FKeySize, FKeySize);
    if (sum > INT32_MAX)
        IndexCorrupt("TNode.GetRecordCount", Format("Index page %u: record count out of range", {FAddress}));
    return static_cast<int>(sum);
}

int64_t TNode::RecordsBefore(int Pos, int64_t Total) const {
    if (Pos == FSumPos) return FSumValue;
    const int used = Used();
    const int end = std::clamp(Pos, 0, used) / FKeySize * FKeySize;
    int64_t sum;
    if (CheckIsLeaf()) {
        sum = end / FKeySize;
    } else {
        sum = -1;
        if (const int64_t* prefix = FTree->CountPrefix(*this)) {
            sum = prefix[end / FKeySize];
        } else if (Total >= 0 && end > used / 2) {
            // Fewer entries after the position: the total less those (a parent count that does
            // not match its page falls back to the plain sum).
            sum = Total - SumCounts(Data(), end, used, FKeySize);
            if (sum > Total) sum = -1;
        }
        if (sum < 0) sum = SumCounts(Data(), 0, end, FKeySize);
        if (sum > INT32_MAX)
            IndexCorrupt("TNode.GetRecordCount", Format("Index page %u: record count out of range", {FAddress}));
    }
    FSumPos = Pos;
    FSumValue = sum;
    return sum;
}

void TNode::NoteRecordsBefore() const {
    if (!CheckIsLeaf() && FTree->CountPrefix(*this)) RecordsBefore(FCursor, -1);
}

// ---------------------------------------------------------------------------------------------
// Rebalancing

void TNode::SplitNode(TNode& NewPage, uint32_t NewAddress, bool LastOnly) {
    const int used = Used();
    if (used == 0) NodeError("TNode.SplitNode", "Node is empty");
    if (static_cast<int64_t>(used) + C_NODEHEADERSIZE > FPageSize)
        NodeError("TNode.SplitNode", "Node is overfull");
    const int s = LastOnly ? used - FKeySize : FindKeyByPosition(ksLE, used / 2);
    if (s <= 0) NodeError("TNode.SplitNode", "Cursor is out of range");

    std::memset(NewPage.Change(0, FPageSize), 0, FPageSize);
    std::memcpy(NewPage.ChangeEntries(0, used - s), Data() + s, used - s);
    std::memcpy(NewPage.Change(0, C_NODEHEADERSIZE), FPage, C_NODEHEADERSIZE);
    NewPage.SetUsed(used - s);
    SetUsed(s);
    std::memset(ChangeEntries(s, FPageSize - C_NODEHEADERSIZE), 0, FPageSize - C_NODEHEADERSIZE - s);

    if (CheckIsLeaf()) {
        const uint32_t oldNext = GetNext();
        NewPage.SetNext(oldNext);
        NewPage.SetPrior(FAddress);
        if (oldNext != 0) FTree->SetLeafLink(oldNext, C_NODEPRIOROFFSET, NewAddress);
        SetNext(NewAddress);
    }
    if (FTree->DebugStrings() && (GetNext() == FAddress || GetPrior() == FAddress ||
                                  NewPage.GetNext() == NewAddress || NewPage.GetPrior() == NewAddress))
        FTree->DebugStrings()->Add("******ERROR in SPLIT NODE");
}

int TNode::GetRedistributeNode(int Pos) const {
    const int used = Used();
    if (CheckIsLeaf() || used == 0) return -1;
    const bool hasLeft = Pos > 0;
    const bool hasRight = Pos + FKeySize < used;
    if (hasLeft && hasRight)
        return EntryCount(Pos - FKeySize) < EntryCount(Pos + FKeySize) ? Pos - FKeySize : Pos + FKeySize;
    if (hasLeft) return Pos - FKeySize;
    if (hasRight) return Pos + FKeySize;
    return -1;
}

int TNode::RedistributeNodes(TNode& Right) {
    const int a = Used();
    const int b = Right.Used();
    if (static_cast<double>(FPageSize) / 3.0 >= static_cast<double>(a + b)) return -1;
    if (a == b) return 0;
    const int h = (a + b) >> 1;
    const int room = static_cast<int>(FPageSize) - C_NODEHEADERSIZE;
    int m = FindKeyByPosition(ksLE, h);
    if (m >= 0) {
        // This page holds byte h: its entries from m on go to the front of the right page.
        const int move = a - m;
        if (b + move > room) NodeError("TNode.RedistributeNodes", "Node is overfull");
        Right.MoveBlock(0, move, true);
        std::memcpy(Right.ChangeEntries(0, move), Data() + m, move);
        Right.SetUsed(b + move);
        SetUsed(m);
        std::memset(ChangeEntries(m, m + move), 0, move);
    } else {
        // This page is shorter than h: it takes the right page's first entries.
        m = Right.FindKeyByPosition(ksGE, h - a);
        if (m < 0) return 1;
        if (a + m > room) NodeError("TNode.RedistributeNodes", "Node is overfull");
        std::memcpy(ChangeEntries(a, a + m), Right.Data(), m);
        SetUsed(a + m);
        Right.MoveBlock(m, m, false);
        Right.SetUsed(b - m);
        std::memset(Right.ChangeEntries(b - m, b), 0, m);
    }
    return 1;
}

void TNode::MergeNodes(TNode& Sibling, bool Append) {
    const int a = Used();
    const int b = Sibling.Used();
    Assert(static_cast<int64_t>(a) + b + std::max(FKeySize, C_NODEHEADERSIZE) <= FPageSize, [&] {
        return Format("Invalid parameters for MergeNodes (size too large): size1 %d size2 %d key %d", {a, b, FKeySize});
    });
    const bool leaf = CheckIsLeaf();
    if (Append) {
        std::memcpy(ChangeEntries(a, a + b), Sibling.Data(), b);
        if (leaf) {
            const uint32_t next = Sibling.GetNext();
            SetNext(next);
            if (next != 0) FTree->SetLeafLink(next, C_NODEPRIOROFFSET, FAddress);
        }
    } else {
        MoveBlock(0, b, true);
        std::memcpy(ChangeEntries(0, b), Sibling.Data(), b);
        if (leaf) {
            const uint32_t prior = Sibling.GetPrior();
            SetPrior(prior);
            if (prior != 0) FTree->SetLeafLink(prior, C_NODENEXTOFFSET, FAddress);
        }
    }
    SetUsed(a + b);
}

// ---------------------------------------------------------------------------------------------
// Listing

bool TNode::ListRecords(bool MatchKey, bool Backwards, TCompoundList& List, uint32_t StopAddress,
                        int StartPos, int FieldCount, const uint8_t* KeyBuf) const {
    const int used = Used();
    auto take = [&](int Pos) {
        // True when the listing stops at this entry.
        if (MatchKey && FTree->CompareKeys(FieldCount, nullptr, nullptr, Data() + Pos, KeyBuf) != 0)
            return true;
        const uint32_t address = EntryAddress(Pos);
        List.Add(address, 0);
        return StopAddress != 0 && address == StopAddress;
    };
    if (Backwards) {
        int start = used - FKeySize;
        if (StartPos >= 0 && StartPos < used) start = StartPos / FKeySize * FKeySize;
        for (int p = start; p >= 0; p -= FKeySize)
            if (take(p)) return true;
    } else {
        for (int p = StartPos <= 0 ? 0 : StartPos / FKeySize * FKeySize; p < used; p += FKeySize)
            if (take(p)) return true;
    }
    return false;
}

int TNode::ListRecordsInNode(bool Backwards, int StartPos, TReadAheadBuffer& Buffer, int MaxCount) const {
    if (MaxCount <= 0) return 0;
    if (Buffer.KeySize() < FKeySize)
        NodeError("TNode.ListRecordsInNode", "Read ahead key buffer is too small");
    const int used = Used();
    int first;
    int last;
    if (Backwards) {
        last = std::min(StartPos, used - FKeySize);
        if (last < 0) return 0;
        last = last / FKeySize * FKeySize;
        first = std::max(0, last - (MaxCount - 1) * FKeySize);
    } else {
        first = StartPos <= 0 ? 0 : StartPos / FKeySize * FKeySize;
        if (first >= used) return 0;
        last = std::min(used - FKeySize, first + (MaxCount - 1) * FKeySize);
    }
    int added = 0;
    for (int p = first; p <= last; p += FKeySize) {
        TReadAheadBufferItem* item = Buffer.Add();
        item->SetRecAddr(EntryAddress(p));
        std::memcpy(item->KeyBuf(), Data() + p, FKeySize);
        ++added;
    }
    return added;
}

void TNode::FillHashTable(int FieldNo, TOrqBaseHash& Hash) const {
    const auto& fields = FTree->FieldList();
    if (FieldNo < 0 || FieldNo >= static_cast<int>(fields.size()))
        NodeError("TNode.FillHashTable", "Field number out of range: " + IntToStr(FieldNo));
    const int dataStart = C_KEYHEADERSIZE + FTree->KeyFields().DataOffset();
    for (int p = 0; p < Used(); p += FKeySize) {
        const uint8_t* entry = Data() + p;
        int pos = dataStart;
        for (int i = 0; i <= FieldNo; ++i) {
            const bool present = (entry[C_KEYHEADERSIZE + i / 8] & (128u >> (i % 8))) != 0;
            if (!present) continue;
            int len = fields[i]->FieldSize();
            if (IsStringKeyType(fields[i]->DataType())) {
                len = Load16(entry + pos);
                pos += 2;
            }
            if (i == FieldNo) Hash.Add(reinterpret_cast<const char*>(entry + pos), len, EntryAddress(p));
            pos += len;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

void TNode::PrintNode(TStrings& List, int Level) const {
    List.Add(Format("Node Level: %d NodeAddr=%d :NodeHdr=L:%5d Sze:%5d N:%5d P:%5d",
                    {Level, FAddress, NodeType(), Used(), GetNext(), GetPrior()}));
    List.Add(Format("Node NodeAddr=%s :N:%s P:%s",
                    {IntToStr(FAddress), IntToStr(GetNext()), IntToStr(GetPrior())}));
    if (FAddress != 0 && (GetNext() == FAddress || GetPrior() == FAddress))
        List.Add("******ERROR in NEXT/PRIOR LINKS");
    for (int p = 0; p < Used(); p += FKeySize) FTree->DecodeKeyBufAsStrings(Data() + p, List);
}

void TNode::DumpNode(TStrings& List) const {
    List.Add(Format("NodeHdr=L:%5d Sze:%5d N:%5d P:%5d", {NodeType(), Used(), GetNext(), GetPrior()}));
    for (int p = 0; p < Used(); p += FKeySize) {
        std::string line;
        for (int i = 0; i < FKeySize; ++i) line += IntToHex(Data()[p + i], 2);
        List.Add(line);
    }
}

void TNode::CheckNode(TStrings& List) const {
    if (Used() == 0) List.Add("ERROR: EMPTY NODE");
}

void TNode::DebugInfo(TStrings& List) const {
    List.Add(
        Format("Node NodeAddr=%d Leaf=%d Count=%d Cursor=%d", {FAddress, NodeType(), GetCount(), FCursor}));
}

}  // namespace ostra
