// orqInterfaceUnit: the block storage base and the in-memory block storage. The disk storage
// is in orqDiskIOInterface.cpp and the blob chains in orqBlobInterface.cpp (one header for all).
#include "engine/storage/orqInterfaceUnit.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "engine/storage/orqErrors.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// TBaseIOInterface

void TBaseIOInterface::NotImplemented(const char* Caller) {
    OrqDatabaseError(10065, Caller, "", this);
}

void TBaseIOInterface::Open() {
    FOwner = static_cast<uint16_t>((FTableID << 4) | FUsage);
}

void TBaseIOInterface::Empty(bool Exact) {
    NotImplemented("TBaseIOInterface.Empty");
}

uint32_t TBaseIOInterface::AllocateNewAddress(uint32_t Size, const void* Buffer) {
    NotImplemented("TBaseIOInterface.AllocateNewAddress");
}

void TBaseIOInterface::ReleaseBlock(uint32_t Address, uint32_t Size) {
    NotImplemented("TBaseIOInterface.ReleaseBlock");
}

void TBaseIOInterface::WriteBlock(uint32_t Address, uint32_t Size, const void* Buffer) {
    NotImplemented("TBaseIOInterface.WriteBlock");
}

void TBaseIOInterface::WriteBlockHeader(uint32_t Address, uint32_t Size, const void* Buffer) {
    NotImplemented("TBaseIOInterface.WriteBlockHeader");
}

// ---------------------------------------------------------------------------------------------
// TMemoryIOInterface

namespace {

// Stamps of memory blocks: unique in the process, so that a tree that checked a page under one
// stamp never takes another content (another storage's, or a reused handle's) for it.
std::atomic<uint64_t> GMemoryBlockStamp{0};

uint64_t NewMemoryBlockStamp() { return GMemoryBlockStamp.fetch_add(1, std::memory_order_relaxed) + 1; }

}  // namespace

TMemoryIOInterface::TMemoryIOInterface() {
    FIOMode = iomMemory;
}

TMemoryIOInterface::~TMemoryIOInterface() {
    Empty(false);
}

void TMemoryIOInterface::Empty(bool Exact) {
    FBlocks.clear();
    FBlocks.shrink_to_fit();
    FFreeSlots.clear();
    FFreeSlots.shrink_to_fit();
    FHead = FTail = FCount = 0;
}

uint32_t TMemoryIOInterface::AllocateNewAddress(uint32_t Size, const void* Buffer) {
    uint32_t handle;
    if (!FFreeSlots.empty()) {
        handle = FFreeSlots.back();
        FFreeSlots.pop_back();
    } else {
        if (FBlocks.size() >= std::numeric_limits<uint32_t>::max() - 1)
            OrqDatabaseError(8581, "TMemoryIOInterface.AllocateNewAddress", "Memory storage is full", this);
        FBlocks.emplace_back();
        handle = static_cast<uint32_t>(FBlocks.size());
    }
    TMemBlock& block = Block(handle);
    // At least one byte, so that a live block always has data.
    block.Data = std::make_unique<uint8_t[]>(Size > 0 ? Size : 1);
    block.Size = Size;
    block.Stamp = NewMemoryBlockStamp();
    if (Buffer && Size > 0) std::memcpy(block.Data.get(), Buffer, Size);
    block.Prev = FTail;
    block.Next = 0;
    if (FTail)
        Block(FTail).Next = handle;
    else
        FHead = handle;
    FTail = handle;
    ++FCount;
    return handle;
}

void TMemoryIOInterface::ReleaseBlock(uint32_t Address, uint32_t Size) {
    if (!Listed(Address)) return;
    TMemBlock& block = Block(Address);
    if (block.Prev)
        Block(block.Prev).Next = block.Next;
    else
        FHead = block.Next;
    if (block.Next)
        Block(block.Next).Prev = block.Prev;
    else
        FTail = block.Prev;
    block.Data.reset();
    block.Size = block.Prev = block.Next = 0;
    block.Stamp = 0;
    --FCount;
    FFreeSlots.push_back(Address);
}

void TMemoryIOInterface::DebugNotFound(uint32_t Address) {
    if (!FDebugStrings) return;
    FDebugStrings->Add(IntToStr(Address) + ":::" + IntToHex(Address, 8));
    for (uint32_t h = FHead; h; h = Block(h).Next) FDebugStrings->Add(IntToHex(h, 8));
}

void TMemoryIOInterface::WriteBlock(uint32_t Address, uint32_t Size, const void* Buffer) {
    if (!Listed(Address)) return;
    if (!Buffer) OrqDatabaseError(8581, "TMemoryIOInterface.WriteBlock", "Write page error - nil pointer", this);
    TMemBlock& block = Block(Address);
    if (Size > block.Size)
        OrqDatabaseError(8581, "TMemoryIOInterface.WriteBlock", "Write page error - size out of range", this);
    std::memcpy(block.Data.get(), Buffer, Size);
    block.Stamp = NewMemoryBlockStamp();
}

