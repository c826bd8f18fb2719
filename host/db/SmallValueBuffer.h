// TSmallValueBuffer: the value buffer of a field whose value takes at most 8 bytes (integers,
// floats, booleans). Like TField::ValueBuffer it is zero-filled with room to spare beyond the
// value, but it lies on the stack, so reading or setting such a field costs no allocation.
#pragma once
#include <cstdint>

namespace ostra {

struct TSmallValueBuffer {
    alignas(8) uint8_t Bytes[8 + 16] = {};
    uint8_t* data() { return Bytes; }
};

}  // namespace ostra
