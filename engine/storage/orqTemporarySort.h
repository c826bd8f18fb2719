// orqTemporarySort: TTemporarySort, an in-memory sorted array of key entries for one set of key
// fields, and TTemporarySortManager, a collection of them.
//
// Keys are appended from record buffers (the key entry of orqKeyEntry.h, its address field
// holding the caller's address), the array is sorted, and keys are then found by binary
// search. Entries compare exactly like B+-tree keys, without comparison markers. The array
// grows by a quarter when full, so appending n keys costs O(n) copies in all; sorting is
// O(n log n) in every case.
//
// States: closed (no buffers) -> Open(Capacity) -> AppendKey ... -> Sort -> FindKey /
// FindNearest -> Close. Invariants while open: 0 <= Count <= Capacity; the array holds
// Capacity entries of KeySize bytes; Sorted implies entries 0..Count-1 ascend.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "host/Collection.h"

namespace ostra {

class TKeyFields;

// A sorted array of key entries.
class TTemporarySort : public TCollectionItem {
public:
    explicit TTemporarySort(TCollection* ACollection);
    ~TTemporarySort() override;

    // The key fields of the sort; their DataOffset (key field count div 8 + 1) is set by the user.
    TKeyFields& KeyFields() { return *FKeyFields; }
    void SetDBStringCompare(TDBStringCompareFunction Routine) { FDBStringCompare = Routine; }
    TDBStringCompareFunction DBStringCompare() const { return FDBStringCompare; }

    // Without a string compare routine: 8581 "Sort function not assinged". Close, then key
    // size := CalculateMaximumKeySize + DataOffset; allocates Capacity entries and the key buffer.
    void Open(int Capacity);
    // Frees both buffers; Count and Capacity 0.
    void Close();
    bool IsOpen() const { return FKeyBuffer != nullptr; }

    // The key buffer := the key of RecBuf with address Address.
    void ConstructKeyBufFromRecBuf(uint32_t Address, const uint8_t* RecBuf);
    // Builds the key of RecBuf and appends it (growing the array when full); Sorted := false.
    void AppendKey(uint32_t Address, const uint8_t* RecBuf);
    // Sorts the entries; Sorted := true. The key buffer is left as it was.
    void Sort();
    // The address of an entry equal to the key buffer (the first of equal ones); 0 when none.
    // An unsorted array is sorted first.
    uint32_t FindKey();
    // The address of the first entry not below the key buffer; 0 when the key sorts after every
    // entry. An unsorted array is sorted first.
    uint32_t FindNearest();
    // Key comparison without markers (negative, 0, positive); a size field above the key size:
    // 8581 "KeySize out of range".
    int CompareKeys(const uint8_t* Key1, const uint8_t* Key2) const;

    int Count() const { return FCount; }
    int Capacity() const { return FCapacity; }
    int KeySize() const { return FKeySize; }
    bool Sorted() const { return FSorted; }
    // Entry i (0..Count-1) and the key buffer.
    const uint8_t* Entry(int i) const { return FKeys.data() + static_cast<size_t>(i) * FKeySize; }
    const uint8_t* KeyBuffer() const { return FKeyBuffer.get(); }

private:
    void CheckOpen(const char* Caller) const;
    // Binary search for the key buffer: the position of the first entry not below it (Count
    // when none) and the comparison of the key with the entry there (positive at the end).
    int InternalSearch(int& Position);
    void Grow();

    int FCapacity = 0;
    int FCount = 0;
    int FKeySize = 0;
    std::vector<uint8_t> FKeys;
    std::unique_ptr<uint8_t[]> FKeyBuffer;
    bool FSorted = false;
    std::unique_ptr<TKeyFields> FKeyFields;
    TDBStringCompareFunction FDBStringCompare = nullptr;
};

// A collection of temporary sorts.
class TTemporarySortManager : public TCollection {
public:
    TTemporarySortManager();
    TTemporarySort* Add();
    TTemporarySort* GetItems(int Index) const;
    void SetItems(int Index, const TTemporarySort* Item);
    // Closes every sort.
    void Close();
};

}  // namespace ostra
