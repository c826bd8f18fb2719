// The install project of the file tests.
#include "installer/library/tests/support/FileInstall.h"

#include <fstream>
#include <sstream>

#include "installer/library/WinFileSystem.h"
#include "installer/library/cmp_TPathSpecifier.h"

namespace ostra::test {

TFileInstallRoot::TFileInstallRoot(TComponent* AOwner) : TFileContainer(AOwner, rtFileContainer, false) {
    FRaiseAfterInstallObjects = false;
    SetCurrentInstall(this);
}

TFileInstallRoot::~TFileInstallRoot() {
    if (CurrentInstall() == this) SetCurrentInstall(nullptr);
}

void TFileInstallRoot::DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) {
    if (CurrentAction() != 0) Codes.push_back(Code);
    TFileContainer::DoInformationEventControl(Child, Code, Parameter);
}

FileProject::FileProject() {
    root = CreateComponent<TFileInstallRoot>(&form);
    root->SetName("Install1");
    root->SetArchiveFile("C:\\Setup\\files.1");
    auto* folder = CreateComponent<TPathSpecifier>(&form);
    folder->SetName("psProduct");
    folder->OnGetPath = [](TComponent*, std::string& path) { path = "C:\\Program Files\\Ostra"; };
    root->SetDestDirType(folder);
}

FileProject::~FileProject() {
    // The form frees the components; the root first leaves its place as the current install.
    SetCurrentInstall(nullptr);
}

TCustomInstallFile* FileProject::AddFile(const std::string& name, const std::string& content,
                                         TInstallContainer* container, const std::string& componentName) {
    PutWinFile("C:\\Src\\" + name, content);
    auto* file = CreateComponent<TInstallFile>(&form);
    std::string component = componentName;
    if (component.empty())
        for (char c : name) component += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    file->SetName(component);
    file->SetIncludeFromDir("C:\\Src");
    file->SetFileName(name);
    file->SetContainer(container);
    return file;
}

void FileProject::Build() { root->Compress(coForceNetFilesLocal); }

std::string FileProject::Read(const std::string& winPath) {
    std::ifstream in(WinToNative(winPath), std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace ostra::test
