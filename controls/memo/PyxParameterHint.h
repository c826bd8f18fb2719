// Parameter hints, free of any window: the styler's settings (THintParameter: the characters that
// open and close a call and separate its arguments, and one entry per function such as
// "MAX(A; B)"), finding the call the caret stands in, and cutting an entry's parameter list into
// the parts before, at and after the argument being typed. The memo (PyxCustomMemo.h) computes
// and places the hint; the widget shows it.
#pragma once
#include <string>

#include "controls/memo/PyxGraphics.h"
#include "host/StringList.h"

namespace ostra {

// A styler's parameter-hint settings.
class THintParameter : public TPersistent {
public:
    THintParameter() = default;

    TColor TextColor() const { return FTextColor; }
    void SetTextColor(TColor Value) { FTextColor = Value; }
    TColor BkColor() const { return FBkColor; }
    void SetBkColor(TColor Value) { FBkColor = Value; }
    // Opens a call's argument list ("(").
    char HintCharStart() const { return FHintCharStart; }
    void SetHintCharStart(char Value) { FHintCharStart = Value; }
    // Closes it (")").
    char HintCharEnd() const { return FHintCharEnd; }
    void SetHintCharEnd(char Value) { FHintCharEnd = Value; }
    // Separates the parameters of the entries (";").
    char HintCharDelimiter() const { return FHintCharDelimiter; }
    void SetHintCharDelimiter(char Value) { FHintCharDelimiter = Value; }
    // Separates the arguments as the user writes them (","; entries may use it too).
    char HintCharWriteDelimiter() const { return FHintCharWriteDelimiter; }
    void SetHintCharWriteDelimiter(char Value) { FHintCharWriteDelimiter = Value; }
    // One entry per function: a name, HintCharStart, the parameters, HintCharEnd. Setting copies.
    TStringList& Parameters() const { return const_cast<TStringList&>(FParameters); }
    void SetParameters(const TStrings& Value) { FParameters.Assign(&Value); }

    // From another THintParameter: every setting. Other sources: the base rules.
    void Assign(const TPersistent* Source) override;

private:
    TColor FTextColor = clBlack;
    TColor FBkColor = clInfoBk;
    char FHintCharStart = '(';
    char FHintCharEnd = ')';
    char FHintCharDelimiter = ';';
    char FHintCharWriteDelimiter = ',';
    TStringList FParameters;
};

// The call the caret stands in.
struct TCallStart {
    bool Found = false;     // false: the caret is after a closed call or too far from an opening
    std::string Name;       // the function's name (trimmed); "" when none stands before the opening
    int ArgumentIndex = 0;  // the argument being typed, 0 for the first
};
// Looks back from `Column` in `Line` for the opening character of a call: an argument delimiter
// passed counts one argument, a closing character met first or five blanks in a row end the
// search without a call. The name is the run before the opening up to a blank, another opening
// or closing character, or an argument or parameter delimiter (so a blank between name and
// opening leaves no name).
TCallStart FindCallStart(const std::string& Line, int Column, const THintParameter& Settings);

// An entry's parameter list cut at one argument.
struct THintParts {
    std::string Before;   // up to and with the delimiter before the argument
    std::string Current;  // the argument, with the delimiter after it
    std::string After;
    int BoldPart = 1;     // 2: Current is bold; 1: Before is (Current is empty)
};
// The parameters of `Entry` (after its first opening character, before the closing one after it)
// cut at argument `Index`: arguments are separated by either delimiter.
THintParts SplitParameterHint(const std::string& Entry, int Index, const THintParameter& Settings);

}  // namespace ostra
