// Undo records, their merging, and the bounded undo list with its replay.
#include "controls/memo/PyxUndo.h"

#include <utility>

#include "controls/memo/PyxCustomMemo.h"
#include "host/Exceptions.h"

namespace ostra {

// ---- Texts cut at line breaks

TTextLines SplitTextLines(const std::string& Text) {
    TTextLines parts(1);
    for (size_t i = 0; i < Text.size(); ++i) {
        char c = Text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

std::string JoinTextLines(const TTextLines& Parts) {
    std::string result;
    for (size_t i = 0; i < Parts.size(); ++i) {
        if (i > 0) result += "\r\n";
        result += Parts[i];
    }
    return result;
}

void AppendTextLines(TTextLines& Head, const TTextLines& Tail) {
    if (Head.empty()) Head.emplace_back();
    Head.back() += Tail.empty() ? std::string() : Tail.front();
    for (size_t i = 1; i < Tail.size(); ++i) Head.push_back(Tail[i]);
}

namespace {

// The position right after `Text` inserted at (Column, Line).
std::pair<int, int> EndOf(int Column, int Line, const TTextLines& Text) {
    if (Text.size() <= 1) return {Column + static_cast<int>(Text.empty() ? 0 : Text[0].size()), Line};
    return {static_cast<int>(Text.back().size()), Line + static_cast<int>(Text.size()) - 1};
}

bool IsEmptyText(const TTextLines& Text) {
    return Text.size() <= 1 && (Text.empty() || Text[0].empty());
}

}  // namespace

// ---- TUndo

TUndo::TUndo(int ABeforeColumn, int ABeforeLine, int AAfterColumn, int AAfterLine, std::string AContent)
    : BeforeColumn(ABeforeColumn),
      BeforeLine(ABeforeLine),
      AfterColumn(AAfterColumn),
      AfterLine(AAfterLine),
      Content(std::move(AContent)) {}

TUndo& TUndo::SetEdit(int Column, int Line, TTextLines ARemoved, TTextLines AInserted) {
    EditColumn = Column;
    EditLine = Line;
    Removed = std::move(ARemoved);
    Inserted = std::move(AInserted);
    if (Removed.empty()) Removed.emplace_back();
    if (Inserted.empty()) Inserted.emplace_back();
    return *this;
}

void TUndo::Undo(TPyxCustomMemo& Memo) const {
    if (IsEmptyText(Inserted) && IsEmptyText(Removed)) return;
    Memo.ReplaceTextRange(EditColumn, EditLine, Inserted, Removed);
}

void TUndo::Redo(TPyxCustomMemo& Memo) const {
    if (IsEmptyText(Inserted) && IsEmptyText(Removed)) return;
    Memo.ReplaceTextRange(EditColumn, EditLine, Removed, Inserted);
}

bool TUndo::StartsAtAfter(const TUndo& Next) const {
    return Next.BeforeColumn == AfterColumn && Next.BeforeLine == AfterLine;
}

bool TInsertCharUndo::Append(TUndo& Next) {
    auto* next = dynamic_cast<TInsertCharUndo*>(&Next);
    if (!next || !StartsAtAfter(*next)) return false;
    if (IsEmptyText(Inserted) && IsEmptyText(Removed)) {
        // This record changed nothing (a Tab that only moved the caret): the run's change is
        // the next one's, wherever it lies.
        EditColumn = next->EditColumn;
        EditLine = next->EditLine;
        Removed = next->Removed;
        Inserted = next->Inserted;
    } else {
        // The run continues only where this record's inserted text ends; typing elsewhere (after
        // a line split that carried text to the new line) starts a record of its own.
        if (std::pair{next->EditColumn, next->EditLine} != EndOf(EditColumn, EditLine, Inserted)) return false;
        AppendTextLines(Inserted, next->Inserted);
        AppendTextLines(Removed, next->Removed);
    }
    Content += next->Content;
    AfterColumn = next->AfterColumn;
    AfterLine = next->AfterLine;
    return true;
}

bool TDeleteCharUndo::Append(TUndo& Next) {
    auto* next = dynamic_cast<TDeleteCharUndo*>(&Next);
    if (!next || !StartsAtAfter(*next) || next->Backward != Backward) return false;
    if (Backward) {
        // Backspace deletes leftwards: the new text lies before what was deleted so far.
        if (!IsEmptyText(next->Inserted) ||
            EndOf(next->EditColumn, next->EditLine, next->Removed) != std::pair{EditColumn, EditLine})
            return false;
        TTextLines removed = next->Removed;
        AppendTextLines(removed, Removed);
        Removed = std::move(removed);
        EditColumn = next->EditColumn;
        EditLine = next->EditLine;
        Content = next->Content + Content;
    } else {
        // Delete removes rightwards at one place: the new text followed what was deleted.
        if (!IsEmptyText(next->Inserted) || next->EditColumn != EditColumn || next->EditLine != EditLine)
            return false;
        AppendTextLines(Removed, next->Removed);
        Content += next->Content;
    }
    AfterColumn = next->AfterColumn;
    AfterLine = next->AfterLine;
    return true;
}

// ---- TPyxUndoList

void TPyxUndoList::Changed() {
    if (FTargetMemo && !FTargetMemo->ComponentState().Contains(csDestroying))
        FTargetMemo->UndoChanged(CanUndo(), CanRedo());
}

int TPyxUndoList::AddUndo(std::unique_ptr<TUndo> Record) {
    if (!Record || FReplaying) return -1;
    // Undone records go first: typing after an undo must not extend a record that is undone
    // (redo would then type it a second time).
    const bool droppedUndone = FUndoneCount > 0;
    while (FUndoneCount > 0) {
        FRecords.erase(FRecords.begin());
        --FUndoneCount;
    }
    if (!FRecords.empty() && FRecords.front()->Append(*Record)) {
        if (droppedUndone) Changed();
        return -1;
    }
    FRecords.insert(FRecords.begin(), std::move(Record));
    if (Count() > FRecordLimit) FRecords.pop_back();
    Changed();
    return 0;
}

namespace {

// Keeps the list's Replaying flag set while a record replays, also when the replay fails.
class TReplayScope {
public:
    explicit TReplayScope(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TReplayScope() { FFlag = false; }
    TReplayScope(const TReplayScope&) = delete;
    TReplayScope& operator=(const TReplayScope&) = delete;

private:
    bool& FFlag;
};

}  // namespace

void TPyxUndoList::Replay(const TUndo& Record, bool Backwards) {
    if (!FTargetMemo) return;
    TReplayScope replay(FReplaying);
    TPyxCustomMemo& memo = *FTargetMemo;
    // The caret goes where the edit (or its undo) starts, the change is made, and the caret goes
    // where it ends: the lines the caret leaves are trimmed as they were by the edit itself.
    // The caret is placed without padding: padding to a replayed caret is no text.
    if (Backwards) {
        memo.PlaceCaretUnpadded(Record.AfterColumn, Record.AfterLine);
        Record.Undo(memo);
        memo.PlaceCaretUnpadded(Record.BeforeColumn, Record.BeforeLine);
    } else {
        memo.PlaceCaretUnpadded(Record.BeforeColumn, Record.BeforeLine);
        Record.Redo(memo);
        memo.PlaceCaretUnpadded(Record.AfterColumn, Record.AfterLine);
    }
    memo.CollapseSelection();
}

void TPyxUndoList::Undo() {
    if (FUndoneCount >= Count()) return;
    Replay(*FRecords[static_cast<size_t>(FUndoneCount)], true);
    ++FUndoneCount;
    Changed();
}

void TPyxUndoList::Redo() {
    if (FUndoneCount <= 0) return;
    --FUndoneCount;
    Replay(*FRecords[static_cast<size_t>(FUndoneCount)], false);
    Changed();
}

void TPyxUndoList::Clear() {
    FRecords.clear();
    FUndoneCount = 0;
    Changed();
}

void TPyxUndoList::SetRecordLimit(int Value) {
    if (Value == FRecordLimit) return;
    if (Value <= 0) Value = 10;
    if (Value > 100) Value = 100;
    FRecordLimit = Value;
    Clear();
}

TUndo* TPyxUndoList::RecordAt(int Index) const {
    if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return FRecords[static_cast<size_t>(Index)].get();
}

void TPyxUndoList::DeleteRecord(int Index) {
    RecordAt(Index);
    FRecords.erase(FRecords.begin() + Index);
    if (FUndoneCount > Count()) FUndoneCount = Count();
}

}  // namespace ostra
