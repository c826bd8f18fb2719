// orqIndexUnit: the open indexes of a table. TIndexManager is the collection of a table's open
// indexes (TIndexItem), each owning one B+-tree (orqBTree.h).
//
// The manager hands every tree the table's index block storage and string compare routine,
// distributes the table definition's key fields to their indexes, keeps each index's Root and
// Depth in step with the table header (slot IndexSequence, orqTableHeader.h), creates, empties
// and drops indexes, and finds indexes by name or by leading fields. The dataset layer reads
// the header slots into the indexes whenever it reads the table header (ReadIndexHeaders) and
// writes them back whenever it writes it (WriteIndexHeaders); the manager itself stores the
// slots after each change of an index it makes.
//
// States of the manager: empty (no items) -> assigned (items from index definitions, key
// fields distributed, storage and header set) -> Open (every tree open) -> Close (empty again).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqIndexDefs.h"
#include "host/Collection.h"

namespace ostra {

class TBaseIOInterface;
class TIndexManager;
class TTableHeader;
class TStrings;

// One open index: its definition, its key fields, its Root and Depth, and its tree.
class TIndexItem : public TCollectionItem {
public:
    explicit TIndexItem(TCollection* ACollection);
    ~TIndexItem() override;

    // Needs the manager's storage (8581 "IO Interface is unassigned") and a tree (Root and
    // Depth not 0, else 8581 "Not initialized"); configures and opens the tree and allocates
    // the temporary key buffer.
    void Open();
    // Closes the tree, empties the tree's and this index's key fields, frees the key buffer.
    void Close();
    bool IsOpen() const { return !FTempKeyBuffer.empty(); }
    // Root := 0, Depth := 0, then a new empty tree (one leaf page) on the manager's storage;
    // the tree is left closed.
    void CreateIndex();
    // Every page released and a fresh root page (EmptyTree(False)).
    void EmptyIndex();
    // Every page released; Root and Depth 0 (EmptyTree(True)).
    void DeleteIndex();

    // ---- Forwarders to the tree
    void CreateKeyBuffer(const uint8_t* RecBuf, const TKeyMarkerList* Markers);
    void CreateTempKeyBuffer(const uint8_t* RecBuf, uint8_t* KeyBuf, const TKeyMarkerList* Markers);
    void CopyKeyBuffer(const uint8_t* KeyBuf, const TKeyMarkerList* Markers);
    int FullIndexSearch(TIndexSearchType SearchType);
    int PartialIndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier);
    // SetKeyBufAddr(RecordAddress), then the tree's InsertKey.
    int InsertKey(uint32_t RecordAddress);
    // Whether the last InsertKey left the tree's cursor on the new entry.
    bool InsertLeftCursorOnKey() const;
    int DeleteKey();
    bool NextKey();
    bool PriorKey();
    uint32_t GetRecordAddress();
    const uint8_t* GetCurrentKeyBuf();
    int GetRecordCount(bool Refresh);
    int GetRecordNo();
    // The record address of record RecNo (GetAddrOfRecNo); the cursor is not positioned.
    uint32_t SetRecordNo(int RecNo);
    // The tree's CompareKeys(0, Markers1, Markers2, Key1, Key2).
    int CompareKeyBuffers(const uint8_t* Key1, const uint8_t* Key2, const TKeyMarkerList* Markers1,
                          const TKeyMarkerList* Markers2);
    int CompareKeyToCurrentKey(const TKeyMarkerList* Markers, const uint8_t* KeyBuf);
    void ListMatchingRecords(const uint8_t* KeyBuf, int FieldCount, uint32_t StopAddress,
                             TIndexSearchType SearchType, bool Ascending, TCompoundList& List, bool& Flag);
    int ListReadAheadRecords(TReadAheadDirection Direction, int Count, TReadAheadBuffer& Buffer);
    void FillHashTable(int FieldNo, TOrqBaseHash& Hash);
    void InvalidateInternalBuffers();
    // The tree's DebugDumpAllocatedBlocks.
    void DumpInternalStatus(TStrings& List);
    // The tree's DebugInOrderRecurse into List.
    void DumpInternalStructure(TStrings& List);

