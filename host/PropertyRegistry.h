// The property registry: the published properties of each class, in declaration order, with the
// accessors, defaults and stored rules that component streaming (Filer.h, ComponentText.h) uses
// to write and read them. A class publishes its properties once, naming its parent class; the
// properties of an object are those of its class chain, the root class's first (a property
// published again by a descendant keeps its place and takes the descendant's definition).
//
// Publishing, typically at namespace scope in the class's own .cpp file (the registry is built on
// first use, so the order of static initialisation does not matter):
//
//   [[maybe_unused]] const bool kPublished = Publish<TKeyFieldItem, TCollectionItem>()
//       .String("FieldName", &TKeyFieldItem::FieldName, &TKeyFieldItem::SetFieldName)
//       .Enum("DataType", &TKeyFieldItem::DataType, &TKeyFieldItem::SetDataType, FieldTypeIdents)
//       .Boolean("CaseInsensitive", &TKeyFieldItem::CaseInsensitive, &TKeyFieldItem::SetCaseInsensitive)
//       .Default(false);
//
// Getters are member functions or callables taking `const T&`; setters are member functions or
// callables taking `T&` and the value; a null setter makes the property read-only. Modifiers
// (Default, NoDefault, Stored) apply to the property published last. The parent class must itself
// be published (TPersistent, TComponent, TCollection and TCollectionItem always are; TComponent
// publishes Tag with default 0 — its Name is written in the object header instead).
//
// Kinds, their values and when they are written (a property is written only when it has a
// setter — collections and sub-objects excepted —, its stored rule says yes and it differs from
// its default):
//   Integer (int32), Cardinal (uint32), Boolean, Enum, Set: no default unless one is declared
//                      with Default(v), so written always.
//   Int64:             default 0.
//   String:            default "" (empty strings are not written).
//   Float, DateTime:   default 0.0, compared bit for bit (so -0.0 is written).
//   Collection:        always written, empty ones too ("Items = <>").
//   Object:            a sub-object (TPersistent); its own properties are written with the prefix
//                      "Prop." ("Font.Size = 8"); nothing when they are all default.
//   Component:         a reference to another component by name; default null.
#pragma once
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "host/Collection.h"
#include "host/Component.h"
#include "host/Exceptions.h"
#include "host/Object.h"

namespace ostra {

enum TPropertyKind {
    pkInteger,
    pkCardinal,
    pkInt64,
    pkBoolean,
    pkEnum,
    pkSet,
    pkString,
    pkFloat,
    pkDateTime,
    pkCollection,
    pkObject,
    pkComponent
};

// The identifiers of an enumeration's values, by ordinal ("ftUnknown", "ftString", ...).
using TEnumNames = std::vector<std::string>;

// One published property: name, kind, accessors, default and stored rule.
struct TPropInfo {
    std::string Name;
    TPropertyKind Kind = pkInteger;
    // The value identifiers of an Enum or Set property.
    std::shared_ptr<const TEnumNames> EnumNames;

    // Ordinal kinds (Integer, Cardinal, Int64, Boolean 0/1, Enum ordinal, Set bit mask).
    std::function<int64_t(const TPersistent&)> GetOrd;
    std::function<void(TPersistent&, int64_t)> SetOrd;
    // Float and DateTime.
    std::function<double(const TPersistent&)> GetFloat;
    std::function<void(TPersistent&, double)> SetFloat;
    // String.
    std::function<std::string(const TPersistent&)> GetString;
    std::function<void(TPersistent&, const std::string&)> SetString;
    // Collection, Object and Component: the object the property holds (may be null).
    std::function<TPersistent*(const TPersistent&)> GetObject;
    // Component: stores a reference (null allowed); raises for a component of the wrong class.
    std::function<void(TPersistent&, TComponent*)> SetComponent;

