// TStrings, the host library's abstract list of strings with associated objects, and
// TStringList, its concrete, optionally sorted implementation. Besides plain list operations
// they offer the framework's text forms of a list: name=value entries (Names, Values), the
// comma- and delimiter-separated form with quoting (CommaText, DelimitedText), and lines
// (Text; written with CR LF after every line, read on CR, LF or CR LF).
//
// Strings are 8-bit text and compared through the fixed collation of host/Collation.h:
// ignoring case (AnsiCompareText) unless a TStringList is CaseSensitive (AnsiCompareStr).
// Objects are not owned: the list only keeps the pointers.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "host/Object.h"

namespace ostra {

class TStream;
class TStringList;

// An event with the object that raised it.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// What a sorted TStringList does with a string it already holds: skip it quietly, add it
// again, or raise EStringListError "String list does not allow duplicates".
enum TDuplicates { dupIgnore, dupAccept, dupError };

// Orders the items at two positions of `List` for TStringList::CustomSort.
using TStringListSortCompare = std::function<int(TStringList& List, int Index1, int Index2)>;

// An abstract list of strings, each with an optional object. Descendants supply storage
// through Get, GetCount, Insert, Delete and Clear (and GetObject/PutObject to keep objects).
// Index errors raise EStringListError "List index out of bounds (<index>)".
class TStrings : public TPersistent {
public:
    TStrings() = default;
    TStrings(const TStrings&) = delete;
    TStrings& operator=(const TStrings&) = delete;

    // ---- Storage, supplied by descendants
    int Count() const { return GetCount(); }
    // Inserts `S` before position `Index` (0..Count).
    virtual void Insert(int Index, const std::string& S) = 0;
    // Inserts `S` with `AObject` before position `Index`.
    virtual void InsertObject(int Index, const std::string& S, TObject* AObject);
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;

    // ---- Items
    std::string Strings(int Index) const { return Get(Index); }
    void SetStrings(int Index, const std::string& S) { Put(Index, S); }
    TObject* Objects(int Index) const { return GetObject(Index); }
    void SetObjects(int Index, TObject* AObject) { PutObject(Index, AObject); }
    // Appends `S` (a sorted list places it in order); returns its index.
    virtual int Add(const std::string& S);
    virtual int AddObject(const std::string& S, TObject* AObject);
    // Appends every string and object of `Strings`, as one update.
    void AddStrings(const TStrings& Strings);
    // The first index whose string equals `S` under CompareStrings, or -1.
    virtual int IndexOf(const std::string& S) const;
    int IndexOfObject(const TObject* AObject) const;
    // Moves the item at CurIndex (string and object) to NewIndex.
    virtual void Move(int CurIndex, int NewIndex);
    virtual void Exchange(int Index1, int Index2);
    // True when both lists hold the same strings in the same order (compared exactly; the
    // objects are not compared).
    bool Equals(const TStrings& Strings) const;
    // Copies the strings and objects of another TStrings (not its delimiter or quote
    // settings); other sources go to TPersistent::Assign.
    void Assign(const TPersistent* Source) override;
    // Streams the strings as the defined property "Strings", a list of string values (written
    // only when the list is not empty; reading replaces the contents).
    void DefineProperties(TFiler* Filer) override;

    // ---- Name=value entries: the name is the text before the first '=', the value the text
    // after it. A string without '=' has an empty name and an empty value.
    std::string Names(int Index) const;
    // The value of the first entry whose name equals `Name` (CompareStrings); "" when none.
    std::string Values(const std::string& Name) const;
    // Replaces the entry's value, appends "Name=Value" when there is none; an empty value
    // deletes the entry.
    virtual void SetValues(const std::string& Name, const std::string& Value);
    std::string ValueFromIndex(int Index) const;
    int IndexOfName(const std::string& Name) const;

    // ---- Text forms
    // Every string followed by CR LF ("a\r\nb\r\n"); "" for an empty list.
    std::string Text() const;
    // Replaces the contents with the lines of `Value`, split at CR LF, CR or LF; a line break
    // at the very end does not start another line.
    void SetText(const std::string& Value);
    // The items joined by Delimiter. An item is written between QuoteChars, with every inner
    // QuoteChar doubled, when it contains the QuoteChar, the Delimiter or a character <= ' ';
    // an empty item is written as nothing, except that a list of one empty item is written
    // as two QuoteChars (so that it does not read back as an empty list).
    std::string DelimitedText() const;
    // Replaces the contents with the items of `Value`: blanks and control characters between
    // items are skipped; a quoted item runs to its closing QuoteChar (doubled QuoteChars
    // stand for one; an unclosed item runs to the end); an unquoted item ends at the
    // Delimiter or at a character <= ' '; a Delimiter at the very end adds an empty item.
    void SetDelimitedText(const std::string& Value);
    // DelimitedText with Delimiter ',' and QuoteChar '"', whatever this list's settings.
    std::string CommaText() const;
    void SetCommaText(const std::string& Value);
    char Delimiter() const { return FDelimiter; }
    void SetDelimiter(char Value) { FDelimiter = Value; }
    char QuoteChar() const { return FQuoteChar; }
    void SetQuoteChar(char Value) { FQuoteChar = Value; }

