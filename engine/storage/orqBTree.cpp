// orqBTree: the B+-tree's set-up, search keys, descent, positioning, insert and delete with
// their rebalancing, record numbers, range listing, read-ahead, hash fill and diagnostics.
#include "engine/storage/orqBTree.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqHash.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqLogger.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "host/AnsiCodec.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

[[noreturn]] void TreeError(const char* Caller, const std::string& Text) {
    OrqDatabaseError(8581, Caller, Text, nullptr);
}

}  // namespace

TBTree::TBTree() = default;

TBTree::~TBTree() = default;

// ---------------------------------------------------------------------------------------------
// Set-up

void TBTree::RebuildFieldList() {
    if (FKeyFields.Count() > C_MAXOPTIMIZEDKEYFIELDS)
        TreeError("TBTree.SetMaximumKeySize", "Too many key fields");
    FFieldList.clear();
    FPlans.clear();
    for (int i = 0; i < FKeyFields.Count(); ++i) {
        const TKeyFieldItem* field = FKeyFields.GetIndex(i);
        FFieldList.push_back(field);
        const TFieldType type = field->DataType();
        FPlans.push_back({type, field->FieldSize(), IsStringKeyType(type), field->Descending(), IsKeyFieldType(type),
                          FixedValueSize(type) != 0 && field->FieldSize() >= FixedValueSize(type)});
    }
    // The first field's value, when not null, starts right after the null bits.
    FFirstFieldOffset = C_KEYHEADERSIZE + FKeyFields.DataOffset();
    FFirstFieldFixed = !FPlans.empty() && FPlans[0].Fixed && FPlans[0].KeyType &&
                       FFirstFieldOffset + FixedValueSize(FPlans[0].Type) <= FMaximumKeySize;
}

void TBTree::SetMaximumKeySize(int Size) {
    Assert(Size > C_KEYHEADERSIZE && Size <= C_MAXKEYSIZE, "Invalid maximum key size");
    FMaximumKeySize = Size;
    FSearchKey.assign(Size + 1, 0);
    FSecondKey.assign(Size + 1, 0);
    FTempKey.assign(Size + 1, 0);
    RebuildFieldList();
    // The decoded keys pointed into the old buffers.
    FOptimizedKey = TOptimizedSearchKey();
    FRefreshKey = TOptimizedSearchKey();
    FInsertSearchValid = false;
    FCheckedPages.Clear();  // checked against another layout
    FCountPrefixes.clear();
}

void TBTree::ConnectToIFace(TBaseIOInterface* IOInterface, uint32_t PageSize, uint32_t& Root,
                            uint32_t& Depth) {
    FIO = IOInterface;
    FPageSize = PageSize;
    FRoot = &Root;
    FDepth = &Depth;
    FCheckedPages.Clear();
    FCountPrefixes.clear();
}

void TBTree::Open() {
    Close();
    FCheckedPages.Clear();  // the key fields may have changed since
    if (!FDBStringCompare) TreeError("TBTree.Open", "No sort order function assigned");
    Assert(FIO != nullptr && FRoot != nullptr && FDepth != nullptr, "BTree is not connected to a storage");
    Assert(FMaximumKeySize > 0, "MaxKeySize is 0");
    if (C_KEYHEADERSIZE + FKeyFields.DataOffset() > FMaximumKeySize ||
        FKeyFields.Count() > FKeyFields.DataOffset() * 8)
        TreeError("TBTree.Open", "KeyBuffers invalid");
    if (*FDepth > C_MAXTREEDEPTH)
        IndexCorrupt("TBTree.Open", Format("Index depth %u out of range", {*FDepth}));
    RebuildFieldList();
    for (uint32_t i = 0; i < *FDepth; ++i) {
        FNodes.push_back(std::make_unique<TNode>());
        FNodes.back()->Open(this, FIO, FPageSize);
        FInsertPositions.push_back(0);
    }
    FSpareNode = std::make_unique<TNode>();
    FSpareNode->Open(this, FIO, FPageSize);
}

void TBTree::Close() {
    FNodes.clear();
    FInsertPositions.clear();
    FSpareNode.reset();
    FPathValid = false;
    FNodesValid = false;
    FInsertSearchValid = false;
}

void TBTree::CheckOpenTree(const char* Caller) const {
    if (!FSpareNode) TreeError(Caller, "Index is not open");
    if (!FDBStringCompare) TreeError(Caller, "No sort order function assigned");
}

void TBTree::CreateTree() {
    Assert(FIO != nullptr && FRoot != nullptr && FDepth != nullptr, "BTree is not connected to a storage");
    if (!FSpareNode) {
        FSpareNode = std::make_unique<TNode>();
        FSpareNode->Open(this, FIO, FPageSize);
    }
    FNodes.clear();
    FInsertPositions.clear();
    auto node = std::make_unique<TNode>();
    node->Open(this, FIO, FPageSize);
    node->SetLeaf(ntLeaf);
    const uint32_t address = FIO->AllocateNewAddress(FPageSize, node->Buffer());
    if (address == 0) TreeError("TBTree.CreateTree", "Invalid page address");
    node->SetAddress(address);
    node->SetLeaf(ntLeaf);
    node->WriteNode();
    *FRoot = address;
    *FDepth = 1;
    FNodes.push_back(std::move(node));
    FInsertPositions.push_back(0);
    FComparisonFlags.clear();
    FPathValid = false;
    FNodesValid = false;
    FInsertSearchValid = false;
}

void TBTree::CollectSubtree(uint32_t Address, uint32_t Level, uint32_t Depth, std::vector<uint32_t>& Pages,
                            std::unordered_set<uint32_t>& Seen) {
    if (!Seen.insert(Address).second)
        IndexCorrupt("TBTree.EmptyTree", Format("Index page %u is referenced twice", {Address}));
    Pages.push_back(Address);
    TNode node;
    node.Open(this, FIO, FPageSize);
    node.ReadNode(Address);
    if (node.CheckIsLeaf() != (Level + 1 == Depth))
        IndexCorrupt("TBTree.EmptyTree", Format("Index page %u lies at the wrong level", {Address}));
    if (node.CheckIsLeaf()) return;
    for (int p = 0; p < node.Used(); p += node.KeySize()) {
        const uint32_t child = node.EntryAddress(p);
        CheckChildAddress(child, "TBTree.EmptyTree");
        CollectSubtree(child, Level + 1, Depth, Pages, Seen);
    }
}

