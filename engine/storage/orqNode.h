// orqNode: TNode, one page of a B+-tree in memory, and the stored page format.
//
// An index is a B+-tree of fixed-size pages kept as blocks of the table's index block storage
// (orqInterfaceUnit.h, usage 8). TNode holds one page (buffer, address, a cursor on one of its
// entries) and the operations on entries that the tree (orqBTree.h) composes into searches,
// inserts and deletes: in-page search, insert, delete and replace of an entry, split,
// redistribution between siblings, merge, and the leaf-chain links.
//
// Page (stored; little-endian; IndexPageSize bytes, 4096):
//
//   | offset    | size | field                                                            |
//   |-----------|------|------------------------------------------------------------------|
//   | 0         | 4    | node type: 0 internal page, 1 leaf page (any non-zero is a leaf)  |
//   | 4         | 4    | used: bytes of entries after the header                          |
//   | 8         | 4    | next: address of the next leaf in key order, 0 for none (leaves)  |
//   | 12        | 4    | prior: address of the previous leaf, 0 for none (leaves)          |
//   | 16        | used | entries, back to back                                            |
//   | 16 + used | rest | not significant (zero after a clear or a split)                  |
//
// Every entry is one key entry (orqKeyEntry.h) of exactly MaximumKeySize bytes, so entry k
// starts at data offset k * MaximumKeySize; positions inside a page are data offsets (0 = page
// offset 16). A leaf entry's address is a record's address and its count is 0; an internal
// entry's address is a child page, its count the number of records below that child and its
// key the child's first (smallest) key. Leaves form a doubly linked chain in key order.
//
// Pages read from storage are not trusted: ReadNode checks the header and every entry's size
// and value layout and raises 8965 "Index is corrupt" for a page that fails, so the entry
// operations below never reach outside the page buffer. A page is checked once per content:
// the storage stamps what it hands out (TBaseIOInterface::ReadBlockStamped), and the tree
// remembers the stamps of the pages it checked or wrote itself (TCheckedPages); a page read
// again from the file or written by anything else has a new stamp and is checked again.
//
// Invariants of an open node: the buffer holds PageSize bytes; 0 <= used <= PageSize - 16 and
// used is a multiple of MaximumKeySize; 0 <= cursor <= used.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqKeyEntry.h"
#include "engine/storage/orqSearchKey.h"

namespace ostra {

class TBTree;
class TBaseIOInterface;
class TCompoundList;
class TOrqBaseHash;
class TReadAheadBuffer;
class TStrings;

// Page header: 4-byte node type + 4-byte used + 4-byte next + 4-byte prior.
inline constexpr int C_NODETYPEOFFSET = 0;
inline constexpr int C_NODEUSEDOFFSET = 4;
inline constexpr int C_NODENEXTOFFSET = 8;
inline constexpr int C_NODEPRIOROFFSET = 12;
inline constexpr int C_NODEHEADERSIZE = 16;

enum TNodeType : uint32_t { ntNode = 0, ntLeaf = 1 };

// How FindKeyByPosition rounds a data offset to an entry start.
enum TKeySearchType : uint8_t { ksLE, ksEQ, ksGE };

// How an in-page search settles among entries that compare equal to the search key.
enum TSearchBound : uint8_t {
    sbExact,  // keys are distinct over the compared fields: leaf the first entry not below
              // the key, internal page the last child whose first key is not above it
    sbLower,  // the first entry not below the key; internal: the last child whose first key
              // is below it
    sbUpper   // the first entry above the key; internal: as sbExact
};

// The pages one tree has checked (or written itself), by address, each with the stamp of the
// content it checked. An open-addressing table that starts again empty when it reaches its
// limit (a page it forgot is checked once more). Stamp 0 means "not known" and is never taken.
class TCheckedPages {
public:
    // True when the page at Address was checked with content Stamp.
    bool Contains(uint32_t Address, uint64_t Stamp) const;
    // Remembers that the page at Address with content Stamp is sound (nothing for Stamp 0).
    void Add(uint32_t Address, uint64_t Stamp);
    void Clear();

private:
    struct TSlot {
        uint32_t Address = 0;  // 0 = free (no page lies at address 0)
        uint64_t Stamp = 0;
    };
    std::size_t SlotOf(uint32_t Address) const;

    std::vector<TSlot> FSlots;  // empty, or a power of two
    std::size_t FUsed = 0;
};

// One page of a B+-tree with a cursor on one of its entries.
class TNode {
public:
    TNode() = default;
    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;

