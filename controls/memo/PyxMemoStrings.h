// TPyxMemoStrings: the text of a memo, one string per line with no line-break characters. It is a
// string list that, while it belongs to a memo (OwnerMemo), expands every tab it is given into
// the memo's TabSize blanks, routes deletions made from outside through the memo's undoable
// delete-line command, and tells the memo which cached paint state went stale.
//
// Besides the strings it keeps:
//   - LineLengths: one entry per line, the line's length as stored (tabs expanded), and from
//     them the longest length, kept in O(log n) per change for the memo's horizontal extent;
//   - TLineProp objects in the lines' object slots, carrying a saved tokenizer state (a
//     checkpoint, PyxTokenState.h). Callers of Objects never see a TLineProp: they read and write
//     the object they stored, which the TLineProp keeps as its UserObject.
//
// Checkpoints: the saved state of line i is the tokenizer state after lines 0 .. i-1, so a
// change to line j stales every checkpoint below j. The list keeps one watermark: checkpoints of
// lines 0 .. ValidStatesThrough() may be trusted, those below may not; every change but an
// appended line lowers it, and a scan that rewrote every checkpoint it passed raises it again
// (MarkStatesValidThrough). ReadLineState answers only for trusted checkpoints, so a state
// stored below the watermark counts once the scan that stored it marks its line.
//
// Invariants: LineLengths().size() == Count(); a TLineProp lives in FLineProps from its creation
// until its line is deleted or the list is cleared or destroyed.
#pragma once
#include <climits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "controls/memo/PyxTokenState.h"
#include "host/StringList.h"

namespace ostra {

class TPyxCustomMemo;

// What a line's object slot holds once a tokenizer state was saved for it.
class TLineProp : public TObject {
public:
    TObject* UserObject = nullptr;  // the caller's object for the line
    TokenState SavedState;
    bool SavedStateValid = false;
};

// The memo's line list.
class TPyxMemoStrings : public TStringList {
public:
    TPyxMemoStrings() = default;
    ~TPyxMemoStrings() override;

    // The memo whose lines these are; null for a free list (which stores text unchanged).
    TPyxCustomMemo* OwnerMemo() const { return FOwnerMemo; }
    void SetOwnerMemo(TPyxCustomMemo* Value) { FOwnerMemo = Value; }
    // Nesting of BeginUpdate; the memo paints nothing while it is above 0.
    int UpdateNesting() const { return FUpdateNesting; }
    // True while a deletion routed through the memo runs (the inner call deletes the line).
    bool DeletingLine() const { return FDeletingLine; }
    void SetDeletingLine(bool Value) { FDeletingLine = Value; }

    // The stored length of every line, in line order.
    const std::vector<int>& LineLengths() const { return FLineLengths; }
    // The greatest entry of LineLengths; 0 for an empty list.
    int LongestLength() const;

    // From another string list while owned by a memo: the memo's Lines setter runs (the memo's
    // lines are replaced; assigning the memo's own lines to themselves changes nothing). Else
    // the base rules.
    void Assign(const TPersistent* Source) override;
    // Appends `S` (tabs expanded when owned); returns its index.
    int Add(const std::string& S) override;
    int AddObject(const std::string& S, TObject* AObject) override;
    // Empties the list and frees every TLineProp.
    void Clear() override;
    // Deletes line `Index`; nothing for an index outside the list. While owned by a memo (and
    // not already inside such a deletion) the deletion runs as the memo's delete-line command,
    // so it is undoable and the caret keeps its place in the text.
    void Delete(int Index) override;
    // Inserts a line before `Index` (0..Count); while owned, the memo's selection collapses and
    // its caret line is re-clamped.
    void Insert(int Index, const std::string& S) override;
    void InsertObject(int Index, const std::string& S, TObject* AObject) override;
    // Reordering lines keeps the lengths in line order and stales the checkpoints below the
    // first line moved.
    void Exchange(int Index1, int Index2) override;
    void CustomSort(const TStringListSortCompare& Compare) override;
    // Reads the file's lines (CR, LF or CR LF end a line) into the list. While owned, the memo
    // empties its undo list, puts the caret at (0, 0) and reports one change for the whole load.
    // A file that cannot be read raises the file stream's error and changes nothing.
    void LoadFromFile(const std::string& FileName);

    // Inserts a line before `Index` with no caret handling (the memo's own edits).
    void InsertLine(int Index, const std::string& S);
    // Deletes line `Index` without routing it through the memo (the memo's own edits).
    void RemoveLine(int Index);

    // The TLineProp of a line; null when it has none or for an index outside the list.
    TLineProp* GetLineProp(int Index) const;
    // Creates a TLineProp for line `Index`, moving the line's object into its UserObject.
    TLineProp* AddLineProp(int Index);
    // Stores `P` in the line's object slot (for an index inside the list).
    void SetLineProp(int Index, TLineProp* P);
    // Frees every TLineProp (the lines keep their callers' objects).
    void FreeLineProps();

    // Saves `State` as the checkpoint of line `Index` (inside the list).
    void StoreLineState(int Index, const TokenState& State);
    // The trusted checkpoint of line `Index`, if there is one.
    bool ReadLineState(int Index, TokenState& State) const;
    // Marks every checkpoint invalid.
    void ClearLineStates();
    // Checkpoints of lines 0 .. this value may be trusted (INT_MAX: all of them).
    int ValidStatesThrough() const { return FValidStatesThrough; }
    // Declares every checkpoint of lines 0 .. Line trusted; the caller has just rewritten every
    // checkpoint above Line down to ValidStatesThrough().
    void MarkStatesValidThrough(int Line);

protected:
    void Put(int Index, const std::string& S) override;
    TObject* GetObject(int Index) const override;
    void PutObject(int Index, TObject* AObject) override;
    // Counts BeginUpdate/EndUpdate only: EndUpdate reports no change of its own.
    void SetUpdateState(bool Updating) override;
    // Every change reaches the owner memo, also inside BeginUpdate / EndUpdate (where the list's
    // OnChange stays silent), so the memo's extent and scroll bars never go stale.
    void Changed() override;
    void Changing() override;

private:
    // `S` with every tab replaced by the owner memo's TabSize blanks (unchanged without owner).
    std::string Expand(const std::string& S) const;
    // Bookkeeping of one line's length entering or leaving the list.
    void CountLength(int Length);
    void UncountLength(int Length);
    // A change at line `Index` stales the checkpoints below it (and, for a deletion, its own).
    void LineChangedAt(int Index, bool Removed);
    // Stores an object in a line's slot without reporting a change of the text.
    void PutObjectSilently(int Index, TObject* AObject);
    // Recounts every line's length (after the lines were reordered).
    void RecountLengths();
    // The raw deletion: length entry, TLineProp and string.
    void DeleteUnrouted(int Index);

    TPyxCustomMemo* FOwnerMemo = nullptr;
    int FUpdateNesting = 0;
    bool FDeletingLine = false;
    bool FSilent = false;  // a checkpoint is being stored: no change of the text to report
    std::vector<int> FLineLengths;
    std::map<int, int> FLengthCounts;  // length -> number of lines of that length
    std::unordered_map<const TLineProp*, std::unique_ptr<TLineProp>> FLineProps;
    int FValidStatesThrough = INT_MAX;
};

}  // namespace ostra
