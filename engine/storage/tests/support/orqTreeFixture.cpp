// Test helper: B+-tree rigs and the independent tree check (see orqTreeFixture.h).
#include "orqTreeFixture.h"

#include <cstring>
#include <functional>

#include "DiskTestSupport.h"
#include "engine/storage/orqConsts.h"

namespace ostra::testing {

namespace {

uint32_t U32At(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

TIndexRequest Request(const std::string& Name, const std::string& Fields, bool Unique, bool Descending,
                      bool CaseInsensitive) {
    TIndexRequest request;
    request.IndexName = Name;
    request.Fields = Fields;
    request.Unique = Unique;
    request.Descending = Descending;
    request.CaseInsensitive = CaseInsensitive;
    return request;
}

IndexStorage::IndexStorage(bool AOnDisk) : OnDisk(AOnDisk) {
    if (!OnDisk) {
        auto io = std::make_unique<TMemoryIOInterface>();
        io->SetBlockSize(C_DEFAULTINDEXPAGESIZE);
        io->SetUsage(8);
        io->SetTableID(C_TESTTABLEID);
        io->Open();
        IO = std::move(io);
        return;
    }
    Dir = std::make_unique<::ostra::test::TempDir>();
    const std::string path = Dir->File("index.orq");
    disktest::CreateDatabase(path);
    Disk = disktest::OpenDatabase(path);
    auto io = std::make_unique<TDiskIOInterface>();
    io->SetDiskMgr(Disk.get());
    io->SetBlockSize(C_DEFAULTINDEXPAGESIZE);
    io->SetUsage(8);
    io->SetTableID(C_TESTTABLEID);
    io->SetAccessFlags(1);
    io->SetGlobalFirstEmptyOffset(36);
    io->Open();
    IO = std::move(io);
}

IndexStorage::~IndexStorage() {
    IO.reset();
    Disk.reset();
}

size_t IndexStorage::PageCount() {
    if (!OnDisk) return static_cast<TMemoryIOInterface&>(*IO).Count();
    std::vector<uint32_t> pages;
    Disk->DebugListOwnedPages(C_TESTTABLEID, pages);
    return pages.size();
}

TreeRig::TreeRig(const std::vector<FieldSpec>& Specs, const TIndexRequest& Request, bool OnDisk,
                 TDBStringCompareFunction Compare)
    : Storage(OnDisk), Fields(MakeLayout(Specs)) {
    TInternalIndexDef* def =
        DeriveIndexDef(Request, false, false, *Fields, AllKeys, Defs, SorqValueInvalidFmt, "test", nullptr);
    KeySize = def->MaximumKeySize();
    Tree.KeyFields().Assign(&AllKeys);
    Tree.KeyFields().SetDataOffset(def->KeyDataOffset());
    Tree.SetMaximumKeySize(KeySize);
    Tree.SetPageSize(C_DEFAULTINDEXPAGESIZE);
    Tree.SetDBStringCompare(Compare);
    Tree.ConnectToIFace(Storage.IO.get(), C_DEFAULTINDEXPAGESIZE, Root, Depth);
    Tree.CreateTree();
    Tree.Open();
}

void TreeRig::Key(std::initializer_list<Variant> Values, const TKeyMarkerList* Markers) {
    Tree.ConstructKeyBufFromVariants(VarArrayOf(Values), Markers);
}

int TreeRig::Insert(std::initializer_list<Variant> Values, uint32_t Address) {
    Key(Values);
    if (Tree.IndexSearch(stEQ, nullptr) == 0) return 1;
    Tree.SetKeyBufAddr(Address);
    return Tree.InsertKey();
}

int TreeRig::Delete(std::initializer_list<Variant> Values) {
    Key(Values);
    if (Tree.IndexSearch(stEQ, nullptr) != 0) return -2;
    return Tree.DeleteKey();
}

uint32_t TreeRig::Find(TIndexSearchType Type, std::initializer_list<Variant> Values,
                       const TSearchModifier* Modifier, const TKeyMarkerList* Markers) {
    Key(Values, Markers);
    if (Tree.IndexSearch(Type, Modifier) != 0) return 0;
    return Tree.GetRecAddr();
}

std::string CheckTree(TreeRig& Rig, std::vector<uint32_t>& Addresses) {
    Addresses.clear();
    const uint32_t pageSize = C_DEFAULTINDEXPAGESIZE;
    const int k = Rig.KeySize;
    if (Rig.Root == 0 || Rig.Depth == 0) return "no tree";
    std::vector<uint32_t> leaves;
    std::vector<std::vector<uint8_t>> leafPages;
    std::string fault;
    auto entryLess = [&](const uint8_t* a, const uint8_t* b) {
        return Rig.Tree.CompareKeys(0, nullptr, nullptr, a, b) < 0;
    };
    // Returns the record count of the subtree and its first entry (empty when none).
    std::function<int64_t(uint32_t, uint32_t, std::vector<uint8_t>&)> walk =
        [&](uint32_t address, uint32_t level, std::vector<uint8_t>& first) -> int64_t {
        std::vector<uint8_t> page(pageSize);
        Rig.Storage.IO->ReadBlock(address, pageSize, page.data());
        const uint32_t type = U32At(&page[0]);
        const uint32_t used = U32At(&page[4]);
        const bool leaf = level + 1 == Rig.Depth;
        const std::string at = "page " + std::to_string(address) + " level " + std::to_string(level) + ": ";
        if ((type != 0) != leaf) return fault = at + "wrong node type", 0;
        if (used % k != 0 || used + 16 > pageSize) return fault = at + "bad used " + std::to_string(used), 0;
        if (used == 0 && level > 0) return fault = at + "empty page below the root", 0;
        if (used + 16 + k >= pageSize) return fault = at + "page left full", 0;
        const uint8_t* data = &page[16];
        for (uint32_t p = 0; p < used; p += k) {
            if (data[p] + (data[p + 1] << 8) != k) return fault = at + "bad entry size", 0;
            if (p > 0 && !entryLess(data + p - k, data + p)) return fault = at + "entries out of order", 0;
        }
        first.clear();
        if (used > 0) first.assign(data, data + k);
        if (leaf) {
            leaves.push_back(address);
            leafPages.push_back(page);
            for (uint32_t p = 0; p < used; p += k) Addresses.push_back(U32At(data + p + 6));
            return used / k;
        }
        int64_t total = 0;
        for (uint32_t p = 0; p < used; p += k) {
            const uint32_t child = U32At(data + p + 6);
            std::vector<uint8_t> childFirst;
            const int64_t count = walk(child, level + 1, childFirst);
            if (!fault.empty()) return 0;
            if (childFirst.empty() || std::memcmp(childFirst.data() + 10, data + p + 10, k - 10) != 0)
                return fault = at + "entry key differs from its child's first key", 0;
            if (U32At(data + p + 2) != count)
                return fault = at + "entry count " + std::to_string(U32At(data + p + 2)) +
                               " but child holds " + std::to_string(count),
                       0;
            total += count;
        }
        return total;
    };
    std::vector<uint8_t> first;
    walk(Rig.Root, 0, first);
    if (!fault.empty()) return fault;
    for (size_t i = 0; i < leaves.size(); ++i) {
        const std::vector<uint8_t>& page = leafPages[i];
        const uint32_t next = U32At(&page[8]);
        const uint32_t prior = U32At(&page[12]);
        if (prior != (i > 0 ? leaves[i - 1] : 0u))
            return "leaf " + std::to_string(leaves[i]) + ": bad prior link";
        if (next != (i + 1 < leaves.size() ? leaves[i + 1] : 0u))
            return "leaf " + std::to_string(leaves[i]) + ": bad next link";
        if (i > 0) {
            const std::vector<uint8_t>& before = leafPages[i - 1];
            const uint32_t usedBefore = U32At(&before[4]);
            if (!entryLess(&before[16 + usedBefore - k], &page[16])) return "leaves out of order";
        }
    }
    return "";
}

}  // namespace ostra::testing
