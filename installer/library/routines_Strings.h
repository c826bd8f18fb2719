// String routines for paths and delimited fields, shared by the installer library, the setup
// program and the uninstaller. None of them fails.
#pragma once
#include <string>

namespace ostra {

class TStrings;

// The path with a backslash appended, unless it is empty or already ends in one.
std::string AddBackslash(const std::string& path);
// The path without its trailing backslash, if it has one ("C:\" gives "C:").
std::string RemoveBackslash(const std::string& path);
// The number of delimiter characters in the text, plus one unless the text is empty or ends with
// the delimiter.
int CountDelimitedFields(const std::string& text, char delimiter);
// The n-th field (counted from 1; n below 1 counts as 1); the last field runs to the end of the
// text; empty when the text has fewer fields.
std::string GetDelimitedField(const std::string& text, int n, char delimiter);
// Empties the list and adds the fields 1 to CountDelimitedFields in order.
void SplitDelimited(const std::string& text, char delimiter, TStrings& list);
// The text after the first colon; empty when there is none.
std::string StripDrive(const std::string& path);
// The text with each "/" turned into "-" and the characters " * : ; < > ? \ | dropped.
std::string MakeValidFileName(const std::string& text);

}  // namespace ostra