    // ---- Page life
    // Takes the tree (key fields, key size, comparison), the storage and the page size;
    // allocates the buffer, builds the entry start table and clears the page.
    void Open(TBTree* Tree, TBaseIOInterface* IOInterface, uint32_t PageSize);
    // A different Address clears the page (the node type stays) and takes the address without
    // reading; SetAddress(0) forgets the page so that the next ReadNode reads.
    void SetAddress(uint32_t Address);
    // Reads the page at Address unless it is the page held; cursor := 0 in every case. Where the
    // storage lends its block, only the header and the entries are copied (the rest of the page is
    // zero in the node). A page that fails the checks raises 8965 "Index is corrupt" (the node
    // then holds no page).
    void ReadNode(uint32_t Address);
    // Writes what changed since the page was read or last written (nothing when nothing did;
    // the whole page for a page cleared or copied in).
    void WriteNode();
    // Zeroes the page except the node type; cursor := 0.
    void ClearNode();
    // Copies a whole page image into the buffer (the address stays).
    void CopyNode(const uint8_t* Buffer);

    // ---- Reading a stored page in place
    // A descent that only passes through a page need not copy it: the node can view the block
    // the storage lends (ReadBlockView). A view is valid only until the next call of the storage,
    // so the tree ends it before any other storage call; the node then holds no page but
    // remembers the one it viewed (address, stamp, cursor).
    //
    // Makes the page at Address the node's page without a copy when the storage lends it and the
    // tree checked it under its present stamp; False (nothing changed) otherwise, and the caller
    // reads it with ReadNode. Like ReadNode, it drops changes not written. Cursor := 0.
    bool ViewNode(uint32_t Address);
    // Ends the view: the node remembers the page viewed and its cursor, and holds no page.
    void EndView();
    // Ends a view without remembering it (after a failure during the view).
    void DropView();
    bool Viewing() const { return FPage != FBuffer.get(); }
    // The page of the last view when no page was held since; 0 otherwise.
    uint32_t ViewedAddress() const { return FViewedAddress; }
    // Views the page of the last view again, for reads until the next storage call; False when
    // the storage no longer lends it under the stamp of that view (the node stays as it was).
    bool ViewAgain();
    // Reads the page of the last view (a copy, as ReadNode) and puts the cursor back where it
    // was; False when the page's stamp is no longer the one viewed, so its content may differ.
    bool HoldViewed();
    // The stamp of the content read, viewed or written last (0 = not known).
    uint64_t Stamp() const { return FStamp; }
    // 8581 "Node Buffer not allocated" when the node is not open.
    void CheckOpen() const;

    uint32_t Address() const { return FAddress; }
    uint32_t PageSize() const { return FPageSize; }
    int KeySize() const { return FKeySize; }
    const uint8_t* Buffer() const { return FPage; }
    // The entry area (page offset 16).
    const uint8_t* Data() const { return FPage + C_NODEHEADERSIZE; }
    // The entry area to change in place: the whole page counts as changed.
    uint8_t* MutableData();
    // True when the page was changed since it was read or written: WriteNode has work to do.
    bool Changed() const { return FChangedFrom < FChangedTo; }

    // ---- Header
    // Node type := Value and 127.
    void SetLeaf(uint32_t Value);
    uint32_t NodeType() const { return Load32(FPage + C_NODETYPEOFFSET); }
    // Node type <> 0.
    bool CheckIsLeaf() const { return NodeType() != 0; }
    uint32_t GetNext() const { return Load32(FPage + C_NODENEXTOFFSET); }
    void SetNext(uint32_t Value);
    uint32_t GetPrior() const { return Load32(FPage + C_NODEPRIOROFFSET); }
    void SetPrior(uint32_t Value);
    int Used() const { return static_cast<int>(Load32(FPage + C_NODEUSEDOFFSET)); }
    // used + 16 + MaximumKeySize >= PageSize: the page must split.
    bool CheckNodeFull() const;
    // used + 16 < PageSize / 2: the page should be rebalanced.
    bool CheckNodeTooEmpty() const;
    bool CheckNodeEmpty() const { return Used() == 0; }
    // used + Size + 16 <= PageSize.
    bool RoomForKey(int Size) const;
    // The number of entries.
    int GetCount() const { return Used() / FKeySize; }

    // ---- Positions
    // Rounds Pos to an entry start: ksLE the last start at or before Pos (Pos = used gives
    // used), ksEQ Pos when an entry starts there, ksGE the first start at or after Pos when not
    // beyond used; -1 otherwise and whenever Pos > used.
    int FindKeyByPosition(TKeySearchType SearchType, int Pos) const;
    // The entry at data offset Pos (no check).
    const uint8_t* EntryAt(int Pos) const { return Data() + Pos; }
    uint32_t EntryAddress(int Pos) const { return Load32(Data() + Pos + C_KEYADDROFFSET); }
    uint32_t EntryCount(int Pos) const { return Load32(Data() + Pos + C_KEYCOUNTOFFSET); }
    void SetEntryAddress(int Pos, uint32_t Value);
    void SetEntryCount(int Pos, uint32_t Value);

