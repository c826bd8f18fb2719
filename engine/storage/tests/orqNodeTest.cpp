// B+-tree pages: the full and too-empty thresholds, entry positions, the in-page binary search,
// split with its leaf links, the choice of a sibling, redistribution against merge, listing
// from one page, page caching, and the errors of the entry operations.
#include "engine/storage/orqNode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqReadAheadBuffer.h"
#include "support/orqErrorCapture.h"
#include "support/orqTreeFixture.h"

using namespace ostra;
using ostra::storagetest::ErrorCode;
using ostra::storagetest::ErrorText;
using ostra::testing::Request;
using ostra::testing::TreeRig;

namespace {

constexpr uint32_t PS = C_DEFAULTINDEXPAGESIZE;

// A unique Integer index: 15-byte entries.
TreeRig IntRig() {
    return TreeRig({{"I", ftInteger}}, Request("i", "I", true));
}

// A unique String index whose entries take KeySize bytes (10 + 2 + stored size + 1).
TreeRig SizedRig(int KeySize) {
    return TreeRig({{"S", ftString, KeySize - 14}}, Request("s", "S", true));
}

// The entry of Value with record address Address, as the rig's tree encodes it.
std::vector<uint8_t> Entry(TreeRig& Rig, const Variant& Value, uint32_t Address) {
    Rig.Tree.ConstructKeyBufFromVariants(VarArrayOf({Value}), nullptr);
    Rig.Tree.SetKeyBufAddr(Address);
    return std::vector<uint8_t>(Rig.Tree.SearchKey(), Rig.Tree.SearchKey() + Rig.KeySize);
}

// A fresh node of the rig, a leaf unless told otherwise, at Address (not written).
std::unique_ptr<TNode> MakeNode(TreeRig& Rig, uint32_t Address = 0, bool Leaf = true) {
    auto node = std::make_unique<TNode>();
    node->Open(&Rig.Tree, Rig.Storage.IO.get(), PS);
    node->SetLeaf(Leaf ? ntLeaf : ntNode);
    node->SetAddress(Address);
    return node;
}

// Appends Count entries with the integer values First, First + Step, ... (addresses = values).
void Fill(TreeRig& Rig, TNode& Node, int Count, int First = 0, int Step = 1) {
    for (int i = 0; i < Count; ++i) {
        const int v = First + i * Step;
        Node.InsertKey(Node.Used(), Entry(Rig, Variant(v), uint32_t(v)).data());
    }
}

// Appends Count string entries "kNNNN" of a sized rig.
void FillText(TreeRig& Rig, TNode& Node, int Count, int First) {
    for (int i = 0; i < Count; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "k%04d", First + i);
        Node.InsertKey(Node.Used(), Entry(Rig, Variant(text), uint32_t(First + i)).data());
    }
}

// A memory storage that counts block reads.
class CountingIO : public TMemoryIOInterface {
public:
    void ReadBlock(uint32_t Address, uint32_t Size, void* Buffer) override {
        ++Reads;
        TMemoryIOInterface::ReadBlock(Address, Size, Buffer);
    }
    const uint8_t* ReadBlockView(uint32_t Address, uint32_t Size, uint64_t& Stamp) override {
        ++Reads;
        return TMemoryIOInterface::ReadBlockView(Address, Size, Stamp);
    }
    int Reads = 0;
};

}  // namespace

TEST(Node, FifteenByteKeysFillAPageAt271Entries) {
    TreeRig rig = IntRig();
    auto node = MakeNode(rig);
    Fill(rig, *node, 270);
    EXPECT_EQ(node->Used(), 4050);
    EXPECT_FALSE(node->CheckNodeFull());
    Fill(rig, *node, 1, 270);
    EXPECT_EQ(node->Used(), 4065);
    EXPECT_TRUE(node->CheckNodeFull()) << "used + 16 + 15 >= 4096";
    EXPECT_EQ(node->GetCount(), 271);
    EXPECT_TRUE(node->RoomForKey(15)) << "the slot the full test keeps free";
    Fill(rig, *node, 1, 271);
    EXPECT_EQ(ErrorCode([&] { Fill(rig, *node, 1, 272); }), 8581) << "no room beyond the page";
    auto small = MakeNode(rig);
    Fill(rig, *small, 134);  // 2010 + 16 < 2048
    EXPECT_TRUE(small->CheckNodeTooEmpty());
    Fill(rig, *small, 1, 134);  // 2025 + 16 < 2048
    EXPECT_TRUE(small->CheckNodeTooEmpty());
    Fill(rig, *small, 1, 135);  // 2040 + 16 >= 2048
    EXPECT_FALSE(small->CheckNodeTooEmpty());
}

