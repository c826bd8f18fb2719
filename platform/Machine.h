// The stand-in machine: one folder on the host that plays the part of the Windows computer the
// installer, the setup program and the uninstaller were written for. It holds the registry, the
// drives and the record of a requested restart, so that a test can give every process it starts
// the same machine by pointing one environment variable at a temporary folder.
//
// Location: the folder named by the environment variable OSTRA_MACHINE; without it
// $XDG_DATA_HOME/ostra/machine, else $HOME/.local/share/ostra/machine. The variable is read on
// every call, so a test that changes it moves every later call to the new machine.
//
// Layout of the machine folder:
//   registry           the registry's contents (platform/Registry.h)
//   registry.lock      the registry's lock between processes and its change counter
//   drive_a ... drive_y the native folders that stand for the drives A: to Y:
//   restart-requested  one line per restart request not yet carried out (RecordRestartRequest)
// The drive Z: stands for the host's own root folder "/", so every host path has a Windows form.
#pragma once
#include <string>

namespace ostra::platform {

// The machine folder (without a trailing slash).
std::string MachineRoot();

// The path of a file or folder directly inside the machine folder.
std::string MachineFile(const std::string& name);

// The native folder that stands for a drive: "/" for Z (either case), MachineFile("drive_c") for
// C, and so on; "" for a character that is not a letter.
std::string DriveFolder(char letter);

// Records that a program asked the machine to restart. A restart is never carried out on the
// host: the request stays recorded until the restart tool performs what a restart would do
// (installer/machine) and clears it. False with the last error when it cannot be written.
bool RecordRestartRequest();

// The number of restart requests recorded and not yet cleared.
int RestartRequestCount();

// Forgets every recorded restart request.
bool ClearRestartRequests();

}  // namespace ostra::platform
