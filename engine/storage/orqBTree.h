// orqBTree: TBTree, one disk B+-tree over the pages of orqNode.h.
//
// The tree keeps record counts in its internal entries (each entry carries the number of
// records below it, so record numbers are computed and looked up in O(depth)), chains its
// leaves both ways, and never moves its root: the root page's address is fixed from CreateTree
// until the tree is deleted (a root split copies the root into a new left child and keeps the
// root address; a root collapse copies the single child into the root).
//
// It holds the search key of the current operation (an entry buffer and its decoded form), a
// path of pages from the root to the current leaf (one TNode per level, each caching its last
// page), the entry offsets chosen at every level (insert positions) and a cursor on one leaf
// entry. The open indexes (orqIndexUnit.h) own one tree each and keep its Root and Depth,
// which the tree reads and writes through the references given to ConnectToIFace.
//
// States: closed (no node objects) -> Open -> searching and changing -> Close. Two flags
// describe the path: NodesValid (a search prepared the node list; the leaf cursor is usable)
// and PathValid (the insert positions of every level lead to the cursor). Insert and delete
// clear both: callers position again with a new search.
//
// Invariants of a stored tree (checked as pages are read; a violation raises 8965 "Index is
// corrupt"): every page but the root holds at least one entry; all leaves lie at depth
// Depth - 1 and pages above them are internal; leaves are chained in ascending key order with
// matching next and prior links; each internal entry's key is its child's first key and its
// count the child's record count; no two entries of a tree compare equal over all key fields.
//
// A search of a limited number of leading key fields (TSearchModifier) may agree with a run of
// entries; it settles on the edge of that run, never inside it: stGE, stEQ and stLEG on the
// run's first entry, stLE on its last, stLT before it and stGT after it.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqKeyEntry.h"
#include "engine/storage/orqNode.h"
#include "engine/storage/orqSearchKey.h"

namespace ostra {

class TBaseIOInterface;
class TCompoundList;
class TOrqBaseHash;
class TReadAheadBuffer;
class TStrings;
class Variant;

// The direction of a read-ahead fill.
enum TReadAheadDirection : uint8_t { rdNone, rdBackwards, rdForwards, rdCenter };

// The deepest tree the engine accepts; a stored depth beyond it is corrupt.
inline constexpr uint32_t C_MAXTREEDEPTH = 48;

// A disk B+-tree with counted internal entries, doubly linked leaves and a fixed root address.
class TBTree {
public:
    TBTree();
    ~TBTree();
    TBTree(const TBTree&) = delete;
    TBTree& operator=(const TBTree&) = delete;

    // ---- Set-up (key fields first, with DataOffset set; then the rest; then Open)
    // The tree's own key fields.
    TKeyFields& KeyFields() { return FKeyFields; }
    const TKeyFields& KeyFields() const { return FKeyFields; }
    // Stores the entry size and allocates the three key buffers (Size + 1 bytes each).
    void SetMaximumKeySize(int Size);
    int MaximumKeySize() const { return FMaximumKeySize; }
    void SetPageSize(uint32_t Value) { FPageSize = Value; }
    uint32_t PageSize() const { return FPageSize; }
    void SetDBStringCompare(TDBStringCompareFunction Value) { FDBStringCompare = Value; }
    TDBStringCompareFunction DBStringCompare() const { return FDBStringCompare; }
    // Optional target of diagnostic lines; not owned.
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }
    TStrings* DebugStrings() const { return FDebugStrings; }
    // Stored nowhere: entries always take MaximumKeySize bytes.
    void SetIndexKeyType(TIndexKeyType) {}
    void SetLocked(bool Value) { FLocked = Value; }
    bool Locked() const { return FLocked; }
    // Binds the storage and the owner's Root and Depth variables.
    void ConnectToIFace(TBaseIOInterface* IOInterface, uint32_t PageSize, uint32_t& Root, uint32_t& Depth);
    // Close, then creates Depth node objects and the spare node. Without a string compare
    // routine: 8581 "No sort order function assigned"; a Depth beyond C_MAXTREEDEPTH: 8965.
    void Open();
    // Frees the node objects; the flags are cleared.
    void Close();
    bool IsOpen() const { return FSpareNode != nullptr; }
    // Allocates one empty leaf page as the new root; Depth := 1.
    void CreateTree();
    // For an existing tree (Root <> 0): releases every page, closes, then Root := 0 and
    // Depth := 0 (DeleteIndex) or a new empty tree (CreateTree). A tree without root stays.
    void EmptyTree(bool DeleteIndex);
    // Every node forgets its page, so the next operations read them again.
    void InvalidateInternalBuffers();