    // ---- Cursor
    int Cursor() const { return FCursor; }
    // Cursor := Pos (an entry start within 0..used).
    void SetCursor(int Pos);
    // The entry at the cursor; 8581 "Node cursor out of range" when cursor >= used.
    const uint8_t* GetCurrentKey() const;
    // The address field of the cursor entry; 8581 "Node cursor out of range" when cursor >= used.
    uint32_t GetRecordAddress() const;
    // Copies the cursor entry to KeyBuf; 8581 "Cursor is out of range" when cursor >= used.
    void CopyCurrentKey(uint8_t* KeyBuf) const;
    // ToStart or an empty page: cursor := 0; else the last entry.
    void SetCursorToEnd(bool ToStart);
    // Moves to the following entry when there is one; False (cursor unchanged) otherwise.
    bool NextRecord();
    // Moves to the previous entry when there is one; False otherwise.
    bool PriorRecord();
    // 8581 "Node is empty" on an empty page; a cursor at the end moves onto the last entry.
    void ForceCursorToPhysicalKey();

    // ---- Entries
    // Shifts the bytes from StartPos to used by Delta: Up opens a gap at StartPos, down moves
    // them over the Delta bytes before StartPos (Delta > StartPos: 8581 "Move block error -
    // Start Pos - Delta are out of range"). The header is not changed.
    void MoveBlock(int StartPos, int Delta, bool Up);
    // Inserts Entry at Pos; used += its size. No room: 8581 "Node is overfull".
    void InsertKey(int Pos, const uint8_t* Entry);
    // Removes the entry at Pos; a size of 0 or above MaximumKeySize: 8581 "Invalid key size in
    // Delete key: <size>".
    void DeleteKey(int Pos);
    // Replaces the entry at Pos by Entry; returns the size difference (0 with fixed sizes).
    int UpdateKey(int Pos, const uint8_t* Entry);
    // Copies the entry at Pos to KeyBuf; Pos outside 0..used-1: 8581 "ReadPos is out of range: <Pos>".
    void ReadKey(int Pos, uint8_t* KeyBuf) const;

    // ---- Search
    // Binary search for the decoded Key over FieldCount leading key fields (all when <= 0).
    // Leaf: InsPos := the first entry not below the key (sbUpper: above it), used when none;
    // the result compares the key with that entry: 0 equal, negative when the entry is greater,
    // positive when the key sorts after every entry. Internal page: InsPos := the child to
    // descend into (see TSearchBound; the first child when the key sorts before all), result
    // the comparison against it. Cursor := InsPos. An empty page returns 1 with InsPos 0.
    int SearchNode(const TOptimizedSearchKey& Key, int FieldCount, TSearchBound Bound, int& InsPos);
    // The decoded Key against the entry at Pos over FieldCount leading fields, as SearchNode
    // compares them (the first field in place where the tree allows it).
    int CompareEntry(const TOptimizedSearchKey& Key, int FieldCount, int Pos) const;
    // The address field of the entry whose subtree holds record RecNo (1-based; below 1 the
    // first entry, beyond the page's total the last) and Before := the records in the entries
    // before it. An empty page returns 0.
    uint32_t SearchNodeByRecNo(int64_t RecNo, int64_t& Before) const;
    // The records (1 per leaf entry, the count field per internal entry) of the entries that
    // start at or before Pos; Pos < 0 or >= used: the whole page. A total beyond the 32-bit
    // range raises 8965 "Index is corrupt".
    int GetRecordCount(int Pos) const;
    // The records in the entries before the entry at Pos (an entry start, 0..used), as
    // GetRecordCount(Pos - KeySize). Total >= 0 is the page's record count as its parent entry
    // holds it: the sum then runs from the nearer end of the page. The last answer is kept for
    // the page's content, so a record number asked again (a walk within one leaf) costs nothing.
    int64_t RecordsBefore(int Pos, int64_t Total) const;
    // True when RecordsBefore(Pos) is remembered for the content read or viewed last, so that it
    // needs no page (also after a view ended).
    bool RecordsBeforeKnown(int Pos) const { return Pos == FSumPos; }
    // On an internal page whose count prefix the tree keeps: remembers RecordsBefore of the
    // cursor (a look-up). Otherwise nothing: a sum over the page is left for when it is asked.
    void NoteRecordsBefore() const;

