// Autocompletion's settings and the rules the memo applies to its entries, free of any window:
//   - TAutoCompletion: the memo's published settings (active, delay, size, font, the colours of
//     the entry kinds, images);
//   - entries: "function Max(A; B)" is the kind prefix "function " (up to and with the first
//     blank), the entry text "Max(A; B)", its name "Max" (before the first opening parenthesis)
//     and its parameter part "(A; B)"; its key, by which entries sort, is the entry text up to
//     the first blank, opening parenthesis or semicolon. An entry's object value is its kind
//     (0 identifier, 1 variable, 2 property, 3 event, 4 method, 5 function, 6 procedure);
//   - what a key does while the list is open.
// The memo (PyxCustomMemo.h) holds the list's state and runs it; the widget shows it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "controls/memo/PyxGraphics.h"
#include "host/Object.h"

namespace ostra {

// The kinds of completion entries.
enum TCompletionKind { ckIdentifier, ckVariable, ckProperty, ckEvent, ckMethod, ckFunction, ckProcedure };

// The memo's autocompletion settings.
class TAutoCompletion : public TPersistent {
public:
    TAutoCompletion();

    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }
    // The list's background.
    TColor Color() const { return FColor; }
    void SetColor(TColor Value) { FColor = Value; }
    // Milliseconds from a typed full stop to the member list.
    int Delay() const { return FDelay; }
    void SetDelay(int Value) { FDelay = Value; }
    // The list's font (owned); setting copies.
    TFont& Font() const { return *FFont; }
    void SetFont(const TFont& Value) { FFont->Assign(&Value); }
    TColor ColorVar() const { return FColors[ckVariable]; }
    void SetColorVar(TColor Value) { FColors[ckVariable] = Value; }
    TColor ColorProp() const { return FColors[ckProperty]; }
    void SetColorProp(TColor Value) { FColors[ckProperty] = Value; }
    TColor ColorMethod() const { return FColors[ckMethod]; }
    void SetColorMethod(TColor Value) { FColors[ckMethod] = Value; }
    TColor ColorFunc() const { return FColors[ckFunction]; }
    void SetColorFunc(TColor Value) { FColors[ckFunction] = Value; }
    TColor ColorProc() const { return FColors[ckProcedure]; }
    void SetColorProc(TColor Value) { FColors[ckProcedure] = Value; }
    TColor ColorEvent() const { return FColors[ckEvent]; }
    void SetColorEvent(TColor Value) { FColors[ckEvent] = Value; }
    TColor ColorIdentifier() const { return FColors[ckIdentifier]; }
    void SetColorIdentifier(TColor Value) { FColors[ckIdentifier] = Value; }
    // The colour of an entry kind's prefix (kinds outside 0 .. 6 take the identifier's).
    TColor KindColor(int Kind) const { return Kind >= 0 && Kind <= ckProcedure ? FColors[Kind] : FColors[0]; }
    // The list's size when it opens (Width before SizeDropDown).
    int Height() const { return FHeight; }
    void SetHeight(int Value) { FHeight = Value; }
    int Width() const { return FWidth; }
    void SetWidth(int Value) { FWidth = Value; }
    bool ShowImages() const { return FShowImages; }
    void SetShowImages(bool Value) { FShowImages = Value; }
    // True: the list is as wide as its widest entry.
    bool SizeDropDown() const { return FSizeDropDown; }
    void SetSizeDropDown(bool Value) { FSizeDropDown = Value; }

    // From another TAutoCompletion: every setting. Other sources: the base rules.
    void Assign(const TPersistent* Source) override;

private:
    bool FActive = true;
    TColor FColor = clWindow;
    int FDelay = 500;
    std::unique_ptr<TFont> FFont;
    TColor FColors[7] = {clTeal, clBlue, clTeal, clRed, clNavy, clNavy, clNavy};
    int FHeight = 100;
    bool FShowImages = false;
    bool FSizeDropDown = true;
    int FWidth = 200;
};

// One entry taken apart.
struct TCompletionEntry {
    std::string Prefix;  // the kind prefix with its blank; "" for none
    std::string Text;    // the entry without the prefix
    std::string Name;    // the text before its first "("; the whole text without one
    std::string Params;  // from the first "(" on; "" without one
};
TCompletionEntry ParseCompletionEntry(const std::string& Entry);
// The entry text up to its first blank, "(" or ";".
std::string CompletionKey(const std::string& Entry);
// Orders two entries by their keys, ignoring the case of ASCII letters (<0, 0, >0).
int CompareCompletionKeys(const std::string& Entry1, const std::string& Entry2);
// True when the upper-cased entry text begins with `UpperPrefix` (always for "").
bool CompletionEntryMatches(const std::string& Entry, const std::string& UpperPrefix);

// An entry kind kept as a string list's object value, and back.
TObject* CompletionKindObject(int Kind);
int CompletionKindOf(const TObject* Object);

// What a key does while the completion list is open.
enum TCompletionKeyAction {
    ckaBackspace,  // the memo deletes back, the list filters again
    ckaClose,      // Tab, Escape: the list closes
    ckaAccept,     // Enter, Space, the digit key 5: the selected entry is inserted
    ckaNavigate,   // Shift, Ctrl, Alt, the page, Home, End and arrow keys: the list's selection
    ckaDelete,     // the memo deletes forward
    ckaLetter,     // A to Z: the memo types the letter, the list filters again
    ckaCancel      // any other key: the list closes without an entry
};
TCompletionKeyAction CompletionKeyAction(uint16_t Key);

}  // namespace ostra
