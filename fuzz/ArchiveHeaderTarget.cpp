// Fuzz target: the header block of an installer archive. The input is an archive's first bytes;
// reading refuses what is damaged. What was read encodes and decodes to the same headers, and
// written in the multi-volume layout (every header in the header block) it reads back the same.
#include <cstring>

#include "fuzz/FuzzTarget.h"
#include "host/Streams.h"
#include "installer/library/cmp_TFileHeaders.h"
#include "installer/library/routines_Exceptions.h"

using namespace ostra;
using ostra::fuzz::Check;

namespace {

bool SameHeader(const TFileHeaderRecord& a, const TFileHeaderRecord& b) {
    // The date is compared by its bytes: a damaged header may hold any bit pattern.
    return a.HeaderIndex == b.HeaderIndex && std::memcmp(&a.FileDate, &b.FileDate, sizeof a.FileDate) == 0 &&
           a.LastVolume == b.LastVolume && a.LastDataByte == b.LastDataByte && a.SourcePath == b.SourcePath &&
           a.FileSize == b.FileSize && a.DataStart == b.DataStart && a.CompressedSize == b.CompressedSize &&
           a.FirstVolume == b.FirstVolume && a.FileID == b.FileID && a.FileVersion == b.FileVersion;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TMemoryStream stream;
    if (Size > 0) stream.WriteBuffer(Data, static_cast<int64_t>(Size));
    TFileHeaders headers;
    if (!fuzz::Refusing<EFrnmCompress>([&] { headers.ReadHeaders(stream, 0); })) {
        Check(headers.Count() == 0, "a refused header block left headers");
        return 0;
    }
    for (int i = 0; i < headers.Count(); ++i) {
        const TFileHeaderRecord& header = headers.GetFileHeaders(i).Header;
        uint8_t bytes[kFileHeaderSize];
        EncodeFileHeader(header, bytes);
        TFileHeaderRecord decoded;
        Check(DecodeFileHeader(bytes, decoded) && SameHeader(decoded, header), "a header read does not encode back");
        // Lookups take a name's first ";"-separated field, so a damaged path with a ";" (which
        // no archive writer stores) is read but cannot be found by name.
        if (header.SourcePath.find(';') == std::string::npos) {
            const int found = headers.IndexOfName(header.SourcePath);
            Check(found >= 0 && found <= i, "a header read is not found by its path");
        }
    }

    headers.SetMultiVolume(true);
    TMemoryStream written;
    headers.WriteHeaders(written);
    TFileHeaders again;
    Check(fuzz::Refusing<EFrnmCompress>([&] { again.ReadHeaders(written, 0); }), "written headers do not read back");
    Check(again.Count() == headers.Count(), "written headers read back as another count");
    for (int i = 0; i < headers.Count(); ++i)
        Check(again.GetFileHeaders(i).Header.SourcePath == headers.GetFileHeaders(i).Header.SourcePath,
              "written headers read back in another order");
    return 0;
}