void TBTree::EmptyTree(bool DeleteIndex) {
    Assert(FIO != nullptr && FRoot != nullptr && FDepth != nullptr, "BTree is not connected to a storage");
    if (*FRoot == 0) return;
    if (*FDepth == 0 || *FDepth > C_MAXTREEDEPTH)
        IndexCorrupt("TBTree.EmptyTree", Format("Index depth %u out of range", {*FDepth}));
    // Every page is found and checked before the first one is released, so a damaged tree
    // cannot make a page go back to the storage twice.
    std::vector<uint32_t> pages;
    std::unordered_set<uint32_t> seen;
    CollectSubtree(*FRoot, 0, *FDepth, pages, seen);
    for (uint32_t page : pages) FIO->ReleaseBlock(page, FPageSize);
    Close();
    if (DeleteIndex) {
        *FRoot = 0;
        *FDepth = 0;
    } else {
        CreateTree();
    }
    FPathValid = false;
    FNodesValid = false;
}

void TBTree::InvalidateInternalBuffers() {
    for (auto& node : FNodes) node->SetAddress(0);
    if (FSpareNode) FSpareNode->SetAddress(0);
    FPathValid = false;
    FNodesValid = false;
    FInsertSearchValid = false;
}

// ---------------------------------------------------------------------------------------------
// Search keys

void TBTree::DecodeSearchKey() {
    FOptimizedKey.SetDataFromKeyBuf(FKeyFields, &FComparisonFlags, FSearchKey.data(), FMaximumKeySize);
    FInsertSearchValid = false;
}

void TBTree::ConstructKeyBufFromRecBuf(const uint8_t* RecBuf, const TKeyMarkerList* Markers) {
    ostra::ConstructKeyBufFromRecBuf(FKeyFields, FMaximumKeySize, RecBuf, FSearchKey.data(), Markers,
                                     &FComparisonFlags);
    DecodeSearchKey();
}

void TBTree::ConstructTempKeyBufFromRecBuf(uint8_t* Dest, const uint8_t* RecBuf,
                                           const TKeyMarkerList* Markers) {
    ostra::ConstructKeyBufFromRecBuf(FKeyFields, FMaximumKeySize, RecBuf, FTempKey.data(), Markers, nullptr);
    std::memcpy(Dest, FTempKey.data(), FMaximumKeySize);
}

void TBTree::ConstructKeyBufFromKeyBuf(const uint8_t* KeyBuf, const TKeyMarkerList* Markers) {
    if (!KeyBuf) TreeError("TBTree.ConstructKeyBufFromKeyBuf", "SrcBuf is unassigned");
    if (Load16(KeyBuf + C_KEYSIZEOFFSET) > FMaximumKeySize)
        TreeError("TBTree.ConstructKeyBufFromKeyBuf", "KeySize out of range");
    std::memcpy(FSearchKey.data(), KeyBuf, FMaximumKeySize);
    FComparisonFlags.clear();
    for (int i = 0; i < FKeyFields.Count(); ++i)
        FComparisonFlags.push_back(Markers && static_cast<int>(Markers->size()) > i
                                       ? (*Markers)[i]
                                       : static_cast<uint8_t>(fcDefault));
    DecodeSearchKey();
}

void TBTree::ConstructKeyBufFromVariants(const Variant& Values, const TKeyMarkerList* Markers) {
    ostra::ConstructKeyBufFromVariants(FKeyFields, FMaximumKeySize, Values, FSearchKey.data(), Markers,
                                       &FComparisonFlags);
    DecodeSearchKey();
}

void TBTree::CopyKey(const uint8_t* Src, uint8_t* Dst) {
    if (!Src) TreeError("TBTree.CopyKey", "SrcBuf is unassigned");
    const int size = Load16(Src + C_KEYSIZEOFFSET);
    if (size > FMaximumKeySize) TreeError("TBTree.CopyKey", "KeySize out of range");
    if (Dst) {
        std::memcpy(Dst, Src, size);
        return;
    }
    std::memset(FSearchKey.data(), 0, FSearchKey.size());
    std::memcpy(FSearchKey.data(), Src, size);
    DecodeSearchKey();
}

void TBTree::SetKeyBufAddr(uint32_t Address) {
    Store32(FSearchKey.data() + C_KEYADDROFFSET, Address);
}

// ---------------------------------------------------------------------------------------------
// Comparison

int TBTree::CompareKeys(int FieldCount, const TKeyMarkerList* Markers1, const TKeyMarkerList* Markers2,
                        const uint8_t* Key1, const uint8_t* Key2) const {
    return ostra::CompareKeys(FKeyFields, FDBStringCompare, FMaximumKeySize, FieldCount, Markers1, Markers2,
                              Key1, Key2);
}

int TBTree::CompareToOptimizedKey(int FieldCount, const uint8_t* Entry) const {
    return CompareDecodedKey(FOptimizedKey, FieldCount, Entry);
}

int TBTree::CompareDecodedKey(const TOptimizedSearchKey& Key, int FieldCount, const uint8_t* Entry) const {
    const int size = Load16(Entry + C_KEYSIZEOFFSET);
    if (size > FMaximumKeySize)
        TreeError("TBTree.CompareToOptimizedKey", "Invalid key size: " + IntToStr(size));
    const int count = static_cast<int>(FPlans.size());
    const int n = FieldCount > 0 ? std::min(FieldCount, count) : count;
    int pos = C_KEYHEADERSIZE + FKeyFields.DataOffset();
    for (int i = 0; i < n; ++i) {
        const int marker = Key.GetComparisonMarker(i);
        if (marker != 0) return marker;
        const TKeyPlan& plan = FPlans[i];
        const bool has1 = Key.HasValue(i);
        const bool has2 = (Entry[C_KEYHEADERSIZE + i / 8] & (128u >> (i % 8))) != 0;
        int r = static_cast<int>(has1) - static_cast<int>(has2);
        if (has2) {
            int len = plan.Size;
            if (plan.IsString) {
                if (pos + 2 > FMaximumKeySize)
                    TreeError("TBTree.CompareToOptimizedKey", "KeySize out of range");
                len = Load16(Entry + pos);
                pos += 2;
            }
            if (len < 0 || pos + len > FMaximumKeySize)
                TreeError("TBTree.CompareToOptimizedKey", "KeySize out of range");
            if (r == 0) {
                if (!plan.KeyType)
                    TreeError("TBTree.CompareToOptimizedKey",
                              std::string("Field type not found in KeyBufCompare: ") + FieldTypeName(plan.Type));
                r = plan.Fixed ? CompareFixedKeyValues(plan.Type, Key.GetValue(i), Entry + pos)
                               : CompareKeyValues(*FFieldList[i], FDBStringCompare, Key.GetValue(i),
                                                  Key.GetDataSize(i), Entry + pos, len);
            }
            pos += len;
        }
        if (plan.Descending) r = -r;
        if (r != 0) return r;
    }
    return 0;
}


// ---------------------------------------------------------------------------------------------
// Descent

void TBTree::CheckChildAddress(uint32_t Address, const char* Caller) const {
    if (Address == 0 || Address == *FRoot || !FIO->CheckLinkAddress(Address))
        IndexCorrupt(Caller, Format("Invalid index page address %u", {Address}));
}

