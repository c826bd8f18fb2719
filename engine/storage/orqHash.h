// orqHash: TOrqBaseHash, the engine's fixed-capacity hash of byte keys to 32-bit values, and
// THashCollection, a collection whose items are found by an 8-byte key through such a hash.
//
// TOrqBaseHash is sized once: HashSize buckets, MaxKeys entries, KeySize bytes per key. It
// never grows; adding to a full hash is a consistency failure ("BaseHash is full"). Join
// evaluation and index pages fill it with field values mapped to record addresses; the page
// cache keys its pages by file address through THashCollection, which rebuilds its hash
// larger when it fills.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Collection.h"
#include "host/Object.h"
#include "host/db/FieldType.h"

namespace ostra {

class TList;

// One entry of a TOrqBaseHash.
struct THashEntry {
    THashEntry* Next;     // the next entry of the same bucket, nullptr at the end of the chain
    uint8_t* Key;         // the entry's key slot: KeySize bytes at EntryNumber * KeySize
    int32_t EntryNumber;  // the entry's position in the entry array
    uint32_t Value;
};

// A hash with a fixed number of buckets and entries and chained buckets.
//
// Storage: the bucket list (HashSize heads), the entry array and the key area (MaxKeys entries
// and key slots, zero-filled), and the free-entry stack of entry numbers, initially
// MaxKeys-1 .. 0 so that entries are used in the order 0, 1, 2, ...
//
// Invariants: Count() entries are linked into buckets, each into the bucket HashOf(key) mod
// HashSize it was added under; the other MaxKeys - Count() entry numbers are on the free
// stack; a key slot holds its key followed by zeros. Newer entries come first in a chain.
//
// Keys match by slot: a key of KeyLen < KeySize bytes matches an entry whose slot starts with
// those bytes followed by a zero byte; a key of KeySize bytes must equal the whole slot; a
// longer key never matches. The bucket is chosen from the bytes given, so a key looked up with
// another length than it was added with is normally not found.
class TOrqBaseHash : public TObject {
public:
    // Asserts MaxKeys <= HashSize ("Hash key max is greater than hash size"); negative sizes
    // fail the assertion "Hash size is out of range".
    TOrqBaseHash(int HashSize, int MaxKeys, int KeySize);
    ~TOrqBaseHash() override;
    TOrqBaseHash(const TOrqBaseHash&) = delete;
    TOrqBaseHash& operator=(const TOrqBaseHash&) = delete;

    // A hash of all KeyLen bytes that spreads keys differing in any bit over every bucket
    // (FNV-1a with a 64-bit finaliser). Only memory structures use it; no file stores it.
    virtual uint32_t HashOf(const char* Key, int KeyLen) const;

    // Stores Key (KeyLen bytes, the rest of the slot zero) with Value at the head of its bucket.
    // Asserts "BaseHash is full" when no entry is free and "Hash key length is out of range"
    // unless 0 <= KeyLen <= KeySize. Equal keys may be added more than once; the newest is found first.
    void Add(const char* Key, int KeyLen, uint32_t Value);
    // The link (bucket head or previous entry's Next) that points at the first matching entry of
    // the key's bucket, or at nullptr when none matches (also when there are no buckets).
    THashEntry** Find(const char* Key, int KeyLen);
    // The value of the first matching entry; 4294967295 when none.
    uint32_t ValueOf(const char* Key, int KeyLen);
    // Unlinks the first matching entry and frees it; nothing when none matches. Value is not used.
    void Delete(const char* Key, int KeyLen, uint32_t Value);
    // Appends to List the value of every matching entry of the key's bucket, in chain order.
    void GetPossibleMatchList(const char* Key, int KeyLen, TList* List);
    // Appends to Values the value of every matching entry of the key's bucket, in chain order.
    void GetMatchValues(const char* Key, int KeyLen, std::vector<uint32_t>& Values) const;
    // True when the lengths are equal and the first Len1 bytes are equal.
    static bool CheckKeysMatch(const char* Key1, const char* Key2, int Len1, int Len2);
    // True when no free entry is left.
    bool CheckHashFull() const { return FFreeTop < 0; }
    // Releases all storage: no buckets, entries or keys remain, MaxKeys and KeySize become 0 and
    // every later Add fails as full.
    void Clear();

    // The entry with that number; a number outside 0..MaxKeys-1 fails the assertion
    // "Hash entry number is out of range".
    THashEntry* GetBucketPointer(int EntryNumber);
    // The entry number the next Add takes; -1 when the hash is full.
    int GetEmptyArrayIndex() const { return FFreeTop < 0 ? -1 : FFreeStack[std::size_t(FFreeTop)]; }

