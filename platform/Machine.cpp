// The machine folder: its location, its drives and the restart request record.
#include "platform/Machine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/LastError.h"

namespace ostra::platform {

std::string MachineRoot() {
    const char* machine = std::getenv("OSTRA_MACHINE");
    if (machine && *machine) {
        std::string root = machine;
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        return root;
    }
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data) return std::string(data) + "/ostra/machine";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/ostra/machine";
}

std::string MachineFile(const std::string& name) { return MachineRoot() + "/" + name; }

std::string DriveFolder(char letter) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return "";
    if (letter == 'Z') return "/";
    return MachineFile(std::string("drive_") + static_cast<char>(letter - 'A' + 'a'));
}

bool RecordRestartRequest() {
    std::error_code ec;
    std::filesystem::create_directories(MachineRoot(), ec);
    std::string line = std::to_string(getpid()) + "\n";
    int fd = open(MachineFile("restart-requested").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError(errno);
        return false;
    }
    bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    int error = errno;
    close(fd);
    if (!ok) SetLastError(error);
    return ok;
}

int RestartRequestCount() {
    std::ifstream in(MachineFile("restart-requested"));
    int count = 0;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) ++count;
    return count;
}

bool ClearRestartRequests() {
    if (unlink(MachineFile("restart-requested").c_str()) == 0 || errno == ENOENT) return true;
    SetLastError(errno);
    return false;
}

}  // namespace ostra::platform