void TBTree::CheckLevel(const TNode& Node, size_t Level, size_t Depth) const {
    const bool leafLevel = Level + 1 == Depth;
    if (Node.CheckIsLeaf() != leafLevel)
        IndexCorrupt("TBTree.InternalSearch",
                     Format("Index page %u lies at the wrong level", {Node.Address()}));
    if (Level > 0 && Node.CheckNodeEmpty())
        IndexCorrupt("TBTree.InternalSearch", Format("Index page %u is empty", {Node.Address()}));
}

void TBTree::InternalPrepareNodes() {
    CheckOpenTree("TBTree.InternalPrepareNodes");
    FPathValid = false;
    FNodesValid = false;
    FInsertSearchValid = false;
    const uint32_t depth = *FDepth;
    if (*FRoot == 0 || depth == 0) TreeError("TBTree.InternalPrepareNodes", "Not initialized");
    if (depth > C_MAXTREEDEPTH)
        IndexCorrupt("TBTree.InternalPrepareNodes", Format("Index depth %u out of range", {depth}));
    while (FNodes.size() < depth) {
        FNodes.push_back(std::make_unique<TNode>());
        FNodes.back()->Open(this, FIO, FPageSize);
        FInsertPositions.push_back(0);
    }
    while (FNodes.size() > depth) {
        FNodes.pop_back();
        FInsertPositions.pop_back();
    }
    Assert(FNodes.size() == FInsertPositions.size(), "Node and InsertPos List not in sync");
    std::fill(FInsertPositions.begin(), FInsertPositions.end(), 0);
    FSpareNode->SetAddress(0);
    FNodes[0]->ReadNode(*FRoot);
    CheckLevel(*FNodes[0], 0, depth);
    if (depth > 1 && FNodes[0]->CheckNodeEmpty())
        IndexCorrupt("TBTree.InternalPrepareNodes", Format("Index page %u is empty", {*FRoot}));
}

int TBTree::InternalSearch(const TOptimizedSearchKey& Key, int FieldCount, bool ForceToKey,
                           TSearchBound Bound, bool ViewPages) {
    InternalPrepareNodes();
    const size_t depth = FNodes.size();
    if (FNodes[0]->CheckNodeEmpty()) {
        // An empty root leaf: the only position is its start.
        FNodesValid = true;
        return -1;
    }
    int r = 0;
    try {
        for (size_t level = 0; level < depth; ++level) {
            TNode& node = *FNodes[level];
            int pos = 0;
            r = node.SearchNode(Key, FieldCount, Bound, pos);
            FInsertPositions[level] = pos;
            if (level + 1 < depth) {
                const uint32_t child = node.EntryAddress(pos);
                // A record number asked later then needs this page no more.
                if (node.Viewing()) node.NoteRecordsBefore();
                // A viewed page is let go before the next storage call.
                node.EndView();
                CheckChildAddress(child, "TBTree.InternalSearch");
                // The pages between the root and the leaves are searched in place when the page
                // cache lends them (the root and the leaf are held: the root stays the same, the
                // leaf is what the cursor reads and steps through).
                TNode& next = *FNodes[level + 1];
                if (!(ViewPages && level + 2 < depth && next.Address() != child && next.ViewNode(child)))
                    next.ReadNode(child);
                CheckLevel(next, level + 1, depth);
            }
        }
    } catch (...) {
        for (auto& node : FNodes)
            if (node->Viewing()) node->DropView();
        throw;
    }
    TNode& leaf = *FNodes.back();
    FNodesValid = true;
    FPathValid = true;
    // The first entry not below the key may start the next leaf.
    if (Bound == sbLower && r > 0 && leaf.GetNext() != 0) {
        StepLeaf(leaf, true);
        FInsertPositions.back() = 0;
        r = CompareDecodedKey(Key, FieldCount, leaf.GetCurrentKey());
        FPathValid = false;
    }
    if (ForceToKey && leaf.Cursor() >= leaf.Used()) leaf.ForceCursorToPhysicalKey();
    return r;
}

bool TBTree::SearchHeldLeaf(const TOptimizedSearchKey& Key, int FieldCount, TSearchBound Bound, int& Result) {
    if (!FNodesValid || !FPathValid || FNodes.size() < 2 || FNodes.size() != *FDepth ||
        FNodes[0]->Address() != *FRoot)
        return false;
    TNode& leaf = *FNodes.back();
    if (leaf.Viewing() || leaf.Address() == 0 || leaf.Changed() || !leaf.CheckIsLeaf() || leaf.GetCount() < 3)
        return false;
    // Only a key strictly between the leaf's first and last entries: every entry that agrees
    // with it over the compared fields lies inside this leaf, so a descent would end here too.
    if (leaf.CompareEntry(Key, FieldCount, 0) <= 0 ||
        leaf.CompareEntry(Key, FieldCount, leaf.Used() - leaf.KeySize()) >= 0)
        return false;
    int pos = 0;
    Result = leaf.SearchNode(Key, FieldCount, Bound, pos);
    FInsertPositions.back() = pos;
    FInsertSearchValid = false;
    return true;
}

void TBTree::InternalRefreshToCurrentCursor(bool ViewPages) {
    TNode& leaf = *FNodes.back();
    leaf.CopyCurrentKey(FSecondKey.data());
    FRefreshKey.SetDataFromKeyBuf(FKeyFields, nullptr, FSecondKey.data(), FMaximumKeySize);
    const int r = InternalSearch(FRefreshKey, 0, true, sbExact, ViewPages);
    if (r != 0) {
        if (TDBLogger* logger = GDBLogger())
            logger->LogItem("BTree", "Failure of internal refresh to cursor");
        IndexCorrupt("TBTree.InternalRefreshToCurrentCursor", "Failure of internal refresh to cursor");
    }
    FPathValid = true;
}

