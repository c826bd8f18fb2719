// The memo core's text-changing operations and the clipboard commands built on them. Each
// operation works on the effective line list, moves the caret through the caret setters and
// pushes one undo record carrying the exact change (PyxUndo.h).
#include <algorithm>
#include <climits>

#include "controls/memo/PyxCustomMemo.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

// Characters Start .. Start + Count - 1 of `S` (0-based), clipped to the string.
std::string Copy(const std::string& S, int Start, int Count = INT_MAX) {
    const int n = static_cast<int>(S.size());
    Start = std::max(0, Start);
    if (Start >= n || Count <= 0) return {};
    return S.substr(static_cast<size_t>(Start), static_cast<size_t>(std::min(Count, n - Start)));
}

// `S` padded with blanks to at least `Length` characters.
std::string PadTo(std::string S, int Length) {
    if (static_cast<int>(S.size()) < Length) S.append(static_cast<size_t>(Length) - S.size(), ' ');
    return S;
}

int Len(const std::string& S) {
    return static_cast<int>(S.size());
}

// The text from (StartColumn, StartLine) to (EndColumn, EndLine), both inside `Lines`, cut at
// its line breaks.
TTextLines TextBetween(const TStrings& Lines, int StartColumn, int StartLine, int EndColumn, int EndLine) {
    if (StartLine == EndLine) return {Copy(Lines.Strings(StartLine), StartColumn, EndColumn - StartColumn)};
    TTextLines parts{Copy(Lines.Strings(StartLine), StartColumn)};
    for (int i = StartLine + 1; i < EndLine; ++i) parts.push_back(Lines.Strings(i));
    parts.push_back(Copy(Lines.Strings(EndLine), 0, EndColumn));
    return parts;
}

}  // namespace

// ---- Typing

void TPyxCustomMemo::InsertChar(char Ch) {
    TPyxMemoStrings& lines = EffectiveLines();
    if (FCaretLine >= lines.Count()) SetCaretLine(FCaretLine);
    const int beforeColumn = FCaretColumn;
    const int beforeLine = FCaretLine;
    const int column = FCaretColumn;
    std::string s = lines.Strings(FCaretLine);
    const int length = Len(s);

    std::string inserted;
    std::string removed;
    int editColumn = column;
    int target = column;
    if (Ch != '\t') {
        s = PadTo(std::move(s), column);
        inserted = std::string(1, Ch);
        if (FOverwriteMode && column < length) {
            removed = std::string(1, s[static_cast<size_t>(column)]);
            s[static_cast<size_t>(column)] = Ch;
        } else {
            s.insert(static_cast<size_t>(column), 1, Ch);
        }
        target = column + 1;
    } else if (FOverwriteMode) {
        // Tab over existing text only moves; near the end it appends the blanks still missing.
        target = column + FTabSize;
        if (target >= length) {
            editColumn = length;
            inserted = std::string(static_cast<size_t>(target - length), ' ');
            s += inserted;
        }
    } else {
        inserted = std::string(static_cast<size_t>(std::max(0, FTabSize)), ' ');
        s = PadTo(std::move(s), column);
        s.insert(static_cast<size_t>(column), inserted);
        target = column + Len(inserted);
    }
    {
        TNotifyOff off(*this);
        PutLine(FCaretLine, s);
    }
    SetCaretColumn(target);
    CollapseSelection();
    auto record = std::make_unique<TInsertCharUndo>(beforeColumn, beforeLine, FCaretColumn, FCaretLine, inserted);
    if (!inserted.empty() || !removed.empty()) record->SetEdit(editColumn, beforeLine, {removed}, {inserted});
    AddUndo(std::move(record));
    LinesChanged();
    Invalidate();
}

// ---- Deleting

