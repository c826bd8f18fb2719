// The class registry: persistent and component classes by name, so that component streaming can
// create the objects that a stream names ("object Table1: TOrqTable"). A class is registered
// once, usually from the initialisation code of the module that uses streaming; names compare
// without regard to case. The registry is safe to use from several threads.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <typeindex>

#include "host/Component.h"
#include "host/Object.h"

namespace ostra {

// A registered class: its name and how to make an instance.
class TPersistentClass {
public:
    using TComponentFactory = std::function<TComponent*(TComponent* AOwner)>;
    using TPersistentFactory = std::function<std::unique_ptr<TPersistent>()>;

    TPersistentClass(std::string AName, std::type_index AType, TComponentFactory AComponentFactory,
                     TPersistentFactory APersistentFactory);

    const std::string& ClassName() const { return FName; }
    std::type_index Type() const { return FType; }
    bool IsComponent() const { return static_cast<bool>(FComponentFactory); }
    // A new component owned by `AOwner` (which frees it; without an owner the caller must adopt
    // it). Raises EFilerError for a class that is not a component.
    TComponent* CreateComponent(TComponent* AOwner) const;
    // A new instance that the caller owns (a component is made without an owner).
    std::unique_ptr<TPersistent> Create() const;

private:
    std::string FName;
    std::type_index FType;
    TComponentFactory FComponentFactory;
    TPersistentFactory FPersistentFactory;
};

// Registers `AClass` under its name. The same type under the same name again is ignored; another
// type under a registered name raises EFilerError "A class named %s already exists".
void RegisterClass(TPersistentClass AClass);
// Registers T under its class name: a component is made by T(owner), any other persistent class
// by T().
template <class T>
void RegisterClass() {
    static_assert(std::is_base_of_v<TPersistent, T>, "only persistent classes are registered");
    TPersistentClass::TComponentFactory componentFactory;
    TPersistentClass::TPersistentFactory persistentFactory;
    if constexpr (std::is_base_of_v<TComponent, T>) {
        componentFactory = [](TComponent* owner) -> TComponent* { return new T(owner); };
        persistentFactory = []() -> std::unique_ptr<TPersistent> { return std::make_unique<T>(nullptr); };
    } else {
        persistentFactory = []() -> std::unique_ptr<TPersistent> { return std::make_unique<T>(); };
    }
    RegisterClass(TPersistentClass(ClassNameOf(typeid(T)), typeid(T), std::move(componentFactory),
                                   std::move(persistentFactory)));
}
// Removes the class registered under `AName`, if any.
void UnRegisterClass(const std::string& AName);
// The class registered under `AName`; null when there is none.
const TPersistentClass* GetClass(const std::string& AName);
// The class registered under `AName`; raises EClassNotFound "Class %s not found" when absent.
const TPersistentClass& FindClass(const std::string& AName);

}  // namespace ostra
