// FernmoorLoadProgram: the loading program of a self-extracting setup. Started as "setup.exe" (a
// copy of this program with the archives and the trailer appended, installer/library/SelfExtract.h),
// it checks the trailer, unpacks the setup program and its extra files into a new folder of the
// machine's temporary folder, and starts the setup program there with "-s" (the folder of
// "setup.exe"), "-e" (its file name) and "-c" (remove the loader's folder at the end), followed by
// its own arguments. It waits for the setup program and ends with its exit code.
//
// A file without a valid trailer (a plain copy, a damaged download) is refused with a message on
// standard error and exit code 1 before anything is unpacked.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/AnsiCodec.h"
#include "host/Forms.h"
#include "installer/library/SelfExtract.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TProgramLauncher.h"

using namespace ostra;

int main(int argc, char** argv) {
    try {
        const std::string self = NativeToWin(ApplicationExeName());
        std::string folder;
        const std::string program = UnpackSelfExtractingSetup(self, folder);
        std::vector<std::string> arguments;
        for (int i = 1; i < argc; ++i) arguments.push_back(Utf8ToAnsi(argv[i]));
        TProgramLauncher launcher(nullptr);
        launcher.SetFileName(program);
        launcher.SetParameters(LoaderSetupParameters(self, arguments));
        int exitCode = 0;
        try {
            // The wait is bounded (about 49 days); a setup program still running then is left to run.
            return launcher.ExecuteAndWait(UINT32_MAX, exitCode) ? exitCode : 0;
        } catch (...) {
            // A setup program that cannot start leaves nothing behind.
            for (const std::string& entry : WinFolderEntries(folder)) WinDeleteFile(folder + "\\" + entry);
            WinRemoveDir(folder);
            throw;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
