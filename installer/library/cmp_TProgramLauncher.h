// TProgramLauncher: starts another program and waits until it is ready for input. The install
// run starts the files marked to run after the install and its clean-up batch with it, install
// files register EXE servers with "/REGSERVER", the uninstaller unregisters them.
//
// The program is named by its Windows-form path (WinFileSystem.h) and started on the host
// (platform/Process.h) with Parameters split into its arguments by the rules of Windows programs,
// in the launcher's current folder, with the launcher's environment and no inherited handles. A
// batch file (".BAT" or ".CMD") is run by the batch interpreter of the machine tool (WinBatch.h,
// installer/machine).
//
// A failed start raises EProgramLauncherFailed with the text of the real error (the Windows error
// number of the failure; the code is kept in the exception).
#pragma once
#include <cstdint>
#include <string>

#include "host/Component.h"

namespace ostra {

// How the program's first window is shown.
enum TplShowMode { smNormal, smMaximized, smMinimized, smHide };

// How long Execute waits for the started program to become ready for input.
inline constexpr uint32_t InputIdleWaitLimitMs = 60000;

// Starts a program and waits until it is ready for input.
class TProgramLauncher : public TComponent {
public:
    explicit TProgramLauncher(TComponent* owner);

    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& value) { FFileName = value; }
    const std::string& Parameters() const { return FParameters; }
    void SetParameters(const std::string& value) { FParameters = value; }
    TplShowMode ShowMode() const { return FShowMode; }
    void SetShowMode(TplShowMode value) { FShowMode = value; }
    // Stored; not used when starting.
    const std::string& Action() const { return FAction; }
    void SetAction(const std::string& value) { FAction = value; }
    // Stored; the program starts in the launcher's current folder.
    const std::string& StartDir() const { return FStartDir; }
    void SetStartDir(const std::string& value) { FStartDir = value; }
    // Stored; not used.
    int32_t Timeout() const { return FTimeout; }
    void SetTimeout(int32_t value) { FTimeout = value; }
    // Stored; the launcher always waits.
    bool Wait() const { return FWait; }
    void SetWait(bool value) { FWait = value; }

    // Starts FileName with Parameters and waits until it is ready for input (at most
    // InputIdleWaitLimitMs; at once for a program that ends or reports at its start). Raises
    // EProgramLauncherFailed when the start fails.
    void Execute();
    // Starts the program as Execute does and waits for its end, at most timeoutMs: true with its
    // exit code, false when it still runs after that time (it is left running).
    bool ExecuteAndWait(uint32_t timeoutMs, int& exitCode);

private:
    std::string FFileName, FParameters, FAction = "Open", FStartDir;
    TplShowMode FShowMode = smNormal;
    int32_t FTimeout = -1;
    bool FWait = true;
};

// The text of a launch error code ("File not found", ...; "Unknown error" for codes the table does
// not know).
std::string LaunchErrorText(int code);

// Splits a command line into the program and its parameters the way Windows does when it is
// given only a command line: a program name in double quotes runs to the closing quote; an
// unquoted one is tried at each blank from the left, and the first text that names an existing
// file (also with ".exe" appended when it has no extension) is the program, so an unquoted path
// with blanks ("C:\Program Files\Ostra\uninstall.exe Ostra Database Engine") still finds its
// program; when none does, the program is the first word. The parameters are the rest of the line
// after the blanks that follow the program.
void SplitProgramFromCommandLine(const std::string& commandLine, std::string& program, std::string& parameters);

// The native path of the machine tool that runs batch files: OSTRA_MACHINE_TOOL when set, else
// "OstraMachine" beside the running program when it is there, else the one of the build.
std::string MachineToolPath();

}  // namespace ostra
