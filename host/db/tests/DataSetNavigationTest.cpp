// The buffer ring and navigation of TDataSet, driven through a dataset over a vector: scrolling
// through a ring smaller than the data, a randomized comparison with a plain model, bookmarks,
// record numbers, buffer-count changes and the open/close events.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSource.h"
#include "host/db/Field.h"
#include "host/db/NumericFields.h"
#include "host/db/tests/support/TestLinks.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {
namespace {

class Navigation : public ::testing::Test {
protected:
    void SetUp() override {
        AddPeople(DS, 10);
        Source.SetDataSet(&DS);
        Link.SetDataSource(&Source);
    }

    int ActiveId() { return DS.FieldByName("ID")->AsInteger(); }

    // The ids in the buffers, in ring order.
    std::vector<int> BufferIds() {
        std::vector<int> ids;
        for (int i = 0; i < DS.BufferedCount(); ++i) ids.push_back(DS.BufferRowId(i));
        return ids;
    }

    TVectorDataSet DS{nullptr};
    TDataSource Source{nullptr};
    TRecordingLink Link;
};

TEST_F(Navigation, ScrollsThroughARingSmallerThanTheData) {
    Link.SetBufferCount(3);
    DS.Open();
    EXPECT_EQ(DS.BufferCount(), 3);
    EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(DS.Bof());
    EXPECT_FALSE(DS.Eof());

    // Inside the ring only the active index moves; nothing is fetched.
    int calls = DS.GetRecordCalls;
    DS.Next();
    DS.Next();
    EXPECT_EQ(ActiveId(), 3);
    EXPECT_EQ(DS.GetRecordCalls, calls);
    EXPECT_FALSE(DS.Bof());

    // Past its end one record is fetched and the first dropped.
    DS.Next();
    EXPECT_EQ(ActiveId(), 4);
    EXPECT_EQ(BufferIds(), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(DS.ActiveRecord(), 2);

    EXPECT_EQ(DS.MoveBy(100), 6);
    EXPECT_EQ(ActiveId(), 10);
    EXPECT_TRUE(DS.Eof());
    EXPECT_EQ(BufferIds(), (std::vector<int>{8, 9, 10}));
    EXPECT_EQ(DS.MoveBy(1), 0);

    EXPECT_EQ(DS.MoveBy(-4), -4);
    EXPECT_EQ(ActiveId(), 6);
    EXPECT_EQ(BufferIds(), (std::vector<int>{6, 7, 8}));
    EXPECT_EQ(DS.ActiveRecord(), 0);
    EXPECT_FALSE(DS.Eof());

    DS.Last();
    EXPECT_EQ(BufferIds(), (std::vector<int>{8, 9, 10}));
    EXPECT_TRUE(DS.Eof());
    DS.First();
    EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(DS.MoveBy(-1), 0);
    EXPECT_TRUE(DS.Bof());
}

TEST_F(Navigation, EmptyDataSetIsBofAndEofAndRefusesDelete) {
    TVectorDataSet empty(nullptr);
    empty.AddColumn("ID", ftInteger);
    empty.Open();
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(empty.Bof());
    EXPECT_TRUE(empty.Eof());
    EXPECT_EQ(empty.MoveBy(1), 0);
    EXPECT_TRUE(empty.FieldByName("ID")->IsNull());
    EXPECT_TRUE(empty.Bookmark().empty());
    try {
        empty.Delete();
        FAIL() << "Delete on an empty dataset";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), SDataSetEmpty);
    }
}

TEST_F(Navigation, ClosedDataSetRefusesNavigationWithTheFrameworkText) {
    DS.SetName("People");
    try {
        DS.First();
        FAIL() << "First on a closed dataset";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), std::string("People: ") + SDataSetClosed);
    }
    DS.Open();
    try {
        DS.AddColumn("Extra", ftInteger);
        FAIL() << "structure change on an open dataset";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), std::string("People: ") + SDataSetOpen);
    }
}