void TMemoryIOInterface::WriteBlockByRef(uint32_t Address, uint32_t Size, const void* Buffer) {
    if (Listed(Address)) Block(Address).Stamp = NewMemoryBlockStamp();
}

void TMemoryIOInterface::ReadBlock(uint32_t Address, uint32_t Size, void* Buffer) {
    if (!Listed(Address)) {
        DebugNotFound(Address);
        OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlock",
                         "Read page error - block address not found" + IntToStr(Address), this);
    }
    TMemBlock& block = Block(Address);
    if (Buffer == block.Data.get())
        OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlock", "Read page error - buffers equal", this);
    if (!Buffer) OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlock", "Unassigned memory pointer", this);
    if (Size > block.Size)
        OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlock", "Read page error - size out of range", this);
    std::memcpy(Buffer, block.Data.get(), Size);
}

void TMemoryIOInterface::ReadBlockByRef(uint32_t Address, uint32_t Size, uint8_t*& Buffer) {
    if (!Listed(Address))
        OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlockByRef",
                         "Read page error - block address not found" + IntToStr(Address), this);
    TMemBlock& block = Block(Address);
    if (Size > block.Size)
        OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlockByRef", "Read page error - size out of range", this);
    Buffer = block.Data.get();
    // The caller may write through the pointer.
    block.Stamp = NewMemoryBlockStamp();
}

void TMemoryIOInterface::ReadBlockStamped(uint32_t Address, uint32_t Size, void* Buffer, uint64_t& Stamp) {
    ReadBlock(Address, Size, Buffer);
    Stamp = Block(Address).Stamp;
}

const uint8_t* TMemoryIOInterface::ReadBlockView(uint32_t Address, uint32_t Size, uint64_t& Stamp) {
    Stamp = 0;
    if (!Listed(Address) || Size > Block(Address).Size) return nullptr;
    const TMemBlock& block = Block(Address);
    Stamp = block.Stamp;
    return block.Data.get();
}

void TMemoryIOInterface::WriteBlockStamped(uint32_t Address, uint32_t Size, const void* Buffer, uint64_t& Stamp) {
    WriteBlock(Address, Size, Buffer);
    Stamp = Listed(Address) ? Block(Address).Stamp : 0;
}

void TMemoryIOInterface::WriteBlockPart(uint32_t Address, uint32_t BlockSize, uint32_t Offset, uint32_t Size,
                                        const void* Block, uint64_t& Stamp) {
    Stamp = 0;
    if (!Listed(Address)) return;
    if (!Block) OrqDatabaseError(8581, "TMemoryIOInterface.WriteBlock", "Write page error - nil pointer", this);
    TMemBlock& block = this->Block(Address);
    if (BlockSize > block.Size || Offset > BlockSize || Size > BlockSize - Offset)
        OrqDatabaseError(8581, "TMemoryIOInterface.WriteBlock", "Write page error - size out of range", this);
    std::memcpy(block.Data.get() + Offset, static_cast<const uint8_t*>(Block) + Offset, Size);
    block.Stamp = Stamp = NewMemoryBlockStamp();
}

void TMemoryIOInterface::WriteBlockHeader(uint32_t Address, uint32_t Size, const void* Buffer) {
    if (!Listed(Address)) return;
    if (!Buffer)
        OrqDatabaseError(8581, "TMemoryIOInterface.WriteBlockHeader", "Write header error - nil pointer", this);
    TMemBlock& block = Block(Address);
    if (Size > block.Size)
        OrqDatabaseError(8581, "TMemoryIOInterface.WriteBlockHeader", "Write page error - size out of range", this);
    std::memcpy(block.Data.get(), Buffer, Size);
    block.Stamp = NewMemoryBlockStamp();
}

void TMemoryIOInterface::ReadBlockHeader(uint32_t Address, uint32_t Size, void* Buffer) {
    if (!Listed(Address)) return;
    if (!Buffer)
        OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlockHeader", "Read header error - nil pointer", this);
    TMemBlock& block = Block(Address);
    if (Size > block.Size)
        OrqDatabaseError(8581, "TMemoryIOInterface.ReadBlockHeader", "Read page error - size out of range", this);
    if (Buffer != block.Data.get()) std::memmove(Buffer, block.Data.get(), Size);
}

void TMemoryIOInterface::ListBlocks(std::vector<uint32_t>& List) {
    List.clear();
    List.reserve(FCount);
    for (uint32_t h = FHead; h; h = Block(h).Next) List.push_back(h);
}

uint32_t TMemoryIOInterface::GetNextMemoryBlockAddress(uint32_t Address) {
    if (Address == 0) return FHead;
    return Listed(Address) ? Block(Address).Next : 0;
}

}  // namespace ostra