    bool HasDefault = false;
    int64_t DefaultOrd = 0;
    double DefaultFloat = 0.0;
    std::string DefaultString;
    // Null means always stored.
    std::function<bool(const TPersistent&)> Stored;

    // True when the property can be set (collections and sub-objects are filled in place).
    bool Writable() const;
    // True when the stored rule allows writing the property of `Instance`.
    bool IsStored(const TPersistent& Instance) const;
    // True when the value of `Instance` equals the default, so that it is not written.
    bool IsDefault(const TPersistent& Instance) const;
};

// The published properties of `Instance`'s class chain, root class first. Raises EPropertyError
// when a class in the chain names a parent that was never published.
std::vector<const TPropInfo*> GetPropList(const TPersistent* Instance);
// The published property `Name` (ignoring case) of `Instance`; null when there is none.
const TPropInfo* GetPropInfo(const TPersistent* Instance, const std::string& Name);
// The name of the Collection or Object property of `Owner` that holds `Value`; "" when none.
// Never raises (it serves name paths in error texts).
std::string PublishedPropertyNameOf(const TPersistent* Owner, const TPersistent* Value);

// --- Publishing --------------------------------------------------------------------------------

namespace detail {
// Starts (or restarts) the property list of class `Type`, whose parent is `Parent`.
void BeginPublish(const std::type_info& Type, const std::type_info& Parent,
                  std::function<bool(const TPersistent*)> IsInstance);
void AddProperty(std::type_index Type, TPropInfo Info);
void ModifyLastProperty(std::type_index Type, const std::function<void(TPropInfo&)>& Change);

template <class V>
constexpr bool IsSetType = requires(V v) {
    { v.Bits() } -> std::convertible_to<uint64_t>;
};

template <class T, class G>
auto Get(const G& g, const TPersistent& o) {
    return std::invoke(g, static_cast<const T&>(o));
}
template <class T, class G>
using GetResult = std::decay_t<std::invoke_result_t<const G&, const T&>>;
}  // namespace detail

// The builder that Publish returns; each call adds one property of class T.
template <class T>
class TPublisher {
public:
    TPublisher() : FType(typeid(T)) {}

