// Data sources and data links: the notifications links receive, the window a link sees, enabling
// and replacing sources, circular links, and master-detail through TMasterDataLink.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/SysUtils.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSource.h"
#include "host/db/Field.h"
#include "host/db/tests/support/TestLinks.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {
namespace {

class Links : public ::testing::Test {
protected:
    void SetUp() override {
        AddPeople(DS, 10);
        Source.SetDataSet(&DS);
        Link.SetDataSource(&Source);
    }

    TVectorDataSet DS{nullptr};
    TDataSource Source{nullptr};
    TRecordingLink Link;
};

TEST_F(Links, LinksHearRecordScrollDataSetAndActiveChanges) {
    Link.SetBufferCount(3);
    DS.Open();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 1"}));
    // Every move first asks the links to finish their edits ("check").
    DS.Next();
    DS.Next();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"check", "scrolled 0", "check", "scrolled 0"}));
    // Fetching past the ring moves the records up by one: the window follows them.
    DS.Next();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"check", "scrolled 1"}));
    EXPECT_EQ(Link.ActiveRecord(), 2);
    DS.Last();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"check", "changed"}));

    DS.Edit();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"check", "editing 1", "record *"}));
    DS.FieldByName("Name")->SetAsString("X");
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"record Name"}));
    DS.Post();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"update", "check", "editing 0", "changed"}));
    DS.DataEvent(deLayoutChange, 0);
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"layout"}));
    DS.Close();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 0"}));
}

// A control that writes its text into a field when asked to update.
class TEditLink : public TRecordingLink {
public:
    std::string Text;

protected:
    void UpdateData() override {
        TRecordingLink::UpdateData();
        DataSet()->FieldByName("Name")->SetAsString(Text);
    }
};

TEST_F(Links, AControlDoesNotHearItsOwnWrite) {
    TEditLink edit;
    edit.SetDataSource(&Source);
    DS.Open();
    EXPECT_TRUE(edit.Edit());
    EXPECT_EQ(DS.State(), dsEdit);
    edit.Text = "Typed";
    Link.Take();
    edit.Take();
    DS.Post();
    EXPECT_EQ(DS.RowValue(0, "Name").AsString(), "Typed");
    std::vector<std::string> own = edit.Take();
    EXPECT_EQ(std::count(own.begin(), own.end(), "record Name"), 0);
    std::vector<std::string> other = Link.Take();
    EXPECT_EQ(std::count(other.begin(), other.end(), "record Name"), 1);
}

TEST_F(Links, AGridReadsItsRowsThroughTheWindow) {
    TRecordingLink grid;
    grid.SetBufferCount(4);
    grid.SetDataSource(&Source);
    DS.Open();
    DS.MoveBy(5);
    ASSERT_EQ(grid.RecordCount(), 4);
    int active = grid.ActiveRecord();
    std::vector<int> rows;
    for (int i = 0; i < grid.RecordCount(); ++i) {
        grid.SetActiveRecord(i);
        rows.push_back(DS.FieldByName("ID")->AsInteger());
    }
    grid.SetActiveRecord(active);
    EXPECT_EQ(rows, (std::vector<int>{3, 4, 5, 6}));
    EXPECT_EQ(DS.FieldByName("ID")->AsInteger(), 6);
    EXPECT_EQ(grid.ActiveRecord(), 3);
    EXPECT_THROW(grid.SetActiveRecord(4), EListError);
    EXPECT_EQ(grid.MoveBy(-3), -3);
    EXPECT_EQ(grid.ActiveRecord(), 0);
    EXPECT_EQ(grid.FirstRecord(), 0);
}

TEST_F(Links, DisablingOrReplacingTheSourceDeactivatesItsLinks) {
    DS.Open();
    Link.Take();
    int stateChanges = 0;
    Source.OnStateChange = [&](TObject*) { ++stateChanges; };
    Source.SetEnabled(false);
    EXPECT_EQ(Source.State(), dsInactive);
    EXPECT_FALSE(Link.Active());
    DS.Next();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 0"}));
    Source.SetEnabled(true);
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 1"}));
    EXPECT_EQ(stateChanges, 2);

    TVectorDataSet other(nullptr);
    other.AddColumn("X", ftInteger);
    Source.SetDataSet(&other);
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 0"}));
    other.Open();
    EXPECT_EQ(Link.Take(), (std::vector<std::string>{"active 1"}));
    EXPECT_EQ(Link.DataSet(), &other);
    Source.SetDataSet(&DS);

    // A link fixed to its source refuses another.
    TDataSource second(nullptr);
    Link.SetDataSourceFixed(true);
    EXPECT_THROW(Link.SetDataSource(&second), EDatabaseError);
    Link.SetDataSourceFixed(false);
}

TEST_F(Links, AutoEditAndReadOnlyLinksDecideWhetherALinkMayEdit) {
    DS.Open();
    Source.SetAutoEdit(false);
    EXPECT_FALSE(Link.Edit());
    EXPECT_EQ(DS.State(), dsBrowse);
    Source.SetAutoEdit(true);
    Link.SetReadOnly(true);
    EXPECT_FALSE(Link.Edit());
    Link.SetReadOnly(false);
    EXPECT_TRUE(Link.Edit());
    DS.Cancel();
}

TEST_F(Links, FreeingASourceOrADataSetDetachesTheOtherSide) {
    auto source = std::make_unique<TDataSource>(nullptr);
    TRecordingLink link;
    link.SetDataSource(source.get());
    auto ds = std::make_unique<TVectorDataSet>(nullptr);
    ds->AddColumn("X", ftInteger);
    source->SetDataSet(ds.get());
    ds->Open();
    EXPECT_TRUE(link.Active());
    ds.reset();
    EXPECT_EQ(source->DataSet(), nullptr);
    EXPECT_FALSE(link.Active());
    source.reset();
    EXPECT_EQ(link.DataSource(), nullptr);
}

