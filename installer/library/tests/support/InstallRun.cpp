// The install run of the tests (see the header).
#include "installer/library/tests/support/InstallRun.h"

#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Registry.h"

namespace ostra::test {

void TFinishingObject::FinishAfterReboot() {
    if (Fail) throw IEInstall("%s cannot finish", {Name()});
    TreeLog().push_back(Name() + " finished");
}

InstallRunFixture::InstallRunFixture() {
    TreeLog().clear();
    FOldTerminate = SetApplicationTerminateProc([this] { ++terminateRequests; });
    SetProgram("C:\\Dev\\setup.exe", "setup program 01");
    SetApplicationParameters({});
}

InstallRunFixture::~InstallRunFixture() {
    Unload();
    SetApplicationExeName("");
    SetApplicationParameters({});
    SetApplicationTerminateProc(FOldTerminate);
    SetRunRecordKey("");
}

void InstallRunFixture::SetProgram(const std::string& winPath, const std::string& content) {
    PutWinFile(winPath, content);
    SetApplicationExeName(WinToNative(winPath));
}

TInstall* InstallRunFixture::Load(const std::function<void(TCustomForm&, TInstall&)>& build) {
    Unload();
    TreeLog().clear();
    form = std::make_unique<TCustomForm>(nullptr);
    form->SetName("SetupForm");
    install = CreateComponent<TInstall>(form.get());
    install->SetName("Install1");
    if (build) build(*form, *install);
    install->Loaded();
    return install;
}

void InstallRunFixture::Unload() {
    form.reset();
    install = nullptr;
}

TTestDialog* InstallRunFixture::AddDialog(const std::string& name) {
    auto* dialog = CreateComponent<TTestDialog>(form.get());
    dialog->SetName(name);
    dialog->SetContainer(install);
    return dialog;
}

std::vector<int> InstallRunFixture::Codes(const std::string& name) const {
    std::vector<int> codes;
    for (const std::string& line : TreeLog()) {
        if (line.compare(0, name.size() + 1, name + " ") != 0) continue;
        const size_t from = line.find(" from ");
        const size_t blank = line.find(' ');
        if (from == std::string::npos || blank == from) continue;
        int code = 0;
        try {
            code = std::stoi(line.substr(blank + 1, from - blank - 1));
        } catch (const std::exception&) {
            continue;
        }
        if (code < 0) codes.push_back(code);
    }
    return codes;
}

void InstallLibraryFolder(const std::string& loaderPath) {
    WriteRegistryString(2, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path", "C:\\Fernmoor");
    PutWinFile("C:\\Fernmoor\\F32V52.TXT", "marker");
    WinCopyFile(NativeToWin(loaderPath), "C:\\Fernmoor\\FernmoorLoadProgram.exe", false);
}

}  // namespace ostra::test