TEST_F(Navigation, BookmarksReturnToTheirRecord) {
    Link.SetBufferCount(3);
    DS.Open();
    DS.MoveBy(6);
    TBookmark seventh = DS.Bookmark();
    ASSERT_EQ(seventh.size(), 4u);
    DS.First();
    TBookmark first = DS.GetBookmark();
    EXPECT_LT(DS.CompareBookmarks(first, seventh), 0);
    EXPECT_GT(DS.CompareBookmarks(seventh, first), 0);
    EXPECT_EQ(DS.CompareBookmarks(seventh, seventh), 0);
    EXPECT_EQ(DS.CompareBookmarks({}, seventh), 1);
    EXPECT_EQ(DS.CompareBookmarks({}, {}), 0);

    DS.GotoBookmark(seventh);
    EXPECT_EQ(ActiveId(), 7);
    // A bookmark is re-read centred in the ring.
    EXPECT_EQ(BufferIds(), (std::vector<int>{6, 7, 8}));
    EXPECT_TRUE(DS.BookmarkValid(seventh));

    DS.Delete();
    EXPECT_FALSE(DS.BookmarkValid(seventh));
    EXPECT_THROW(DS.GotoBookmark(seventh), EDatabaseError);
    // An empty bookmark does nothing.
    DS.GotoBookmark({});
    EXPECT_EQ(ActiveId(), 8);
}

TEST_F(Navigation, RecNoFollowsTheActiveRecordAndMovesThere) {
    Link.SetBufferCount(4);
    DS.Open();
    EXPECT_EQ(DS.RecNo(), 1);
    EXPECT_EQ(DS.RecordCount(), 10);
    DS.SetRecNo(9);
    EXPECT_EQ(ActiveId(), 9);
    EXPECT_EQ(DS.RecNo(), 9);
    DS.Prior();
    EXPECT_EQ(DS.RecNo(), 8);
}

TEST_F(Navigation, BufferCountFollowsTheLargestLinkAndKeepsTheActiveRecord) {
    Link.SetBufferCount(2);
    TRecordingLink grid;
    grid.SetDataSource(&Source);
    DS.Open();
    EXPECT_EQ(DS.BufferCount(), 2);
    DS.MoveBy(5);
    EXPECT_EQ(ActiveId(), 6);

    // Growing fetches forward first, then backward.
    grid.SetBufferCount(6);
    EXPECT_EQ(DS.BufferCount(), 6);
    EXPECT_EQ(ActiveId(), 6);
    EXPECT_EQ(BufferIds(), (std::vector<int>{5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(grid.RecordCount(), 6);
    EXPECT_EQ(grid.ActiveRecord(), 1);

    // Shrinking keeps the active record and as many before it as fit.
    grid.SetBufferCount(1);
    EXPECT_EQ(DS.BufferCount(), 2);
    EXPECT_EQ(ActiveId(), 6);
    EXPECT_EQ(BufferIds(), (std::vector<int>{5, 6}));
    DS.Next();
    DS.Next();
    EXPECT_EQ(ActiveId(), 8);

    // A detached link no longer counts.
    grid.SetDataSource(nullptr);
    Link.SetBufferCount(1);
    EXPECT_EQ(DS.BufferCount(), 1);
    EXPECT_EQ(ActiveId(), 8);
    DS.Prior();
    EXPECT_EQ(ActiveId(), 7);
}

TEST_F(Navigation, GrowingTheRingWhileInsertingKeepsEveryRecord) {
    Link.SetBufferCount(4);
    DS.Open();
    // The ring is full and the cursor stands on its last record when the new record pushes
    // that one out of the ring.
    DS.Insert();
    DS.FieldByName("ID")->SetAsInteger(99);
    Link.SetBufferCount(6);
    EXPECT_EQ(DS.BufferedCount(), 6);
    std::vector<int> ids;
    for (int i = 1; i < DS.BufferedCount(); ++i) ids.push_back(DS.BufferRowId(i));
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
    DS.Post();
    EXPECT_EQ(ActiveId(), 99);
    DS.Next();
    EXPECT_EQ(ActiveId(), 1);
}

TEST_F(Navigation, OpenAndCloseFireTheirEventsInOrder) {
    std::vector<std::string> log;
    DS.BeforeOpen = [&](TDataSet*) { log.push_back("BeforeOpen " + IntToStr(DS.Active())); };
    DS.AfterOpen = [&](TDataSet*) { log.push_back("AfterOpen " + IntToStr(DS.Active())); };
    DS.AfterScroll = [&](TDataSet*) { log.push_back("AfterScroll"); };
    DS.BeforeClose = [&](TDataSet*) { log.push_back("BeforeClose " + IntToStr(DS.Active())); };
    DS.AfterClose = [&](TDataSet*) { log.push_back("AfterClose " + IntToStr(DS.Active())); };
    Source.OnStateChange = [&](TObject*) { log.push_back("StateChange " + IntToStr(Source.State())); };
    Source.OnDataChange = [&](TObject*, TField*) { log.push_back("DataChange"); };

    DS.Open();
    DS.Open();  // already open: nothing
    DS.Close();
    EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen 0", "StateChange 1", "DataChange", "AfterOpen 1",
                                             "AfterScroll", "BeforeClose 1", "StateChange 0", "AfterClose 0"}));
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 1", "active 0"}));
    EXPECT_EQ(DS.FieldCount(), 0) << "default fields go with the cursor";
}