    template <class G, class S = std::nullptr_t>
    TPublisher& Integer(std::string Name, G Get, S Set = nullptr) {
        return Ordinal<int32_t>(std::move(Name), pkInteger, std::move(Get), std::move(Set));
    }
    template <class G, class S = std::nullptr_t>
    TPublisher& Cardinal(std::string Name, G Get, S Set = nullptr) {
        return Ordinal<uint32_t>(std::move(Name), pkCardinal, std::move(Get), std::move(Set));
    }
    template <class G, class S = std::nullptr_t>
    TPublisher& Int64(std::string Name, G Get, S Set = nullptr) {
        Ordinal<int64_t>(std::move(Name), pkInt64, std::move(Get), std::move(Set));
        return Default(int64_t{0});
    }
    template <class G, class S = std::nullptr_t>
    TPublisher& Boolean(std::string Name, G Get, S Set = nullptr) {
        return Ordinal<bool>(std::move(Name), pkBoolean, std::move(Get), std::move(Set));
    }
    // An enumeration property; `Names` are the value identifiers by ordinal.
    template <class G, class S = std::nullptr_t>
    TPublisher& Enum(std::string Name, G Get, S Set, TEnumNames Names) {
        using E = detail::GetResult<T, G>;
        static_assert(std::is_enum_v<E>, "Enum properties have an enumeration type");
        Ordinal<E>(std::move(Name), pkEnum, std::move(Get), std::move(Set));
        return WithNames(std::move(Names));
    }
    template <class G, class S, std::size_t N>
    TPublisher& Enum(std::string Name, G Get, S Set, const char* const (&Names)[N]) {
        return Enum(std::move(Name), std::move(Get), std::move(Set), TEnumNames(Names, Names + N));
    }
    // A set property (a TSet<E> or an integer bit mask); `Names` are the element identifiers.
    template <class G, class S = std::nullptr_t>
    TPublisher& Set(std::string Name, G Get, S Set, TEnumNames Names) {
        using V = detail::GetResult<T, G>;
        TPropInfo p = Base(std::move(Name), pkSet);
        p.GetOrd = [Get](const TPersistent& o) -> int64_t {
            if constexpr (detail::IsSetType<V>)
                return static_cast<int64_t>(detail::Get<T>(Get, o).Bits());
            else
                return static_cast<int64_t>(detail::Get<T>(Get, o));
        };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetOrd = [Set](TPersistent& o, int64_t v) {
                if constexpr (detail::IsSetType<V>)
                    std::invoke(Set, static_cast<T&>(o), V::FromBits(static_cast<uint64_t>(v)));
                else
                    std::invoke(Set, static_cast<T&>(o), static_cast<V>(v));
            };
        detail::AddProperty(FType, std::move(p));
        return WithNames(std::move(Names));
    }
    template <class G, class S, std::size_t N>
    TPublisher& Set(std::string Name, G Get, S Set, const char* const (&Names)[N]) {
        return this->Set(std::move(Name), std::move(Get), std::move(Set), TEnumNames(Names, Names + N));
    }
    template <class G, class S = std::nullptr_t>
    TPublisher& String(std::string Name, G Get, S Set = nullptr) {
        TPropInfo p = Base(std::move(Name), pkString);
        p.GetString = [Get](const TPersistent& o) { return std::string(detail::Get<T>(Get, o)); };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetString = [Set](TPersistent& o, const std::string& v) {
                std::invoke(Set, static_cast<T&>(o), v);
            };
        p.HasDefault = true;
        detail::AddProperty(FType, std::move(p));
        return *this;
    }
    template <class G, class S = std::nullptr_t>
    TPublisher& Float(std::string Name, G Get, S Set = nullptr) {
        return Real(std::move(Name), pkFloat, std::move(Get), std::move(Set));
    }
    template <class G, class S = std::nullptr_t>
    TPublisher& DateTime(std::string Name, G Get, S Set = nullptr) {
        return Real(std::move(Name), pkDateTime, std::move(Get), std::move(Set));
    }
    // A collection the object owns; streaming fills it in place, so no setter is needed.
    template <class G>
    TPublisher& Collection(std::string Name, G Get) {
        return Holder(std::move(Name), pkCollection, std::move(Get));
    }
    // A sub-object the object owns, streamed as "Name.Prop = value" lines.
    template <class G>
    TPublisher& Object(std::string Name, G Get) {
        return Holder(std::move(Name), pkObject, std::move(Get));
    }
    // A reference to another component, streamed by name.
    template <class G, class S = std::nullptr_t>
    TPublisher& Component(std::string Name, G Get, S Set = nullptr) {
        using P = detail::GetResult<T, G>;
        using C = std::remove_cv_t<std::remove_pointer_t<P>>;
        static_assert(std::is_base_of_v<TComponent, C>, "Component properties hold component pointers");
        Holder(std::move(Name), pkComponent, std::move(Get));
        if constexpr (!std::is_null_pointer_v<S>)
            detail::ModifyLastProperty(FType, [Set](TPropInfo& p) {
                p.SetComponent = [Set](TPersistent& o, TComponent* c) {
                    C* typed = dynamic_cast<C*>(c);
                    if (c && !typed) throw EPropertyError("Invalid property value");
                    std::invoke(Set, static_cast<T&>(o), typed);
                };
            });
        return *this;
    }