void TPyxCustomMemo::DeleteChar(int UndoColumn, int UndoLine) {
    if (!CanEdit()) return;
    TPyxMemoStrings& lines = EffectiveLines();
    if (FCaretLine >= lines.Count()) SetCaretLine(FCaretLine);
    const bool backward = UndoColumn != -1 || UndoLine != -1;
    const int beforeColumn = backward ? UndoColumn : FCaretColumn;
    const int beforeLine = backward ? UndoLine : FCaretLine;
    {
        TNotifyOff off(*this);
        CollapseSelection();
        const std::string s = lines.Strings(FCaretLine);
        if (FCaretColumn < Len(s)) {
            const std::string ch(1, s[static_cast<size_t>(FCaretColumn)]);
            PutLine(FCaretLine, s.substr(0, static_cast<size_t>(FCaretColumn)) +
                                    s.substr(static_cast<size_t>(FCaretColumn) + 1));
            auto record = std::make_unique<TDeleteCharUndo>(beforeColumn, beforeLine, FCaretColumn, FCaretLine, ch,
                                                            backward);
            record->SetEdit(FCaretColumn, FCaretLine, {ch}, {""});
            AddUndo(std::move(record));
        } else if (FCaretLine < lines.Count() - 1) {
            PutLine(FCaretLine, s + lines.Strings(FCaretLine + 1));
            lines.RemoveLine(FCaretLine + 1);
            auto record = std::make_unique<TDeleteCharUndo>(beforeColumn, beforeLine, FCaretColumn, FCaretLine, "\r",
                                                            backward);
            record->SetEdit(Len(s), FCaretLine, {"", ""}, {""});
            AddUndo(std::move(record));
        }
    }
    LinesChanged();
    Invalidate();
}

void TPyxCustomMemo::Backspace() {
    const int column = FCaretColumn;
    const int line = FCaretLine;
    // Beyond the line's end there is nothing left of the caret to delete: only the caret moves.
    const bool beyondEnd = column > Len(LineText(line));
    MoveCaret(-1, 0, {});
    if (FCaretColumn == column && FCaretLine == line) return;
    if (!beyondEnd) DeleteChar(column, line);
}

void TPyxCustomMemo::DeleteWordBack() {
    const std::string copy = LineText(FCaretLine);
    while (true) {
        const int column = FCaretColumn;
        const int line = FCaretLine;
        Backspace();
        if (FCaretColumn == column && FCaretLine == line) break;
        // A join with the previous line ends the word; so do the line's start and a blank.
        if (FCaretLine != line || FCaretColumn == 0) break;
        if (FCaretColumn - 1 < Len(copy) && copy[static_cast<size_t>(FCaretColumn - 1)] == ' ') break;
    }
}

void TPyxCustomMemo::DeleteCurrentLine() {
    if (!CanEdit()) return;
    TPyxMemoStrings& lines = EffectiveLines();
    if (FCaretLine >= lines.Count()) SetCaretLine(FCaretLine);
    const int beforeColumn = FCaretColumn;
    const int beforeLine = FCaretLine;
    const std::string text = lines.Strings(beforeLine);
    SetCaretColumn(0);
    int editColumn = 0;
    int editLine = beforeLine;
    TTextLines removed;
    if (lines.Count() == 1) {
        PutLine(0, "");
        removed = {text};
    } else if (beforeLine == lines.Count() - 1) {
        // The last line goes with the line break above it, so that undo puts it back below.
        SetCaretLine(beforeLine - 1);
        editLine = beforeLine - 1;
        editColumn = Len(lines.Strings(editLine));
        lines.RemoveLine(beforeLine);
        removed = {"", text};
    } else {
        lines.RemoveLine(beforeLine);
        removed = {text, ""};
    }
    CollapseSelection();
    Invalidate();
    auto record = std::make_unique<TDeleteLineUndo>(beforeColumn, beforeLine, 0, FCaretLine, text);
    record->SetEdit(editColumn, editLine, removed, {""});
    AddUndo(std::move(record));
}

// ---- Line breaks and inserted text

std::string TPyxCustomMemo::AutoIndentText() const {
    if (!FAutoIndent) return {};
    const std::string s = LineText(FCaretLine);
    int n = 0;
    while (n < FCaretColumn && n < Len(s) && s[static_cast<size_t>(n)] == ' ') ++n;
    return std::string(static_cast<size_t>(n), ' ');
}

