// The lines of an INI file, edited in place: the uninstaller removes the entries an installation
// added to a section, and the database-engine stand-in keeps its configuration in the same form.
//
// Form: a section begins at a line whose trimmed text is "[" name "]" (blanks around the name do
// not count) and runs to the next such line; every line of a section that holds "=" and does not
// begin with ";" is an entry, whose key is the trimmed text before its first "=". Lines before the
// first section belong to no section.
// Section names and keys match without regard to case (Windows-1252 letters).
//
// Edits keep every other line as it stands, in its place: comments, blank lines, other entries
// and the order of it all. The file is written through a new file beside it that is then renamed
// over it, so a failed write leaves the old file whole.
#pragma once
#include <string>
#include <vector>

namespace ostra {

// The lines of one INI file.
class TIniText {
public:
    // Reads the file at a Windows-form path (lines split at CR LF, CR or LF); false when it
    // cannot be read, leaving the lines empty.
    bool LoadFromFile(const std::string& path);
    // Writes the lines (each followed by CR LF; no lines give an empty file) to a Windows-form
    // path through "<path>.$$$" renamed over it; false when that fails (the old file stays).
    bool SaveToFile(const std::string& path) const;

    std::vector<std::string>& Lines() { return FLines; }
    const std::vector<std::string>& Lines() const { return FLines; }

    // Removes from every section named section the entries whose key equals one of keys; a
    // section left without entries goes as a whole (its header, comments and blank lines). True
    // when anything changed.
    bool RemoveKeys(const std::string& section, const std::vector<std::string>& keys);
    // Removes every section named section with all its lines; true when there was one.
    bool EraseSection(const std::string& section);

    // The key of an entry line; false for a line that is no entry.
    static bool EntryKey(const std::string& line, std::string& key);
    // The name of a section header line; false for a line that is no header.
    static bool SectionName(const std::string& line, std::string& name);

private:
    // The end (one past the last line) of the section whose header is at header.
    size_t SectionEnd(size_t header) const;

    std::vector<std::string> FLines;
};

}  // namespace ostra