    // Steps NextKey (Distance > 0) or PriorKey up to |Distance| times, stopping at the first
    // failed step; True when every step was made (also for 0).
    bool MoveBy(int Distance);
    // MaximumKeySize + 1 zero bytes while open; null when closed.
    uint8_t* GetTempKeyBuffer() { return FTempKeyBuffer.empty() ? nullptr : FTempKeyBuffer.data(); }
    // From a TInternalIndexDef: the definition's values, key fields emptied. From a TIndexItem:
    // the same plus a copy of its key fields, Root and Depth. Otherwise the base rules.
    void Assign(const TPersistent* Source) override;

    TIndexManager* Manager() const;
    TBTree& Tree() { return *FTree; }

    bool Hidden() const { return FHidden; }
    void SetHidden(bool Value) { FHidden = Value; }
    bool Primary() const { return FPrimary; }
    void SetPrimary(bool Value) { FPrimary = Value; }
    bool Unique() const { return FUnique; }
    void SetUnique(bool Value) { FUnique = Value; }
    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& Value) { FIndexName = Value; }
    bool Maintained() const { return FMaintained; }
    void SetMaintained(bool Value) { FMaintained = Value; }
    bool Memory() const { return FMemory; }
    void SetMemory(bool Value) { FMemory = Value; }
    // Address of the root page; 0 = no tree.
    uint32_t Root() const { return FRoot; }
    void SetRoot(uint32_t Value) { FRoot = Value; }
    // Levels of the tree (1 = the root is a leaf); 0 = no tree.
    uint32_t Depth() const { return FDepth; }
    void SetDepth(uint32_t Value) { FDepth = Value; }
    // This index's key fields (owned).
    TKeyFields* KeyFields() const { return FKeyFields.get(); }
    uint32_t IndexPageSize() const { return FIndexPageSize; }
    void SetIndexPageSize(uint32_t Value) { FIndexPageSize = Value; }
    int32_t MaximumKeySize() const { return FMaximumKeySize; }
    void SetMaximumKeySize(int32_t Value) { FMaximumKeySize = Value; }
    int32_t KeyDataOffset() const { return FKeyDataOffset; }
    void SetKeyDataOffset(int32_t Value) { FKeyDataOffset = Value; }
    int32_t IndexSequence() const { return FIndexSequence; }
    void SetIndexSequence(int32_t Value) { FIndexSequence = Value; }
    // Copied, not used.
    TIndexKeyType IndexKeyType() const { return FIndexKeyType; }
    void SetIndexKeyType(TIndexKeyType Value) { FIndexKeyType = Value; }

private:
    // Gives the tree the key fields, sizes, compare routine and storage of this index.
    void ConfigureTree();
    TBaseIOInterface* RequireIO(const char* Caller) const;

    std::unique_ptr<TBTree> FTree;
    bool FHidden = false;
    bool FPrimary = false;
    bool FUnique = false;
    std::string FIndexName;
    bool FMaintained = false;
    bool FMemory = false;
    uint32_t FRoot = 0;
    uint32_t FDepth = 0;
    std::unique_ptr<TKeyFields> FKeyFields;
    uint32_t FIndexPageSize = C_DEFAULTINDEXPAGESIZE;
    int32_t FMaximumKeySize = 0;
    int32_t FKeyDataOffset = 0;
    int32_t FIndexSequence = 0;
    TIndexKeyType FIndexKeyType = ikFixed;
    std::vector<uint8_t> FTempKeyBuffer;
};

// The open indexes of one table.
class TIndexManager : public TCollection {
public:
    explicit TIndexManager(TPersistent* AOwner = nullptr);
    ~TIndexManager() override;