    uint32_t Root() const { return FRoot ? *FRoot : 0; }
    uint32_t Depth() const { return FDepth ? *FDepth : 0; }
    TBaseIOInterface* IOInterface() const { return FIO; }
    bool PathValid() const { return FPathValid; }
    bool NodesValid() const { return FNodesValid; }

    // ---- Search keys (each encoder fills the search key, its markers and its decoded form)
    void ConstructKeyBufFromRecBuf(const uint8_t* RecBuf, const TKeyMarkerList* Markers);
    // Builds the key of RecBuf into the temporary key and copies MaximumKeySize bytes to Dest;
    // the search key is not touched.
    void ConstructTempKeyBufFromRecBuf(uint8_t* Dest, const uint8_t* RecBuf, const TKeyMarkerList* Markers);
    // The search key := a copy of the entry KeyBuf.
    void ConstructKeyBufFromKeyBuf(const uint8_t* KeyBuf, const TKeyMarkerList* Markers);
    void ConstructKeyBufFromVariants(const Variant& Values, const TKeyMarkerList* Markers);
    // Copies the entry Src (its own size field gives the length) to Dst, or to the search key
    // when Dst is null. Src null: 8581 "SrcBuf is unassigned"; a size above MaximumKeySize:
    // 8581 "KeySize out of range".
    void CopyKey(const uint8_t* Src, uint8_t* Dst);
    // The search key's address field := Address (the record an insert adds).
    void SetKeyBufAddr(uint32_t Address);
    const uint8_t* SearchKey() const { return FSearchKey.data(); }
    const TKeyMarkerList& ComparisonFlags() const { return FComparisonFlags; }
    const TOptimizedSearchKey& OptimizedKey() const { return FOptimizedKey; }

