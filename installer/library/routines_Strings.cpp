// Path and delimited-field string routines.
#include "installer/library/routines_Strings.h"

#include <algorithm>

#include "host/StringList.h"

namespace ostra {

std::string AddBackslash(const std::string& path) {
    return path.empty() || path.back() == '\\' ? path : path + "\\";
}

std::string RemoveBackslash(const std::string& path) {
    return !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
}

int CountDelimitedFields(const std::string& text, char delimiter) {
    int count = static_cast<int>(std::count(text.begin(), text.end(), delimiter));
    return text.empty() || text.back() == delimiter ? count : count + 1;
}

std::string GetDelimitedField(const std::string& text, int n, char delimiter) {
    size_t start = 0;
    for (int i = 1; i < n; ++i) {
        size_t cut = text.find(delimiter, start);
        if (cut == std::string::npos) return "";
        start = cut + 1;
    }
    size_t end = text.find(delimiter, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void SplitDelimited(const std::string& text, char delimiter, TStrings& list) {
    list.Clear();
    int count = CountDelimitedFields(text, delimiter);
    for (int i = 1; i <= count; ++i) list.Add(GetDelimitedField(text, i, delimiter));
}

std::string StripDrive(const std::string& path) {
    size_t colon = path.find(':');
    return colon == std::string::npos ? "" : path.substr(colon + 1);
}

std::string MakeValidFileName(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '/')
            out += '-';
        else if (std::string("\"*:;<>?\\|").find(c) == std::string::npos)
            out += c;
    }
    return out;
}

}  // namespace ostra
