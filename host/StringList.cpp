// TStrings' generic operations and text forms, and TStringList's storage, sorting and change
// events.
#include "host/StringList.h"

#include <exception>
#include <string>
#include <utility>

#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/Filer.h"
#include "host/ListSort.h"
#include "host/Streams.h"

namespace ostra {

namespace {

// The line break that Text writes after every line.
constexpr const char* kLineBreak = "\r\n";

// Blanks and control characters (NUL included) separate items in delimited text.
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Keeps a TStrings inside one BeginUpdate/EndUpdate pair, also when an operation fails. The
// change notification at the end of the update may raise (a list that checks its text does): the
// exception reaches the caller of the bulk change, unless another one is already on its way.
class TUpdateScope {
public:
    explicit TUpdateScope(TStrings& strings)
        : FStrings(strings), FUncaught(std::uncaught_exceptions()) { FStrings.BeginUpdate(); }
    ~TUpdateScope() noexcept(false) {
        if (std::uncaught_exceptions() == FUncaught) {
            FStrings.EndUpdate();
            return;
        }
        try {
            FStrings.EndUpdate();
        } catch (...) {
        }
    }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

private:
    TStrings& FStrings;
    int FUncaught;
};

[[noreturn]] void SortedListError() {
    throw EStringListError("Operation not allowed on sorted string list");
}

}  // namespace

// ==== TStrings

void TStrings::IndexError(int Index) const {
    throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
}

void TStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
    TUpdateScope update(*this);
    Insert(Index, S);
    PutObject(Index, AObject);
}

int TStrings::Add(const std::string& S) {
    int result = GetCount();
    Insert(result, S);
    return result;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
    TUpdateScope update(*this);
    int result = Add(S);
    PutObject(result, AObject);
    return result;
}

void TStrings::AddStrings(const TStrings& Strings) {
    TUpdateScope update(*this);
    if (&Strings == this) {
        // Adding a list to itself: take the items as they are before the first one is added.
        std::vector<std::pair<std::string, TObject*>> items;
        for (int i = 0; i < Strings.GetCount(); ++i) items.emplace_back(Strings.Get(i), Strings.GetObject(i));
        for (auto& [s, o] : items) AddObject(s, o);
        return;
    }
    for (int i = 0; i < Strings.GetCount(); ++i) AddObject(Strings.Get(i), Strings.GetObject(i));
}

int TStrings::IndexOf(const std::string& S) const {
    for (int i = 0; i < GetCount(); ++i)
        if (CompareStrings(Get(i), S) == 0) return i;
    return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const {
    for (int i = 0; i < GetCount(); ++i)
        if (GetObject(i) == AObject) return i;
    return -1;
}

void TStrings::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    // Both positions are checked before the item is taken out, so a bad target loses nothing.
    if (CurIndex < 0 || CurIndex >= GetCount()) IndexError(CurIndex);
    if (NewIndex < 0 || NewIndex >= GetCount()) IndexError(NewIndex);
    TUpdateScope update(*this);
    std::string s = Get(CurIndex);
    TObject* o = GetObject(CurIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, s, o);
}

void TStrings::Exchange(int Index1, int Index2) {
    TUpdateScope update(*this);
    std::string s1 = Get(Index1);
    TObject* o1 = GetObject(Index1);
    Put(Index1, Get(Index2));
    PutObject(Index1, GetObject(Index2));
    Put(Index2, s1);
    PutObject(Index2, o1);
}

bool TStrings::Equals(const TStrings& Strings) const {
    if (GetCount() != Strings.GetCount()) return false;
    for (int i = 0; i < GetCount(); ++i)
        if (Get(i) != Strings.Get(i)) return false;
    return true;
}

void TStrings::Assign(const TPersistent* Source) {
    if (const auto* source = dynamic_cast<const TStrings*>(Source)) {
        if (source == this) return;
        TUpdateScope update(*this);
        Clear();
        AddStrings(*source);
        return;
    }
    TPersistent::Assign(Source);
}

void TStrings::DefineProperties(TFiler* Filer) {
    Filer->DefineProperty(
        "Strings",
        [this](TReader& Reader) {
            TUpdateScope update(*this);
            Clear();
            Reader.ReadListBegin();
            while (!Reader.EndOfList()) Add(Reader.ReadString());
            Reader.ReadListEnd();
        },
        [this](TWriter& Writer) {
            Writer.WriteListBegin();
            for (int i = 0; i < GetCount(); ++i) Writer.WriteString(Get(i));
            Writer.WriteListEnd();
        },
        GetCount() > 0);
}

void TStrings::Put(int Index, const std::string& S) {
    TUpdateScope update(*this);
    TObject* o = GetObject(Index);
    Delete(Index);
    InsertObject(Index, S, o);
}

