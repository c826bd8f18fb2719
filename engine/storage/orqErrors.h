// orqErrors: the engine's error vocabulary. It holds the error table C_ORQERRORS, which pairs
// every engine error code with its message, the engine's one exception class
// EOrqDatabaseError, and the two routines through which every engine error is raised.
//
// Error codes are 16-bit numbers, category * 256 + sub-code. Categories (high byte):
//   0x21 system        0x22 not found        0x23 data corrupt    0x24 input and output
//   0x25 limit         0x26 integrity        0x27 invalid request 0x28 lock
//   0x29 security      0x2A invalid context  0x2B operating sys.  0x2C network
//   0x2F version       0x33 other
// The engine's own codes use sub-codes from 0x80 up (8576 = 0x2180, 10112 = 0x2780, ...);
// the sub-codes below 0x80 are a general set of database error codes the table also carries.
// Codes travel as signed 32-bit integers; the table stores them as unsigned 16-bit values,
// and 65535 is the code of the fallback row for codes without a row of their own.
//
// Raising writes one trace line to the engine's trace log (orqLogger.h) before it throws,
// so the log records every engine error.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "host/Exceptions.h"
#include "host/Object.h"
#include "host/SysUtils.h"

namespace ostra {

// One row of the error table: a code and its message (may be empty; trailing blanks count).
struct OrqErr {
    uint16_t Code;
    std::string_view Msg;
};

// The number of coded rows (rows 1..316); row 0 is the fallback row.
inline constexpr std::size_t C_ORQERRORCODEDROWS = 316;
// The code of the fallback row, used in trace lines for a code without a row.
inline constexpr uint16_t C_ORQUNKNOWNERRORCODE = 65535;

// The error table. Row 0 is {65535, "Error code unknown"}; rows 1..316 hold every code once,
// stored in ascending code order (checked at compile time), so the lookup may search them.
extern const std::array<OrqErr, C_ORQERRORCODEDROWS + 1> C_ORQERRORS;

// The row for `Code`: the coded row with that code, else row 0. The same row as comparing
// rows 1, 2, ... in turn; found by binary search. Codes outside 0..65535 never match.
const OrqErr& FindOrqErr(int32_t Code);

// The engine's exception. Applications that catch the framework's EDatabaseError catch it too.
class EOrqDatabaseError : public EDatabaseError {
public:
    // Message: SorqErrorAnonBaseMsg with (ErrorCode, ErrorMessage) when CustomMsg is empty,
    // else SorqErrorAnonCustomMsg with (ErrorMessage, ErrorCode, CustomMsg).
    EOrqDatabaseError(int32_t ErrorCode, const std::string& ErrorMessage, const std::string& CustomMsg,
                      TObject* Sender);

    int32_t ErrorCode;         // the code as passed, also when the table has no row for it
    std::string ErrorMessage;  // the message of the row used ("Error code unknown" for row 0)
    TObject* Sender;           // the raising object; not owned, may be null
};

// The name a trace line gives the raising object: a component's non-empty Name, else the
// object's class name; empty for a null sender.
std::string OrqSenderName(const TObject* Sender);

// Raises EOrqDatabaseError for `Code`. `Caller` names the raising routine as "Class.Method";
// `CustomMsg` is an extra text (may be empty); `Sender` is the raising object (may be null).
// Writes the trace line "Exception:  Caller %20s ErrCode %5d [ErrContext %s]. CustomMsg %s"
// (sender name, row code, row message, CustomMsg) to GDBLogger under `Caller` first.
[[noreturn]] void OrqDatabaseError(int32_t Code, const std::string& Caller, const std::string& CustomMsg,
                                   TObject* Sender);

// OrqDatabaseError with CustomMsg = Format(Fmt, Args); a bad format raises EConvertError.
[[noreturn]] void OrqDatabaseErrorFmt(int32_t Code, const std::string& Caller, const std::string& Fmt,
                                      std::initializer_list<FormatArg> Args, TObject* Sender);

// The message of the exception being handled (inside a catch block): what() of a standard
// exception, else "unknown exception".
std::string CurrentExceptionMessage();

}  // namespace ostra