bool TBTree::StepLeaf(TNode& Node, bool Forward) {
    const uint32_t from = Node.Address();
    const uint32_t link = Forward ? Node.GetNext() : Node.GetPrior();
    if (link == 0) return false;
    if (link == from || Node.CheckNodeEmpty())
        IndexCorrupt("TBTree.StepLeaf", Format("Invalid leaf link %u", {link}));
    CheckChildAddress(link, "TBTree.StepLeaf");
    // The boundary entry: the new leaf's keys must all lie beyond it.
    std::memcpy(FTempKey.data(), Node.EntryAt(Forward ? Node.Used() - Node.KeySize() : 0), FMaximumKeySize);
    if (!FNodes.empty() && &Node == FNodes.back().get()) FInsertSearchValid = false;
    Node.ReadNode(link);
    const bool linked = Forward ? Node.GetPrior() == from : Node.GetNext() == from;
    if (!Node.CheckIsLeaf() || Node.CheckNodeEmpty() || !linked)
        IndexCorrupt("TBTree.StepLeaf", Format("Invalid leaf link %u", {link}));
    const int r = Forward ? CompareKeys(0, nullptr, nullptr, Node.EntryAt(0), FTempKey.data())
                          : CompareKeys(0, nullptr, nullptr, Node.EntryAt(Node.Used() - Node.KeySize()),
                                        FTempKey.data());
    if (Forward ? r <= 0 : r >= 0)
        IndexCorrupt("TBTree.StepLeaf", Format("Leaf %u is out of key order", {link}));
    Node.SetCursorToEnd(Forward);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Positioning

int TBTree::IndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier) {
    CheckOpenTree("TBTree.IndexSearch");
    const int fieldCount = static_cast<int>(FFieldList.size());
    int n = 0;
    if (Modifier && Modifier->LimitedSearch()) {
        n = Modifier->IncludedKeyFieldCount();
        if (n < 1) {
            n = 0;
            while (n < fieldCount && !FFieldList[n]->Hidden()) ++n;
        }
    }
    const bool limited = n > 0 && n < fieldCount;
    TSearchBound bound = sbExact;
    if (limited) bound = SearchType == stLE || SearchType == stGT ? sbUpper : sbLower;
    int r = 0;
    if (!SearchHeldLeaf(FOptimizedKey, limited ? n : 0, bound, r))
        r = InternalSearch(FOptimizedKey, limited ? n : 0, true, bound);
    if (!limited) {
        FInsertSearchValid = true;
        FInsertSearchResult = r;
    }
    if (r != 0 && FNodes[0]->CheckNodeEmpty()) return r;

    bool found = false;
    switch (SearchType) {
        case stLT:
            if (r > 0)
                found = true;
            else {
                found = PriorRecord();
                if (!found && r == 0) r = -1;
            }
            break;
        case stLE:
            found = r >= 0 || PriorRecord();
            break;
        case stEQ:
            found = r == 0;
            break;
        case stGE:
            found = r <= 0 || NextRecord();
            break;
        case stGT:
            if (r < 0)
                found = true;
            else {
                found = NextRecord();
                if (!found && r == 0) r = -1;
            }
            break;
        case stLEG:
            // Beyond the last key: the last key of the index is taken.
            if (r > 0) NextRecord();
            found = true;
            break;
    }
    if (!found) return r;
    if (!FPathValid) InternalRefreshToCurrentCursor();
    return 0;
}

bool TBTree::NextRecord() {
    if (!FNodesValid || FNodes.empty()) return false;
    TNode& leaf = *FNodes.back();
    if (leaf.NextRecord()) return true;
    if (!StepLeaf(leaf, true)) return false;
    InternalRefreshToCurrentCursor();
    return true;
}

bool TBTree::PriorRecord() {
    if (!FNodesValid || FNodes.empty()) return false;
    TNode& leaf = *FNodes.back();
    if (leaf.PriorRecord()) return true;
    if (!StepLeaf(leaf, false)) return false;
    InternalRefreshToCurrentCursor();
    return true;
}

uint32_t TBTree::GetRecAddr() {
    if (FNodes.empty() || !FNodes.back()->CheckIsLeaf())
        TreeError("TBTree.GetRecAddr", "Attempt to read record address from non-leaf node");
    return FNodes.back()->GetRecordAddress();
}

const uint8_t* TBTree::GetCurrentKeyBuf() {
    if (!FNodesValid || FNodes.empty()) TreeError("TBTree.GetCurrentKeyBuf", "CurrentKeyCursor is invalid");
    return FNodes.back()->GetCurrentKey();
}

int TBTree::CompareKeyToCurrentKeyBuf(const TKeyMarkerList* Markers, const uint8_t* KeyBuf) {
    return CompareKeys(0, Markers, nullptr, KeyBuf, GetCurrentKeyBuf());
}

// ---------------------------------------------------------------------------------------------
// Record counts and numbers

int TBTree::GetRecordCount(bool Refresh) {
    CheckOpenTree("TBTree.GetRecordCount");
    if (!FNodesValid || FNodes.empty() || (Refresh && FNodes[0]->Address() != *FRoot)) InternalPrepareNodes();
    if (FNodes[0]->Address() != *FRoot)
        if (TDBLogger* logger = GDBLogger()) logger->NamedMonitorDelta("ROOTADDRNOTVALID", 1);
    return FNodes[0]->GetRecordCount(-1);
}

const int64_t* TBTree::CountPrefix(const TNode& Node) {
    if (Node.Stamp() == 0 || Node.Changed() || Node.CheckIsLeaf() || Node.Address() == 0) return nullptr;
    if (FCountPrefixes.empty()) FCountPrefixes.resize(CCountPrefixSlots);
    // Fibonacci hashing: the top bits of the product (page addresses share their low bits).
    TCountPrefix& slot = FCountPrefixes[(Node.Address() * 0x9E3779B1u) >> 26];
    if (slot.Address != Node.Address() || slot.Stamp != Node.Stamp()) {
        slot.Address = Node.Address();
        slot.Stamp = Node.Stamp();
        slot.Sums.clear();
        return nullptr;
    }
    if (slot.Sums.empty()) {
        const int count = Node.GetCount();
        slot.Sums.resize(size_t(count) + 1);
        int64_t sum = 0;
        for (int k = 0; k < count; ++k) {
            slot.Sums[size_t(k)] = sum;
            sum += Node.EntryCount(k * Node.KeySize());
        }
        slot.Sums[size_t(count)] = sum;
    }
    return slot.Sums.data();
}

bool TBTree::HoldPath() {
    for (size_t level = 1; level + 1 < FNodes.size(); ++level)
        if (FNodes[level]->ViewedAddress() != 0 && !FNodes[level]->HoldViewed()) return false;
    return true;
}

int TBTree::GetRecordNo() {
    if (!FNodesValid || FNodes.empty()) TreeError("TBTree.GetRecordNo", "CurrentKeyCursor is invalid");
    if (!FPathValid) InternalRefreshToCurrentCursor();
    int64_t number = 0;
    for (size_t level = 0; level + 1 < FNodes.size(); ++level) {
        const int pos = FInsertPositions[level];
        if (pos <= 0) continue;
        TNode& node = *FNodes[level];
        // The page's record count as its parent entry holds it, when the parent page is held.
        const TNode* parent = level > 0 ? FNodes[level - 1].get() : nullptr;
        const int64_t total =
            parent && parent->ViewedAddress() == 0 ? int64_t(parent->EntryCount(FInsertPositions[level - 1])) : -1;
        if (node.ViewedAddress() == 0 || node.RecordsBeforeKnown(pos)) {
            // A held page, or the sum noted while the descent viewed it.
            number += node.RecordsBefore(pos, total);
        } else if (node.ViewAgain()) {
            number += node.RecordsBefore(pos, total);
            node.EndView();
        } else {
            // The page viewed changed or left the cache since: hold the path (a new descent
            // when a page changed) and count again from the held pages.
            if (!HoldPath()) InternalRefreshToCurrentCursor(false);
            return GetRecordNo();
        }
    }
    const TNode& leaf = *FNodes.back();
    number += leaf.Cursor() / leaf.KeySize() + 1;
    if (number > INT32_MAX) IndexCorrupt("TBTree.GetRecordNo", "Record number out of range");
    return static_cast<int>(number);
}