int TStrings::CompareStrings(const std::string& S1, const std::string& S2) const {
    return AnsiCompareText(S1, S2);
}

// ---- Name=value entries

std::string TStrings::Names(int Index) const {
    std::string s = Get(Index);
    auto p = s.find('=');
    return p == std::string::npos ? std::string() : s.substr(0, p);
}

int TStrings::IndexOfName(const std::string& Name) const {
    for (int i = 0; i < GetCount(); ++i) {
        std::string s = Get(i);
        auto p = s.find('=');
        if (p != std::string::npos && CompareStrings(s.substr(0, p), Name) == 0) return i;
    }
    return -1;
}

std::string TStrings::ValueFromIndex(int Index) const {
    if (Index < 0) return {};
    std::string s = Get(Index);
    auto p = s.find('=');
    return p == std::string::npos ? std::string() : s.substr(p + 1);
}

std::string TStrings::Values(const std::string& Name) const {
    return ValueFromIndex(IndexOfName(Name));
}

void TStrings::SetValues(const std::string& Name, const std::string& Value) {
    int i = IndexOfName(Name);
    if (Value.empty()) {
        if (i >= 0) Delete(i);
    } else if (i < 0) {
        Add(Name + "=" + Value);
    } else {
        Put(i, Name + "=" + Value);
    }
}

// ---- Text

std::string TStrings::Text() const {
    std::string result;
    for (int i = 0; i < GetCount(); ++i) {
        result += Get(i);
        result += kLineBreak;
    }
    return result;
}

void TStrings::SetText(const std::string& Value) {
    TUpdateScope update(*this);
    Clear();
    size_t p = 0;
    const size_t n = Value.size();
    while (p < n) {
        size_t start = p;
        while (p < n && Value[p] != '\r' && Value[p] != '\n') ++p;
        Add(Value.substr(start, p - start));
        if (p < n && Value[p] == '\r') ++p;
        if (p < n && Value[p] == '\n') ++p;
    }
}

// ---- Delimited text

std::string TStrings::FormatDelimited(char Delimiter, char QuoteChar) const {
    const int count = GetCount();
    if (count == 1 && Get(0).empty()) return std::string(2, QuoteChar);
    std::string result;
    for (int i = 0; i < count; ++i) {
        std::string s = Get(i);
        bool needsQuotes = false;
        for (char c : s)
            if (IsBlank(c) || c == QuoteChar || c == Delimiter) {
                needsQuotes = true;
                break;
            }
        if (i > 0) result += Delimiter;
        if (!needsQuotes) {
            result += s;
            continue;
        }
        result += QuoteChar;
        for (char c : s) {
            result += c;
            if (c == QuoteChar) result += c;
        }
        result += QuoteChar;
    }
    return result;
}

void TStrings::ParseDelimited(const std::string& Value, char Delimiter, char QuoteChar) {
    TUpdateScope update(*this);
    Clear();
    const size_t n = Value.size();
    size_t p = 0;
    while (p < n && IsBlank(Value[p])) ++p;
    while (p < n) {
        std::string s;
        if (Value[p] == QuoteChar) {
            // Quoted item: doubled quote characters stand for one; it ends at the first single
            // quote character, or at the end of the text when it is never closed.
            ++p;
            while (p < n) {
                if (Value[p] == QuoteChar) {
                    if (p + 1 < n && Value[p + 1] == QuoteChar) {
                        s += QuoteChar;
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                s += Value[p++];
            }
        } else {
            size_t start = p;
            while (p < n && !IsBlank(Value[p]) && Value[p] != Delimiter) ++p;
            s = Value.substr(start, p - start);
        }
        Add(s);
        while (p < n && IsBlank(Value[p])) ++p;
        if (p < n && Value[p] == Delimiter) {
            if (p + 1 == n) Add(std::string());
            do ++p;
            while (p < n && IsBlank(Value[p]));
        }
    }
}

std::string TStrings::DelimitedText() const {
    return FormatDelimited(FDelimiter, FQuoteChar);
}

void TStrings::SetDelimitedText(const std::string& Value) {
    ParseDelimited(Value, FDelimiter, FQuoteChar);
}

std::string TStrings::CommaText() const {
    return FormatDelimited(',', '"');
}

void TStrings::SetCommaText(const std::string& Value) {
    ParseDelimited(Value, ',', '"');
}

// ---- Streams and files

void TStrings::LoadFromStream(TStream& Stream) {
    TUpdateScope update(*this);
    int64_t size = Stream.Size() - Stream.Position();
    std::string text;
    if (size > 0) {
        text.resize(static_cast<size_t>(size));
        text.resize(static_cast<size_t>(Stream.Read(text.data(), size)));
    }
    SetText(text);
}

void TStrings::SaveToStream(TStream& Stream) const {
    std::string text = Text();
    Stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& FileName) {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TStrings::SaveToFile(const std::string& FileName) const {
    TFileStream stream(FileName, fmCreate);
    SaveToStream(stream);
}

// ---- Updates

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0) SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount == 0) return;  // unmatched: nothing to end
    if (--FUpdateCount == 0) SetUpdateState(false);
}

