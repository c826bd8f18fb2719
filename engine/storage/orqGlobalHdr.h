// orqGlobalHdr: TGlobalHdr, the in-memory copy of the database file's global header.
//
// The disk manager (orqDisk.h) reads the header into this buffer when it takes the header lock
// fresh and writes it back when it changes; the allocation maps (orqMapPageMgr.h) and the block
// storages keep their chain starts and free-block heads in it. This class only holds the bytes
// and knows where each item lies; it does no I/O.
//
// Layout (128 bytes at file address 1024, integers little-endian):
//
//   Offset  Size  Item                      Meaning
//   0       16    reserved                  zero
//   16      4     FirstMapPageEmpty         first map page known to hold free entries; 0 = none known
//   20      4     FirstMapPage              address of the first map page (5 x PageSize)
//   24      4     MapPageCount              map pages in the chain
//   28      4     TableHeadersFirstEmpty    first free block of the user-table header storage
//   32      4     SystemHeadersFirstEmpty   first free block of the system-table header storage
//   36      4     IndexesFirstEmpty         first free block of the index chain that files with
//                                           pages above 4096 made before IndexPageLayout shared
//                                           among all tables; no storage reads or writes it now
//   40      4     GlobalDBGenerator         database-wide generator; 0 in new files
//   44      4     IndexPageLayout           CIndexPagesOwnedAlone in files made with pages above
//                                           4096; 0 otherwise (below)
//   48      4     LastTableGeneration       the generation given to the table made last (below);
//                                           0 until one is made
//   52      76    reserved                  zero
//
// Table generations. Every table made gets LastTableGeneration + 1, stored in its table header
// (orqTableHeader.h), and the header keeps it for the table's life. A table dropped and made
// again under the same identifier, even at the same header address and with the same change
// counter, has another generation: a connection that still holds pages of the old table tells
// them apart (tables of files made before hold 0, and a table made since never does).
//
// Index pages and IndexPageLayout. An index block (a B+-tree page, 4096 bytes) is as large as
// the smallest page, so with 4096-byte pages every index block fills a page of its own. With
// larger pages the blocks were once packed several to a page, their free blocks threaded on
// one chain (IndexesFirstEmpty) that every table's index storage took from, so one page could
// hold index blocks of several tables: freeing a table's pages destroyed the other tables'
// blocks in them, and a page written under one table's encryption was read under another's.
// Now every index block starts a page run of its own that only its table owns
// (orqInterfaceUnit.h, TDiskIOInterface::WholePages); files with larger pages carry
// IndexPageLayout = CIndexPagesOwnedAlone from their creation on. A file with larger pages
// without it was made before: its index pages may hold several tables' blocks, so the disk
// manager never frees them (TDiskMgr::IndexPagesMayBeShared). Files with 4096-byte pages are
// made exactly as before: IndexesFirstEmpty and IndexPageLayout stay 0.
#pragma once
#include <cstdint>
#include <vector>

#include "host/Object.h"

namespace ostra {

class TStrings;

// Where the global header lies and how long it is.
inline constexpr uint32_t CGlobalHdrAddress = 1024;
inline constexpr uint32_t CGlobalHdrSize = 128;

// Item offsets within the global header.
inline constexpr int32_t CHdrFirstMapPageEmpty = 16;
inline constexpr int32_t CHdrFirstMapPage = 20;
inline constexpr int32_t CHdrMapPageCount = 24;
inline constexpr int32_t CHdrTableHeadersFirstEmpty = 28;
inline constexpr int32_t CHdrSystemHeadersFirstEmpty = 32;
inline constexpr int32_t CHdrIndexesFirstEmpty = 36;
inline constexpr int32_t CHdrGlobalDBGenerator = 40;
inline constexpr int32_t CHdrIndexPageLayout = 44;
inline constexpr int32_t CHdrLastTableGeneration = 48;

// IndexPageLayout of a file with pages above 4096 in which every index page holds index blocks
// of its owner table only.
inline constexpr uint32_t CIndexPagesOwnedAlone = 1;

// The global header of an open database file, as a buffer of HeaderSize bytes.
//
// Invariants: the buffer is HeaderSize bytes long once initialised; Dirty is set only by a
// setter that changed a stored value, and cleared by whoever writes or reads the buffer.
class TGlobalHdr : public TObject {
public:
    // A header of HeaderSize bytes at BaseAddress, zero-filled (Initialize).
    TGlobalHdr(uint32_t HeaderSize = CGlobalHdrSize, uint32_t BaseAddress = CGlobalHdrAddress);