uint32_t TBTree::GetAddrOfRecNo(int RecNo) {
    InternalPrepareNodes();
    const size_t depth = FNodes.size();
    if (FNodes[0]->CheckNodeEmpty()) return 0;
    const int64_t total = FNodes[0]->GetRecordCount(-1);
    int64_t remainder = std::clamp<int64_t>(RecNo, 1, std::max<int64_t>(total, 1));
    uint32_t address = 0;
    for (size_t level = 0; level < depth; ++level) {
        TNode& node = *FNodes[level];
        int64_t before = 0;
        address = node.SearchNodeByRecNo(remainder, before);
        remainder -= before;
        // Both come from stored counts and addresses: a damaged page, not a fault of the tree.
        if (remainder < 0) IndexCorrupt("TBTree.GetAddrOfRecNo", "invalid recno in getaddr of recno");
        if (address == 0) IndexCorrupt("TBTree.GetAddrOfRecNo", "invalid address returned from searchbyrecno");
        if (level + 1 < depth) {
            CheckChildAddress(address, "TBTree.GetAddrOfRecNo");
            TNode& child = *FNodes[level + 1];
            child.ReadNode(address);
            CheckLevel(child, level + 1, depth);
            if (remainder > child.GetRecordCount(-1))
                IndexCorrupt("TBTree.GetAddrOfRecNo",
                             Format("Index page %u: record counts do not match", {address}));
        }
    }
    FPathValid = false;
    FNodesValid = false;
    return address;
}

// ---------------------------------------------------------------------------------------------
// Changing

void TBTree::RefreshParentEntry(TNode& Parent, int Pos, const TNode& Child) {
    Assert(!Child.CheckNodeEmpty(), "Parent entry of an empty page");
    Parent.UpdateKey(Pos, Child.EntryAt(0));
    Parent.SetEntryAddress(Pos, Child.Address());
    Parent.SetEntryCount(Pos, static_cast<uint32_t>(Child.GetRecordCount(-1)));
}

void TBTree::UpdateParentEntry(TNode& Parent, int Pos, const TNode& Child, TLevelChange Change, int Delta) {
    if (Change == lcCount)
        Parent.SetEntryCount(Pos, Parent.EntryCount(Pos) + static_cast<uint32_t>(Delta));
    else
        RefreshParentEntry(Parent, Pos, Child);
}

void TBTree::ReleasePage(uint32_t Address) {
    FIO->ReleaseBlock(Address, FPageSize);
    for (auto& node : FNodes)
        if (node->Address() == Address || node->ViewedAddress() == Address) node->SetAddress(0);
    if (FSpareNode->Address() == Address) FSpareNode->SetAddress(0);
}

void TBTree::ForgetNodesBelowRoot() {
    for (size_t i = 1; i < FNodes.size(); ++i) FNodes[i]->SetAddress(0);
    FSpareNode->SetAddress(0);
}

void TBTree::SetLeafLink(uint32_t Address, int Offset, uint32_t Value) {
    CheckChildAddress(Address, "TBTree.SetLeafLink");
    uint8_t header[C_NODEHEADERSIZE];
    FIO->ReadBlockHeader(Address, C_NODEHEADERSIZE, header);
    if (Load32(header + C_NODETYPEOFFSET) == 0)
        IndexCorrupt("TBTree.SetLeafLink", Format("Invalid leaf link %u", {Address}));
    Store32(header + Offset, Value);
    FIO->WriteBlockHeader(Address, C_NODEHEADERSIZE, header);
    // A node caching that page takes the new link too.
    for (auto& node : FNodes)
        if (node->Address() == Address)
            Offset == C_NODENEXTOFFSET ? node->SetNext(Value) : node->SetPrior(Value);
    if (FSpareNode->Address() == Address)
        Offset == C_NODENEXTOFFSET ? FSpareNode->SetNext(Value) : FSpareNode->SetPrior(Value);
}

void TBTree::StoreRootAndDepth() {
    *FDepth = static_cast<uint32_t>(FNodes.size());
}

void TBTree::AfterChange() {
    StoreRootAndDepth();
    FPathValid = false;
    FNodesValid = false;
    FInsertSearchValid = false;
}

