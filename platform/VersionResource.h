// The version resource of a Windows program file (a PE file: ".EXE", ".DLL", ".OCX" ...), as the
// version-information services give it: the raw version block of the file, and values looked up
// in it by path. The host's own programs are no PE files and have no version resource.
//
// Where the block comes from: the DOS header ("MZ", the offset of the PE header at 0x3C); the PE
// header ("PE\0\0", the file header, the optional header of a 32-bit or 64-bit file with its data
// directories, the section table); the resource directory (data directory 2), whose three levels
// are walked to the first resource of type 16 (version), its first name and its first language;
// the data entry's address, mapped through the section table to a file offset. Every offset and
// count read from the file is checked against the file's size: a damaged file has no version
// resource, it never makes the reader read outside the file.
//
// The block (as the resource compiler writes it): nested entries of wLength (2 bytes), wValueLength
// (2), wType (2: 0 binary, 1 text), the key (UTF-16, zero-terminated), padding to 4 bytes, the
// value (wValueLength bytes, or characters for text), padding to 4 bytes, then the child entries
// up to wLength. The root's key is "VS_VERSION_INFO" and its value the 52-byte fixed file
// information (signature 0xFEEF04BD, structure version, file version MS/LS, product version MS/LS,
// flags mask, flags, OS, type, subtype, date MS/LS; 13 little-endian 32-bit words).
#pragma once
#include <cstdint>
#include <string>

namespace ostra::platform {

// The raw version block of the file at the native path; false when the file is missing, is no PE
// file, or has no (sound) version resource.
bool GetFileVersionInfo(const std::string& path, std::string& block);

// Looks a value up in a version block by its path: "\" is the fixed file information (52 bytes),
// "\VarFileInfo\Translation" the translation list (32-bit entries: language identifier in the low
// word, code page in the high word), "\StringFileInfo\<language><code page>\<name>" a string
// (its UTF-16 code units as little-endian bytes, up to its terminating zero). Keys are matched
// without regard to ASCII case. False when the path names no value.
bool VerQueryValue(const std::string& block, const std::string& path, std::string& value);

}  // namespace ostra::platform
