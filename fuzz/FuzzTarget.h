// What every fuzz target shares. A target is one function, LLVMFuzzerTestOneInput, that feeds an
// input to one reader of the system; the same source file builds two programs: a libFuzzer
// program (`make fuzz`, clang with coverage and sanitizers) and a replay program (ReplayMain.cpp)
// that `make test` runs over the target's seed corpus and every input that once failed.
//
// A target refuses bad input the way the reader under test does (the exception kinds it
// documents); anything else that escapes (a consistency check, a container's range error, an
// allocation failure) is a fault: Fault prints it and aborts, so that both programs report it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace ostra::fuzz {

// Prints "fault: <what>" and aborts the process.
[[noreturn]] void Fault(const std::string& What);
// Prints "refused: <what>" when the environment sets OSTRA_FUZZ_VERBOSE (to see how far an input
// gets).
void Refused(const std::exception& E);

// The input as 8-bit text.
inline std::string AsText(const uint8_t* Data, size_t Size) {
    return std::string(reinterpret_cast<const char*>(Data), Size);
}

// Whether the environment sets OSTRA_FUZZ_TOLERATE_ENGINE_ERRORS and E is an EDatabaseError or
// an EConvertError: a run that is to look past a known escape of those kinds sets it, so that the
// known fault does not end every job; without it they are faults where a target expects none.
bool ToleratedEngineError(const std::exception& E);

// Runs Body: an exception of one of the kinds Expected is bad input refused as it should be and
// answers false; any other exception is a fault. True when Body returned normally.
template <class... Expected, class F>
bool Refusing(F&& Body) {
    try {
        Body();
        return true;
    } catch (const std::exception& e) {
        if ((... || (dynamic_cast<const Expected*>(&e) != nullptr)) || ToleratedEngineError(e)) {
            Refused(e);
            return false;
        }
        Fault(std::string("unexpected ") + typeid(e).name() + ": " + e.what());
    }
}

// Raises a fault with What when Condition is false: a property the target checks on what was read.
inline void Check(bool Condition, const std::string& What) {
    if (!Condition) Fault(What);
}

}  // namespace ostra::fuzz