TEST_F(Navigation, AFailedOpenLeavesTheDataSetClosed) {
    DS.BeforeOpen = [](TDataSet*) {};
    // A persistent field that names no column makes the open fail while binding.
    auto* ghost = CreateComponent<TIntegerField>(&DS);
    ghost->SetFieldName("Ghost");
    ghost->SetDataSet(&DS);
    EXPECT_THROW(DS.Open(), EDatabaseError);
    EXPECT_FALSE(DS.Active());
    EXPECT_EQ(DS.State(), dsInactive);
    delete ghost;
    DS.Open();
    EXPECT_EQ(ActiveId(), 1);
}

TEST_F(Navigation, DisableControlsHoldsNotificationsUntilTheLastEnable) {
    DS.Open();
    Link.Take();
    DS.DisableControls();
    DS.DisableControls();
    DS.Next();
    DS.Last();
    DS.EnableControls();
    EXPECT_TRUE(Link.Log.empty());
    DS.EnableControls();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"changed"}));

    // Closing while disabled still reaches the links; reopening shows at the end.
    DS.DisableControls();
    DS.Close();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 0"}));
    DS.Open();
    EXPECT_TRUE(Link.Log.empty());
    DS.EnableControls();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 1", "changed"}));
}

TEST_F(Navigation, RefreshRereadsAroundTheActiveRecord) {
    Link.SetBufferCount(3);
    std::vector<std::string> log;
    DS.BeforeRefresh = [&](TDataSet*) { log.push_back("BeforeRefresh"); };
    DS.AfterRefresh = [&](TDataSet*) { log.push_back("AfterRefresh"); };
    DS.Open();
    DS.MoveBy(4);
    DS.Refresh();
    EXPECT_EQ(ActiveId(), 5);
    EXPECT_EQ(log, (std::vector<std::string>{"BeforeRefresh", "AfterRefresh"}));
}

// ---- A randomized comparison with a plain model -----------------------------------------------------

// The model: the stored row ids in order and the index of the current one.
struct TModel {
    std::vector<int32_t> Ids;
    int Current = -1;
};

