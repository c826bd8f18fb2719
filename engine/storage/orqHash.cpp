// orqHash: TOrqBaseHash and THashCollection. See orqHash.h.
#include "engine/storage/orqHash.h"

#include <cstring>
#include <utility>

#include "host/Exceptions.h"
#include "host/Lists.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// TOrqBaseHash

TOrqBaseHash::TOrqBaseHash(int HashSize, int MaxKeys, int KeySize) {
    Assert(HashSize >= 0 && MaxKeys >= 0 && KeySize >= 0, "Hash size is out of range");
    Assert(MaxKeys <= HashSize, "Hash key max is greater than hash size");
    FBuckets.assign(std::size_t(HashSize), nullptr);
    FMaxKeys = MaxKeys;
    FKeySize = KeySize;
    FKeyArea.assign(std::size_t(MaxKeys) * std::size_t(KeySize), 0);
    FEntries.assign(std::size_t(MaxKeys), THashEntry{nullptr, nullptr, 0, 0});
    FFreeStack.resize(std::size_t(MaxKeys));
    for (int k = 0; k < MaxKeys; ++k) {
        FEntries[std::size_t(k)].EntryNumber = k;
        FEntries[std::size_t(k)].Key = FKeyArea.data() + std::size_t(k) * std::size_t(KeySize);
        FFreeStack[std::size_t(k)] = MaxKeys - 1 - k;
    }
    FFreeTop = MaxKeys - 1;
}

TOrqBaseHash::~TOrqBaseHash() {
    Clear();
}

uint32_t TOrqBaseHash::HashOf(const char* Key, int KeyLen) const {
    // FNV-1a over the bytes, then a 64-bit finaliser so that every key bit reaches the low bits
    // the bucket is chosen from (keys of a few bytes, such as integers, included).
    uint64_t h = 14695981039346656037ull;
    const auto* b = reinterpret_cast<const unsigned char*>(Key);
    for (int i = 0; i < KeyLen; ++i) h = (h ^ b[i]) * 1099511628211ull;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return uint32_t(h);
}

void TOrqBaseHash::Add(const char* Key, int KeyLen, uint32_t Value) {
    Assert(!CheckHashFull(), "BaseHash is full");
    Assert(KeyLen >= 0 && KeyLen <= FKeySize, "Hash key length is out of range");
    THashEntry& e = FEntries[std::size_t(FFreeStack[std::size_t(FFreeTop)])];
    --FFreeTop;
    // A reused slot may still hold a longer key: clear it so the slot is the key plus zeros.
    std::memset(e.Key, 0, std::size_t(FKeySize));
    if (KeyLen > 0) std::memcpy(e.Key, Key, std::size_t(KeyLen));
    e.Value = Value;
    THashEntry*& head = FBuckets[HashOf(Key, KeyLen) % FBuckets.size()];
    e.Next = head;
    head = &e;
    ++FCount;
}

bool TOrqBaseHash::SlotMatches(const THashEntry* Entry, const char* Key, int KeyLen) const {
    if (KeyLen < 0 || KeyLen > FKeySize) return false;
    if (KeyLen > 0 && std::memcmp(Entry->Key, Key, std::size_t(KeyLen)) != 0) return false;
    return KeyLen == FKeySize || Entry->Key[KeyLen] == 0;
}

THashEntry** TOrqBaseHash::Find(const char* Key, int KeyLen) {
    if (FBuckets.empty()) {
        FNoEntry = nullptr;
        return &FNoEntry;
    }
    THashEntry** link = &FBuckets[HashOf(Key, KeyLen) % FBuckets.size()];
    while (*link != nullptr && !SlotMatches(*link, Key, KeyLen)) link = &(*link)->Next;
    return link;
}

uint32_t TOrqBaseHash::ValueOf(const char* Key, int KeyLen) {
    THashEntry* e = *Find(Key, KeyLen);
    return e != nullptr ? e->Value : 0xFFFFFFFFu;
}

void TOrqBaseHash::RemoveEntry(THashEntry** Link) {
    THashEntry* e = *Link;
    *Link = e->Next;
    e->Next = nullptr;
    FFreeStack[std::size_t(++FFreeTop)] = e->EntryNumber;
    --FCount;
}

void TOrqBaseHash::Delete(const char* Key, int KeyLen, uint32_t /*Value*/) {
    THashEntry** link = Find(Key, KeyLen);
    if (*link != nullptr) RemoveEntry(link);
}

void TOrqBaseHash::GetPossibleMatchList(const char* Key, int KeyLen, TList* List) {
    if (FBuckets.empty()) return;
    for (THashEntry* e = FBuckets[HashOf(Key, KeyLen) % FBuckets.size()]; e != nullptr; e = e->Next)
        if (SlotMatches(e, Key, KeyLen)) List->Add(reinterpret_cast<void*>(uintptr_t(e->Value)));
}

void TOrqBaseHash::GetMatchValues(const char* Key, int KeyLen, std::vector<uint32_t>& Values) const {
    if (FBuckets.empty()) return;
    for (const THashEntry* e = FBuckets[HashOf(Key, KeyLen) % FBuckets.size()]; e != nullptr; e = e->Next)
        if (SlotMatches(e, Key, KeyLen)) Values.push_back(e->Value);
}