    // ---- Positioning and reading
    // Positions the cursor by SearchType on the search key (over the leading fields Modifier
    // allows when it is limited). 0 = positioned; non-zero = not found.
    int IndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier);
    // Moves the cursor to the next / previous entry, across leaves; False at the end (cursor
    // unchanged) or when no search prepared the path.
    bool NextRecord();
    bool PriorRecord();
    // The cursor entry's record address; 8581 "Attempt to read record address from non-leaf
    // node" when the last node is no leaf, "Node cursor out of range" without an entry.
    uint32_t GetRecAddr();
    // The cursor entry; 8581 "CurrentKeyCursor is invalid" when no search prepared the path.
    const uint8_t* GetCurrentKeyBuf();
    // CompareKeys(0, Markers, null, KeyBuf, cursor entry): positive when KeyBuf sorts after it.
    int CompareKeyToCurrentKeyBuf(const TKeyMarkerList* Markers, const uint8_t* KeyBuf);
    // Key comparison of two entries (orqKeyEntry.h CompareKeys with this tree's key fields).
    int CompareKeys(int FieldCount, const TKeyMarkerList* Markers1, const TKeyMarkerList* Markers2,
                    const uint8_t* Key1, const uint8_t* Key2) const;
    // The decoded search key (Key1) against Entry (Key2) by the same rules; a stored marker
    // decides alone. Errors 8581 "Invalid key size: <size>" and "Field type not found in
    // KeyBufCompare: <type>".
    int CompareToOptimizedKey(int FieldCount, const uint8_t* Entry) const;
    // As CompareToOptimizedKey for any decoded key.
    int CompareDecodedKey(const TOptimizedSearchKey& Key, int FieldCount, const uint8_t* Entry) const;
    // True when Key's first field is a value of a fixed-size type that entries hold at data
    // offset Offset whenever their first field is not null (no marker, not null, room in the
    // entry): a search may compare that field in place. Type and Descending describe the field.
    bool FirstFieldInPlace(const TOptimizedSearchKey& Key, int& Offset, TFieldType& Type, bool& Descending) const {
        if (!FFirstFieldFixed || Key.GetComparisonMarker(0) != 0 || !Key.HasValue(0)) return false;
        Offset = FFirstFieldOffset;
        Type = FPlans[0].Type;
        Descending = FPlans[0].Descending;
        return true;
    }
    // The number of records: the root's total. Prepares the path when no search did, or when
    // Refresh is set and the cached root is not the Root page.
    int GetRecordCount(bool Refresh);
    // The cursor entry's 1-based position in the index (refreshes the path first when needed).
    int GetRecordNo();
    // The record address of record RecNo (below 1 the first, beyond the count the last); 0 for
    // an empty tree. The path is left not valid (the cursor is not positioned).
    uint32_t GetAddrOfRecNo(int RecNo);

    // ---- Changing
    // Inserts the search key (its address set by SetKeyBufAddr) where the preceding full
    // search put it (searching again when the last search was not a full one of this key),
    // splitting pages up to the root as needed. Returns 0, or -1 when an entry equal to the
    // key exists (nothing changes). Stores Root and Depth. When no page split, the cursor is
    // left on the new entry (InsertLeftCursorOnKey), as a full search of the key would leave it;
    // otherwise it is not positioned.
    int InsertKey();
    // Whether the last InsertKey left the cursor on the entry it inserted.
    bool InsertLeftCursorOnKey() const { return FInsertLeftCursorOnKey; }
    // Deletes the entry at the cursor, rebalancing pages up to the root (redistribution with
    // the sibling holding fewer records, merge when both fit a third of a page, removal of a
    // page left empty under a single-entry parent, root collapse). Returns 0, or -1 when the
    // cursor stands on no entry. Stores Root and Depth.
    int DeleteKey();
    // Full search, then InsertKey only when no equal key exists; else -1.
    int IdxInsert();
    // Full search, then DeleteKey only when an equal key exists; else -1.
    int IdxDelete();

    // ---- Listing
    // Lists (record address, record number) pairs into List from the cursor: stLT/stLE
    // backwards to the start of the index, stGE/stGT forwards to the end, stEQ the run of
    // entries equal to KeyBuf (the cursor entry when null) over FieldCount fields; in every case
    // through the entry whose address is StopAddress (0 never matches). Nothing is listed
    // without a valid path, or when the cursor lies on the wrong side of KeyBuf for the
    // direction. With Ascending a backward listing is appended in ascending key order. Flag is
    // set False.
    void ListMatchingRecords(const uint8_t* KeyBuf, int FieldCount, uint32_t StopAddress,
                             TIndexSearchType SearchType, bool Ascending, TCompoundList& List, bool& Flag);
    // Fills Buffer from the cursor's leaf only: rdBackwards the last Count entries up to the
    // cursor, rdCenter Count / 2 before and Count / 2 from the cursor, else Count from the
    // cursor; each item with its record number. 0 without a valid path. Returns the count.
    int ListReadAheadRecords(TReadAheadDirection Direction, int Count, TReadAheadBuffer& Buffer);
    // Adds key field FieldNo's values of the cursor's leaf and every following leaf to Hash.
    void FillHashTable(int FieldNo, TOrqBaseHash& Hash);

    // ---- Diagnostics (into List, or into DebugStrings when List is null)
    // One line per key field (the value, "NULL", "True"/"False"), then "Size=", "Count=" and
    // "Addr=". An entry above MaximumKeySize: 8581 "Invalid key size: <size>".
    void DecodeKeyBufAsStrings(const uint8_t* KeyBuf, TStrings& List) const;
    void CurrentKeyAsStrings(TStrings& List);
    // Every block of a memory storage, printed as a page.
    void DebugDumpAllocatedBlocks(TStrings& List);
    void DebugStatus(TStrings& List) const;
    // "root", then every page in key order.
    void DebugInOrderRecurse(TStrings* List = nullptr);
    // Checks the stored tree: order within pages, each internal entry's key and count against
    // its child, leaf levels and links. 8581 "Check Order error" or "Empty node in check order".
    void DebugCheckOrderRecurse();
    // Walks at most 1001 leaves through the next links, one line per leaf.
    void DebuGInOrderFlat(TStrings* List = nullptr);

    // Used by TNode: the key fields as a plain array (rebuilt by SetMaximumKeySize and Open).
    const std::vector<const TKeyFieldItem*>& FieldList() const { return FFieldList; }

    // What the comparison of a decoded key needs of one key field, taken once from the field
    // list (rebuilt with it).
    struct TKeyPlan {
        TFieldType Type;
        int32_t Size;     // FieldSize
        bool IsString;    // String or WideString: a 2-byte length, then the bytes
        bool Descending;
        bool KeyType;     // the type has a key encoding
        bool Fixed;       // a fixed-size type whose FieldSize holds it: compared in place
    };