    // ---- Rebalancing
    // Moves the upper half of this full page into NewPage (the buffer of a new page at
    // NewAddress); leaves are linked this <-> NewPage <-> old next. With LastOnly only the last
    // entry moves (an ascending insert at the end of a level: the page stays as full as it was
    // before the insert instead of half empty). Errors 8581 "Node is empty", "Node is overfull",
    // "Cursor is out of range".
    void SplitNode(TNode& NewPage, uint32_t NewAddress, bool LastOnly = false);
    // On an internal page: the data offset of the sibling entry to rebalance the child at Pos
    // with (the neighbour holding fewer records; equal counts take the right one); -1 when none.
    int GetRedistributeNode(int Pos) const;
    // On the left of two adjacent siblings: -1 when both fit in a third of a page (merge them),
    // 0 when both hold the same bytes, else moves entries so both hold about half and returns 1.
    int RedistributeNodes(TNode& Right);
    // Takes every entry of Sibling: appended after this page's entries (Append, Sibling is the
    // right neighbour) or put in front of them; leaf links bypass the sibling. The caller
    // releases the sibling's page.
    void MergeNodes(TNode& Sibling, bool Append);

    // ---- Listing
    // Adds leaf entries (address, 0) to List from StartPos forwards to the end of the page, or
    // backwards down to the page start (StartPos < 0: from the last entry). With MatchKey an
    // entry whose first FieldCount key fields differ from KeyBuf stops the listing before it;
    // the entry with address StopAddress stops it after it. Returns True when it stopped.
    bool ListRecords(bool MatchKey, bool Backwards, TCompoundList& List, uint32_t StopAddress, int StartPos,
                     int FieldCount, const uint8_t* KeyBuf) const;
    // Adds read-ahead items for entries of this page: forwards from StartPos (0 when <= 0), at
    // most MaxCount; backwards the last MaxCount entries starting at or before StartPos, in page
    // order. Each item gets the entry's address and a copy of the entry. Returns the count added.
    int ListRecordsInNode(bool Backwards, int StartPos, TReadAheadBuffer& Buffer, int MaxCount) const;
    // Adds (value of key field FieldNo, entry address) to Hash for every entry where that field
    // is not null: a string's bytes without its length, other types FieldSize bytes.
    void FillHashTable(int FieldNo, TOrqBaseHash& Hash) const;

    // ---- Diagnostics (lines into List)
    void PrintNode(TStrings& List, int Level) const;
    void DumpNode(TStrings& List) const;
    void CheckNode(TStrings& List) const;
    void DebugInfo(TStrings& List) const;

private:
    void SetUsed(int Value);
    // Page bytes [From, To) about to change: they are noted for WriteNode and returned.
    uint8_t* Change(uint32_t From, uint32_t To);
    // The same for the entry bytes [From, To) (data offsets).
    uint8_t* ChangeEntries(int From, int To) {
        return Change(uint32_t(C_NODEHEADERSIZE + From), uint32_t(C_NODEHEADERSIZE + To));
    }
    // Nothing changed since the page was read or written.
    void Unchanged() {
        FChangedFrom = FPageSize;
        FChangedTo = 0;
    }
    // Checks the page just read from Address (header, entry sizes, value layout); 8965 (and
    // a cleared buffer) when it fails.
    void ValidatePage(uint32_t Address);

    // The remembered sum of RecordsBefore goes with the content it was taken from.
    void ForgetSum() const { FSumPos = -1; }

    std::vector<int> FPositions;  // data offsets 0, K, 2K, ... up to and including PageSize
    TBTree* FTree = nullptr;
    std::unique_ptr<uint8_t[]> FBuffer;
    const uint8_t* FPage = nullptr;  // the page read: FBuffer, or the storage's block viewed
    uint64_t FStamp = 0;
    uint32_t FViewedAddress = 0;     // the page of the last view, while no page is held since
    int FViewedCursor = 0;
    mutable int FSumPos = -1;        // RecordsBefore's last answer: Pos (-1 = none) and sum
    mutable int64_t FSumValue = 0;
    TBaseIOInterface* FIO = nullptr;
    uint32_t FAddress = 0;
    uint32_t FPageSize = 0;
    int FKeySize = 0;
    int FCursor = 0;
    uint32_t FChangedFrom = 0;  // the page bytes [FChangedFrom, FChangedTo) changed since the
    uint32_t FChangedTo = 0;    // page was read or written; empty when From >= To
    uint32_t FZeroFrom = 0;     // the buffer is zero from here to its end
};

// Raises 8965 "Index is corrupt" with Text, naming Caller.
[[noreturn]] void IndexCorrupt(const char* Caller, const std::string& Text);

}  // namespace ostra