    // The default of the property published last: a Boolean, an integer, an enumeration value,
    // a TSet, a float or a string. Not written while the value equals it.
    template <class V>
    TPublisher& Default(const V& Value) {
        detail::ModifyLastProperty(FType, [Value](TPropInfo& p) {
            p.HasDefault = true;
            if constexpr (std::is_floating_point_v<V>)
                p.DefaultFloat = Value;
            else if constexpr (std::is_convertible_v<V, std::string>)
                p.DefaultString = Value;
            else if constexpr (detail::IsSetType<V>)
                p.DefaultOrd = static_cast<int64_t>(Value.Bits());
            else
                p.DefaultOrd = static_cast<int64_t>(Value);
        });
        return *this;
    }
    // The property published last has no default: it is written whatever its value.
    TPublisher& NoDefault() {
        detail::ModifyLastProperty(FType, [](TPropInfo& p) { p.HasDefault = false; });
        return *this;
    }
    // The stored rule of the property published last: a constant or a predicate on `const T&`.
    template <class P>
    TPublisher& Stored(P Predicate) {
        detail::ModifyLastProperty(FType, [Predicate](TPropInfo& p) {
            if constexpr (std::is_same_v<P, bool>)
                p.Stored = [Predicate](const TPersistent&) { return Predicate; };
            else
                p.Stored = [Predicate](const TPersistent& o) {
                    return static_cast<bool>(std::invoke(Predicate, static_cast<const T&>(o)));
                };
        });
        return *this;
    }

    // Lets a publishing chain initialise a `const bool`.
    operator bool() const { return true; }

private:
    static TPropInfo Base(std::string Name, TPropertyKind Kind) {
        TPropInfo p;
        p.Name = std::move(Name);
        p.Kind = Kind;
        return p;
    }
    template <class V, class G, class S>
    TPublisher& Ordinal(std::string Name, TPropertyKind Kind, G Get, S Set) {
        TPropInfo p = Base(std::move(Name), Kind);
        p.GetOrd = [Get](const TPersistent& o) { return static_cast<int64_t>(detail::Get<T>(Get, o)); };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetOrd = [Set](TPersistent& o, int64_t v) {
                std::invoke(Set, static_cast<T&>(o), static_cast<V>(v));
            };
        detail::AddProperty(FType, std::move(p));
        return *this;
    }
    template <class G, class S>
    TPublisher& Real(std::string Name, TPropertyKind Kind, G Get, S Set) {
        TPropInfo p = Base(std::move(Name), Kind);
        p.GetFloat = [Get](const TPersistent& o) { return static_cast<double>(detail::Get<T>(Get, o)); };
        if constexpr (!std::is_null_pointer_v<S>)
            p.SetFloat = [Set](TPersistent& o, double v) { std::invoke(Set, static_cast<T&>(o), v); };
        p.HasDefault = true;
        detail::AddProperty(FType, std::move(p));
        return *this;
    }
    template <class G>
    TPublisher& Holder(std::string Name, TPropertyKind Kind, G Get) {
        TPropInfo p = Base(std::move(Name), Kind);
        p.GetObject = [Get](const TPersistent& o) -> TPersistent* {
            return const_cast<std::remove_const_t<std::remove_pointer_t<detail::GetResult<T, G>>>*>(
                detail::Get<T>(Get, o));
        };
        detail::AddProperty(FType, std::move(p));
        return *this;
    }
    TPublisher& WithNames(TEnumNames Names) {
        auto shared = std::make_shared<const TEnumNames>(std::move(Names));
        detail::ModifyLastProperty(FType, [shared](TPropInfo& p) { p.EnumNames = shared; });
        return *this;
    }

    std::type_index FType;
};

// Starts publishing the properties of T, whose parent class is TParent; any list published for T
// before is replaced.
template <class T, class TParent>
TPublisher<T> Publish() {
    static_assert(
        std::is_base_of_v<TPersistent, T> && std::is_base_of_v<TParent, T> && !std::is_same_v<T, TParent>,
        "Publish<T, TParent>: T derives from TParent, a persistent class");
    detail::BeginPublish(typeid(T), typeid(TParent),
                         [](const TPersistent* o) { return dynamic_cast<const T*>(o) != nullptr; });
    return TPublisher<T>();
}

}  // namespace ostra
