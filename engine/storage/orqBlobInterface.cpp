// orqBlobInterface: TBlobInterface (declared in orqInterfaceUnit.h), blob values as chains of
// blocks in a table's blob storage.
//
// A new chain is written from the stream's end backwards, so each block is written once and
// already carries its successor's address; the first block written is the chain's last and holds
// the remainder. A rewrite keeps the first block's address: the old blocks take the new bytes in
// order, a longer value gets a new tail and a shorter one releases the surplus.
//
// Chains come from the file and are not trusted. Every link is checked against the storage
// before it is followed and every count against the block's data area. A read stops at the
// first repeated block (Brent's cycle test: no memory, at most about twice the chain's steps);
// a rewrite or a delete walks and checks the whole chain before it changes anything, so a bad
// chain is reported without freeing or overwriting a block twice.
#include "engine/storage/orqInterfaceUnit.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqErrors.h"
#include "host/Streams.h"

namespace ostra {
namespace {


// Data-corrupt code of blob chains ("Memo file corrupted").
constexpr int32_t CBlobCorrupt = 8963;

}  // namespace

TBlobInterface::TBlobInterface() : FTempStream(std::make_unique<TMemoryStream>()) {}

TBlobInterface::~TBlobInterface() {
    Close();
}

void TBlobInterface::Open() {
    static constexpr char Caller[] = "TBlobInterface.Open";
    if (!FIOInterface) OrqDatabaseError(8581, Caller, "Unable to create blob interface - IOInterface is null", this);
    if (FBlobBlockSize == 0) OrqDatabaseError(8581, Caller, "Unable to create blob interface - Block size is 0", this);
    if (FBlobBlockSize <= CBlobBlockPrefix)
        OrqDatabaseError(8581, Caller, "Unable to create blob interface - Block size is too small", this);
    FBlockBuffer.assign(FBlobBlockSize, 0);
}

void TBlobInterface::Close() {
    FBlockBuffer.clear();
    FBlockBuffer.shrink_to_fit();
    FBlobBlockSize = 0;
    FIOInterface = nullptr;
}

void TBlobInterface::CheckOpen(const char* Caller) const {
    if (!FIOInterface || FBlobBlockSize <= CBlobBlockPrefix || FBlockBuffer.size() != FBlobBlockSize)
        OrqDatabaseError(8576, Caller, "", const_cast<TBlobInterface*>(this));
}

void TBlobInterface::CheckLink(uint32_t Address, const char* Caller) {
    if (!FIOInterface->CheckLinkAddress(Address))
        OrqDatabaseErrorFmt(CBlobCorrupt, Caller, "Invalid blob block address %u", {Address}, this);
}

void TBlobInterface::DecompressFromTempStream(TStream& Stream) {
    FTempStream->SetPosition(0);
}

uint32_t TBlobInterface::InsertBlob(TStream& Stream) {
    CheckOpen("TBlobInterface.InsertBlob");
    return WriteNewBlocks(Stream.Size(), Stream);
}

uint32_t TBlobInterface::WriteNewBlocks(int64_t Size, TStream& Stream) {
    CheckOpen("TBlobInterface.WriteNewBlocks");
    const int64_t total = Stream.Size();
    Size = std::min(Size, total);
    if (Size <= 0) return 0;
    const int64_t data = DataSize();
    uint8_t* buffer = FBlockBuffer.data();
    int64_t chunk = Size % data;
    if (chunk == 0) chunk = data;
    int64_t position = total - chunk;
    int64_t remaining = Size;
    uint32_t next = 0;
    while (remaining > 0) {
        std::memset(buffer, 0, FBlobBlockSize);
        Stream.SetPosition(position);
        Stream.ReadBuffer(buffer + CBlobBlockPrefix, chunk);
        Store32(buffer + CBlobLinkOffset, next);
        Store32(buffer + CBlobCountOffset, uint32_t(chunk));
        next = FIOInterface->AllocateNewAddress(FBlobBlockSize, buffer);
        remaining -= chunk;
        chunk = data;
        position -= data;
    }
    return next;
}

int64_t TBlobInterface::ReadBlob(uint32_t Address, TStream& Stream) {
    static constexpr char Caller[] = "TBlobInterface.ReadBlob";
    if (Address == 0) return 0;
    CheckOpen(Caller);
    uint8_t* buffer = FBlockBuffer.data();
    int64_t total = 0;
    // Brent's cycle test: Saved is compared with every later block; it moves ahead to the
    // current block after 1, 2, 4, ... steps, so it comes to rest inside any cycle and the walk
    // meets it again within one turn of the cycle.
    uint32_t saved = Address;
    uint64_t power = 1;
    uint64_t steps = 0;
    uint32_t address = Address;
    for (;;) {
        CheckLink(address, Caller);
        FIOInterface->ReadBlock(address, FBlobBlockSize, buffer);
        const uint32_t next = Load32(buffer + CBlobLinkOffset);
        const uint32_t count = Load32(buffer + CBlobCountOffset);
        if (count == 0 || count > DataSize())
            OrqDatabaseErrorFmt(CBlobCorrupt, Caller, "Invalid blob block at %u (count %u)", {address, count}, this);
        Stream.WriteBuffer(buffer + CBlobBlockPrefix, count);
        total += count;
        if (next == 0) break;
        if (next == saved)
            OrqDatabaseErrorFmt(CBlobCorrupt, Caller, "Blob chain at %u links back to block %u", {Address, next}, this);
        if (++steps == power) {
            saved = next;
            power *= 2;
            steps = 0;
        }
        address = next;
    }
    return total;
}

void TBlobInterface::CollectChain(uint32_t Address, std::vector<uint32_t>& Chain, const char* Caller) {
    Chain.clear();
    std::unordered_set<uint32_t> seen;
    uint8_t prefix[CBlobBlockPrefix];
    for (uint32_t address = Address; address != 0;) {
        CheckLink(address, Caller);
        if (!seen.insert(address).second)
            OrqDatabaseErrorFmt(CBlobCorrupt, Caller, "Blob chain at %u links back to block %u", {Address, address},
                                this);
        Chain.push_back(address);
        FIOInterface->ReadBlockHeader(address, CBlobBlockPrefix, prefix);
        const uint32_t count = Load32(prefix + CBlobCountOffset);
        if (count == 0 || count > DataSize())
            OrqDatabaseErrorFmt(CBlobCorrupt, Caller, "Invalid blob block at %u (count %u)", {address, count}, this);
        address = Load32(prefix + CBlobLinkOffset);
    }
}

uint32_t TBlobInterface::EditBlob(uint32_t Address, uint32_t Size, TStream& Stream) {
    static constexpr char Caller[] = "TBlobInterface.EditBlob";
    CheckOpen(Caller);
    const int64_t total = Stream.Size();
    // An empty value has no chain, and a value without a chain gets a new one.
    if (total == 0) {
        DeleteBlob(Address, Size);
        return 0;
    }
    if (Address == 0) return InsertBlob(Stream);

    std::vector<uint32_t> chain;
    CollectChain(Address, chain, Caller);
    const int64_t data = DataSize();
    const uint64_t needed = uint64_t((total + data - 1) / data);
    const size_t kept = size_t(std::min<uint64_t>(needed, chain.size()));
    // The bytes beyond the old chain's reach become a new tail, written first so that the last
    // kept block is written once with its final link.
    const uint32_t tail = needed > chain.size() ? WriteNewBlocks(total - int64_t(kept) * data, Stream) : 0;

    uint8_t* buffer = FBlockBuffer.data();
    for (size_t i = 0; i < kept; ++i) {
        const int64_t position = int64_t(i) * data;
        const int64_t chunk = std::min(data, total - position);
        std::memset(buffer, 0, FBlobBlockSize);
        Stream.SetPosition(position);
        Stream.ReadBuffer(buffer + CBlobBlockPrefix, chunk);
        Store32(buffer + CBlobLinkOffset, i + 1 < kept ? chain[i + 1] : tail);
        Store32(buffer + CBlobCountOffset, uint32_t(chunk));
        FIOInterface->WriteBlock(chain[i], FBlobBlockSize, buffer);
    }
    for (size_t i = kept; i < chain.size(); ++i) FIOInterface->ReleaseBlock(chain[i], FBlobBlockSize);
    return Address;
}

void TBlobInterface::DeleteBlob(uint32_t Address, uint32_t Size) {
    static constexpr char Caller[] = "TBlobInterface.DeleteBlob";
    if (Address == 0) return;
    CheckOpen(Caller);
    std::vector<uint32_t> chain;
    CollectChain(Address, chain, Caller);
    for (uint32_t address : chain) FIOInterface->ReleaseBlock(address, FBlobBlockSize);
}

}  // namespace ostra
