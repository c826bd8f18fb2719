// The class registry: a name-keyed table behind a mutex. Entries are never freed while the
// program runs, so a pointer handed out by GetClass stays valid even after UnRegisterClass.
#include "host/ClassRegistry.h"

#include <map>
#include <mutex>
#include <vector>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const { return CompareText(a, b) < 0; }
};

struct Registry {
    std::mutex Lock;
    std::map<std::string, const TPersistentClass*, NameLess> ByName;
    std::vector<std::unique_ptr<TPersistentClass>> Entries;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

TPersistentClass::TPersistentClass(std::string AName, std::type_index AType,
                                   TComponentFactory AComponentFactory, TPersistentFactory APersistentFactory)
    : FName(std::move(AName)),
      FType(AType),
      FComponentFactory(std::move(AComponentFactory)),
      FPersistentFactory(std::move(APersistentFactory)) {}

TComponent* TPersistentClass::CreateComponent(TComponent* AOwner) const {
    if (!FComponentFactory) throw EFilerError(Format("Class %s is not a component class", {FName}));
    return FComponentFactory(AOwner);
}

std::unique_ptr<TPersistent> TPersistentClass::Create() const {
    if (!FPersistentFactory) throw EFilerError(Format("Class %s cannot be created", {FName}));
    return FPersistentFactory();
}

void RegisterClass(TPersistentClass AClass) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    auto it = r.ByName.find(AClass.ClassName());
    if (it != r.ByName.end()) {
        if (it->second->Type() == AClass.Type()) return;
        throw EFilerError(Format("A class named %s already exists", {AClass.ClassName()}));
    }
    r.Entries.push_back(std::make_unique<TPersistentClass>(std::move(AClass)));
    r.ByName.emplace(r.Entries.back()->ClassName(), r.Entries.back().get());
}

void UnRegisterClass(const std::string& AName) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    r.ByName.erase(AName);
}

const TPersistentClass* GetClass(const std::string& AName) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    auto it = r.ByName.find(AName);
    return it == r.ByName.end() ? nullptr : it->second;
}

const TPersistentClass& FindClass(const std::string& AName) {
    const TPersistentClass* c = GetClass(AName);
    if (!c) throw EClassNotFound(Format("Class %s not found", {AName}));
    return *c;
}

}  // namespace ostra