    // Zero-fills the buffer and clears the flags. HeaderSize 0: 8581 "Unable to initialize
    // header - size not set".
    void Initialize();

    uint32_t HeaderSize() const { return FHeaderSize; }
    uint32_t BaseAddress() const { return FBaseAddress; }
    // The raw bytes, HeaderSize long, for reading and writing the header.
    uint8_t* Buffer() { return FBuffer.data(); }
    const uint8_t* Buffer() const { return FBuffer.data(); }

    // Set by a setter that changed a value; cleared after a read or a write of the header.
    bool Dirty() const { return FDirty; }
    void SetDirty(bool Value) { FDirty = Value; }
    // Set after each read of the header from the file.
    bool Valid() const { return FValid; }
    void SetValid(bool Value) { FValid = Value; }

    uint32_t FirstMapPageEmpty() const { return GlobalInterfaceGetHdrItem(CHdrFirstMapPageEmpty); }
    void SetFirstMapPageEmpty(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrFirstMapPageEmpty); }
    uint32_t FirstMapPage() const { return GlobalInterfaceGetHdrItem(CHdrFirstMapPage); }
    void SetFirstMapPage(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrFirstMapPage); }
    uint32_t MapPageCount() const { return GlobalInterfaceGetHdrItem(CHdrMapPageCount); }
    void SetMapPageCount(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrMapPageCount); }
    uint32_t TableHeadersFirstEmpty() const { return GlobalInterfaceGetHdrItem(CHdrTableHeadersFirstEmpty); }
    void SetTableHeadersFirstEmpty(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrTableHeadersFirstEmpty); }
    uint32_t SystemHeadersFirstEmpty() const { return GlobalInterfaceGetHdrItem(CHdrSystemHeadersFirstEmpty); }
    void SetSystemHeadersFirstEmpty(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrSystemHeadersFirstEmpty); }
    uint32_t IndexesFirstEmpty() const { return GlobalInterfaceGetHdrItem(CHdrIndexesFirstEmpty); }
    void SetIndexesFirstEmpty(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrIndexesFirstEmpty); }
    uint32_t GlobalDBGenerator() const { return GlobalInterfaceGetHdrItem(CHdrGlobalDBGenerator); }
    void SetGlobalDBGenerator(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrGlobalDBGenerator); }
    uint32_t IndexPageLayout() const { return GlobalInterfaceGetHdrItem(CHdrIndexPageLayout); }
    void SetIndexPageLayout(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrIndexPageLayout); }
    uint32_t LastTableGeneration() const { return GlobalInterfaceGetHdrItem(CHdrLastTableGeneration); }
    void SetLastTableGeneration(uint32_t Value) { GlobalInterfaceSetHdrItem(Value, CHdrLastTableGeneration); }

    // The unsigned 32-bit item at Offset. An item must lie wholly in the header: Offset 1 to
    // HeaderSize - 4, else 8581 "DB Header. Item offset is out of range".
    uint32_t GlobalInterfaceGetHdrItem(int32_t Offset) const;
    // Stores Value at Offset (same range rule); sets Dirty when the stored value changes.
    void GlobalInterfaceSetHdrItem(uint32_t Value, int32_t Offset);

    // Adds "GLOBAL HEADER Settings", "FirstMap %d  FirstEmpty %d MapCount %d" and
    // "TblHdrFE %d  SysHdrFE %d IdxFE %d" to List.
    void DebugDumpContents(TStrings* List) const;

private:
    void CheckOffset(int32_t Offset) const;

    bool FDirty = false;
    uint32_t FHeaderSize;
    std::vector<uint8_t> FBuffer;
    uint32_t FBaseAddress;
    bool FValid = false;
};

}  // namespace ostra