void TPyxCustomMemo::NewLine() {
    if (!CanEdit()) return;
    {
        TNotifyOff off(*this);
        TPyxMemoStrings& lines = EffectiveLines();
        if (FCaretLine >= lines.Count()) SetCaretLine(FCaretLine);
        const int beforeColumn = FCaretColumn;
        const int beforeLine = FCaretLine;
        const std::string s = lines.Strings(beforeLine);
        const std::string indent = AutoIndentText();
        const int split = std::min(beforeColumn, Len(s));
        const std::string rest = Copy(s, split);
        std::string carried = TrimRight(rest);
        if (FAutoIndent) carried = TrimLeft(carried);
        PutLine(beforeLine, Copy(s, 0, split));
        lines.InsertLine(beforeLine + 1, indent + carried);
        CaretHome({});
        MoveCaret(0, 1, {});
        SetCaretColumn(Len(indent));
        auto record =
            std::make_unique<TInsertCharUndo>(beforeColumn, beforeLine, FCaretColumn, FCaretLine, "\r" + indent);
        record->SetEdit(split, beforeLine, {rest}, {"", indent + carried});
        AddUndo(std::move(record));
    }
    LinesChanged();
}

void TPyxCustomMemo::InsertText(const std::string& Text) {
    int startColumn, startLine, endColumn, endLine;
    OrderedSelection(startColumn, startLine, endColumn, endLine);
    const bool hadSelection = !SelectionEmpty();
    DeleteSelection(false);
    TPyxMemoStrings& lines = EffectiveLines();
    if (FCaretLine >= lines.Count()) SetCaretLine(FCaretLine);
    int column = FCaretColumn;
    int line = FCaretLine;
    if (hadSelection) {
        line = std::clamp(startLine, 0, lines.Count() - 1);
        column = std::max(0, startColumn);
    }
    const TTextLines parts = SplitTextLines(Text);
    {
        TNotifyOff off(*this);
        const std::string s = PadTo(lines.Strings(line), column);
        const std::string head = s.substr(0, static_cast<size_t>(column));
        const std::string rest = s.substr(static_cast<size_t>(column));
        int caretColumn;
        if (parts.size() == 1) {
            PutLine(line, head + parts[0] + rest);
            caretColumn = column + Len(parts[0]);
        } else {
            PutLine(line, head + parts[0]);
            for (size_t i = 1; i + 1 < parts.size(); ++i) lines.InsertLine(line + static_cast<int>(i), parts[i]);
            lines.InsertLine(line + static_cast<int>(parts.size()) - 1, parts.back() + rest);
            caretColumn = Len(parts.back());
            FollowCaretLine(line, 0, column, static_cast<int>(parts.size()) - 1);
        }
        SetCaretLine(line);
        SetCaretLine(line + static_cast<int>(parts.size()) - 1);
        SetCaretColumn(caretColumn);
    }
    LinesChanged();
    CollapseSelection();
    auto record = std::make_unique<TPasteUndo>(column, line, FCaretColumn, FCaretLine, Text);
    record->SetEdit(column, line, {""}, parts);
    AddUndo(std::move(record));
    Invalidate();
}

void TPyxCustomMemo::FollowCaretLine(int First, int RemovedLines, int TailColumn, int InsertedLines) {
    const int end = First + RemovedLines;
    if (FCaretLine > end)
        FCaretLine += InsertedLines - RemovedLines;
    else if (FCaretLine == end && FCaretColumn >= TailColumn)
        FCaretLine = First + InsertedLines;  // the caret stood in the text that follows the change
    else if (FCaretLine > First)
        FCaretLine = First;
}

// ---- Selection

bool TPyxCustomMemo::SelectionInText(int& StartColumn, int& StartLine, int& EndColumn, int& EndLine) const {
    const TPyxMemoStrings& lines = EffectiveLines();
    OrderedSelection(StartColumn, StartLine, EndColumn, EndLine);
    if (lines.Count() == 0 || StartLine >= lines.Count() || EndLine < 0) return false;
    // A selection that names lines outside the text is cut to the text.
    if (StartLine < 0) {
        StartLine = 0;
        StartColumn = 0;
    }
    if (EndLine >= lines.Count()) {
        EndLine = lines.Count() - 1;
        EndColumn = Len(lines.Strings(EndLine));
    }
    return true;
}

