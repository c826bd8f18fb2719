// The self-extracting setup: a copy of the loading program with the setup program's archive
// ("setup.1") and the project's archive ("files.1") appended and a 56-byte trailer that says where
// the two lie. The build writes it (cmp_TInstallBuild.cpp), the install run finds "files.1" in it,
// the floppy transfer cuts it apart again, and the loading program (installer/loader) unpacks the
// setup program from it into a temporary folder of its own and starts it there.
//
// Trailer: the last 56 bytes of the file, integers little-endian int32:
//   offset  size  content
//        0    15  byte 14, then "SELFEXTRACTING" (archives appended) or "NOTSELFEXTRACT" (none)
//       15     1  zero
//       16     4  offset of the first byte of the appended "setup.1"
//       20     4  offset of its last byte
//       24     4  offset of the first byte of the appended "files.1"; 0 when none was appended
//       28     4  offset of its last byte; 0 when none
//       32    24  zero
// In a "NOTSELFEXTRACT" trailer all four offsets are 0.
//
// A trailer is trusted only when its marker is "SELFEXTRACTING" and its offsets lie in order
// inside the bytes before it, so a damaged or foreign file is refused before anything is read
// at those offsets.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ostra {

inline constexpr int SelfExtractTrailerSize = 56;  // 15 marker + 1 zero + 4 x 4 offsets + 24 zero
inline constexpr const char* SelfExtractMarker = "SELFEXTRACTING";
inline constexpr const char* NotSelfExtractMarker = "NOTSELFEXTRACT";

// Where the two archives lie in a self-extracting setup.
struct TSelfExtractInfo {
    int32_t SetupStart = 0, SetupEnd = 0;  // first and last byte of "setup.1"
    int32_t FilesStart = 0, FilesEnd = 0;  // of "files.1"; both 0 when none
};

// The 56 trailer bytes: marked "SELFEXTRACTING" with the offsets, or "NOTSELFEXTRACT" with zeros.
std::string EncodeSelfExtractTrailer(bool selfExtracting, const TSelfExtractInfo& info);

// Reads and checks the trailer of the file (Windows-form path), opened for reading with sharing
// allowed. A file that cannot be opened or is shorter than the trailer raises IEInstall "Could not
// read the extraction info from the archive file %s when trying to find the correct offset into
// the self extracting file"; a trailer without the "SELFEXTRACTING" marker, or with offsets out of
// order or outside the bytes before the trailer, raises IEInstall "The extraction info at the end
// of %s is not valid: the file is not a complete self extracting setup".
TSelfExtractInfo ReadSelfExtractTrailer(const std::string& path);

// The loading program's list of what it unpacked, in its temporary folder: one file name a line,
// the setup program first. Its presence marks the folder as the loader's own, the only folder
// that the setup program's clean-up ("-c") empties.
inline constexpr const char* LoaderListFileName = "FRNMLOAD.LST";

// Unpacks every file of the "setup.1" inside the self-extracting setup into a new folder of the
// machine's temporary folder, makes the setup program runnable, and writes the loader's list there. Returns the setup program's
// path (the archive's first file); `folder` receives the new folder. Raises IEInstall for a bad
// trailer (above), EFrnmCompress for a damaged archive, IEInstall "Cannot create a temporary
// folder for the setup program" when no folder can be made; what was unpacked goes again on a
// failure.
std::string UnpackSelfExtractingSetup(const std::string& setupExe, std::string& folder);

// The parameters that start the unpacked setup program: "-s" with the folder of the
// self-extracting setup and "-e" with its file name (each in double quotes), "-c" so that the setup
// program removes the loader's folder when it ends, then the loader's own arguments passed on
// ("*TODISK" also asks for the floppy transfer, "-f").
std::string LoaderSetupParameters(const std::string& setupExe, const std::vector<std::string>& loaderArguments);

}  // namespace ostra
