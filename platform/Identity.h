// The names that identify this process's user and machine in the lock file's user slots.
#pragma once
#include <string>

namespace ostra::platform {

// The login name of the user running the process; "" when it cannot be found.
std::string GetUserName();

// The host name of this computer; "" when it cannot be found.
std::string GetComputerName();

}  // namespace ostra::platform