private:
    friend class TNode;

    void RebuildFieldList();
    void CheckOpenTree(const char* Caller) const;
    void DecodeSearchKey();
    // Makes the node list match Depth, forgets the spare, reads the root; flags cleared.
    void InternalPrepareNodes();
    // Descends from the root for Key over FieldCount fields; see the .cpp. With ViewPages the
    // pages between the root and the leaf are searched in place (TNode::ViewNode) and left
    // viewed, not held: what changes the path holds them first (HoldPath).
    int InternalSearch(const TOptimizedSearchKey& Key, int FieldCount, bool ForceToKey, TSearchBound Bound,
                       bool ViewPages = true);
    // A search that stays in the leaf the path leads to: when the key lies strictly between the
    // leaf's first and last entries, searches that leaf alone (the pages above lead to it as
    // they are) and puts its result in Result; False (nothing changed) otherwise.
    bool SearchHeldLeaf(const TOptimizedSearchKey& Key, int FieldCount, TSearchBound Bound, int& Result);
    // Runs a descent to the cursor entry so that the insert positions lead to it again.
    void InternalRefreshToCurrentCursor(bool ViewPages = true);
    // Takes a copy of every page of the path that the last descent only viewed; False when one
    // of them may have changed since (then a new descent must rebuild the path).
    bool HoldPath();
    // Reads the leaf after (Forward) or before the page held in Node into Node, checking the
    // links and the key order; False when there is none.
    bool StepLeaf(TNode& Node, bool Forward);
    // Checks a child address read from a page; 8965 when it cannot be a page of this tree.
    void CheckChildAddress(uint32_t Address, const char* Caller) const;
    // Checks the page in Node against its level (internal above the leaves, non-empty below
    // the root); 8965 otherwise.
    void CheckLevel(const TNode& Node, size_t Level, size_t Depth) const;
    // How a change left a page, for its parent entry: lcCount, one record more or less and the
    // same first key; lcFirstKey, a new first key too; lcRebalanced, entries moved to or from
    // other pages.
    enum TLevelChange : uint8_t { lcCount, lcFirstKey, lcRebalanced };
    // The parent entry at Pos := Child's first key with Child's address and record count.
    void RefreshParentEntry(TNode& Parent, int Pos, const TNode& Child);
    // The parent entry at Pos after Child changed by Change: its count moved by Delta records
    // for lcCount, else RefreshParentEntry.
    void UpdateParentEntry(TNode& Parent, int Pos, const TNode& Child, TLevelChange Change, int Delta);
    // Gives a page back to the storage; every node holding it forgets it.
    void ReleasePage(uint32_t Address);
    // Every node but the root forgets its page (the levels shifted).
    void ForgetNodesBelowRoot();
    // Sets one link field in the header of the leaf at Address (through the block header).
    void SetLeafLink(uint32_t Address, int Offset, uint32_t Value);
    // Pages := every page of the subtree at Address, each checked against its level; a page met
    // twice raises 8965.
    void CollectSubtree(uint32_t Address, uint32_t Level, uint32_t Depth, std::vector<uint32_t>& Pages,
                        std::unordered_set<uint32_t>& Seen);
    void StoreRootAndDepth();
    void AfterChange();
    void CheckOrderRecurse(TNode& Node, uint32_t Address, uint32_t Level, uint32_t Depth, int64_t& Count,
                           std::vector<uint32_t>& Leaves);
    void InOrderRecurse(TStrings& List, uint32_t Address, uint32_t Level, uint32_t Depth);
    TStrings* Target(TStrings* List) const { return List ? List : FDebugStrings; }

    TBaseIOInterface* FIO = nullptr;
    std::vector<std::unique_ptr<TNode>> FNodes;  // item 0 the root, the last item the leaf
    std::vector<int> FInsertPositions;           // parallel to FNodes
    TKeyMarkerList FComparisonFlags;
    std::unique_ptr<TNode> FSpareNode;
    TStrings* FDebugStrings = nullptr;
    uint32_t FPageSize = 0;
    uint32_t* FRoot = nullptr;
    uint32_t* FDepth = nullptr;
    TKeyFields FKeyFields;
    std::vector<const TKeyFieldItem*> FFieldList;
    std::vector<TKeyPlan> FPlans;  // parallel to FFieldList
    bool FFirstFieldFixed = false;  // FirstFieldInPlace may hold: see RebuildFieldList
    int FFirstFieldOffset = 0;
    int FMaximumKeySize = 0;
    std::vector<uint8_t> FSearchKey;  // MaximumKeySize + 1 bytes each
    std::vector<uint8_t> FSecondKey;  // the cursor entry of a path refresh
    std::vector<uint8_t> FTempKey;    // scratch: pending entries, leaf boundaries, listings
    bool FLocked = false;
    bool FPathValid = false;
    bool FNodesValid = false;
    // The insert positions come from a full search of the current search key; its result.
    bool FInsertSearchValid = false;
    int FInsertSearchResult = 0;
    bool FInsertLeftCursorOnKey = false;
    TDBStringCompareFunction FDBStringCompare = nullptr;
    TOptimizedSearchKey FOptimizedKey;
    TOptimizedSearchKey FRefreshKey;
    TCheckedPages FCheckedPages;  // the pages checked against this tree's key layout

    // The record counts of an internal page summed up to each of its entries, for the page's
    // content (address and stamp): record numbers under a page searched again cost one look-up
    // instead of a sum over half the page. A slot is first only marked; the sums are taken when
    // the same content is asked for again, so pages seen once cost no more than before.
    struct TCountPrefix {
        uint32_t Address = 0;
        uint64_t Stamp = 0;
        std::vector<int64_t> Sums;  // Sums[k]: the records of entries 0 .. k-1; empty when only marked
    };
    static constexpr std::size_t CCountPrefixSlots = 64;  // the top 6 bits of a 32-bit hash
    std::vector<TCountPrefix> FCountPrefixes;  // empty, or CCountPrefixSlots slots
    // The prefix sums of Node's content, or null when they are not kept (yet): a page changed
    // since it was read or written, one of unknown stamp, a leaf.
    const int64_t* CountPrefix(const TNode& Node);
};

}  // namespace ostra