int TBTree::InsertKey() {
    CheckOpenTree("TBTree.InsertKey");
    FInsertLeftCursorOnKey = false;
    if (!FInsertSearchValid || !HoldPath()) {
        const int r = InternalSearch(FOptimizedKey, 0, false, sbExact, false);
        FInsertSearchValid = true;
        FInsertSearchResult = r;
    }
    if (FInsertSearchResult == 0 && !FNodes[0]->CheckNodeEmpty()) return -1;

    const size_t depth = FNodes.size();
    TNode& spare = *FSpareNode;
    // The pending entry: the search key (a leaf entry carries no count), later a new page's.
    uint8_t* pending = FTempKey.data();
    std::memcpy(pending, FSearchKey.data(), FMaximumKeySize);
    const uint16_t size = static_cast<uint16_t>(FMaximumKeySize);
    std::memcpy(pending + C_KEYSIZEOFFSET, &size, 2);
    Store32(pending + C_KEYCOUNTOFFSET, 0);
    int position = FInsertPositions[depth - 1];
    // The levels 0 .. rightmost - 1 lie on the right edge of the tree (the path takes the last
    // entry of every page above them). Keys added in ascending order arrive at the end of those
    // pages: splitting them in the middle would leave every page half empty for good, so such a
    // split moves only the new last entry to the new page.
    size_t rightmost = 1;
    while (rightmost < depth &&
           FInsertPositions[rightmost - 1] == FNodes[rightmost - 1]->Used() - FMaximumKeySize)
        ++rightmost;
    bool isPending = true;
    bool split = false;
    TLevelChange below = lcCount;  // how the page of the level below changed
    for (size_t i = depth; i-- > 0;) {
        TNode& node = *FNodes[i];
        TLevelChange change = lcCount;  // one record more, the same first key
        if (i + 1 < depth) {
            // The path entry of the child: one record more, or taken afresh from the child.
            const int q = FInsertPositions[i];
            UpdateParentEntry(node, q, *FNodes[i + 1], below, 1);
            if (below != lcCount && q == 0) change = lcFirstKey;
        }
        if (isPending) {
            node.InsertKey(position, pending);
            const bool appended = i < rightmost && position == node.Used() - FMaximumKeySize;
            isPending = false;
            if (position == 0) change = lcFirstKey;
            if (node.CheckNodeFull()) {
                split = true;
                change = lcRebalanced;
                spare.SetAddress(0);
                spare.ClearNode();
                const uint32_t newAddress = FIO->AllocateNewAddress(FPageSize, spare.Buffer());
                if (newAddress == 0) TreeError("TBTree.InsertKey", "Invalid page address");
                spare.SetAddress(newAddress);
                node.SplitNode(spare, newAddress, appended);
                spare.SetLeaf(node.NodeType());
                std::memcpy(pending, spare.EntryAt(0), FMaximumKeySize);
                Store32(pending + C_KEYADDROFFSET, newAddress);
                Store32(pending + C_KEYCOUNTOFFSET, static_cast<uint32_t>(spare.GetRecordCount(-1)));
                spare.WriteNode();
                isPending = true;
                if (i > 0) position = FNodes[i - 1]->FindKeyByPosition(ksGE, FInsertPositions[i - 1] + 1);
            }
        }
        node.WriteNode();
        below = change;
    }

    if (isPending) {
        // Root split: the root's lower half moves to a new left child, the root keeps its
        // address and becomes an internal page over the two halves.
        TNode& root = *FNodes[0];
        auto left = std::make_unique<TNode>();
        left->Open(this, FIO, FPageSize);
        const uint32_t leftAddress = FIO->AllocateNewAddress(FPageSize, root.Buffer());
        if (leftAddress == 0) TreeError("TBTree.InsertKey", "Invalid page address");
        left->SetAddress(leftAddress);
        left->CopyNode(root.Buffer());
        left->WriteNode();
        if (root.CheckIsLeaf()) {
            spare.SetPrior(leftAddress);
            spare.WriteNode();
        }
        root.ClearNode();
        root.SetLeaf(ntNode);
        std::vector<uint8_t> leftEntry(FMaximumKeySize);
        std::memcpy(leftEntry.data(), left->EntryAt(0), FMaximumKeySize);
        Store32(leftEntry.data() + C_KEYADDROFFSET, leftAddress);
        Store32(leftEntry.data() + C_KEYCOUNTOFFSET, static_cast<uint32_t>(left->GetRecordCount(-1)));
        root.InsertKey(0, leftEntry.data());
        root.InsertKey(FMaximumKeySize, pending);
        root.WriteNode();
        FNodes.push_back(std::move(left));
        FInsertPositions.push_back(0);
        ForgetNodesBelowRoot();
    }
    if (split) {
        AfterChange();
        return 0;
    }
    // No page split: the path pages hold what was written (the counts on the path one higher)
    // and the path positions still lead to the new entry, so the cursor stands on it as after a
    // search of the key.
    StoreRootAndDepth();
    FNodes.back()->SetCursor(FInsertPositions.back());
    FNodesValid = true;
    FPathValid = true;
    FInsertSearchValid = false;
    FInsertLeftCursorOnKey = true;
    return 0;
}

int TBTree::DeleteKey() {
    CheckOpenTree("TBTree.DeleteKey");
    if (!FNodesValid || FNodes.empty()) return -1;
    TNode& leaf = *FNodes.back();
    if (leaf.Cursor() >= leaf.Used()) return -1;
    if (!FPathValid || !HoldPath()) InternalRefreshToCurrentCursor(false);

    const size_t depth = FNodes.size();
    TNode& spare = *FSpareNode;
    spare.SetAddress(0);
    int position = FNodes.back()->Cursor();
    bool isPending = true;
    TLevelChange below = lcCount;  // how the page of the level below changed
    for (size_t i = depth; i-- > 0;) {
        TNode& node = *FNodes[i];
        TNode* parent = i > 0 ? FNodes[i - 1].get() : nullptr;
        const int q = i > 0 ? FInsertPositions[i - 1] : 0;
        // One record less and the same first key, unless this level finds otherwise; the
        // child's path entry was brought up to date when the level below was done.
        TLevelChange change = below != lcCount && FInsertPositions[i] == 0 ? lcFirstKey : lcCount;
        if (isPending) {
            isPending = false;
            node.DeleteKey(position);
            if (position == 0) change = lcFirstKey;
            if (parent && parent->GetCount() > 1 && node.CheckNodeTooEmpty()) {
                const int s = parent->GetRedistributeNode(q);
                const uint32_t siblingAddress = parent->EntryAddress(s);
                CheckChildAddress(siblingAddress, "TBTree.DeleteKey");
                if (siblingAddress == node.Address())
                    IndexCorrupt("TBTree.DeleteKey",
                                 Format("Index page %u is referenced twice", {siblingAddress}));
                spare.ReadNode(siblingAddress);
                if (spare.CheckIsLeaf() != node.CheckIsLeaf() || spare.CheckNodeEmpty())
                    IndexCorrupt("TBTree.DeleteKey", Format("Index page %u is invalid", {siblingAddress}));
                const bool rightSibling = q < s;
                const int b = rightSibling ? node.RedistributeNodes(spare) : spare.RedistributeNodes(node);
                if (b != 0) change = lcRebalanced;
                if (b < 0) {
                    node.MergeNodes(spare, rightSibling);
                    ReleasePage(siblingAddress);
                    position = s;
                    isPending = true;
                } else if (b > 0) {
                    spare.WriteNode();
                    RefreshParentEntry(*parent, s, spare);
                }
            }
            if (parent && node.CheckNodeEmpty()) {
                // Left empty under a single-entry parent: the page goes, and so does its
                // parent entry.
                if (node.CheckIsLeaf()) {
                    if (node.GetPrior() != 0) SetLeafLink(node.GetPrior(), C_NODENEXTOFFSET, node.GetNext());
                    if (node.GetNext() != 0) SetLeafLink(node.GetNext(), C_NODEPRIOROFFSET, node.GetPrior());
                }
                ReleasePage(node.Address());
                position = q;
                isPending = true;
                below = lcRebalanced;
                continue;
            }
        }
        if (parent) UpdateParentEntry(*parent, q, node, change, -1);
        node.WriteNode();
        below = change;
    }

    // Root collapse: a root with a single child takes the child's page.
    TNode& root = *FNodes[0];
    bool shifted = false;
    while (FNodes.size() > 1 && root.GetCount() == 1) {
        const uint32_t childAddress = root.EntryAddress(0);
        CheckChildAddress(childAddress, "TBTree.DeleteKey");
        spare.ReadNode(childAddress);
        root.CopyNode(spare.Buffer());
        if (root.CheckIsLeaf()) {
            root.SetNext(0);
            root.SetPrior(0);
        }
        root.WriteNode();
        ReleasePage(childAddress);
        FNodes.pop_back();
        FInsertPositions.pop_back();
        shifted = true;
    }
    if (FNodes.size() > 1 && root.CheckNodeEmpty()) {
        // Every record is gone: the root becomes an empty leaf again.
        root.ClearNode();
        root.SetLeaf(ntLeaf);
        root.WriteNode();
        FNodes.resize(1);
        FInsertPositions.resize(1);
        shifted = true;
    }
    if (shifted) ForgetNodesBelowRoot();
    AfterChange();
    return 0;
}