void TPyxCustomMemo::DeleteSelection(bool Repaint) {
    if (!CanEdit() || SelectionEmpty()) return;
    TPyxMemoStrings& lines = EffectiveLines();
    int startColumn, startLine, endColumn, endLine;
    if (!SelectionInText(startColumn, startLine, endColumn, endLine)) {
        SetSelection(0, 0, 0, 0);
        return;
    }
    const int beforeColumn = FCaretColumn;
    const int beforeLine = FCaretLine;
    const TTextLines deleted = TextBetween(lines, startColumn, startLine, endColumn, endLine);
    const std::string startText = lines.Strings(startLine);
    {
        TNotifyOff off(*this);
        PutLine(startLine, Copy(startText, 0, startColumn) + Copy(lines.Strings(endLine), endColumn));
        for (int i = endLine; i > startLine; --i) lines.RemoveLine(i);
        FollowCaretLine(startLine, endLine - startLine, endColumn, 0);
        SetCaretLine(startLine);
        SetCaretColumn(startColumn);
        CollapseSelection();
        SelectionChanged();
        if (Repaint) Invalidate();
    }
    LinesChanged();
    auto record = std::make_unique<TDeleteBufUndo>(beforeColumn, beforeLine, startColumn, startLine,
                                                   JoinTextLines(deleted));
    record->SelStartColumn = startColumn;
    record->SelStartLine = startLine;
    record->SelEndColumn = endColumn;
    record->SelEndLine = endLine;
    record->SetEdit(std::min(startColumn, Len(startText)), startLine, deleted, {""});
    AddUndo(std::move(record));
}

std::string TPyxCustomMemo::GetSelectedText() const {
    int startColumn, startLine, endColumn, endLine;
    if (SelectionEmpty() || !SelectionInText(startColumn, startLine, endColumn, endLine)) return {};
    return JoinTextLines(TextBetween(EffectiveLines(), startColumn, startLine, endColumn, endLine));
}

void TPyxCustomMemo::SelectAll() {
    const TPyxMemoStrings& lines = EffectiveLines();
    const int last = lines.Count() - 1;
    if (last < 0)
        SetSelection(0, 0, 0, 0);
    else
        SetSelection(0, 0, Len(lines.Strings(last)), last);
    Invalidate();
    SelectionChanged();
}

// ---- Clipboard

void TPyxCustomMemo::CopyToClipboard() {
    if (FClipboard) FClipboard->SetAsText(GetSelectedText());
}

void TPyxCustomMemo::CutToClipboard() {
    if (!MayEdit()) return;
    CopyToClipboard();
    DeleteSelection(true);
}

void TPyxCustomMemo::PasteFromClipboard() {
    if (!MayEdit() || !FClipboard || !FClipboard->HasText()) return;
    InsertText(JoinTextLines(SplitTextLines(FClipboard->AsText())));
    Invalidate();
}

// ---- The undo replay

void TPyxCustomMemo::ReplaceTextRange(int Column, int Line, const TTextLines& Old, const TTextLines& New) {
    TPyxMemoStrings& lines = EffectiveLines();
    {
        TNotifyOff off(*this);
        if (lines.Count() == 0) lines.Add("");
        Line = std::clamp(Line, 0, lines.Count() - 1);
        Column = std::max(0, Column);
        const std::string original = lines.Strings(Line);
        const std::string s = PadTo(original, Column);
        std::string tail;
        const int oldParts = std::max<int>(1, static_cast<int>(Old.size()));
        int removedLines = 0;
        int tailColumn = 0;
        if (oldParts == 1) {
            tailColumn = Column + (Old.empty() ? 0 : Len(Old[0]));
            tail = Copy(s, tailColumn);
        } else {
            const int endLine = Line + oldParts - 1;
            tailColumn = Len(Old.back());
            if (endLine < lines.Count()) tail = Copy(lines.Strings(endLine), tailColumn);
            for (int i = std::min(endLine, lines.Count() - 1); i > Line; --i, ++removedLines) lines.RemoveLine(i);
        }
        // A column beyond the line's end is padded only where text follows on the line: padding
        // that would end the line is no text.
        const std::string first = New.empty() ? std::string() : New[0];
        const bool textFollows = !first.empty() || (New.size() <= 1 && !tail.empty());
        const std::string head = textFollows ? s.substr(0, static_cast<size_t>(Column)) : Copy(original, 0, Column);
        if (New.size() <= 1) {
            PutLine(Line, head + first + tail);
        } else {
            PutLine(Line, head + New[0]);
            for (size_t i = 1; i + 1 < New.size(); ++i) lines.InsertLine(Line + static_cast<int>(i), New[i]);
            lines.InsertLine(Line + static_cast<int>(New.size()) - 1, New.back() + tail);
        }
        FollowCaretLine(Line, removedLines, tailColumn, std::max<int>(0, static_cast<int>(New.size()) - 1));
    }
    LinesChanged();
    Invalidate();
}

}  // namespace ostra