bool TOrqBaseHash::CheckKeysMatch(const char* Key1, const char* Key2, int Len1, int Len2) {
    return Len1 == Len2 && (Len1 <= 0 || std::memcmp(Key1, Key2, std::size_t(Len1)) == 0);
}

void TOrqBaseHash::Clear() {
    std::vector<THashEntry>().swap(FEntries);
    std::vector<uint8_t>().swap(FKeyArea);
    std::vector<THashEntry*>().swap(FBuckets);
    std::vector<int32_t>().swap(FFreeStack);
    FFreeTop = -1;
    FMaxKeys = 0;
    FKeySize = 0;
    FCount = 0;
}

THashEntry* TOrqBaseHash::GetBucketPointer(int EntryNumber) {
    Assert(EntryNumber >= 0 && EntryNumber < FMaxKeys, "Hash entry number is out of range");
    return &FEntries[std::size_t(EntryNumber)];
}

// ---------------------------------------------------------------------------------------------
// THashCollectionItem

THashCollectionItem::THashCollectionItem(TCollection* ACollection) : TCollectionItem(ACollection) {
    FHashOwner = dynamic_cast<THashCollection*>(ACollection);
    if (FHashOwner != nullptr) FHashOwner->FItemsByID[ID()] = this;
}

THashCollectionItem::~THashCollectionItem() {
    if (FHashOwner != nullptr) {
        auto it = FHashOwner->FItemsByID.find(ID());
        // After a move to another collection the ID may have changed: search by pointer then.
        if (it == FHashOwner->FItemsByID.end() || it->second != this)
            for (it = FHashOwner->FItemsByID.begin();
                 it != FHashOwner->FItemsByID.end() && it->second != this;)
                ++it;
        if (it != FHashOwner->FItemsByID.end()) FHashOwner->FItemsByID.erase(it);
    }
}

void THashCollectionItem::SetHashFromInts(int32_t A, int32_t B) {
    const uint32_t a = uint32_t(A), b = uint32_t(B);
    for (int i = 0; i < 4; ++i) {
        FHashKey[i] = char((a >> (8 * i)) & 0xFF);
        FHashKey[4 + i] = char((b >> (8 * i)) & 0xFF);
    }
    FIsHashed = true;
}

void THashCollectionItem::SetHashKey(const char* Key) {
    std::memcpy(FHashKey, Key, sizeof FHashKey);
}

// ---------------------------------------------------------------------------------------------
// THashCollection

namespace {
constexpr int HashKeySize = 8;
constexpr int DefaultHashSize = 1000;
}  // namespace

THashCollection::THashCollection(TCollectionItemClass AItemClass, TPersistent* AOwner)
    : TCollection(std::move(AItemClass), AOwner),
      FHash(std::make_unique<TOrqBaseHash>(DefaultHashSize, DefaultHashSize, HashKeySize)) {}

THashCollection::~THashCollection() {
    // Free the items while the ID index still exists; items that moved to another collection
    // stop pointing back here.
    TCollection::Clear();
    for (auto& [id, item] : FItemsByID) item->FHashOwner = nullptr;
}

void THashCollection::AddHashKey(const char* Key, int32_t Value) {
    if (FHash->CheckHashFull()) ResetHash();
    FHash->Add(Key, HashKeySize, uint32_t(Value));
}

THashCollectionItem* THashCollection::FindHashKey(const char* Key) {
    const uint32_t value = FHash->ValueOf(Key, HashKeySize);
    if (value == 0xFFFFFFFFu) return nullptr;
    const int id = int32_t(value);
    auto it = FItemsByID.find(id);
    if (it != FItemsByID.end() && it->second->Collection() == this && it->second->ID() == id)
        return it->second;
    return dynamic_cast<THashCollectionItem*>(FindItemID(id));
}

void THashCollection::DeleteHashKey(THashCollectionItem* Item) {
    const uint32_t id = uint32_t(Item->ID());
    THashEntry** link = FHash->Find(Item->GetHashKey(), HashKeySize);
    while (*link != nullptr) {
        if ((*link)->Value == id && FHash->SlotMatches(*link, Item->GetHashKey(), HashKeySize))
            FHash->RemoveEntry(link);
        else
            link = &(*link)->Next;
    }
    Item->FIsHashed = false;
}

void THashCollection::DeleteHashedItem(int Index) {
    if (auto* item = dynamic_cast<THashCollectionItem*>(Items(Index))) DeleteHashKey(item);
    Delete(Index);
}

void THashCollection::ResetHash() {
    const int size = Count() >= 500 ? 2 * Count() : DefaultHashSize;
    auto hash = std::make_unique<TOrqBaseHash>(size, size, HashKeySize);
    for (int i = 0; i < Count(); ++i) {
        auto* item = dynamic_cast<THashCollectionItem*>(Items(i));
        if (item != nullptr && item->IsHashed())
            hash->Add(item->GetHashKey(), HashKeySize, uint32_t(item->ID()));
    }
    FHash = std::move(hash);
}

void THashCollection::Clear() {
    TCollection::Clear();
    ResetHash();
}

}  // namespace ostra
