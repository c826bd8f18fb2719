// The property registry: per-class property lists keyed by type, and the resolution of an
// object's dynamic class to its property chain. An object whose exact class published nothing is
// served by its most derived published ancestor (found once per type, then cached).
#include "host/PropertyRegistry.h"

#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "host/SysUtils.h"

namespace ostra {

bool TPropInfo::Writable() const {
    switch (Kind) {
        case pkCollection:
        case pkObject:
            return true;
        case pkComponent:
            return static_cast<bool>(SetComponent);
        case pkString:
            return static_cast<bool>(SetString);
        case pkFloat:
        case pkDateTime:
            return static_cast<bool>(SetFloat);
        default:
            return static_cast<bool>(SetOrd);
    }
}

bool TPropInfo::IsStored(const TPersistent& Instance) const {
    return !Stored || Stored(Instance);
}

bool TPropInfo::IsDefault(const TPersistent& Instance) const {
    switch (Kind) {
        case pkCollection:
        case pkObject:
            return false;
        case pkComponent:
            return GetObject(Instance) == nullptr;
        case pkString:
            return HasDefault && GetString(Instance) == DefaultString;
        case pkFloat:
        case pkDateTime: {
            if (!HasDefault) return false;
            double v = GetFloat(Instance);
            return std::memcmp(&v, &DefaultFloat, sizeof v) == 0;
        }
        default:
            return HasDefault && GetOrd(Instance) == DefaultOrd;
    }
}

namespace {

struct ClassEntry {
    std::type_index Type;
    std::optional<std::type_index> Parent;
    std::string Name;
    std::string ParentName;
    std::function<bool(const TPersistent*)> IsInstance;
    std::vector<TPropInfo*> Own;
};

struct Registry {
    std::recursive_mutex Lock;
    std::map<std::type_index, ClassEntry> Classes;
    // Property records live here for the life of the program, so pointers handed out stay valid
    // even when a class publishes its list again.
    std::deque<TPropInfo> Store;
    // Resolved property chains by dynamic type.
    std::map<std::type_index, std::vector<const TPropInfo*>> Chains;

