// Undo and redo of the memo's edits. Every editing operation (PyxCustomMemo.h) pushes one record
// onto the memo's undo list; consecutive typing or deleting at one place merges into one record,
// so one undo step takes back a whole run. The list keeps at most RecordLimit records, the
// newest at index 0; the newest UndoneCount records are undone and can be redone.
//
// Each record names the caret before and after its edit, its Content (what the user typed or
// deleted: a line break is CR, except in deleted selections and inserted texts, which keep the
// CR LF they were given) and the exact change: at (EditColumn, EditLine) the text Removed was
// replaced by Inserted. Undo and redo apply that change backwards or forwards, so every edit
// returns to exactly the text it came from, whatever the edit did around its content (an
// overwritten character, blanks trimmed at a line split, a corrected word).
//
// Text changes that the memo makes outside records are limited to blanks at line ends (padding
// when the caret stands beyond a line's end, trimming when it leaves a line); replaying a change
// is therefore tolerant of trailing blanks: a column beyond a line's end is padded where text
// follows on the line, and a removal that runs past a line's end stops there. The replay places
// the caret without padding and moves it as the edit did, so the lines the edit's caret left are
// trimmed again. A record refers to no line object, only to positions
// and text, so it stays replayable after any later edit.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/Object.h"

namespace ostra {

class TPyxCustomMemo;

// A text cut at its line breaks: a text with n line breaks has n + 1 parts ({""} is empty).
using TTextLines = std::vector<std::string>;
// The parts of `Text`, cut at CR LF, CR or LF.
TTextLines SplitTextLines(const std::string& Text);
// The parts joined with CR LF.
std::string JoinTextLines(const TTextLines& Parts);
// Appends `Tail` to `Head`: Tail's first part continues Head's last one.
void AppendTextLines(TTextLines& Head, const TTextLines& Tail);

// One undoable edit.
class TUndo : public TObject {
public:
    TUndo(int ABeforeColumn, int ABeforeLine, int AAfterColumn, int AAfterLine, std::string AContent);

    int BeforeColumn;
    int BeforeLine;
    int AfterColumn;
    int AfterLine;
    std::string Content;

    // The exact change: at (EditColumn, EditLine), Removed was replaced by Inserted.
    int EditColumn = 0;
    int EditLine = 0;
    TTextLines Removed{""};
    TTextLines Inserted{""};
    // Records the exact change; returns this record.
    TUndo& SetEdit(int Column, int Line, TTextLines ARemoved, TTextLines AInserted);

    // Takes `Next`, pushed right after this record, into this record when they form one run;
    // false (the base) when they do not.
    virtual bool Append(TUndo& Next) { return false; }
    // Puts the text of `Memo` back as it was before the edit / as it was after it. The caret is
    // placed by the list's replay, not here.
    void Undo(TPyxCustomMemo& Memo) const;
    void Redo(TPyxCustomMemo& Memo) const;

protected:
    // True when `Next` starts where this record's caret ended.
    bool StartsAtAfter(const TUndo& Next) const;
};

// Characters typed (a Tab as the blanks it became) or a line break entered.
class TInsertCharUndo : public TUndo {
public:
    using TUndo::TUndo;
    // Merges typing that continues at the end of this record's inserted text (or that follows a
    // record which changed nothing, such as a Tab that only moved the caret).
    bool Append(TUndo& Next) override;
};

// Characters deleted one at a time: forward (Delete) or backward (Backspace).
class TDeleteCharUndo : public TUndo {
public:
    TDeleteCharUndo(int ABeforeColumn, int ABeforeLine, int AAfterColumn, int AAfterLine, std::string AContent,
                    bool ABackward)
        : TUndo(ABeforeColumn, ABeforeLine, AAfterColumn, AAfterLine, std::move(AContent)), Backward(ABackward) {}
    bool Backward;
    // Merges a delete in the same direction that starts where this one left the caret; Content
    // and Removed stay in document order.
    bool Append(TUndo& Next) override;
};

// A deleted line.
class TDeleteLineUndo : public TUndo {
public:
    using TUndo::TUndo;
};

// An edit of a selection; the selection in normalized order (start not after end).
class TSelUndo : public TUndo {
public:
    using TUndo::TUndo;
    int SelStartColumn = 0;
    int SelStartLine = 0;
    int SelEndColumn = 0;
    int SelEndLine = 0;
};

// A deleted selection.
class TDeleteBufUndo : public TSelUndo {
public:
    using TSelUndo::TSelUndo;
};

// An inserted text (paste, autocompletion).
class TPasteUndo : public TUndo {
public:
    using TUndo::TUndo;
};

// A word replaced by autocorrection or word completion.
class TWordReplaceUndo : public TUndo {
public:
    using TUndo::TUndo;
};

// The bounded history of one memo (or one shared document).
class TPyxUndoList : public TObject {
public:
    explicit TPyxUndoList(TPyxCustomMemo* ATargetMemo = nullptr) : FTargetMemo(ATargetMemo) {}
    TPyxUndoList(const TPyxUndoList&) = delete;
    TPyxUndoList& operator=(const TPyxUndoList&) = delete;

    // The memo that replays the records and hears OnUndoChange; null for none.
    TPyxCustomMemo* TargetMemo() const { return FTargetMemo; }
    void SetTargetMemo(TPyxCustomMemo* Value) { FTargetMemo = Value; }

    int Count() const { return static_cast<int>(FRecords.size()); }
    // How many of the newest records are undone.
    int UndoneCount() const { return FUndoneCount; }
    bool Replaying() const { return FReplaying; }
    int RecordLimit() const { return FRecordLimit; }
    bool CanUndo() const { return FUndoneCount < Count(); }
    bool CanRedo() const { return FUndoneCount > 0; }

    // Pushes a record: discarded while a replay runs, merged into the newest record when it
    // continues it, else kept as the newest (dropping every undone record first, and the oldest
    // record when the limit is passed). 0 when kept, -1 when discarded or merged.
    int AddUndo(std::unique_ptr<TUndo> Record);
    // One step back / forward; nothing when there is nothing to undo / redo.
    void Undo();
    void Redo();
    // Drops every record.
    void Clear();
    // A new limit (0 or below becomes 10, above 100 becomes 100); a changed limit drops the
    // whole history.
    void SetRecordLimit(int Value);
    // The record at `Index` (0 = newest); raises EListError for a bad index.
    TUndo* RecordAt(int Index) const;
    void DeleteRecord(int Index);

private:
    void Changed();
    // Replays one record on the target memo, backwards (undo) or forwards (redo), and places the
    // caret where the edit started or ended; edits made meanwhile leave no records.
    void Replay(const TUndo& Record, bool Backwards);

    std::vector<std::unique_ptr<TUndo>> FRecords;  // newest first
    int FUndoneCount = 0;
    TPyxCustomMemo* FTargetMemo;
    bool FReplaying = false;
    int FRecordLimit = 100;
};

}  // namespace ostra