int TBTree::IdxInsert() {
    CheckOpenTree("TBTree.IdxInsert");
    const int r = InternalSearch(FOptimizedKey, 0, false, sbExact);
    FInsertSearchValid = true;
    FInsertSearchResult = r;
    if (r == 0 && !FNodes[0]->CheckNodeEmpty()) return -1;
    return InsertKey();
}

int TBTree::IdxDelete() {
    CheckOpenTree("TBTree.IdxDelete");
    const int r = InternalSearch(FOptimizedKey, 0, true, sbExact);
    if (r != 0) return -1;
    return DeleteKey();
}

// ---------------------------------------------------------------------------------------------
// Listing

void TBTree::ListMatchingRecords(const uint8_t* KeyBuf, int FieldCount, uint32_t StopAddress,
                                 TIndexSearchType SearchType, bool Ascending, TCompoundList& List,
                                 bool& Flag) {
    Flag = false;
    if (!FNodesValid || !FPathValid || FNodes.empty()) return;
    TNode& leaf = *FNodes.back();
    if (leaf.Cursor() >= leaf.Used()) return;
    // The reference key outlives the leaf walk (the leaf node's page changes).
    std::vector<uint8_t> key(FMaximumKeySize + 1, 0);
    std::memcpy(key.data(), KeyBuf ? KeyBuf : leaf.GetCurrentKey(), FMaximumKeySize);
    const bool backwards = SearchType == stLT || SearchType == stLE;
    const bool matchKey = SearchType == stEQ;
    // The cursor must lie on the listed side of the key.
    const int c = CompareKeys(FieldCount, nullptr, nullptr, key.data(), leaf.GetCurrentKey());
    if (backwards && c < 0) return;
    if ((SearchType == stGE || SearchType == stGT) && c > 0) return;
    const int first = GetRecordNo();

    TCompoundList listed;
    bool stopped =
        leaf.ListRecords(matchKey, backwards, listed, StopAddress, leaf.Cursor(), FieldCount, key.data());
    while (!stopped) {
        if (!StepLeaf(leaf, !backwards)) break;
        leaf.SetCursorToEnd(true);
        FPathValid = false;
        stopped = leaf.ListRecords(matchKey, backwards, listed, StopAddress, -1, FieldCount, key.data());
    }
    const int count = listed.Count();
    const bool reverse = Ascending && backwards;
    List.Reserve(List.Count() + count);
    for (int k = 0; k < count; ++k) {
        const int i = reverse ? count - 1 - k : k;
        List.Add(listed.Items(i), backwards ? first - i : first + i);
    }
}

int TBTree::ListReadAheadRecords(TReadAheadDirection Direction, int Count, TReadAheadBuffer& Buffer) {
    if (!FNodesValid || !FPathValid || FNodes.empty()) return 0;
    TNode& leaf = *FNodes.back();
    const int cursor = leaf.Cursor();
    if (cursor >= leaf.Used()) return 0;
    const int recNo = GetRecordNo();
    const int start = Buffer.Count();
    int firstRecNo = recNo;
    switch (Direction) {
        case rdBackwards: {
            const int added = leaf.ListRecordsInNode(true, cursor, Buffer, Count);
            firstRecNo = recNo - added + 1;
            break;
        }
        case rdCenter: {
            const int before =
                cursor > 0 ? leaf.ListRecordsInNode(true, cursor - leaf.KeySize(), Buffer, Count >> 1) : 0;
            leaf.ListRecordsInNode(false, cursor, Buffer, Count >> 1);
            firstRecNo = recNo - before;
            break;
        }
        default:
            leaf.ListRecordsInNode(false, cursor, Buffer, Count);
            break;
    }
    const int added = Buffer.Count() - start;
    for (int i = 0; i < added; ++i) {
        TReadAheadBufferItem* item = Buffer.GetItems(start + i);
        item->SetRecNo(firstRecNo + i);
        if (i > 0) {
            const TReadAheadBufferItem* previous = Buffer.GetItems(start + i - 1);
            Assert(previous->RecAddr() != item->RecAddr(), "Read ahead buffer has duplicate records");
            Assert(previous->RecNo() + 1 == item->RecNo(), "Read ahead buffer recno's are out of sync");
        }
    }
    Assert(leaf.Cursor() == cursor, "CursorPos invalid");
    return added;
}

