// Path specifiers: the base classes, the three lists, macro expansion, the automatic creation of
// the standard specifiers and the 14 core standard specifiers.
#include "installer/library/cmp_TPathSpecifier.h"

#include <algorithm>

#include "host/ClassRegistry.h"
#include "host/PropertyRegistry.h"
#include "installer/library/InstallRoot.h"
#include "installer/library/cmp_TInstallContainer.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_ExpandPaths.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"
#include "installer/library/specifiers_Office.h"
#include "installer/library/specifiers_windows.h"

namespace ostra {

namespace {

[[maybe_unused]] const bool kPublished = Publish<TPathSpecifier, TComponent>().String(
    "Description", &TPathSpecifier::Description, &TPathSpecifier::SetDescription);

// Rule A: an install object with a container.
TInstallObject& RequireInstallObject(TComponent* Component, const std::string& identifier, const char* specifier) {
    auto* object = dynamic_cast<TInstallObject*>(Component);
    if (!object)
        throw IEPathSpecifier("%s must be a %s to use the %s path specifier",
                              {Component ? Component->Name() : std::string(), "TInstallObject", identifier});
    if (!object->Container())
        throw IEPathSpecifier(std::string("Cannot use ") + specifier + " for %s unless you assign a Container",
                              {object->Name()});
    return *object;
}

// Rule B: an install root exists.
IInstallRoot& RequireInstallRoot(TComponent* Component) {
    IInstallRoot* root = CurrentInstall();
    if (!root)
        throw IEPathSpecifier("There is no TInstall component so the path specifier could not be expanded for %s",
                              {Component ? Component->Name() : std::string()});
    return *root;
}

}  // namespace

// ---------------------------------------------------------------- lists

TPathSpecifierList& PathSpecifiers() {
    static TPathSpecifierList list;
    return list;
}
TStandardPathSpecList& StandardPathSpecifiers() {
    static TStandardPathSpecList list;
    return list;
}
TPathSpecifierClassList& StandardPathSpecifierClasses() {
    static TPathSpecifierClassList list = [] {
        TPathSpecifierClassList l;
        RegisterClass<TPathSpecifier>();
        RegisterPathSpecifierClass<TpsBDEDLL>(l);
        RegisterPathSpecifierClass<TpsCommonFiles>(l);
        RegisterPathSpecifierClass<TpsContainerArchiveFile>(l);
        RegisterPathSpecifierClass<TpsContainerDestDir>(l);
        RegisterPathSpecifierClass<TpsDesktopMenu>(l);
        RegisterPathSpecifierClass<TpsInstallSource>(l);
        RegisterPathSpecifierClass<TpsMainInstall>(l);
        RegisterPathSpecifierClass<TpsProgramFiles>(l);
        RegisterPathSpecifierClass<TpsProgramMenu>(l);
        RegisterPathSpecifierClass<TpsStartMenu>(l);
        RegisterPathSpecifierClass<TpsStartupMenu>(l);
        RegisterPathSpecifierClass<TpsSystem>(l);
        RegisterPathSpecifierClass<TpsMainArchiveFile>(l);
        RegisterPathSpecifierClass<TpsWindow>(l);
        RegisterWindowsSpecifiers(l);
        RegisterOfficeSpecifiers(l);
        return l;
    }();
    return list;
}

void TPathSpecifierList::Add(TCustomPathSpecifier* specifier) {
    if (!specifier) throw IEPathSpecifierList("Tried to add a nil object to the path specifier list");
    FItems.push_back(specifier);
}

void TPathSpecifierList::Remove(TCustomPathSpecifier* specifier) {
    auto it = std::find(FItems.begin(), FItems.end(), specifier);
    if (it != FItems.end()) FItems.erase(it);
}

TCustomPathSpecifier& TPathSpecifierList::Find(const TPathSpecifierClass& cls) const {
    for (TCustomPathSpecifier* s : FItems)
        if (cls.IsInstance(s)) return *s;
    throw IEPathSpecifier("Could not find the path specifier");
}

void TPathSpecifierList::CreateStandardSpecifiers(TComponent* container, TComponent* owner, bool lookForExisting) {
    if (!owner) return;
    const TPathSpecifierClassList& classes = StandardPathSpecifierClasses();
    for (int i = 0; i < classes.Count(); ++i) {
        const TPathSpecifierClass& cls = classes.Items(i);
        if (lookForExisting) {
            const TPathSpecifierList& all = PathSpecifiers();
            bool found = false;
            for (int j = 0; j < all.Count() && !found; ++j) found = cls.IsInstance(all.Items(j));
            if (found) continue;
        }
        TStandardPathSpecifier* created = cls.Create(owner);
        created->SetName(created->Identifier());
    }
}

void TPathSpecifierClassList::Add(const TPathSpecifierClass& cls) {
    if (!cls.Create || !cls.IsInstance)
        throw IEPathSpecifierClassList("Tried to add a nil object to the path specifier list");
    FItems.push_back(cls);
}

// ---------------------------------------------------------------- base classes

TCustomPathSpecifier::TCustomPathSpecifier(TComponent* AOwner) : TComponent(AOwner) { PathSpecifiers().Add(this); }
TCustomPathSpecifier::~TCustomPathSpecifier() { PathSpecifiers().Remove(this); }

std::string TCustomPathSpecifier::GetPath(TComponent* Component) {
    std::string path;
    if (OnGetPath) OnGetPath(Component, path);
    return path;
}

TPathSpecifier::TPathSpecifier(TComponent* AOwner) : TCustomPathSpecifier(AOwner) {}

std::string TPathSpecifier::ExpandText(const std::string& text, const std::string& path) {
    std::string result;
    bool pending = false;
    for (char c : text) {
        if (c == '%') {
            if (pending) result += '%';
            pending = !pending;
        } else if (pending) {
            if (c == 'p' || c == 'P')
                result += path;
            else
                result += c;
            pending = false;
        } else {
            result += c;
        }
    }
    return result;
}

TStandardPathSpecifier::TStandardPathSpecifier(TComponent* AOwner, std::string identifier)
    : TCustomPathSpecifier(AOwner), FIdentifier(std::move(identifier)) {
    StandardPathSpecifiers().Add(this);
}
TStandardPathSpecifier::~TStandardPathSpecifier() { StandardPathSpecifiers().Remove(this); }

void TStandardPathSpecifier::RaiseNoFolder(TComponent* Component) const {
    throw IEPathSpecifier("The %s path specifier names no folder on this version of Windows, so it could not be "
                          "expanded for %s",
                          {FIdentifier, Component ? Component->Name() : std::string()});
}

// ---------------------------------------------------------------- core standard specifiers

std::string TpsBDEDLL::GetDescription() const { return "Borland Database Engine DLL Path"; }
std::string TpsBDEDLL::GetShortCaption() const { return "BDE DLL"; }
std::string TpsBDEDLL::GetPath(TComponent*) {
    std::string path = ReadRegistryString(4, "\\Software\\Borland\\Database Engine", "DLLPath", "");
    if (path.empty()) path = JoinPath(GetProgramFilesDir(), "Borland\\Common Files\\BDE");
    return GetDelimitedField(path, 1, ';');
}

std::string TpsCommonFiles::GetDescription() const {
    return "Path of the common files directory under the program files directory";
}
std::string TpsCommonFiles::GetShortCaption() const { return "Common files"; }
std::string TpsCommonFiles::GetPath(TComponent*) { return GetCommonFilesDir(); }

std::string TpsDesktopMenu::GetDescription() const { return "Path of the Desktop"; }
std::string TpsDesktopMenu::GetShortCaption() const { return "Desktop"; }
std::string TpsDesktopMenu::GetPath(TComponent*) { return GetDesktopDir(); }

std::string TpsProgramFiles::GetDescription() const { return "Path of the program files directory"; }
std::string TpsProgramFiles::GetShortCaption() const { return "Program files"; }
std::string TpsProgramFiles::GetPath(TComponent*) { return GetProgramFilesDir(); }

std::string TpsProgramMenu::GetDescription() const { return "Path of the Programs folder under the Start Menu"; }
std::string TpsProgramMenu::GetShortCaption() const { return "Program menu"; }
std::string TpsProgramMenu::GetPath(TComponent*) { return GetProgramsMenuDir(); }

std::string TpsStartMenu::GetDescription() const { return "Path of Start Menu"; }
std::string TpsStartMenu::GetShortCaption() const { return "Start menu"; }
std::string TpsStartMenu::GetPath(TComponent*) { return GetStartMenuDir(); }

std::string TpsStartupMenu::GetDescription() const {
    return "Path of the Startup folder in the Programs folder under the Start Menu";
}
std::string TpsStartupMenu::GetShortCaption() const { return "Startup menu"; }
std::string TpsStartupMenu::GetPath(TComponent*) { return GetStartupDir(); }

std::string TpsSystem::GetDescription() const { return "Path of system directory"; }
std::string TpsSystem::GetShortCaption() const { return "System dir"; }
std::string TpsSystem::GetPath(TComponent*) { return RemoveBackslash(GetSystemDir()); }

std::string TpsWindow::GetDescription() const { return "Path of the Windows directory"; }
std::string TpsWindow::GetShortCaption() const { return "Windows dir"; }
std::string TpsWindow::GetPath(TComponent*) { return RemoveBackslash(GetWindowsDir()); }

void TpsContainerDestDir::ValidateUser(TComponent* Component) {
    RequireInstallObject(Component, Identifier(), "ddContainerDestDir");
}

std::string TpsContainerDestDir::GetPath(TComponent* Component) {
    ValidateUser(Component);
    return RequireInstallObject(Component, Identifier(), "ddContainerDestDir").Container()->GetFullDestDir();
}

std::string TpsContainerDestDir::GetDescriptionFor(TComponent* Component) {
    try {
        TInstallContainer* container = RequireInstallObject(Component, Identifier(), "ddContainerDestDir").Container();
        if (IsInstallRoot(container)) return "Main installation directory";
        if (auto* described = dynamic_cast<IDescribedContainer*>(container))
            return Format(described->IsInstallGroup() ? "Path of the <%s> group" : "Path of the <%s> directory",
                          {described->Description()});
        return Format("Path of the <%s> group", {container->Name()});
    } catch (const std::exception&) {
        return GetDescription();
    }
}

std::string TpsContainerDestDir::GetShortCaptionFor(TComponent* Component) {
    try {
        TInstallContainer* container = RequireInstallObject(Component, Identifier(), "ddContainerDestDir").Container();
        if (IsInstallRoot(container)) return "Main installation directory";
        if (auto* described = dynamic_cast<IDescribedContainer*>(container))
            return "<" + described->Description() + ">";
        return "<" + container->Name() + ">";
    } catch (const std::exception&) {
        return GetDescription();
    }
}

void TpsContainerArchiveFile::ValidateUser(TComponent* Component) {
    TInstallObject& object = RequireInstallObject(Component, Identifier(), "ddContainerArchiveFile");
    if (!dynamic_cast<IFileRelated*>(object.Container()))
        throw IEPathSpecifier(
            "Cannot use the ddContainerArchiveFile path specifier for %s because the Container is not a TFileRelated "
            "descendant",
            {object.Name()});
}

std::string TpsContainerArchiveFile::GetPath(TComponent* Component) {
    ValidateUser(Component);
    return dynamic_cast<IFileRelated*>(static_cast<TInstallObject*>(Component)->Container())->GetFullArchiveFile();
}

void TpsInstallSource::ValidateUser(TComponent* Component) { RequireInstallRoot(Component); }
std::string TpsInstallSource::GetPath(TComponent* Component) {
    return RemoveBackslash(RequireInstallRoot(Component).InstallSourceFolder());
}

void TpsMainInstall::ValidateUser(TComponent* Component) {
    IInstallRoot& root = RequireInstallRoot(Component);
    if (Component && root.RootContainer() == Component)
        throw IEPathSpecifier("Cannot use the ddMainInstallDir path specifier for a TInstall component");
}
std::string TpsMainInstall::GetPath(TComponent* Component) {
    ValidateUser(Component);
    return CurrentInstall()->RootContainer()->GetFullDestDir();
}

void TpsMainArchiveFile::ValidateUser(TComponent* Component) { RequireInstallRoot(Component); }
std::string TpsMainArchiveFile::GetPath(TComponent* Component) {
    IInstallRoot& root = RequireInstallRoot(Component);
    if (root.SelfExtracting()) {
        if (Trim(root.SelfExtractingName()).empty())
            throw IEInstall(
                "You forgot to pass in the name of the self-extracting executable. Usage example: \"-eSetup.exe\"");
        return JoinPath(root.InstallSourceFolder(), root.SelfExtractingName());
    }
    if (Trim(ArchiveFolder).empty()) return JoinPath(root.InstallSourceFolder(), "files.1");
    return JoinPath(ArchiveFolder, "files.1");
}

}  // namespace ostra