    void Begin(const std::type_info& type, const std::type_info* parent,
               std::function<bool(const TPersistent*)> isInstance) {
        std::optional<std::type_index> parentIndex;
        if (parent) parentIndex = *parent;
        Classes.insert_or_assign(type, ClassEntry{type,
                                                  parentIndex,
                                                  ClassNameOf(type),
                                                  parent ? ClassNameOf(*parent) : std::string(),
                                                  std::move(isInstance),
                                                  {}});
        Chains.clear();
    }
    ClassEntry& Entry(std::type_index type) {
        auto it = Classes.find(type);
        if (it == Classes.end())
            throw EPropertyError(std::string("Properties of ") + type.name() + " are added before Publish");
        return it->second;
    }
    int Depth(const ClassEntry& e) {
        int depth = 0;
        for (const ClassEntry* c = &e; c->Parent; ++depth) {
            auto it = Classes.find(*c->Parent);
            if (it == Classes.end()) break;
            c = &it->second;
        }
        return depth;
    }
    const ClassEntry* EntryFor(const TPersistent* instance) {
        auto it = Classes.find(typeid(*instance));
        if (it != Classes.end()) return &it->second;
        const ClassEntry* best = nullptr;
        int bestDepth = -1;
        for (auto& [type, entry] : Classes) {
            if (!entry.IsInstance(instance)) continue;
            int depth = Depth(entry);
            if (depth > bestDepth) best = &entry, bestDepth = depth;
        }
        return best;
    }
    const std::vector<const TPropInfo*>& Chain(const TPersistent* instance) {
        std::type_index type = typeid(*instance);
        auto cached = Chains.find(type);
        if (cached != Chains.end()) return cached->second;
        std::vector<const ClassEntry*> lineage;
        for (const ClassEntry* e = EntryFor(instance); e;) {
            lineage.push_back(e);
            if (!e->Parent) break;
            auto it = Classes.find(*e->Parent);
            if (it == Classes.end())
                throw EPropertyError("Class " + e->Name + " names the parent class " + e->ParentName +
                                     ", which publishes no properties");
            e = &it->second;
        }
        std::vector<const TPropInfo*> chain;
        for (auto e = lineage.rbegin(); e != lineage.rend(); ++e) {
            for (const TPropInfo* p : (*e)->Own) {
                bool replaced = false;
                for (auto& existing : chain)
                    if (SameText(existing->Name, p->Name)) existing = p, replaced = true;
                if (!replaced) chain.push_back(p);
            }
        }
        return Chains.emplace(type, std::move(chain)).first->second;
    }
};

Registry& TheRegistry();

// The classes every chain ends in. TComponent's Name is written in the object header.
void PublishBuiltins(Registry& r) {
    r.Begin(typeid(TPersistent), nullptr, [](const TPersistent*) { return true; });
    r.Begin(typeid(TComponent), &typeid(TPersistent),
            [](const TPersistent* o) { return dynamic_cast<const TComponent*>(o) != nullptr; });
    r.Begin(typeid(TCollection), &typeid(TPersistent),
            [](const TPersistent* o) { return dynamic_cast<const TCollection*>(o) != nullptr; });
    r.Begin(typeid(TCollectionItem), &typeid(TPersistent),
            [](const TPersistent* o) { return dynamic_cast<const TCollectionItem*>(o) != nullptr; });
    TPropInfo tag;
    tag.Name = "Tag";
    tag.Kind = pkInteger;
    tag.GetOrd = [](const TPersistent& o) -> int64_t { return static_cast<const TComponent&>(o).Tag(); };
    tag.SetOrd = [](TPersistent& o, int64_t v) {
        static_cast<TComponent&>(o).SetTag(static_cast<int32_t>(v));
    };
    tag.HasDefault = true;
    tag.DefaultOrd = 0;
    r.Store.push_back(std::move(tag));
    r.Entry(typeid(TComponent)).Own.push_back(&r.Store.back());
}

Registry& TheRegistry() {
    static Registry* registry = [] {
        auto* r = new Registry;  // never freed: classes may publish from static initialisers
        PublishBuiltins(*r);
        return r;
    }();
    return *registry;
}

}  // namespace

namespace detail {

void BeginPublish(const std::type_info& Type, const std::type_info& Parent,
                  std::function<bool(const TPersistent*)> IsInstance) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    r.Begin(Type, &Parent, std::move(IsInstance));
}

void AddProperty(std::type_index Type, TPropInfo Info) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    ClassEntry& e = r.Entry(Type);
    r.Store.push_back(std::move(Info));
    e.Own.push_back(&r.Store.back());
    r.Chains.clear();
}

void ModifyLastProperty(std::type_index Type, const std::function<void(TPropInfo&)>& Change) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    ClassEntry& e = r.Entry(Type);
    if (e.Own.empty()) throw EPropertyError("No property of " + e.Name + " to modify");
    Change(*e.Own.back());
}

}  // namespace detail

std::vector<const TPropInfo*> GetPropList(const TPersistent* Instance) {
    if (!Instance) return {};
    Registry& r = TheRegistry();
    std::lock_guard guard(r.Lock);
    return r.Chain(Instance);
}

const TPropInfo* GetPropInfo(const TPersistent* Instance, const std::string& Name) {
    for (const TPropInfo* p : GetPropList(Instance))
        if (SameText(p->Name, Name)) return p;
    return nullptr;
}

std::string PublishedPropertyNameOf(const TPersistent* Owner, const TPersistent* Value) {
    try {
        for (const TPropInfo* p : GetPropList(Owner))
            if ((p->Kind == pkCollection || p->Kind == pkObject) && p->GetObject(*Owner) == Value)
                return p->Name;
    } catch (const std::exception&) {
    }
    return {};
}

}  // namespace ostra