TEST(Node, PositionsRoundToEntryStarts) {
    TreeRig rig = SizedRig(40);
    ASSERT_EQ(rig.KeySize, 40);
    auto node = MakeNode(rig);
    FillText(rig, *node, 4, 0);
    struct Case {
        TKeySearchType Type;
        int Pos;
        int Expected;
    };
    for (const Case& c : {Case{ksLE, 80, 80}, Case{ksLE, 79, 40}, Case{ksLE, 160, 160}, Case{ksLE, 161, -1},
                          Case{ksEQ, 40, 40}, Case{ksEQ, 41, -1}, Case{ksEQ, 160, -1}, Case{ksGE, 41, 80},
                          Case{ksGE, 0, 0}, Case{ksGE, 121, 160}, Case{ksGE, 200, -1}})
        EXPECT_EQ(node->FindKeyByPosition(c.Type, c.Pos), c.Expected) << int(c.Type) << " " << c.Pos;
}

TEST(Node, BinarySearchInALeaf) {
    TreeRig rig = IntRig();
    auto node = MakeNode(rig);
    int pos = -5;
    rig.Tree.ConstructKeyBufFromVariants(VarArrayOf({20}), nullptr);
    EXPECT_EQ(node->SearchNode(rig.Tree.OptimizedKey(), 0, sbExact, pos), 1) << "empty page";
    EXPECT_EQ(pos, 0);
    Fill(rig, *node, 3, 10, 10);
    struct Case {
        int Key;
        int Pos;
        int Sign;
    };
    for (const Case& c : {Case{20, 15, 0}, Case{25, 30, -1}, Case{35, 45, 1}, Case{5, 0, -1}}) {
        rig.Tree.ConstructKeyBufFromVariants(VarArrayOf({c.Key}), nullptr);
        const int r = node->SearchNode(rig.Tree.OptimizedKey(), 0, sbExact, pos);
        EXPECT_EQ(pos, c.Pos) << c.Key;
        EXPECT_EQ((r > 0) - (r < 0), c.Sign) << c.Key;
        EXPECT_EQ(node->Cursor(), c.Pos);
    }
    // An internal page descends into the last child whose first key is not above the key.
    auto inner = MakeNode(rig, 0, false);
    Fill(rig, *inner, 3, 10, 10);
    for (const Case& c : {Case{20, 15, 0}, Case{25, 15, 1}, Case{35, 30, 1}, Case{5, 0, -1}}) {
        rig.Tree.ConstructKeyBufFromVariants(VarArrayOf({c.Key}), nullptr);
        const int r = inner->SearchNode(rig.Tree.OptimizedKey(), 0, sbExact, pos);
        EXPECT_EQ(pos, c.Pos) << c.Key;
        EXPECT_EQ((r > 0) - (r < 0), c.Sign) << c.Key;
    }
}

TEST(Node, SplitLinksTheNewRightPage) {
    TreeRig rig = IntRig();
    TBaseIOInterface& io = *rig.Storage.IO;
    const uint32_t a = io.AllocateNewAddress(PS, nullptr);
    const uint32_t c = io.AllocateNewAddress(PS, nullptr);
    // A leaf a followed by c; a splits into a, b, c.
    auto left = MakeNode(rig, a);
    auto right = MakeNode(rig, c);
    Fill(rig, *left, 271);
    left->SetNext(c);
    right->SetPrior(a);
    Fill(rig, *right, 1, 1000);
    right->WriteNode();
    auto fresh = MakeNode(rig);
    const uint32_t b = io.AllocateNewAddress(PS, nullptr);
    fresh->SetAddress(b);
    left->SplitNode(*fresh, b);
    EXPECT_EQ(left->GetCount(), 135);
    EXPECT_EQ(fresh->GetCount(), 136);
    EXPECT_EQ(left->GetNext(), b);
    EXPECT_EQ(fresh->GetPrior(), a);
    EXPECT_EQ(fresh->GetNext(), c);
    auto reread = MakeNode(rig);
    reread->ReadNode(c);
    EXPECT_EQ(reread->GetPrior(), b) << "the old next page points back to the new page";
    // A split of the last leaf leaves the new page without a next page.
    auto solo = MakeNode(rig, io.AllocateNewAddress(PS, nullptr));
    Fill(rig, *solo, 271);
    auto tail = MakeNode(rig);
    const uint32_t e = io.AllocateNewAddress(PS, nullptr);
    tail->SetAddress(e);
    solo->SplitNode(*tail, e);
    EXPECT_EQ(tail->GetNext(), 0u);
    EXPECT_EQ(tail->GetPrior(), solo->Address());
}