// ==== TStringList

void TStringList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= GetCount()) IndexError(Index);
}

std::string TStringList::Get(int Index) const {
    CheckIndex(Index);
    return FList[Index].FString;
}

TObject* TStringList::GetObject(int Index) const {
    CheckIndex(Index);
    return FList[Index].FObject;
}

void TStringList::Put(int Index, const std::string& S) {
    if (FSorted) SortedListError();
    CheckIndex(Index);
    Changing();
    FList[Index].FString = S;
    Changed();
}

void TStringList::PutObject(int Index, TObject* AObject) {
    CheckIndex(Index);
    Changing();
    FList[Index].FObject = AObject;
    Changed();
}

void TStringList::InsertItem(int Index, const std::string& S, TObject* AObject) {
    Changing();
    FList.insert(FList.begin() + Index, TStringItem{S, AObject});
    Changed();
}

void TStringList::Insert(int Index, const std::string& S) {
    InsertObject(Index, S, nullptr);
}

void TStringList::InsertObject(int Index, const std::string& S, TObject* AObject) {
    if (FSorted) SortedListError();
    if (Index < 0 || Index > GetCount()) IndexError(Index);
    InsertItem(Index, S, AObject);
}

void TStringList::Delete(int Index) {
    CheckIndex(Index);
    Changing();
    FList.erase(FList.begin() + Index);
    Changed();
}

void TStringList::Clear() {
    if (FList.empty()) return;
    Changing();
    std::vector<TStringItem>().swap(FList);
    Changed();
}

int TStringList::Add(const std::string& S) {
    return AddObject(S, nullptr);
}

int TStringList::AddObject(const std::string& S, TObject* AObject) {
    int index = GetCount();
    if (FSorted && Find(S, index)) {
        if (FDuplicates == dupIgnore) return index;
        if (FDuplicates == dupError) throw EStringListError("String list does not allow duplicates");
    }
    InsertItem(index, S, AObject);
    return index;
}

int TStringList::IndexOf(const std::string& S) const {
    if (!FSorted) return TStrings::IndexOf(S);
    int index;
    return Find(S, index) ? index : -1;
}

void TStringList::Move(int CurIndex, int NewIndex) {
    if (FSorted) SortedListError();
    TStrings::Move(CurIndex, NewIndex);
}

void TStringList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    Changing();
    std::swap(FList[Index1], FList[Index2]);
    Changed();
}

bool TStringList::Find(const std::string& S, int& Index) const {
    bool found = false;
    int l = 0;
    int h = GetCount() - 1;
    while (l <= h) {
        int i = l + (h - l) / 2;
        int c = CompareStrings(FList[i].FString, S);
        if (c < 0) {
            l = i + 1;
        } else {
            h = i - 1;
            if (c == 0) found = true;
        }
    }
    Index = l;
    return found;
}

void TStringList::Sort() {
    CustomSort([](TStringList& list, int i, int j) {
        return list.CompareStrings(list.FList[i].FString, list.FList[j].FString);
    });
}

void TStringList::CustomSort(const TStringListSortCompare& Compare) {
    if (FSorted || GetCount() < 2 || !Compare) return;
    Changing();
    detail::QuickSortPositions(
        0, GetCount() - 1, [&](int i, int j) { return Compare(*this, i, j); },
        [&](int i, int j) { std::swap(FList[i], FList[j]); });
    Changed();
}

void TStringList::SetSorted(bool Value) {
    if (FSorted == Value) return;
    if (Value) Sort();
    FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
    if (FCaseSensitive == Value) return;
    FCaseSensitive = Value;
    if (FSorted) {
        // The order under the old rule is not the order under the new one: sort again.
        FSorted = false;
        Sort();
        FSorted = true;
    }
}

void TStringList::SetCapacity(int NewCapacity) {
    if (NewCapacity < GetCount())
        throw EStringListError("List capacity out of bounds (" + std::to_string(NewCapacity) + ")");
    if (NewCapacity == Capacity()) return;
    if (NewCapacity > Capacity()) {
        FList.reserve(NewCapacity);
        return;
    }
    std::vector<TStringItem> smaller;
    smaller.reserve(NewCapacity);
    for (auto& item : FList) smaller.push_back(std::move(item));
    FList.swap(smaller);
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
    return FCaseSensitive ? AnsiCompareStr(S1, S2) : AnsiCompareText(S1, S2);
}

void TStringList::SetUpdateState(bool Updating) {
    if (Updating)
        Changing();
    else
        Changed();
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
    if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

}  // namespace ostra
