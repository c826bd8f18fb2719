// TComponent ownership, naming, notifications and state; the class registry.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/ClassRegistry.h"
#include "host/Component.h"

using namespace ostra;

namespace {

// Records what it hears and when it dies.
struct Log {
    std::vector<std::string> Lines;
};

class TProbe : public TComponent {
public:
    TProbe(TComponent* owner, Log* log = nullptr, std::string label = {})
        : TComponent(owner), FLog(log), FLabel(std::move(label)) {}
    ~TProbe() override {
        if (FLog) FLog->Lines.push_back("destroy " + FLabel);
    }
    void Notification(TComponent* c, TOperation op) override {
        if (FLog && c)
            FLog->Lines.push_back(FLabel + (op == opInsert ? " insert " : " remove ") + c->Name() +
                                  (c->ComponentState().Contains(csDestroying) ? " (destroying)" : ""));
        if (CallBase) TComponent::Notification(c, op);
    }
    bool CallBase = true;

private:
    Log* FLog;
    std::string FLabel;
};

TEST(Component, OwnerFreesOwnedComponentsLastFirst) {
    Log log;
    {
        auto owner = std::make_unique<TProbe>(nullptr);
        auto* a = CreateComponent<TProbe>(owner.get(), &log, "a");
        auto* b = CreateComponent<TProbe>(owner.get(), &log, "b");
        CreateComponent<TProbe>(b, &log, "b1");
        EXPECT_EQ(2, owner->ComponentCount());
        EXPECT_EQ(a, owner->Components(0));
        EXPECT_EQ(owner.get(), b->Owner());
        EXPECT_EQ(1, b->ComponentIndex());
        // Each insertion was announced to the components already in the owner's tree.
        EXPECT_EQ((std::vector<std::string>{"a insert ", "b insert "}), log.Lines);
        log.Lines.clear();
    }
    EXPECT_EQ((std::vector<std::string>{"destroy b", "destroy b1", "destroy a"}), log.Lines);
}

TEST(Component, DeletingAnOwnedComponentLeavesItsOwner) {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* a = CreateComponent<TComponent>(owner.get());
    auto* b = CreateComponent<TComponent>(owner.get());
    delete a;
    ASSERT_EQ(1, owner->ComponentCount());
    EXPECT_EQ(b, owner->Components(0));
    EXPECT_THROW(owner->Components(1), EListError);
    try {
        owner->Components(5);
    } catch (const EListError& e) {
        EXPECT_STREQ("List index out of bounds (5)", e.what());
    }
    EXPECT_THROW(CreateComponent<TComponent>(nullptr), EComponentError);
}

TEST(Component, InsertAndRemoveMoveOwnership) {
    auto first = std::make_unique<TComponent>(nullptr);
    auto second = std::make_unique<TComponent>(nullptr);
    auto* c = CreateComponent<TComponent>(first.get());
    second->InsertComponent(c);
    EXPECT_EQ(0, first->ComponentCount());
    EXPECT_EQ(second.get(), c->Owner());
    second->RemoveComponent(c);
    EXPECT_EQ(nullptr, c->Owner());
    std::unique_ptr<TComponent> adopted(c);  // the caller owns it now
    // An owner cannot be owned by what it owns.
    auto* child = CreateComponent<TComponent>(first.get());
    EXPECT_THROW(child->InsertComponent(first.get()), EComponentError);
    EXPECT_THROW(first->InsertComponent(first.get()), EComponentError);
    EXPECT_EQ(nullptr, first->Owner());
}

TEST(Component, SetComponentIndexMovesWithinTheOwner) {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* a = CreateComponent<TComponent>(owner.get());
    auto* b = CreateComponent<TComponent>(owner.get());
    auto* c = CreateComponent<TComponent>(owner.get());
    c->SetComponentIndex(0);
    EXPECT_EQ((std::vector<TComponent*>{c, a, b}),
              (std::vector<TComponent*>{owner->Components(0), owner->Components(1), owner->Components(2)}));
    c->SetComponentIndex(99);  // clamped to the end
    EXPECT_EQ(c, owner->Components(2));
}

TEST(Component, NameRules) {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* a = CreateComponent<TComponent>(owner.get());
    for (const char* good : {"Btn", "_x", "a1_B", ""}) EXPECT_NO_THROW(a->SetName(good)) << good;
    struct Bad {
        std::string name, message;
    } bad[] = {{"1a", "'1a' is not a valid component name"},
               {"a b", "'a b' is not a valid component name"},
               {"a.b", "'a.b' is not a valid component name"},
               {"caf\xE9", "'caf\xE9' is not a valid component name"}};
    for (const auto& b : bad) {
        try {
            a->SetName(b.name);
            ADD_FAILURE() << b.name;
        } catch (const EComponentError& e) {
            EXPECT_EQ(b.message, e.Message());
        }
    }
    a->SetName("Btn");
    auto* other = CreateComponent<TComponent>(owner.get());
    try {
        other->SetName("BTN");
        ADD_FAILURE();
    } catch (const EComponentError& e) {
        EXPECT_STREQ("A component named BTN already exists", e.what());
    }
    EXPECT_EQ("", other->Name());
    a->SetName("bTn");  // a change of case only
    EXPECT_EQ("bTn", a->Name());
    EXPECT_EQ(a, owner->FindComponent("BTN"));
    EXPECT_EQ(nullptr, owner->FindComponent(""));  // unnamed components are not found by name
    // Unnamed components may share the empty name; other owners have their own names.
    CreateComponent<TComponent>(owner.get());
    auto* elsewhere = CreateComponent<TComponent>(a);
    EXPECT_NO_THROW(elsewhere->SetName("Btn"));
    // Inserting a component whose name is taken fails and leaves it where it was.
    auto stranger = std::make_unique<TComponent>(nullptr);
    stranger->SetName("btn");
    EXPECT_THROW(owner->InsertComponent(stranger.get()), EComponentError);
    EXPECT_EQ(nullptr, stranger->Owner());
}

TEST(Component, OwnerAndSiblingsHearOfInsertAndRemove) {
    Log log;
    auto owner = std::make_unique<TProbe>(nullptr, &log, "owner");
    auto* a = CreateComponent<TProbe>(owner.get(), &log, "a");
    a->SetName("A");
    auto* b = CreateComponent<TProbe>(owner.get(), &log, "b");
    b->SetName("B");
    log.Lines.clear();
    delete a;
    EXPECT_EQ(
        (std::vector<std::string>{"destroy a", "owner remove A (destroying)", "b remove A (destroying)"}),
        log.Lines);
}

TEST(Component, FreeNotificationReachesComponentsOfOtherOwners) {
    Log log;
    auto left = std::make_unique<TComponent>(nullptr);
    auto right = std::make_unique<TComponent>(nullptr);
    auto* subject = CreateComponent<TProbe>(left.get(), &log, "subject");
    subject->SetName("Subject");
    auto* watcher = CreateComponent<TProbe>(right.get(), &log, "watcher");
    watcher->SetName("Watcher");
    subject->FreeNotification(watcher);
    left.reset();  // frees the subject through its owner
    // The subject's own destructor runs before TComponent's, which sends the notices.
    EXPECT_EQ((std::vector<std::string>{"destroy subject", "watcher remove Subject (destroying)"}),
              log.Lines);
    // The link is gone both ways: freeing the watcher now touches nothing freed.
    log.Lines.clear();
    right.reset();
    EXPECT_EQ((std::vector<std::string>{"destroy watcher"}), log.Lines);
}

TEST(Component, FreeNotificationWorksBothWaysAndCanBeUndone) {
    Log log;
    auto x = std::make_unique<TProbe>(nullptr, &log, "x");
    x->SetName("X");
    auto y = std::make_unique<TProbe>(nullptr, &log, "y");
    y->SetName("Y");
    x->FreeNotification(y.get());
    y.reset();  // the watcher goes first: the subject hears of it
    EXPECT_EQ((std::vector<std::string>{"destroy y", "x remove Y (destroying)"}), log.Lines);

    auto z = std::make_unique<TProbe>(nullptr, &log, "z");
    x->FreeNotification(z.get());
    x->RemoveFreeNotification(z.get());
    log.Lines.clear();
    x.reset();
    EXPECT_EQ((std::vector<std::string>{"destroy x"}), log.Lines);
}

TEST(Component, ReceiverThatSkipsTheBaseLeavesNoDanglingLink) {
    auto subject = std::make_unique<TProbe>(nullptr);
    auto watcher = std::make_unique<TProbe>(nullptr);
    watcher->CallBase = false;
    subject->FreeNotification(watcher.get());
    subject.reset();
    watcher.reset();  // would touch the freed subject if the link had stayed
}

TEST(Component, SiblingsAreToldThroughTheirOwnerWhenItFreesThem) {
    Log log;
    {
        auto owner = std::make_unique<TComponent>(nullptr);
        auto* watcher = CreateComponent<TProbe>(owner.get(), &log, "watcher");
        auto* subject = CreateComponent<TProbe>(owner.get(), &log, "subject");
        subject->SetName("Subject");
        subject->FreeNotification(watcher);
        log.Lines.clear();
    }
    // The subject (last) goes first and the watcher still hears of it.
    EXPECT_EQ((std::vector<std::string>{"watcher remove Subject (destroying)", "destroy subject",
                                        "destroy watcher"}),
              log.Lines);
}

TEST(Component, StateFlags) {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* a = CreateComponent<TComponent>(owner.get());
    owner->SetDesigning(true);
    EXPECT_TRUE(a->ComponentState().Contains(csDesigning));
    auto* late = CreateComponent<TComponent>(owner.get());  // joins a designing owner
    EXPECT_TRUE(late->ComponentState().Contains(csDesigning));
    owner->SetDesigning(false, false);
    EXPECT_FALSE(owner->ComponentState().Contains(csDesigning));
    EXPECT_TRUE(a->ComponentState().Contains(csDesigning));
    EXPECT_TRUE((TComponentState{csLoading, csReading} - TComponentState{csReading}) ==
                TComponentState{csLoading});
}

// --- class registry ---------------------------------------------------------------------------

class TRegisteredThing : public TComponent {
public:
    using TComponent::TComponent;
};
class TOtherThing : public TComponent {
public:
    using TComponent::TComponent;
};

TEST(ClassRegistry, RegisterFindAndCreate) {
    RegisterClass<TRegisteredThing>();
    RegisterClass<TRegisteredThing>();  // again: ignored
    const TPersistentClass& cls = FindClass("tregisteredthing");
    EXPECT_EQ("TRegisteredThing", cls.ClassName());
    EXPECT_TRUE(cls.IsComponent());
    auto owner = std::make_unique<TComponent>(nullptr);
    TComponent* made = cls.CreateComponent(owner.get());
    EXPECT_NE(nullptr, dynamic_cast<TRegisteredThing*>(made));
    EXPECT_EQ(owner.get(), made->Owner());

    EXPECT_EQ(nullptr, GetClass("TNoSuchThing"));
    try {
        FindClass("TNoSuchThing");
        ADD_FAILURE();
    } catch (const EClassNotFound& e) {
        EXPECT_STREQ("Class TNoSuchThing not found", e.what());
    }
    // Another class under a taken name is refused.
    EXPECT_THROW(RegisterClass(TPersistentClass("TRegisteredThing", typeid(TOtherThing), nullptr, nullptr)),
                 EFilerError);
    const TPersistentClass* kept = GetClass("TRegisteredThing");
    UnRegisterClass("TRegisteredThing");
    EXPECT_EQ(nullptr, GetClass("TRegisteredThing"));
    EXPECT_EQ("TRegisteredThing", kept->ClassName());  // handed-out entries stay valid
}

}  // namespace