TEST(Node, SiblingChoiceRedistributionAndMerge) {
    TreeRig rig = SizedRig(100);
    ASSERT_EQ(rig.KeySize, 100);
    // An internal page whose entries carry record counts 5, 3, 3, 7.
    auto parent = MakeNode(rig, 0, false);
    FillText(rig, *parent, 4, 0);
    const uint32_t counts[] = {5, 3, 3, 7};
    for (int i = 0; i < 4; ++i) parent->SetEntryCount(i * 100, counts[i]);
    EXPECT_EQ(parent->GetRedistributeNode(100), 200) << "equal counts take the right sibling";
    EXPECT_EQ(parent->GetRedistributeNode(200), 100) << "the sibling holding fewer records";
    EXPECT_EQ(parent->GetRedistributeNode(0), 100) << "the only sibling of the first child";
    EXPECT_EQ(parent->GetRedistributeNode(300), 200) << "the only sibling of the last child";
    auto leaf = MakeNode(rig);
    FillText(rig, *leaf, 2, 0);
    EXPECT_EQ(leaf->GetRedistributeNode(0), -1) << "not on a leaf";

    struct Case {
        int Left, Right;  // entries of 100 bytes
        int Result;
        int LeftAfter, RightAfter;
    };
    for (const Case& c :
         {Case{6, 9, 1, 8, 7}, Case{9, 6, 1, 7, 8}, Case{6, 7, -1, 6, 7}, Case{8, 8, 0, 8, 8}}) {
        auto l = MakeNode(rig);
        auto r = MakeNode(rig);
        FillText(rig, *l, c.Left, 0);
        FillText(rig, *r, c.Right, 100);
        EXPECT_EQ(l->RedistributeNodes(*r), c.Result) << c.Left << "/" << c.Right;
        EXPECT_EQ(l->GetCount(), c.LeftAfter) << c.Left << "/" << c.Right;
        EXPECT_EQ(r->GetCount(), c.RightAfter) << c.Left << "/" << c.Right;
        if (c.Result < 0) {
            l->MergeNodes(*r, true);
            EXPECT_EQ(l->GetCount(), 13);
        }
        // Order is kept: the left page ends below where the right page starts.
        std::vector<uint32_t> all;
        for (TNode* n : {l.get(), r.get()})
            for (int p = 0; p < n->Used(); p += 100) all.push_back(n->EntryAddress(p));
        if (c.Result >= 0) {
            for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1], all[i]);
        }
    }
}

TEST(Node, MergeOfLeavesBypassesTheSibling) {
    TreeRig rig = IntRig();
    TBaseIOInterface& io = *rig.Storage.IO;
    const uint32_t a = io.AllocateNewAddress(PS, nullptr);
    const uint32_t b = io.AllocateNewAddress(PS, nullptr);
    const uint32_t c = io.AllocateNewAddress(PS, nullptr);
    auto na = MakeNode(rig, a);
    auto nb = MakeNode(rig, b);
    auto nc = MakeNode(rig, c);
    Fill(rig, *na, 3, 0);
    Fill(rig, *nb, 3, 10);
    Fill(rig, *nc, 3, 20);
    na->SetNext(b);
    nb->SetPrior(a);
    nb->SetNext(c);
    nc->SetPrior(b);
    for (TNode* n : {na.get(), nb.get(), nc.get()}) n->WriteNode();
    // a takes its right neighbour b; c now points back to a.
    na->MergeNodes(*nb, true);
    EXPECT_EQ(na->GetCount(), 6);
    EXPECT_EQ(na->GetNext(), c);
    auto reread = MakeNode(rig);
    reread->ReadNode(c);
    EXPECT_EQ(reread->GetPrior(), a);
    // c takes its left neighbour a in front of its entries.
    nc->MergeNodes(*na, false);
    EXPECT_EQ(nc->GetCount(), 9);
    EXPECT_EQ(nc->GetPrior(), 0u);
    EXPECT_EQ(nc->EntryAddress(0), 0u);
    EXPECT_EQ(nc->EntryAddress(8 * 15), 22u);
}

