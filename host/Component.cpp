// TComponent: ownership, naming and the two notification schemes (see Component.h).
#include "host/Component.h"

#include <algorithm>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

void EraseFirst(std::vector<TComponent*>& list, TComponent* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it != list.end()) list.erase(it);
}

bool IsIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
    return IsIdentStart(c) || (c >= '0' && c <= '9');
}

}  // namespace

bool IsValidIdent(const std::string& Ident) {
    if (Ident.empty() || !IsIdentStart(Ident[0])) return false;
    return std::all_of(Ident.begin() + 1, Ident.end(), IsIdentChar);
}

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Each link is dropped before the other side hears of it, so an override of Notification
    // that does not call the base cannot leave a dangling link behind.
    while (!FFreeNotifies.empty()) {
        TComponent* other = FFreeNotifies.back();
        Unlink(other);
        other->Notification(this, opRemove);
    }
    DestroyComponents();
    if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw EListError(Format("List index out of bounds (%d)", {index}));
    return FComponents[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
    if (!FOwner) return -1;
    const auto& list = FOwner->FComponents;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::SetComponentIndex(int value) {
    if (!FOwner) return;
    int current = ComponentIndex();
    if (current < 0) return;
    auto& list = FOwner->FComponents;
    value = std::clamp(value, 0, static_cast<int>(list.size()) - 1);
    if (value == current) return;
    list.erase(list.begin() + current);
    list.insert(list.begin() + value, this);
}

void TComponent::InsertComponent(TComponent* AComponent) {
    if (!AComponent || AComponent->FOwner == this) return;
    for (const TComponent* c = this; c; c = c->FOwner)
        if (c == AComponent) throw EComponentError("A component cannot own itself or one of its owners");
    ValidateRename(AComponent, "", AComponent->FName);
    if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (!AComponent || AComponent->FOwner != this) return;
    EraseFirst(FComponents, AComponent);
    AComponent->FOwner = nullptr;
    Notification(AComponent, opRemove);
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
    if (AName.empty()) return nullptr;
    for (TComponent* c : FComponents)
        if (SameText(c->FName, AName)) return c;
    return nullptr;
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* instance = FComponents.back();
        // A component that asked for free notices leaves through RemoveComponent, so that the
        // siblings it linked to hear of it; the others just leave the list.
        if (instance->FHasFreeNotification) {
            RemoveComponent(instance);
        } else {
            FComponents.pop_back();
            instance->FOwner = nullptr;
        }
        delete instance;
    }
}

void TComponent::SetName(const std::string& NewName) {
    if (FName == NewName) return;
    if (!NewName.empty() && !IsValidIdent(NewName))
        throw EComponentError(Format("'%s' is not a valid component name", {NewName}));
    if (FOwner) FOwner->ValidateRename(this, FName, NewName);
    FName = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName) const {
    if (AComponent && !SameText(CurName, NewName) && FindComponent(NewName) != nullptr)
        throw EComponentError(Format("A component named %s already exists", {NewName}));
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
    if (Value)
        FComponentState.Include(csDesigning);
    else
        FComponentState.Exclude(csDesigning);
    if (SetChildren)
        for (TComponent* c : FComponents) c->SetDesigning(Value, true);
}

void TComponent::Destroying() {
    if (FComponentState.Contains(csDestroying)) return;
    FComponentState.Include(csDestroying);
    for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (!AComponent || AComponent == this) return;
    if (!FOwner || AComponent->FOwner != FOwner) {
        if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
            FFreeNotifies.push_back(AComponent);
            AComponent->FFreeNotifies.push_back(this);
        }
    }
    FHasFreeNotification = true;
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent) Unlink(AComponent);
}

void TComponent::Unlink(TComponent* AComponent) {
    EraseFirst(FFreeNotifies, AComponent);
    EraseFirst(AComponent->FFreeNotifies, this);
}

void TComponent::Loaded() {
    FComponentState.Exclude(csLoading);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
    // By index: a receiver may change the list while the notice travels.
    for (size_t i = 0; i < FComponents.size(); ++i) FComponents[i]->Notification(AComponent, Operation);
}

void TComponent::GetChildren(const std::function<void(TComponent*)>& Proc) const {
    for (size_t i = 0; i < FComponents.size(); ++i) Proc(FComponents[i]);
}

}  // namespace ostra
