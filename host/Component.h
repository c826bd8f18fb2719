// TComponent: the host framework's component. A component may have an owner; the owner keeps
// the list of the components it owns and frees them when it is destroyed. Components carry a
// Name that is unique (ignoring case) among the components of one owner, a Tag, a set of state
// flags, and take part in two notification schemes:
//   - ownership notices: when a component is inserted into or removed from an owner, the owner's
//     Notification runs, and the base Notification passes the notice on to every component the
//     owner owns (so siblings learn that one of them goes away);
//   - free notifications: A->FreeNotification(B) links A and B so that each is told (through
//     Notification(x, opRemove)) when the other is destroyed. Siblings of one owner are not
//     linked, since the owner's notices already reach them.
// A notice about a component that is being destroyed arrives while that component runs its
// TComponent destructor: the receiver may compare the pointer and read its Name, nothing more.
//
// Creating an owned component: CreateComponent<T>(owner, ...) (the owner frees it); a component
// without an owner belongs to whoever created it (a std::unique_ptr). Deleting an owned component
// directly is allowed: it leaves its owner first.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/Exceptions.h"
#include "host/Object.h"
#include "host/Set.h"

namespace ostra {

class TReader;
class TWriter;

// What happens to a component in a notification.
enum TOperation { opInsert, opRemove };

// The state flags of a component.
enum TComponentStateItem { csLoading, csReading, csWriting, csDestroying, csDesigning };
using TComponentState = TSet<TComponentStateItem>;

// A named, owned object that frees the components it owns.
class TComponent : public TPersistent {
public:
    // Creates the component and, when `AOwner` is given, inserts it into the owner's list.
    explicit TComponent(TComponent* AOwner);
    // Notifies the free-notification links, frees every owned component (last first) and leaves
    // the owner.
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    // The owned components in insertion order; Components raises EListError
    // "List index out of bounds (%d)" for a bad index.
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const;
    // Position in the owner's list; -1 without an owner. SetComponentIndex moves it there.
    int ComponentIndex() const;
    void SetComponentIndex(int value);

    // Adds `AComponent` to this component's list (taking it from a previous owner first); a name
    // already used here raises EComponentError "A component named %s already exists".
    void InsertComponent(TComponent* AComponent);
    // Takes `AComponent` out of this component's list; the caller owns it afterwards.
    void RemoveComponent(TComponent* AComponent);
    // The owned component with this name, ignoring case; null when none (or for "").
    TComponent* FindComponent(const std::string& AName) const;
    // Frees every owned component, the last one first.
    void DestroyComponents();

    const std::string& Name() const { return FName; }
    // Renames: a name that is neither empty nor an identifier raises EComponentError
    // "'%s' is not a valid component name"; a name used by another component of the same owner
    // raises EComponentError "A component named %s already exists". A change of letter case
    // only is allowed.
    void SetName(const std::string& NewName);
    int32_t Tag() const { return FTag; }
    void SetTag(int32_t value) { FTag = value; }

    TComponentState ComponentState() const { return FComponentState; }
    // Sets or clears csDesigning on this component and, when `SetChildren`, on its components.
    void SetDesigning(bool Value, bool SetChildren = true);
    // Sets csDestroying on this component and every component it owns.
    void Destroying();

    // Asks to be told (both ways) when `AComponent` is destroyed; see the file comment.
    void FreeNotification(TComponent* AComponent);
    // Undoes FreeNotification in both directions.
    void RemoveFreeNotification(TComponent* AComponent);

    // The component's Name.
    std::string GetNamePath() const override { return FName; }

    // Called once after the component was read from a stream (all references resolved);
    // clears csLoading. Overrides call the base.
    virtual void Loaded();
    // Called when `AComponent` is inserted into or removed from this component's owner tree,
    // or when a linked component is destroyed. The base drops a free-notification link on
    // opRemove and passes the notice on to every owned component.
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Hands every component that streams as a nested object of this one to `Proc`; the base
    // hands over every owned component in order. A component that owns internal helpers
    // overrides this to keep them out of its stream.
    virtual void GetChildren(const std::function<void(TComponent*)>& Proc) const;

private:
    friend class TReader;
    friend class TWriter;

    void ValidateRename(TComponent* AComponent, const std::string& CurName, const std::string& NewName) const;
    void Unlink(TComponent* AComponent);

    TComponent* FOwner = nullptr;
    std::string FName;
    int32_t FTag = 0;
    TComponentState FComponentState;
    bool FHasFreeNotification = false;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

// True when `Ident` is a Pascal identifier: a letter or "_", then letters, digits and "_".
bool IsValidIdent(const std::string& Ident);

// Creates a T owned by `AOwner` (which frees it) and returns it; `Args` follow the owner.
// A null owner raises EComponentError (an unowned component belongs in a std::unique_ptr).
template <class T, class... Args>
T* CreateComponent(TComponent* AOwner, Args&&... args) {
    static_assert(std::is_base_of_v<TComponent, T>, "CreateComponent makes components");
    if (!AOwner) throw EComponentError("CreateComponent needs an owner");
    return new T(AOwner, std::forward<Args>(args)...);
}

}  // namespace ostra