    // ---- Files and streams: Text as bytes, unchanged
    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream) const;
    // Raises the file stream's EFOpenError / EFCreateError.
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;

    // ---- Updates: between BeginUpdate and the matching EndUpdate the list reports one change
    // (for TStringList: OnChanging at the first BeginUpdate, OnChange at the last EndUpdate).
    void BeginUpdate();
    void EndUpdate();

    virtual int Capacity() const { return GetCount(); }
    virtual void SetCapacity(int NewCapacity) {}

protected:
    virtual std::string Get(int Index) const = 0;
    virtual int GetCount() const = 0;
    // Replaces the string at Index; the base deletes the item and inserts the new string with
    // the old object.
    virtual void Put(int Index, const std::string& S);
    virtual TObject* GetObject(int Index) const { return nullptr; }
    virtual void PutObject(int Index, TObject* AObject) {}
    // Negative, 0 or positive as S1 sorts before, with or after S2; the base ignores case.
    virtual int CompareStrings(const std::string& S1, const std::string& S2) const;
    // Called with true when the first BeginUpdate starts an update, false when the last
    // EndUpdate ends it.
    virtual void SetUpdateState(bool Updating) {}
    int UpdateCount() const { return FUpdateCount; }
    [[noreturn]] void IndexError(int Index) const;

private:
    std::string FormatDelimited(char Delimiter, char QuoteChar) const;
    void ParseDelimited(const std::string& Value, char Delimiter, char QuoteChar);

    char FDelimiter = ',';
    char FQuoteChar = '"';
    int FUpdateCount = 0;
};

// A list of strings with objects, kept in insertion order or, when Sorted, in the order of
// CompareStrings with Find as a binary search.
class TStringList : public TStrings {
public:
    TStringList() = default;

    void Insert(int Index, const std::string& S) override;
    void InsertObject(int Index, const std::string& S, TObject* AObject) override;
    void Delete(int Index) override;
    void Clear() override;
    // Unsorted: appends. Sorted: inserts in order, before any equal strings; an equal string
    // already present is handled by Duplicates (dupIgnore returns its index and changes
    // nothing, not even its object).
    int Add(const std::string& S) override;
    int AddObject(const std::string& S, TObject* AObject) override;
    int IndexOf(const std::string& S) const override;
    // Raises EStringListError "Operation not allowed on sorted string list" when Sorted,
    // before anything changes.
    void Move(int CurIndex, int NewIndex) override;
    // Swaps two items (also in a sorted list, which the caller must leave in order).
    void Exchange(int Index1, int Index2) override;

    // Binary search for `S`, assuming the list is in CompareStrings order: true when found
    // with Index the first equal item; else false with Index where `S` would be inserted.
    bool Find(const std::string& S, int& Index) const;
    // Sorts by CompareStrings; does nothing when the list is already Sorted.
    virtual void Sort();
    // Sorts with `Compare` (quicksort) unless the list is Sorted; one change notification.
    virtual void CustomSort(const TStringListSortCompare& Compare);

    // Setting Sorted to true sorts the list. Insert, SetStrings and Move raise
    // EStringListError "Operation not allowed on sorted string list" while it is set.
    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
    // Changing the case rule of a sorted list sorts it again under the new rule.
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool Value);

    // A capacity below Count raises EStringListError "List capacity out of bounds (<n>)".
    int Capacity() const override { return static_cast<int>(FList.capacity()); }
    void SetCapacity(int NewCapacity) override;

    // Fired after / before every change of the contents (once around a BeginUpdate block).
    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    std::string Get(int Index) const override;
    int GetCount() const override { return static_cast<int>(FList.size()); }
    void Put(int Index, const std::string& S) override;
    TObject* GetObject(int Index) const override;
    void PutObject(int Index, TObject* AObject) override;
    int CompareStrings(const std::string& S1, const std::string& S2) const override;
    void SetUpdateState(bool Updating) override;
    virtual void Changed();
    virtual void Changing();

private:
    struct TStringItem {
        std::string FString;
        TObject* FObject = nullptr;
    };
    void CheckIndex(int Index) const;
    void InsertItem(int Index, const std::string& S, TObject* AObject);

    std::vector<TStringItem> FList;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
    bool FCaseSensitive = false;
};

}  // namespace ostra