TEST(NavigationModel, RandomOperationsAgreeWithAPlainList) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        TVectorDataSet ds(nullptr);
        ds.AddColumn("Value", ftInteger);
        int rows = pick(12);
        for (int i = 0; i < rows; ++i) ds.AppendRow({i});
        TDataSource source(nullptr);
        source.SetDataSet(&ds);
        TRecordingLink link;
        link.SetBufferCount(1 + pick(5));
        link.SetDataSource(&source);
        ds.Open();

        TModel model;
        model.Ids = ds.RowIds();
        model.Current = model.Ids.empty() ? -1 : 0;
        std::vector<TBookmark> bookmarks;
        std::vector<int32_t> bookmarkIds;

        for (int step = 0; step < 150; ++step) {
            int n = static_cast<int>(model.Ids.size());
            std::string op;
            switch (pick(12)) {
                case 0: {
                    op = "Next";
                    ds.Next();
                    if (n > 0) model.Current = std::min(model.Current + 1, n - 1);
                    break;
                }
                case 1: {
                    op = "Prior";
                    ds.Prior();
                    if (n > 0) model.Current = std::max(model.Current - 1, 0);
                    break;
                }
                case 2: {
                    int distance = pick(11) - 5;
                    op = "MoveBy " + IntToStr(distance);
                    int moved = ds.MoveBy(distance);
                    if (n > 0) {
                        int target = std::clamp(model.Current + distance, 0, n - 1);
                        ASSERT_EQ(moved, target - model.Current) << op << " seed " << seed;
                        model.Current = target;
                    }
                    break;
                }
                case 3:
                    op = pick(2) ? "First" : "Last";
                    if (op == "First")
                        ds.First();
                    else
                        ds.Last();
                    if (n > 0) {
                        model.Current = op == "First" ? 0 : n - 1;
                        ASSERT_TRUE(op == "First" ? ds.Bof() : ds.Eof()) << op;
                    }
                    break;
                case 4: {
                    op = "Insert";
                    ds.Insert();
                    ds.FieldByName("Value")->SetAsInteger(1000 + step);
                    // A grid that changes size while a record is being inserted.
                    if (pick(3) == 0) link.SetBufferCount(1 + pick(6));
                    ds.Post();
                    int32_t id = ds.BufferRowId(ds.ActiveRecord());
                    int at = model.Current < 0 ? 0 : model.Current;
                    model.Ids.insert(model.Ids.begin() + at, id);
                    model.Current = at;
                    break;
                }
                case 5: {
                    op = "Append";
                    ds.Append();
                    ds.FieldByName("Value")->SetAsInteger(2000 + step);
                    ds.Post();
                    model.Ids.push_back(ds.BufferRowId(ds.ActiveRecord()));
                    model.Current = static_cast<int>(model.Ids.size()) - 1;
                    break;
                }
                case 6: {
                    op = "Delete";
                    if (n == 0) break;
                    ds.Delete();
                    model.Ids.erase(model.Ids.begin() + model.Current);
                    if (model.Current >= static_cast<int>(model.Ids.size()))
                        model.Current = static_cast<int>(model.Ids.size()) - 1;
                    break;
                }
                case 7: {
                    op = "Edit";
                    if (n == 0) break;
                    ds.Edit();
                    ds.FieldByName("Value")->SetAsInteger(-step);
                    ds.Post();
                    break;
                }
                case 8: {
                    op = "Insert+Cancel";
                    ds.Insert();
                    ds.FieldByName("Value")->SetAsInteger(7);
                    ds.Cancel();
                    break;
                }
                case 9: {
                    op = "Bookmark";
                    if (n > 0 && pick(2)) {
                        bookmarks.push_back(ds.Bookmark());
                        bookmarkIds.push_back(model.Ids[static_cast<size_t>(model.Current)]);
                    } else if (!bookmarks.empty()) {
                        size_t k = static_cast<size_t>(pick(static_cast<int>(bookmarks.size())));
                        auto it = std::find(model.Ids.begin(), model.Ids.end(), bookmarkIds[k]);
                        if (it == model.Ids.end()) break;
                        ds.GotoBookmark(bookmarks[k]);
                        model.Current = static_cast<int>(it - model.Ids.begin());
                    }
                    break;
                }
                case 10: {
                    op = "BufferCount";
                    link.SetBufferCount(1 + pick(6));
                    break;
                }
                case 11: {
                    op = "RecNo";
                    if (n == 0) break;
                    int target = pick(n);
                    ds.SetRecNo(target + 1);
                    model.Current = target;
                    break;
                }
            }
            SCOPED_TRACE("seed " + IntToStr(seed) + " step " + IntToStr(step) + " " + op);
            ASSERT_EQ(ds.RowIds(), model.Ids);
            ASSERT_EQ(ds.State(), dsBrowse);
            int size = static_cast<int>(model.Ids.size());
            if (size == 0) {
                ASSERT_TRUE(ds.IsEmpty());
                continue;
            }
            ASSERT_FALSE(ds.IsEmpty());
            ASSERT_EQ(ds.BufferRowId(ds.ActiveRecord()), model.Ids[static_cast<size_t>(model.Current)]);
            ASSERT_EQ(ds.RecNo(), model.Current + 1);
            // The ring holds consecutive records, as many as fit.
            ASSERT_EQ(ds.BufferedCount(), std::min(ds.BufferCount(), size));
            auto first = std::find(model.Ids.begin(), model.Ids.end(), ds.BufferRowId(0));
            ASSERT_NE(first, model.Ids.end());
            for (int i = 1; i < ds.BufferedCount(); ++i) {
                ASSERT_LT(first + i, model.Ids.end());
                ASSERT_EQ(ds.BufferRowId(i), *(first + i));
            }
            // The link's window holds the active record.
            ASSERT_GE(link.ActiveRecord(), 0);
            ASSERT_LT(link.ActiveRecord(), link.RecordCount());
            ASSERT_EQ(link.RecordCount(), std::min(link.BufferCount(), ds.BufferedCount()));
        }
    }
}

}  // namespace
}  // namespace ostra::test
