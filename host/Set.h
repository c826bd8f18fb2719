// TSet: the framework's "set of <enumeration>" for enumerations of at most 64 values, kept as
// a bit mask (bit i stands for the value with ordinal i). Component states and published set
// properties use it; the property registry streams it through Bits()/FromBits().
#pragma once
#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace ostra {

// A set of values of the enumeration E (ordinals 0..63).
template <class E>
class TSet {
    static_assert(std::is_enum_v<E>, "TSet holds values of an enumeration");

public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> values) {
        for (E v : values) FBits |= Bit(v);
    }
    // The set whose members are the set bits of `bits`.
    static constexpr TSet FromBits(uint64_t bits) {
        TSet s;
        s.FBits = bits;
        return s;
    }
    constexpr uint64_t Bits() const { return FBits; }

    constexpr bool Contains(E v) const { return (FBits & Bit(v)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr void Include(E v) { FBits |= Bit(v); }
    constexpr void Exclude(E v) { FBits &= ~Bit(v); }

    // Union, difference and intersection.
    constexpr TSet operator+(TSet o) const { return FromBits(FBits | o.FBits); }
    constexpr TSet operator-(TSet o) const { return FromBits(FBits & ~o.FBits); }
    constexpr TSet operator*(TSet o) const { return FromBits(FBits & o.FBits); }
    constexpr TSet& operator+=(TSet o) {
        FBits |= o.FBits;
        return *this;
    }
    constexpr TSet& operator-=(TSet o) {
        FBits &= ~o.FBits;
        return *this;
    }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr uint64_t Bit(E v) { return uint64_t{1} << static_cast<unsigned>(v); }
    uint64_t FBits = 0;
};

}  // namespace ostra
