// The memo's line list: tab expansion, line lengths, routed deletions, checkpoints.
#include "controls/memo/PyxMemoStrings.h"

#include <algorithm>

#include "controls/memo/PyxCustomMemo.h"
#include "host/Streams.h"

namespace ostra {

namespace {

// Keeps a flag set for the length of a scope.
class TFlagScope {
public:
    TFlagScope(bool& Flag, bool Value) : FFlag(Flag), FSaved(Flag) { FFlag = Value; }
    ~TFlagScope() { FFlag = FSaved; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
    bool FSaved;
};

}  // namespace

TPyxMemoStrings::~TPyxMemoStrings() {
    // The base destructor does not reach these overrides: drop the owner link first so that
    // nothing calls back into a memo that is going away.
    FOwnerMemo = nullptr;
    OnChange = nullptr;
    OnChanging = nullptr;
}

std::string TPyxMemoStrings::Expand(const std::string& S) const {
    if (!FOwnerMemo || S.find('\t') == std::string::npos) return S;
    const std::string blanks(static_cast<size_t>(std::max(0, FOwnerMemo->TabSize())), ' ');
    std::string result;
    result.reserve(S.size() + blanks.size() * 2);
    for (char c : S) {
        if (c == '\t')
            result += blanks;
        else
            result += c;
    }
    return result;
}

void TPyxMemoStrings::CountLength(int Length) {
    ++FLengthCounts[Length];
}

void TPyxMemoStrings::UncountLength(int Length) {
    auto it = FLengthCounts.find(Length);
    if (it == FLengthCounts.end()) return;
    if (--it->second == 0) FLengthCounts.erase(it);
}

int TPyxMemoStrings::LongestLength() const {
    return FLengthCounts.empty() ? 0 : FLengthCounts.rbegin()->first;
}

void TPyxMemoStrings::PutObjectSilently(int Index, TObject* AObject) {
    TFlagScope silent(FSilent, true);
    TStringList::PutObject(Index, AObject);
}

void TPyxMemoStrings::LineChangedAt(int Index, bool Removed) {
    // A changed line keeps its own checkpoint (it depends only on the lines above); a removed
    // line hands its place to the line below, whose checkpoint counted the removed line.
    FValidStatesThrough = std::min(FValidStatesThrough, Removed ? Index - 1 : Index);
    if (FOwnerMemo) FOwnerMemo->LineTextChanged(Index);
}

// ---- Overridden string-list operations

void TPyxMemoStrings::Assign(const TPersistent* Source) {
    if (FOwnerMemo && &FOwnerMemo->EffectiveLines() == this) {
        if (const auto* source = dynamic_cast<const TStrings*>(Source)) {
            FOwnerMemo->SetLines(source);
            return;
        }
    }
    TStringList::Assign(Source);
}

TObject* TPyxMemoStrings::GetObject(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    TObject* o = TStringList::GetObject(Index);
    if (auto* prop = dynamic_cast<TLineProp*>(o); prop && FLineProps.count(prop)) return prop->UserObject;
    return o;
}

void TPyxMemoStrings::PutObject(int Index, TObject* AObject) {
    if (Index < 0 || Index >= Count()) return;
    if (TLineProp* prop = GetLineProp(Index)) {
        prop->UserObject = AObject;
        return;
    }
    TStringList::PutObject(Index, AObject);
}

void TPyxMemoStrings::Put(int Index, const std::string& S) {
    if (Index < 0 || Index >= Count()) IndexError(Index);
    std::string s = Expand(S);
    UncountLength(FLineLengths[Index]);
    FLineLengths[Index] = static_cast<int>(s.size());
    CountLength(FLineLengths[Index]);
    LineChangedAt(Index, false);
    TStringList::Put(Index, s);
}

void TPyxMemoStrings::SetUpdateState(bool Updating) {
    if (Updating)
        ++FUpdateNesting;
    else if (FUpdateNesting > 0)
        --FUpdateNesting;
}

void TPyxMemoStrings::Changed() {
    if (FSilent) return;
    if (UpdateCount() > 0 && FOwnerMemo && OnChange)
        FOwnerMemo->LinesChanged();
    else
        TStringList::Changed();
}

void TPyxMemoStrings::Changing() {
    if (!FSilent) TStringList::Changing();
}

int TPyxMemoStrings::Add(const std::string& S) {
    return AddObject(S, nullptr);
}

int TPyxMemoStrings::AddObject(const std::string& S, TObject* AObject) {
    std::string s = Expand(S);
    if (Sorted()) {
        // A sorted list places the line where it belongs, not at the end.
        const int index = TStringList::AddObject(s, AObject);
        RecountLengths();
        LineChangedAt(index, false);
        return index;
    }
    FLineLengths.push_back(static_cast<int>(s.size()));
    CountLength(FLineLengths.back());
    // An appended line stales no checkpoint: every line above it is unchanged.
    try {
        return TStringList::AddObject(s, AObject);
    } catch (...) {
        UncountLength(FLineLengths.back());
        FLineLengths.pop_back();
        throw;
    }
}

void TPyxMemoStrings::RecountLengths() {
    FLineLengths.clear();
    FLengthCounts.clear();
    for (int i = 0; i < Count(); ++i) {
        FLineLengths.push_back(static_cast<int>(Get(i).size()));
        CountLength(FLineLengths.back());
    }
}

void TPyxMemoStrings::Exchange(int Index1, int Index2) {
    TStringList::Exchange(Index1, Index2);
    std::swap(FLineLengths[Index1], FLineLengths[Index2]);
    LineChangedAt(std::min(Index1, Index2), false);
}

void TPyxMemoStrings::CustomSort(const TStringListSortCompare& Compare) {
    TStringList::CustomSort(Compare);
    RecountLengths();
    LineChangedAt(-1, false);
}

void TPyxMemoStrings::Clear() {
    FreeLineProps();
    FLineLengths.clear();
    FLengthCounts.clear();
    FValidStatesThrough = INT_MAX;
    if (FOwnerMemo) FOwnerMemo->LineTextChanged(-1);
    TStringList::Clear();
}

void TPyxMemoStrings::DeleteUnrouted(int Index) {
    if (TLineProp* prop = GetLineProp(Index)) {
        TObject* user = prop->UserObject;
        PutObjectSilently(Index, user);  // the line leaves with its caller's object
        FLineProps.erase(prop);
    }
    UncountLength(FLineLengths[Index]);
    FLineLengths.erase(FLineLengths.begin() + Index);
    LineChangedAt(Index, true);
    TStringList::Delete(Index);
}

void TPyxMemoStrings::RemoveLine(int Index) {
    if (Index < 0 || Index >= Count()) return;
    DeleteUnrouted(Index);
}

void TPyxMemoStrings::Delete(int Index) {
    if (Index < 0 || Index >= Count()) return;
    if (FDeletingLine || !FOwnerMemo) {
        DeleteUnrouted(Index);
        return;
    }
    // A deletion from outside runs as the memo's undoable delete-line command; the caret keeps
    // its place in the text.
    TPyxCustomMemo& memo = *FOwnerMemo;
    TFlagScope deleting(FDeletingLine, true);
    int column = memo.CaretColumn();
    int line = memo.CaretLine();
    if (line > Index) --line;
    if (Count() == 1) column = 0;
    memo.SetCaretLine(Index);
    memo.DeleteCurrentLine();
    memo.SetCaretColumn(column);
    memo.SetCaretLine(line);
}

void TPyxMemoStrings::InsertLine(int Index, const std::string& S) {
    if (Index < 0 || Index > Count()) IndexError(Index);
    std::string s = Expand(S);
    FLineLengths.insert(FLineLengths.begin() + Index, static_cast<int>(s.size()));
    CountLength(FLineLengths[Index]);
    if (Index < Count()) LineChangedAt(Index, false);
    TStringList::InsertObject(Index, s, nullptr);
}

void TPyxMemoStrings::Insert(int Index, const std::string& S) {
    InsertObject(Index, S, nullptr);
}

void TPyxMemoStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
    if (Index < 0 || Index > Count()) IndexError(Index);
    if (FOwnerMemo) FOwnerMemo->CollapseSelection();
    InsertLine(Index, S);
    if (AObject) TStringList::PutObject(Index, AObject);
    if (FOwnerMemo) {
        FOwnerMemo->SetCaretLine(FOwnerMemo->CaretLine());
        FOwnerMemo->Invalidate();
    }
}

void TPyxMemoStrings::LoadFromFile(const std::string& FileName) {
    // The file is read first: a file that cannot be read raises and changes nothing.
    std::string text;
    {
        TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
        int64_t size = stream.Size();
        text.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
        if (size > 0) text.resize(static_cast<size_t>(stream.Read(text.data(), size)));
    }
    if (!FOwnerMemo) {
        SetText(text);
        return;
    }
    TPyxCustomMemo& memo = *FOwnerMemo;
    memo.CollapseSelection();
    memo.ClearUndoList();
    memo.SetCaretColumn(0);
    memo.SetCaretLine(0);
    {
        const bool notifying = memo.ChangeNotifying();
        memo.SetChangeNotifying(false);
        TNotifyEvent handler = std::move(OnChange);
        OnChange = nullptr;
        struct TRestore {
            TPyxCustomMemo& Memo;
            TPyxMemoStrings& List;
            TNotifyEvent& Handler;
            bool Notifying;
            ~TRestore() {
                List.OnChange = std::move(Handler);
                Memo.SetChangeNotifying(Notifying);
            }
        } restore{memo, *this, handler, notifying};
        SetText(text);
        memo.SetStartStateLine(-1);
        memo.SetCaretColumn(0);
        memo.SetCaretLine(0);
        memo.CollapseSelection();
    }
    memo.SetChangeNotifying(true);
    memo.LinesChanged();
    memo.Invalidate();
    if (memo.View()) memo.View()->Update();
}

// ---- Line properties and checkpoints

TLineProp* TPyxMemoStrings::GetLineProp(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    auto* prop = dynamic_cast<TLineProp*>(TStringList::GetObject(Index));
    return prop && FLineProps.count(prop) ? prop : nullptr;
}

TLineProp* TPyxMemoStrings::AddLineProp(int Index) {
    if (Index < 0 || Index >= Count()) IndexError(Index);
    auto prop = std::make_unique<TLineProp>();
    prop->UserObject = GetObject(Index);
    TLineProp* result = prop.get();
    FLineProps.emplace(result, std::move(prop));
    PutObjectSilently(Index, result);
    return result;
}

void TPyxMemoStrings::SetLineProp(int Index, TLineProp* P) {
    if (Index < 0 || Index >= Count()) return;
    PutObjectSilently(Index, P);
}

void TPyxMemoStrings::FreeLineProps() {
    if (FLineProps.empty()) return;
    // The lines get their callers' objects back before the properties go.
    for (int i = 0; i < Count(); ++i)
        if (TLineProp* prop = GetLineProp(i)) PutObjectSilently(i, prop->UserObject);
    FLineProps.clear();
}

void TPyxMemoStrings::StoreLineState(int Index, const TokenState& State) {
    TLineProp* prop = GetLineProp(Index);
    if (!prop) prop = AddLineProp(Index);
    prop->SavedState = State;
    prop->SavedStateValid = true;
    SetLineProp(Index, prop);
}

bool TPyxMemoStrings::ReadLineState(int Index, TokenState& State) const {
    if (Index > FValidStatesThrough) return false;
    TLineProp* prop = GetLineProp(Index);
    if (!prop || !prop->SavedStateValid) return false;
    State = prop->SavedState;
    return true;
}

void TPyxMemoStrings::ClearLineStates() {
    for (auto& [key, prop] : FLineProps) prop->SavedStateValid = false;
    FValidStatesThrough = INT_MAX;
}

void TPyxMemoStrings::MarkStatesValidThrough(int Line) {
    FValidStatesThrough = std::max(FValidStatesThrough, Line);
}

}  // namespace ostra