// ---- Master-detail -------------------------------------------------------------------------------------

class MasterDetail : public ::testing::Test {
protected:
    void SetUp() override {
        Orders.AddColumn("ID", ftInteger);
        Orders.AddColumn("Customer", ftString, 10);
        for (int i = 1; i <= 3; ++i) Orders.AppendRow({i, "C" + IntToStr(i)});
        Lines.AddColumn("OrderID", ftInteger);
        Lines.AddColumn("Item", ftString, 10);
        Lines.AppendRow({1, "apple"});
        Lines.AppendRow({2, "pear"});
        Lines.AppendRow({1, "plum"});
        Lines.AppendRow({3, "fig"});
        OrdersSource.SetDataSet(&Orders);
        Lines.SetDetailFields("OrderID");
        Lines.SetMasterFields("ID");
        Lines.SetMasterSource(&OrdersSource);
        // Log the link's events and then let the detail react.
        TMasterDataLink& link = Lines.MasterLink();
        auto change = link.OnMasterChange;
        auto disable = link.OnMasterDisable;
        link.OnMasterChange = [this, change](TObject* s) {
            Log.push_back("change");
            change(s);
        };
        link.OnMasterDisable = [this, disable](TObject* s) {
            Log.push_back("disable");
            disable(s);
        };
    }

    std::vector<std::string> Items() {
        std::vector<std::string> items;
        Lines.First();
        while (!Lines.Eof()) {
            items.push_back(Lines.FieldByName("Item")->AsString());
            Lines.Next();
        }
        Lines.First();
        return items;
    }

    std::vector<std::string> Take() {
        std::vector<std::string> taken;
        taken.swap(Log);
        return taken;
    }

    // Declared first: the link still logs while the members below are destroyed.
    std::vector<std::string> Log;
    TVectorDataSet Orders{nullptr};
    TVectorDataSet Lines{nullptr};
    TDataSource OrdersSource{nullptr};
};

TEST_F(MasterDetail, TheDetailFollowsTheMastersRecord) {
    Lines.Open();
    EXPECT_TRUE(Take().empty()) << "no events while the master is closed";
    EXPECT_EQ(Items().size(), 4u);
    Orders.Open();
    EXPECT_EQ(Take(), (std::vector<std::string>{"change"}));
    EXPECT_EQ(Items(), (std::vector<std::string>{"apple", "plum"}));
    Orders.Next();
    EXPECT_EQ(Take(), (std::vector<std::string>{"change"}));
    EXPECT_EQ(Items(), (std::vector<std::string>{"pear"}));

    // A new detail record takes the master's key.
    Lines.Append();
    EXPECT_EQ(Lines.FieldByName("OrderID")->AsInteger(), 2);
    Lines.FieldByName("Item")->SetAsString("kiwi");
    // The master leaving its record posts the detail first.
    Orders.Next();
    EXPECT_EQ(Lines.State(), dsBrowse);
    EXPECT_EQ(Lines.RowValue(4, "Item").AsString(), "kiwi");
    Orders.Prior();
    EXPECT_EQ(Items(), (std::vector<std::string>{"pear", "kiwi"}));
    Take();

    // Editing a linked master field changes the detail; another field does not.
    Orders.Edit();
    Take();
    Orders.FieldByName("Customer")->SetAsString("Other");
    EXPECT_TRUE(Take().empty());
    Orders.FieldByName("ID")->SetAsInteger(3);
    EXPECT_EQ(Take(), (std::vector<std::string>{"change"}));
    EXPECT_EQ(Items(), (std::vector<std::string>{"fig"}));
    Orders.Cancel();
    Take();

    Orders.Close();
    EXPECT_EQ(Take(), (std::vector<std::string>{"disable"}));
    EXPECT_EQ(Items().size(), 5u);
}

TEST_F(MasterDetail, DisablingTheSourceOrDroppingTheFieldsDisablesTheLink) {
    Orders.Open();
    Lines.Open();
    Take();
    OrdersSource.SetEnabled(false);
    EXPECT_EQ(Take(), (std::vector<std::string>{"disable"}));
    OrdersSource.SetEnabled(true);
    EXPECT_EQ(Take(), (std::vector<std::string>{"change"}));
    Lines.SetMasterFields("");
    EXPECT_EQ(Take(), (std::vector<std::string>{"disable"}));
    EXPECT_THROW(Lines.SetMasterFields("NoSuchField"), EDatabaseError);
    EXPECT_TRUE(Lines.MasterLink().Fields().empty());
    Lines.SetMasterFields("ID");
    EXPECT_EQ(Lines.MasterLink().Fields().size(), 1u);
}

TEST_F(MasterDetail, CircularLinksAreRefused) {
    EXPECT_FALSE(Lines.IsLinkedTo(&OrdersSource));
    TDataSource linesSource(nullptr);
    linesSource.SetDataSet(&Lines);
    EXPECT_TRUE(Lines.IsLinkedTo(&linesSource));
    // Orders as a detail of its own detail would close a circle.
    try {
        Orders.SetMasterSource(&linesSource);
        FAIL() << "a circle of links was accepted";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), SCircularDataLink);
    }
    EXPECT_EQ(Orders.MasterSource(), nullptr);
    // So would the master's source showing the detail.
    OrdersSource.SetName("OrdersSource");
    try {
        OrdersSource.SetDataSet(&Lines);
        FAIL() << "a circle of links was accepted";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), std::string("OrdersSource: ") + SCircularDataLink);
    }
    EXPECT_EQ(OrdersSource.DataSet(), &Orders);
}

}  // namespace
}  // namespace ostra::test