TEST(Node, ListingFromOnePage) {
    TreeRig rig = IntRig();
    auto node = MakeNode(rig);
    Fill(rig, *node, 10, 1);  // addresses 1..10
    TCompoundList list;
    EXPECT_FALSE(node->ListRecords(false, false, list, 0, 3 * 15, 0, nullptr));
    EXPECT_EQ(list.List1(), (std::vector<uint32_t>{4, 5, 6, 7, 8, 9, 10}));
    list.Clear();
    EXPECT_TRUE(node->ListRecords(false, true, list, 3, 6 * 15, 0, nullptr)) << "stops at the stop address";
    EXPECT_EQ(list.List1(), (std::vector<uint32_t>{7, 6, 5, 4, 3}));
    list.Clear();
    EXPECT_FALSE(node->ListRecords(false, true, list, 0, -1, 0, nullptr));
    EXPECT_EQ(list.Count(), 10);
    EXPECT_EQ(list.Items(0), 10u);

    TReadAheadBuffer buffer;
    buffer.Open(8, 15, 1000);
    EXPECT_EQ(node->ListRecordsInNode(true, 5 * 15, buffer, 3), 3);
    EXPECT_EQ(buffer.GetItems(0)->RecAddr(), 4u)
        << "backwards: the last three up to the start, in page order";
    EXPECT_EQ(buffer.GetItems(2)->RecAddr(), 6u);
    buffer.Invalidate();
    EXPECT_EQ(node->ListRecordsInNode(false, 8 * 15, buffer, 5), 2) << "never beyond the page";
    buffer.Invalidate();
    EXPECT_EQ(node->ListRecordsInNode(true, 1 * 15, buffer, 5), 2);
}

TEST(Node, ReadNodeReadsOnlyAnotherAddress) {
    TreeRig rig = IntRig();
    CountingIO io;
    io.SetBlockSize(PS);
    io.Open();
    TNode node;
    node.Open(&rig.Tree, &io, PS);
    std::vector<uint8_t> page(PS, 0);
    page[0] = 1;
    const uint32_t a = io.AllocateNewAddress(PS, page.data());
    const uint32_t b = io.AllocateNewAddress(PS, page.data());
    node.ReadNode(a);
    node.ReadNode(a);
    EXPECT_EQ(io.Reads, 1);
    node.ReadNode(b);
    EXPECT_EQ(io.Reads, 2);
    node.SetAddress(0);
    node.ReadNode(b);
    EXPECT_EQ(io.Reads, 3) << "a forgotten page is read again";
    EXPECT_TRUE(node.CheckIsLeaf());
}

TEST(Node, EntryOperationErrors) {
    TreeRig rig = IntRig();
    auto node = MakeNode(rig);
    Fill(rig, *node, 3);
    std::vector<uint8_t> buf(15);
    struct Case {
        const char* Text;
        std::function<void()> Action;
    };
    TNode closed;
    const Case cases[] = {
        {"ReadPos is out of range: 45", [&] { node->ReadKey(45, buf.data()); }},
        {"ReadPos is out of range: -15", [&] { node->ReadKey(-15, buf.data()); }},
        {"Move block error - Start Pos - Delta are out of range", [&] { node->MoveBlock(15, 30, false); }},
        {"Node cursor out of range",
         [&] {
             node->SetCursor(45);
             node->GetCurrentKey();
         }},
        {"Cursor is out of range",
         [&] {
             node->SetCursor(45);
             node->CopyCurrentKey(buf.data());
         }},
        {"Node Buffer not allocated", [&] { closed.ReadNode(1); }},
        {"Invalid key size in Delete key: 0",
         [&] {
             node->MutableData()[0] = 0;
             node->MutableData()[1] = 0;
             node->DeleteKey(0);
         }},
    };
    for (const Case& c : cases) {
        const std::string text = ErrorText(c.Action);
        EXPECT_NE(text.find(c.Text), std::string::npos) << c.Text << " / " << text;
    }
    auto empty = MakeNode(rig);
    EXPECT_NE(ErrorText([&] { empty->ForceCursorToPhysicalKey(); }).find("Node is empty"), std::string::npos);
}