    // Informational: the field whose values the hash holds and its type, set by the user.
    const std::string& SourceFieldName() const { return FSourceFieldName; }
    void SetSourceFieldName(const std::string& Value) { FSourceFieldName = Value; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType Value) { FDataType = Value; }

    int Count() const { return FCount; }
    int HashSize() const { return int(FBuckets.size()); }
    int MaxKeys() const { return FMaxKeys; }
    int KeySize() const { return FKeySize; }

private:
    friend class THashCollection;

    // True when Entry's slot holds Key as Find matches keys.
    bool SlotMatches(const THashEntry* Entry, const char* Key, int KeyLen) const;
    // Unlinks the entry *Link points at and returns it to the free stack.
    void RemoveEntry(THashEntry** Link);

    std::vector<THashEntry*> FBuckets;  // HashSize chain heads
    std::vector<int32_t> FFreeStack;    // entry numbers; FFreeStack[FFreeTop] is the next free one
    std::string FSourceFieldName;
    TFieldType FDataType = ftUnknown;
    int32_t FCount = 0;
    std::vector<THashEntry> FEntries;  // MaxKeys entries; never reallocated after construction
    int32_t FFreeTop = -1;             // negative when the hash is full
    int32_t FMaxKeys = 0;
    std::vector<uint8_t> FKeyArea;  // MaxKeys * KeySize bytes
    int32_t FKeySize = 0;
    THashEntry* FNoEntry = nullptr;  // what Find's link points at when there are no buckets
};

class THashCollection;

// A collection item with an 8-byte hash key. IsHashed tells whether the key is in its
// collection's hash (the collection's operations keep it so).
class THashCollectionItem : public TCollectionItem {
public:
    explicit THashCollectionItem(TCollection* ACollection);
    ~THashCollectionItem() override;

    // The key := A then B, 4 bytes each, little-endian; IsHashed := true.
    void SetHashFromInts(int32_t A, int32_t B);
    // The key := the 8 bytes at Key.
    void SetHashKey(const char* Key);
    // The address of the 8-byte key.
    const char* GetHashKey() const { return FHashKey; }
    bool IsHashed() const { return FIsHashed; }
    void SetIsHashed(bool Value) { FIsHashed = Value; }

private:
    friend class THashCollection;
    char FHashKey[8] = {};
    bool FIsHashed = false;
    THashCollection* FHashOwner = nullptr;  // the hash collection this item is indexed in, if any
};

// A collection whose items are found by their 8-byte key: its TOrqBaseHash maps each hashed
// item's key to the item's collection ID. The hash starts with 1000 buckets and 1000 keys and
// is rebuilt, larger when the collection has grown, whenever it fills.
//
// Items made in this collection are also indexed by ID, so that FindHashKey costs O(1) and
// not a scan of the collection; an item that came in by SetCollection is found by the scan.
class THashCollection : public TCollection {
public:
    explicit THashCollection(TCollectionItemClass AItemClass, TPersistent* AOwner = nullptr);
    ~THashCollection() override;

    // Adds the 8-byte Key with Value (an item's ID); rebuilds the hash first when it is full.
    void AddHashKey(const char* Key, int32_t Value);
    // The item the 8-byte Key maps to; nullptr when the key is absent or its item is gone.
    THashCollectionItem* FindHashKey(const char* Key);
    // Removes Item's key from the hash (every entry of that key for this item) and clears IsHashed.
    void DeleteHashKey(THashCollectionItem* Item);
    // Removes the key of the item at Index from the hash and frees the item.
    void DeleteHashedItem(int Index);
    // Replaces the hash with one of HashSize = MaxKeys = 1000, or twice the item count for 500
    // items or more, holding the key of every item that IsHashed.
    void ResetHash();
    // Frees every item and rebuilds the hash.
    void Clear();

    // Stored only.
    bool UseHashSearch() const { return FUseHashSearch; }
    void SetUseHashSearch(bool Value) { FUseHashSearch = Value; }
    // The current hash (replaced by ResetHash).
    const TOrqBaseHash& Hash() const { return *FHash; }

private:
    friend class THashCollectionItem;

    bool FUseHashSearch = false;
    std::unique_ptr<TOrqBaseHash> FHash;
    std::unordered_map<int, THashCollectionItem*> FItemsByID;  // items made in this collection
};

}  // namespace ostra
