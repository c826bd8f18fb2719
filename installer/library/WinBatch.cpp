// The batch interpreter.
#include "installer/library/WinBatch.h"

#include <fstream>
#include <sstream>

#include "host/SysUtils.h"
#include "installer/library/WinFileSystem.h"
#include "platform/LastError.h"

namespace ostra {

namespace {

// The arguments of a command line's rest: blank-separated, double quotes group.
std::vector<std::string> Arguments(const std::string& text) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= text.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            if (text[i] == '"')
                quoted = !quoted;
            else
                arg += text[i];
            ++i;
        }
        args.push_back(arg);
    }
    return args;
}

std::string Unquoted(const std::string& text) {
    std::string t = Trim(text);
    return t.size() >= 2 && t.front() == '"' && t.back() == '"' ? t.substr(1, t.size() - 2) : t;
}

std::string Reason() { return platform::SysErrorMessage(platform::GetLastError()); }

// Deletes a file, or a folder with everything in it; false when something stays.
bool DeleteTree(const std::string& path) {
    if (WinFileExists(path)) {
        WinSetFileAttributes(path, WinAttrNormal);
        return WinDeleteFile(path);
    }
    if (!WinDirectoryExists(path)) return false;
    bool all = true;
    for (const std::string& name : WinFolderEntries(path)) all = DeleteTree(path + "\\" + name) && all;
    return WinRemoveDir(path) && all;
}

void RunLine(const std::string& raw, TBatchReport& report) {
    std::string line = Trim(raw);
    if (!line.empty() && line[0] == '@') line = Trim(line.substr(1));
    if (line.empty()) return;
    size_t cut = line.find_first_of(" \t");
    std::string command = UpperCase(line.substr(0, cut));
    std::string rest = cut == std::string::npos ? "" : Trim(line.substr(cut));
    auto fail = [&](const std::string& why) { report.Errors.push_back(line + ": " + why); };

    if (command == "REM" || command == "ECHO") return;
    if (command == "ERASE" || command == "DEL") {
        if (!WinDeleteFile(Unquoted(rest))) fail(Reason());
    } else if (command == "DELTREE") {
        std::string target = rest;
        if (UpperCase(target.substr(0, 2)) == "/Y") target = target.substr(2);
        if (!DeleteTree(Unquoted(target))) fail(Reason());
    } else if (command == "MOVE") {
        std::vector<std::string> args = Arguments(rest);
        if (args.size() < 2) return fail("The syntax of the command is incorrect");
        size_t split = 1;
        for (size_t k = 1; k < args.size(); ++k) {
            std::string source;
            for (size_t j = 0; j < k; ++j) source += (j ? " " : "") + args[j];
            if (WinFileExists(source)) {
                split = k;
                break;
            }
        }
        std::string source, target;
        for (size_t j = 0; j < args.size(); ++j) (j < split ? source : target) += ((j == 0 || j == split) ? "" : " ") + args[j];
        if (!WinMoveFileEx(source, target, WinMoveReplaceExisting | WinMoveCopyAllowed)) fail(Reason());
    } else {
        fail("Bad command or file name");
    }
}

}  // namespace

TBatchReport RunBatchFile(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(WinToNative(path), std::ios::binary);
    if (!in) {
        TBatchReport report;
        report.Errors.push_back(path + ": Batch file missing");
        return report;
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return RunBatchLines(lines);
}

TBatchReport RunBatchLines(const std::vector<std::string>& lines) {
    TBatchReport report;
    for (const std::string& line : lines) RunLine(line, report);
    return report;
}

}  // namespace ostra
