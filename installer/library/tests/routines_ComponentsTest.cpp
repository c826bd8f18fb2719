// Unique names for created components.
#include <gtest/gtest.h>

#include "host/Component.h"
#include "installer/library/routines_Components.h"

using namespace ostra;

namespace {

class FileLike : public TComponent, public TUniqueNameAsFile {
public:
    using TComponent::TComponent;
};

}  // namespace

TEST(UniqueComponentName, InstallFilesAndOtherComponents) {
    TComponent form(nullptr);
    auto* first = CreateComponent<FileLike>(&form);
    auto* second = CreateComponent<FileLike>(&form);
    SetUniqueComponentName(first, "setup.exe");
    SetUniqueComponentName(second, "setup.exe");
    EXPECT_EQ(first->Name(), "IFsetup_exe");
    EXPECT_EQ(second->Name(), "IFsetup_exe1");
    auto* odd = CreateComponent<FileLike>(&form);
    SetUniqueComponentName(odd, "my file-2.tar.gz");
    EXPECT_EQ(odd->Name(), "IFmyfile2tar_gz");

    auto* plain = CreateComponent<TComponent>(&form);
    auto* plain2 = CreateComponent<TComponent>(&form);
    SetUniqueComponentName(plain, "Folder");
    SetUniqueComponentName(plain2, "Folder");
    EXPECT_EQ(plain2->Name(), "Folder1");
    auto* bad = CreateComponent<TComponent>(&form);
    EXPECT_THROW(SetUniqueComponentName(bad, "1st"), EComponentError);
}
