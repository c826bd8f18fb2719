// TCollection and TCollectionItem: IDs, moves, assignment, update brackets and name paths.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Collection.h"
#include "host/PropertyRegistry.h"

using namespace ostra;

namespace {

class TNote : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    std::string Text;
    void SetText(const std::string& value) {
        Text = value;
        Changed(false);
    }
    void Assign(const TPersistent* source) override {
        if (auto* note = dynamic_cast<const TNote*>(source)) {
            Text = note->Text;
            return;
        }
        TCollectionItem::Assign(source);
    }
};

// Records its Update calls.
class TNotes : public TCollection {
public:
    explicit TNotes(TPersistent* owner = nullptr) : TCollection(ItemClassOf<TNote>(), owner) {}
    TNote* Note(int i) const { return static_cast<TNote*>(Items(i)); }
    std::vector<std::string> Updates;

protected:
    void Update(TCollectionItem* item) override {
        Updates.push_back(item ? static_cast<TNote*>(item)->Text : "*");
    }
};

std::vector<std::string> Texts(const TNotes& notes) {
    std::vector<std::string> out;
    for (int i = 0; i < notes.Count(); ++i) out.push_back(notes.Note(i)->Text);
    return out;
}

void Fill(TNotes& notes, std::initializer_list<const char*> texts) {
    for (const char* t : texts) static_cast<TNote*>(notes.Add())->Text = t;
}

TEST(Collection, IdsAreUniqueAndIncreasing) {
    TNotes notes;
    Fill(notes, {"a", "b", "c"});
    EXPECT_EQ(0, notes.Note(0)->ID());
    EXPECT_EQ(2, notes.Note(2)->ID());
    notes.Delete(2);
    notes.Delete(0);
    auto* d = notes.Add();
    EXPECT_EQ(3, d->ID());  // never reused
    EXPECT_EQ(notes.Note(0), notes.FindItemID(1));
    EXPECT_EQ(nullptr, notes.FindItemID(0));
    EXPECT_EQ(d, notes.FindItemID(3));
}

TEST(Collection, IndexMovesItemsAndKeepsIds) {
    TNotes notes;
    Fill(notes, {"a", "b", "c", "d"});
    notes.Note(0)->SetIndex(2);
    EXPECT_EQ((std::vector<std::string>{"b", "c", "a", "d"}), Texts(notes));
    EXPECT_EQ(2, notes.FindItemID(0)->Index());
    notes.Note(3)->SetIndex(0);
    EXPECT_EQ((std::vector<std::string>{"d", "b", "c", "a"}), Texts(notes));
    try {
        notes.Note(0)->SetIndex(4);
        ADD_FAILURE();
    } catch (const EListError& e) {
        EXPECT_STREQ("List index out of bounds (4)", e.what());
    }
    EXPECT_EQ((std::vector<std::string>{"d", "b", "c", "a"}), Texts(notes));
    TNote loose(nullptr);
    EXPECT_EQ(-1, loose.Index());
}

TEST(Collection, InsertDeleteAndBounds) {
    TNotes notes;
    Fill(notes, {"a", "b"});
    static_cast<TNote*>(notes.Insert(1))->Text = "x";
    static_cast<TNote*>(notes.Insert(3))->Text = "z";  // Count is a valid position
    EXPECT_EQ((std::vector<std::string>{"a", "x", "b", "z"}), Texts(notes));
    EXPECT_THROW(notes.Insert(9), EListError);
    EXPECT_EQ(4, notes.Count());  // a refused insert adds nothing
    EXPECT_THROW(notes.Delete(4), EListError);
    EXPECT_THROW(notes.Items(-1), EListError);
    delete notes.Note(1);  // an item leaves its collection when freed
    EXPECT_EQ((std::vector<std::string>{"a", "b", "z"}), Texts(notes));
    notes.Clear();
    EXPECT_EQ(0, notes.Count());
}

TEST(Collection, SetCollectionMovesAnItemToAnotherCollection) {
    TNotes first, second;
    Fill(first, {"a", "b"});
    Fill(second, {"c"});
    TNote* a = first.Note(0);
    a->SetCollection(&second);
    EXPECT_EQ((std::vector<std::string>{"b"}), Texts(first));
    EXPECT_EQ((std::vector<std::string>{"c", "a"}), Texts(second));
    EXPECT_EQ(1, a->ID());  // numbered in its new collection
    a->SetCollection(nullptr);
    std::unique_ptr<TNote> owned(a);  // outside a collection the caller owns it
    EXPECT_EQ(1, second.Count());
}

TEST(Collection, AssignCopiesItemByItem) {
    TNotes source, target;
    Fill(source, {"a", "b"});
    Fill(target, {"old1", "old2", "old3"});
    target.Assign(&source);
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Texts(target));
    EXPECT_NE(source.Note(0), target.Note(0));
    // Assigning a collection to itself keeps its items.
    target.Assign(&target);
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Texts(target));
    // An item of the wrong kind is refused by the framework's rule.
    TNote note(nullptr);
    EXPECT_THROW(note.Assign(&source), EConvertError);
    EXPECT_THROW(target.Assign(nullptr), EConvertError);
}

TEST(Collection, UpdateBracketsHoldBackUpdates) {
    TNotes notes;
    Fill(notes, {"a"});
    EXPECT_EQ((std::vector<std::string>{"*"}), notes.Updates);
    notes.Updates.clear();
    notes.Note(0)->SetText("a2");  // a change of one item names it
    EXPECT_EQ((std::vector<std::string>{"a2"}), notes.Updates);
    notes.Updates.clear();
    notes.BeginUpdate();
    notes.BeginUpdate();
    Fill(notes, {"b", "c"});
    notes.Note(0)->SetText("a3");
    notes.Delete(1);
    notes.EndUpdate();
    EXPECT_TRUE(notes.Updates.empty());
    notes.EndUpdate();
    EXPECT_EQ((std::vector<std::string>{"*"}), notes.Updates);
    notes.Updates.clear();
    TNotes copy;
    copy.Assign(&notes);  // one update for the whole assignment
    EXPECT_EQ((std::vector<std::string>{"*"}), copy.Updates);
}

class TNoteBook : public TPersistent {
public:
    TNotes* Notes() const { return FNotes.get(); }

private:
    std::unique_ptr<TNotes> FNotes = std::make_unique<TNotes>(this);
};

[[maybe_unused]] const bool kNoteBookPublished =
    Publish<TNoteBook, TPersistent>().Collection("Notes", &TNoteBook::Notes);

TEST(Collection, NamePathsFollowTheOwningProperty) {
    TNoteBook book;
    Fill(*book.Notes(), {"a", "b"});
    EXPECT_EQ("TNoteBook.Notes", book.Notes()->GetNamePath());
    EXPECT_EQ("TNoteBook.Notes[1]", book.Notes()->Note(1)->GetNamePath());
    TNotes unowned;
    Fill(unowned, {"a"});
    EXPECT_EQ("TNotes[0]", unowned.Note(0)->GetNamePath());
}

}  // namespace
