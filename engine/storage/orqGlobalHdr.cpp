// orqGlobalHdr: the global header's buffer and item access (layout in orqGlobalHdr.h).
#include "engine/storage/orqGlobalHdr.h"

#include "engine/storage/orqErrors.h"
#include "host/StringList.h"
#include "host/SysUtils.h"

namespace ostra {

TGlobalHdr::TGlobalHdr(uint32_t HeaderSize, uint32_t BaseAddress)
    : FHeaderSize(HeaderSize), FBaseAddress(BaseAddress) {
    Initialize();
}

void TGlobalHdr::Initialize() {
    if (FHeaderSize == 0)
        OrqDatabaseError(8581, "TGlobalHdr.Initialize", "Unable to initialize header - size not set", this);
    FBuffer.assign(FHeaderSize, 0);
    FDirty = false;
    FValid = false;
}

void TGlobalHdr::CheckOffset(int32_t Offset) const {
    if (Offset < 1 || int64_t(Offset) + 4 > int64_t(FBuffer.size()))
        OrqDatabaseError(8581, "TGlobalHdr.GlobalInterfaceGetHdrItem", "DB Header. Item offset is out of range",
                         const_cast<TGlobalHdr*>(this));
}

uint32_t TGlobalHdr::GlobalInterfaceGetHdrItem(int32_t Offset) const {
    CheckOffset(Offset);
    const uint8_t* p = FBuffer.data() + Offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void TGlobalHdr::GlobalInterfaceSetHdrItem(uint32_t Value, int32_t Offset) {
    if (GlobalInterfaceGetHdrItem(Offset) == Value) return;
    uint8_t* p = FBuffer.data() + Offset;
    p[0] = uint8_t(Value);
    p[1] = uint8_t(Value >> 8);
    p[2] = uint8_t(Value >> 16);
    p[3] = uint8_t(Value >> 24);
    FDirty = true;
}

void TGlobalHdr::DebugDumpContents(TStrings* List) const {
    if (!List) return;
    List->Add("GLOBAL HEADER Settings");
    List->Add(Format("FirstMap %d  FirstEmpty %d MapCount %d", {FirstMapPage(), FirstMapPageEmpty(), MapPageCount()}));
    List->Add(Format("TblHdrFE %d  SysHdrFE %d IdxFE %d",
                     {TableHeadersFirstEmpty(), SystemHeadersFirstEmpty(), IndexesFirstEmpty()}));
}

}  // namespace ostra
