// The exception classes of the host library: Exception and its descendants, and the
// checks that raise them. Every failure in Ostra is one of these (engine errors derive
// from EDatabaseError); none of them aborts the process.
#pragma once
#include <stdexcept>
#include <string>
#include <type_traits>

namespace ostra {

// The base of every exception the system raises; carries a message text.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

#define OSTRA_EXCEPTION(Name, Base)         \
    class Name : public Base {              \
    public:                                 \
        using Base::Base;                   \
    }

OSTRA_EXCEPTION(EAbort, Exception);             // a silent abort of an operation
OSTRA_EXCEPTION(EConvertError, Exception);      // a text or value that cannot be converted
OSTRA_EXCEPTION(EAssertionFailed, Exception);   // an internal consistency check failed
OSTRA_EXCEPTION(EListError, Exception);         // list index out of bounds, duplicates refused
OSTRA_EXCEPTION(EStringListError, EListError);  // string-list specific failures
OSTRA_EXCEPTION(EInvalidOperation, Exception);  // an operation not valid in the object's state
OSTRA_EXCEPTION(EInvalidCast, Exception);       // an object is not of the class asked for
OSTRA_EXCEPTION(EStreamError, Exception);       // stream read/write/seek failures
OSTRA_EXCEPTION(EReadError, EStreamError);      // a stream could not deliver what was asked
OSTRA_EXCEPTION(EWriteError, EStreamError);     // a stream could not take what was written
OSTRA_EXCEPTION(EFilerError, EStreamError);     // component streaming failures
OSTRA_EXCEPTION(EClassNotFound, EFilerError);   // a class name is not registered
OSTRA_EXCEPTION(EPropertyError, EFilerError);   // a property is unknown or its value invalid
OSTRA_EXCEPTION(EParserError, Exception);       // component text cannot be parsed
OSTRA_EXCEPTION(EComponentError, Exception);    // component naming and ownership failures
OSTRA_EXCEPTION(EVariantError, Exception);      // invalid variant operation or conversion
OSTRA_EXCEPTION(EMathError, Exception);         // arithmetic failures
OSTRA_EXCEPTION(EZeroDivide, EMathError);       // division by zero
OSTRA_EXCEPTION(EOverflow, EMathError);         // a result out of range
OSTRA_EXCEPTION(EDatabaseError, Exception);     // the dataset framework's database error

#undef OSTRA_EXCEPTION

// A file-system failure with the operating-system error number that caused it.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

// Raises EAssertionFailed with Text. Out of line, so that the checks below stay small.
[[noreturn]] void AssertionFailed(const std::string& Text);

// Raise EAssertionFailed with the text when Condition is false, in every build type. A check
// that passes builds no text: give a literal, an existing string, or, for a text made of values,
// a function that makes it (called only when the check fails):
//   Assert(Pos >= 0, [&] { return "Bad position " + IntToStr(Pos); });
inline void Assert(bool Condition, const char* Text) {
    if (!Condition) [[unlikely]]
        AssertionFailed(Text);
}
inline void Assert(bool Condition, const std::string& Text) {
    if (!Condition) [[unlikely]]
        AssertionFailed(Text);
}
template <class F>
    requires std::is_invocable_r_v<std::string, F&>
inline void Assert(bool Condition, F&& MakeText) {
    if (!Condition) [[unlikely]]
        AssertionFailed(MakeText());
}

// Raises the framework's database error with the given text.
[[noreturn]] void DatabaseError(const std::string& message);

}  // namespace ostra
