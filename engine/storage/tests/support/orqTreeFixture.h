// Test helper: a B+-tree over a derived index of a small table, on an in-memory or an on-disk
// index storage, with key building from values, the cursor-style insert and delete, and an
// independent structural check that reads every page of the tree through the storage.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqDisk.h"
#include "engine/storage/orqIndexDefs.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Variant.h"
#include "orqLayoutFixture.h"
#include "testsupport/TestFiles.h"

namespace ostra::testing {

// The table id and usage of the index storages the rigs make.
inline constexpr uint16_t C_TESTTABLEID = 5;

// A requested index over the ';'-separated Fields.
TIndexRequest Request(const std::string& Name, const std::string& Fields, bool Unique = false,
                      bool Descending = false, bool CaseInsensitive = false);

// An index storage: memory, or a disk storage on a fresh database file in a temporary folder.
struct IndexStorage {
    explicit IndexStorage(bool OnDisk);
    ~IndexStorage();
    // The number of index pages the storage holds (blocks in memory, owned pages on disk).
    size_t PageCount();

    bool OnDisk;
    std::unique_ptr<::ostra::test::TempDir> Dir;
    std::unique_ptr<TDiskMgr> Disk;
    std::unique_ptr<TBaseIOInterface> IO;
};

// A tree over the index Request of a table with the fields Specs.
struct TreeRig {
    TreeRig(const std::vector<FieldSpec>& Specs, const TIndexRequest& Request, bool OnDisk = false,
            TDBStringCompareFunction Compare = DBASCIICompareStrings);

    // The search key := Values (one per key field, the hidden one included; fewer leave the
    // rest null).
    void Key(std::initializer_list<Variant> Values, const TKeyMarkerList* Markers = nullptr);
    // Inserts the key of Values for Address as the cursor does (search stEQ, set the address,
    // InsertKey); returns InsertKey's result, or 1 when the key was found (nothing inserted).
    int Insert(std::initializer_list<Variant> Values, uint32_t Address);
    // Deletes the key of Values as the cursor does (search stEQ, DeleteKey); -2 when not found.
    int Delete(std::initializer_list<Variant> Values);
    // IndexSearch for Values; the found record address, 0 when not found.
    uint32_t Find(TIndexSearchType Type, std::initializer_list<Variant> Values,
                  const TSearchModifier* Modifier = nullptr, const TKeyMarkerList* Markers = nullptr);

    IndexStorage Storage;
    std::unique_ptr<TInternalFields> Fields;
    TKeyFields AllKeys;
    TInternalIndexDefs Defs;
    int KeySize = 0;
    uint32_t Root = 0;
    uint32_t Depth = 0;
    TBTree Tree;
};

// Reads the tree Root/Depth of Rig page by page and checks every stored invariant: node types
// by level, entry sizes, non-empty pages below the root, strictly ascending keys within and
// across leaves, each internal entry's key, address and count against its child, and the leaf
// chain's next and prior links. Addresses receives the leaf entries' addresses in key order.
// Returns "" when all holds, else a description of the first fault.
std::string CheckTree(TreeRig& Rig, std::vector<uint32_t>& Addresses);

}  // namespace ostra::testing