    // Without a string compare routine 8581 "Sort function not assinged"; ReadIndexHeaders(True);
    // opens every index in order and counts those not Hidden.
    void Open();
    // Closes every index, removes every item; visible count 0; the storage is forgotten.
    void Close();
    // Every index's Root and Depth := its table header slot (IndexSequence); with Invalidate
    // every tree first drops its cached pages. Nothing without items; no table header fails the
    // assertion "IndexManager table header = nil".
    void ReadIndexHeaders(bool Invalidate);
    // Every index's header slot := its Root and Depth (the header's owner writes the header).
    void WriteIndexHeaders();
    // Distributes a table definition's key fields (each tagged with its IndexName) to the
    // indexes, in order. An unknown index: 9997 "Index does not exist" with the name; a String
    // key field without a size marker, or an index left without key fields: 8581 "KeyBuffers
    // invalid".
    void AssignKeyFields(const TKeyFields& KeyFields);
    // Creates every index anew (a fresh empty tree each) and stores its slot in the header. To
    // empty or re-index a table, the caller first empties the index storage (Empty(True)) or the
    // whole table; on disk that frees exactly the table's own index pages.
    void CreateIndexes();
    // Adds an index from IndexDef with the key fields of KeyFields tagged with its name and
    // creates it. A name in use: 10027 "Index already exists" with the name.
    void AddIndex(const TInternalIndexDef& IndexDef, const TKeyFields& KeyFields);
    // Releases the index's pages and removes it; its slot and the highest slot are cleared and
    // the remaining slots written. Unknown name: 9997.
    void DropIndex(const std::string& Name);
    // Empties the index (a fresh root page) and writes the slots. Unknown name: 9997.
    void EmptyIndex(const std::string& Name);
    // FindIndex(CurrentIndexName); none: 9997 "Index does not exist" with the name.
    TIndexItem* CurrentIndex() const;
    // The first index named Name ignoring case; null when none.
    TIndexItem* FindIndex(const std::string& Name) const;
    // The first index, in order, whose leading key fields carry the names of Fields in that
    // order (ignoring case); with CaseSensitiveOnly those key fields must also be
    // case-sensitive. Null when none.
    TIndexItem* FindIndexForFields(const TStrings& Fields, bool CaseSensitiveOnly) const;
    // Every tree drops its cached pages.
    void InvalidateInternalBuffers();
    // "DUMP - INDEX = 0", then index 0's dump.
    void DumpInternalStatus(TStrings& List);
    // From a TIndexManager: a copy of each item. From a TInternalIndexDefs: one item per
    // definition. Otherwise the base rules.
    void Assign(const TPersistent* Source) override;

    TIndexItem* Add();
    TIndexItem* GetItems(int Index) const;
    void SetItems(int Index, const TIndexItem* Item);
    void DeleteItem(int Index);

    // The table's index block storage; not owned.
    TBaseIOInterface* IOInterface() const { return FIOInterface; }
    void SetIOInterface(TBaseIOInterface* Value) { FIOInterface = Value; }
    TStrings* DebugStrings() const { return FDebugStrings; }
    void SetDebugStrings(TStrings* Value) { FDebugStrings = Value; }
    // The table's header, holding one root and depth per index slot; not owned.
    TTableHeader* TableHeader() const { return FTableHeader; }
    void SetTableHeader(TTableHeader* Value) { FTableHeader = Value; }
    const std::string& CurrentIndexName() const { return FCurrentIndexName; }
    void SetCurrentIndexName(const std::string& Value) { FCurrentIndexName = Value; }
    TDBStringCompareFunction DBStringCompareFunction() const { return FDBStringCompareFunction; }
    void SetDBStringCompareFunction(TDBStringCompareFunction Value) { FDBStringCompareFunction = Value; }
    // The number of open indexes that are not Hidden.
    int VisibleIndexCount() const { return FVisibleIndexCount; }
    bool IsOpen() const { return FOpen; }

private:
    TIndexItem* RequireIndex(const std::string& Name, const char* Caller) const;
    TTableHeader& RequireHeader() const;
    // Copies one key field into Item's key fields, refusing a String field without size marker.
    static void AddKeyField(TIndexItem& Item, const TKeyFieldItem& Field, const char* Caller);

    TBaseIOInterface* FIOInterface = nullptr;
    TStrings* FDebugStrings = nullptr;
    TTableHeader* FTableHeader = nullptr;
    std::string FCurrentIndexName;
    TDBStringCompareFunction FDBStringCompareFunction = nullptr;
    int FVisibleIndexCount = 0;
    bool FOpen = false;
};

}  // namespace ostra
