// The batch interpreter of the machine: runs the batch files that the installer library writes
// (a locked file's replacement after a restart, the clean-up of the setup program's folder) as
// a command interpreter of the old Windows versions would. Paths are in Windows form.
//
// Commands, one a line, named without regard to case; a leading "@" is dropped:
//   ERASE path, DEL path        deletes the file (the rest of the line is the path)
//   MOVE source target          moves the file over the target, replacing it
//   DELTREE [/Y] path           deletes the folder with everything in it, or the file
//   REM ..., ECHO ..., blank    do nothing
// Arguments are separated by blanks; double quotes group. A MOVE whose unquoted paths hold blanks
// takes as its source the shortest leading part that names an existing file. An unknown command,
// or one that fails, is reported, and the interpreter goes on with the next line.
#pragma once
#include <string>
#include <vector>

namespace ostra {

// What a batch run did: one line per command that failed or was not understood.
struct TBatchReport {
    std::vector<std::string> Errors;
    bool Failed() const { return !Errors.empty(); }
};

// Runs the lines of a batch file; the file is read whole first (a batch may erase itself).
TBatchReport RunBatchFile(const std::string& path);
TBatchReport RunBatchLines(const std::vector<std::string>& lines);

}  // namespace ostra