void TBTree::FillHashTable(int FieldNo, TOrqBaseHash& Hash) {
    if (!FNodesValid || FNodes.empty()) TreeError("TBTree.FillHashTable", "CurrentKeyCursor is invalid");
    const TNode& leaf = *FNodes.back();
    leaf.FillHashTable(FieldNo, Hash);
    // Walk the following leaves in the spare node, so the cursor's leaf stays as it is.
    TNode& walker = *FSpareNode;
    walker.SetAddress(0);
    walker.SetAddress(leaf.Address());
    walker.CopyNode(leaf.Buffer());
    while (StepLeaf(walker, true)) walker.FillHashTable(FieldNo, Hash);
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

void TBTree::DecodeKeyBufAsStrings(const uint8_t* KeyBuf, TStrings& List) const {
    const int size = Load16(KeyBuf + C_KEYSIZEOFFSET);
    if (size > FMaximumKeySize)
        TreeError("TBTree.DecodeKeyBufAsStrings", "Invalid key size: " + IntToStr(size));
    TOptimizedSearchKey decoded;
    decoded.SetDataFromKeyBuf(FKeyFields, nullptr, KeyBuf, FMaximumKeySize);
    for (size_t i = 0; i < FFieldList.size(); ++i) {
        const int f = static_cast<int>(i);
        if (!decoded.HasValue(f)) {
            List.Add("NULL");
            continue;
        }
        const uint8_t* v = decoded.GetValue(f);
        const int len = decoded.GetDataSize(f);
        switch (FFieldList[i]->DataType()) {
            case ftString:
                List.Add(std::string(reinterpret_cast<const char*>(v), len));
                break;
            case ftWideString: {
                std::u16string w(len / 2, u'\0');
                std::memcpy(w.data(), v, w.size() * 2);
                List.Add(Utf16ToAnsi(w));
                break;
            }
            case ftSmallint: {
                int16_t x;
                std::memcpy(&x, v, 2);
                List.Add(IntToStr(x));
                break;
            }
            case ftWord:
                List.Add(IntToStr(Load16(v)));
                break;
            case ftInteger:
            case ftAutoInc:
                List.Add(IntToStr(static_cast<int32_t>(Load32(v))));
                break;
            case ftBoolean:
                List.Add(v[0] != 0 ? "True" : "False");
                break;
            case ftBCD: {
                int64_t x;
                std::memcpy(&x, v, 8);
                List.Add(FloatToStr(static_cast<double>(x) / 10000.0));
                break;
            }
            default: {
                double x;
                std::memcpy(&x, v, 8);
                List.Add(FloatToStr(x));
                break;
            }
        }
    }
    List.Add("Size=" + IntToStr(size));
    List.Add("Count=" + IntToStr(Load32(KeyBuf + C_KEYCOUNTOFFSET)));
    List.Add("Addr=" + IntToStr(Load32(KeyBuf + C_KEYADDROFFSET)));
}

void TBTree::CurrentKeyAsStrings(TStrings& List) {
    DecodeKeyBufAsStrings(GetCurrentKeyBuf(), List);
}

void TBTree::DebugDumpAllocatedBlocks(TStrings& List) {
    CheckOpenTree("TBTree.DebugDumpAllocatedBlocks");
    TNode node;
    node.Open(this, FIO, FPageSize);
    for (uint32_t address = FIO->GetNextMemoryBlockAddress(0); address != 0;
         address = FIO->GetNextMemoryBlockAddress(address)) {
        node.ReadNode(address);
        node.PrintNode(List, -1);
    }
}

void TBTree::DebugStatus(TStrings& List) const {
    List.Add(Format("Root=%d Depth=%d KeySize=%d PageSize=%d Nodes=%d",
                    {Root(), Depth(), FMaximumKeySize, FPageSize, static_cast<int>(FNodes.size())}));
    for (size_t i = 0; i < FNodes.size(); ++i)
        List.Add(
            Format("Level %d NodeAddr=%d InsPos=%d Cursor=%d",
                   {static_cast<int>(i), FNodes[i]->Address(), FInsertPositions[i], FNodes[i]->Cursor()}));
}

void TBTree::InOrderRecurse(TStrings& List, uint32_t Address, uint32_t Level, uint32_t Depth) {
    TNode node;
    node.Open(this, FIO, FPageSize);
    node.ReadNode(Address);
    node.PrintNode(List, static_cast<int>(Level));
    if (node.CheckIsLeaf() || Level + 1 >= Depth) return;
    for (int p = 0; p < node.Used(); p += node.KeySize()) {
        List.Add(Format("Internal node %d entry %d", {Address, p / node.KeySize()}));
        const uint32_t child = node.EntryAddress(p);
        CheckChildAddress(child, "TBTree.DebugInOrderRecurse");
        InOrderRecurse(List, child, Level + 1, Depth);
    }
}

void TBTree::DebugInOrderRecurse(TStrings* List) {
    TStrings* target = Target(List);
    if (!target || Root() == 0) return;
    target->Add("root");
    InOrderRecurse(*target, Root(), 0, Depth());
}

void TBTree::CheckOrderRecurse(TNode& Node, uint32_t Address, uint32_t Level, uint32_t Depth, int64_t& Count,
                               std::vector<uint32_t>& Leaves) {
    Node.ReadNode(Address);
    if (Node.CheckIsLeaf() != (Level + 1 == Depth))
        TreeError("TBTree.DebugCheckOrderRecurse", "Check Order error");
    if (Node.CheckNodeEmpty()) {
        if (Level > 0) TreeError("TBTree.DebugCheckOrderRecurse", "Empty node in check order");
        Count = 0;
        Leaves.push_back(Address);
        return;
    }
    const int k = Node.KeySize();
    for (int p = k; p < Node.Used(); p += k)
        if (CompareKeys(0, nullptr, nullptr, Node.EntryAt(p - k), Node.EntryAt(p)) >= 0)
            TreeError("TBTree.DebugCheckOrderRecurse", "Check Order error");
    if (Node.CheckIsLeaf()) {
        Count = Node.GetCount();
        Leaves.push_back(Address);
        return;
    }
    // Children are read into a node of their own; this page's entries are copied first.
    std::vector<uint8_t> page(Node.Buffer(), Node.Buffer() + FPageSize);
    TNode child;
    child.Open(this, FIO, FPageSize);
    Count = 0;
    for (int p = 0; p < Node.Used(); p += k) {
        const uint8_t* entry = page.data() + C_NODEHEADERSIZE + p;
        const uint32_t childAddress = Load32(entry + C_KEYADDROFFSET);
        CheckChildAddress(childAddress, "TBTree.DebugCheckOrderRecurse");
        int64_t childCount = 0;
        CheckOrderRecurse(child, childAddress, Level + 1, Depth, childCount, Leaves);
        child.ReadNode(childAddress);
        if (CompareKeys(0, nullptr, nullptr, entry, child.EntryAt(0)) != 0 ||
            Load32(entry + C_KEYCOUNTOFFSET) != static_cast<uint64_t>(childCount))
            TreeError("TBTree.DebugCheckOrderRecurse", "Check Order error");
        Count += childCount;
    }
}

void TBTree::DebugCheckOrderRecurse() {
    CheckOpenTree("TBTree.DebugCheckOrderRecurse");
    if (Root() == 0) return;
    TNode node;
    node.Open(this, FIO, FPageSize);
    int64_t count = 0;
    std::vector<uint32_t> leaves;
    CheckOrderRecurse(node, Root(), 0, Depth(), count, leaves);
    for (size_t i = 0; i < leaves.size(); ++i) {
        node.ReadNode(leaves[i]);
        const uint32_t prior = i > 0 ? leaves[i - 1] : 0;
        const uint32_t next = i + 1 < leaves.size() ? leaves[i + 1] : 0;
        if (node.GetPrior() != prior || node.GetNext() != next)
            TreeError("TBTree.DebugCheckOrderRecurse", "Check Order error");
        if (i > 0) {
            TNode previous;
            previous.Open(this, FIO, FPageSize);
            previous.ReadNode(leaves[i - 1]);
            if (CompareKeys(0, nullptr, nullptr, previous.EntryAt(previous.Used() - previous.KeySize()),
                            node.EntryAt(0)) >= 0)
                TreeError("TBTree.DebugCheckOrderRecurse", "Check Order error");
        }
    }
}

void TBTree::DebuGInOrderFlat(TStrings* List) {
    TStrings* target = Target(List);
    if (!target || Root() == 0) return;
    CheckOpenTree("TBTree.DebuGInOrderFlat");
    TNode node;
    node.Open(this, FIO, FPageSize);
    uint32_t address = Root();
    // Down the leftmost path to the first leaf.
    for (uint32_t level = 0; level < Depth(); ++level) {
        node.ReadNode(address);
        if (node.CheckIsLeaf() || node.CheckNodeEmpty()) break;
        address = node.EntryAddress(0);
        CheckChildAddress(address, "TBTree.DebuGInOrderFlat");
    }
    for (int walked = 0; walked < 1001; ++walked) {
        node.PrintNode(*target, static_cast<int>(Depth()) - 1);
        if (!StepLeaf(node, true)) break;
    }
}

}  // namespace ostra
