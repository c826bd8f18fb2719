// TPyxMemoSource: a shared document that memos can show in place of their own text. It holds the
// lines, the undo history, the styler and the read-only flag of one document; any number of
// memos may point at it (TPyxMemo::SetMemoSource), and one of them at a time is attached.
//
// What attaching does. The attached memo owns the document's links: the lines expand tabs with
// its TabSize and report their changes to it, the undo list replays on it, the styler's styles
// report to it, and the document's read-only flag is its ReadOnly. When another memo attaches,
// the memo that leaves hands over where it stood (caret, scroll position, selection; the
// snapshot) and its read-only flag, and the memo that arrives takes them over: so moving the
// document from memo A to memo B moves the user's place in it as well. A memo that points at the
// document without being attached still shows and edits its lines, but hears of no change.
//
// Lifetime. A memo that is destroyed leaves the document first (if attached, its place is kept
// for the next memo); a document that is destroyed tells every memo pointing at it, and they go
// back to their own lines.
#pragma once
#include <memory>
#include <vector>

#include "controls/memo/PyxCustomMemo.h"
#include "controls/memo/PyxMemoStrings.h"
#include "controls/memo/PyxMemoStyler.h"
#include "controls/memo/PyxUndo.h"
#include "host/Component.h"

namespace ostra {

class TPyxMemo;

// A document shared by memos.
class TPyxMemoSource : public TComponent {
public:
    explicit TPyxMemoSource(TComponent* AOwner);
    // Detaches the attached memo and sends every memo pointing here back to its own lines.
    ~TPyxMemoSource() override;

    // The document's styler (not owned; null for none).
    TPyxCustomMemoStyler* SyntaxStyler() const { return FSyntaxStyler; }
    // Stores a different styler; the attached memo then colours with it.
    void SetSyntaxStyler(TPyxCustomMemoStyler* Value);
    TPyxMemoStrings& Lines() const { return *FLines; }
    // Empties the lines and appends those of `Value` (null: ignored).
    void SetLines(const TStrings* Value);
    TPyxUndoList& UndoList() const { return *FUndoList; }
    // The attached memo's ReadOnly when there is one, else the document's own flag.
    bool ReadOnly() const;
    void SetReadOnly(bool Value);

    // The memo attached now (null for none).
    TPyxMemo* AttachedMemo() const { return FAttachedMemo; }
    // Where the last attached memo stood when it left.
    const TPyxCaretSnapshot& CaretSnapshot() const { return FCaretSnapshot; }
    // Attaches `Memo` (null: detaches the attached one). Nothing when it is attached already.
    // The memo that leaves keeps the document's place and read-only flag here and repaints; the
    // memo that arrives takes them over and repaints. A memo that does not point at this
    // document is made to point here first.
    void AttachMemo(TPyxMemo* Memo);

    // Book-keeping of the memos pointing here (TPyxMemo::SetMemoSource).
    void AddMemo(TPyxMemo* Memo);
    void RemoveMemo(TPyxMemo* Memo);

    // Drops the styler or the attached memo when it is destroyed.
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    // The links of the attached memo: its styles' memo, the lines' owner and change handler,
    // the undo list's target.
    void LinkMemo(TPyxMemo* Memo);

    TPyxCustomMemoStyler* FSyntaxStyler = nullptr;
    std::unique_ptr<TPyxMemoStrings> FLines;
    std::unique_ptr<TPyxUndoList> FUndoList;
    bool FReadOnly = false;
    TPyxMemo* FAttachedMemo = nullptr;
    TPyxCaretSnapshot FCaretSnapshot;
    std::vector<TPyxMemo*> FMemos;  // every memo whose MemoSource is this document
};

}  // namespace ostra
