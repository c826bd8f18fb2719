// Path specifiers: components that name a folder whose real place is known only on the target
// machine. Install components point at a specifier (DestDirType, ArchiveFileType, a registry
// entry's PathSpecifier) and ask it for the folder with GetPath(themselves).
//
// Three kinds: TPathSpecifier, whose folder comes from its OnGetPath handler; the 35 standard
// specifiers (TStandardPathSpecifier descendants, classes named Tps..., registered in a class
// list in a fixed order: the 14 core ones here, then specifiers_windows, then specifiers_Office);
// and the folder of one file container, which that container makes for its children.
//
// Three process-wide lists, which do not own their entries (the forms do): every live specifier
// (PathSpecifiers), every live standard specifier (StandardPathSpecifiers) and the registered
// standard classes (StandardPathSpecifierClasses). The first install component placed on a form
// creates one instance of every standard class that has none yet (CreateStandardSpecifiers).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "host/ClassRegistry.h"
#include "host/Component.h"
#include "installer/library/routines_Exceptions.h"

namespace ostra {

class IEPathSpecifier : public IException {
public:
    using IException::IException;
};
class IEPathSpecifierList : public IException {
public:
    using IException::IException;
};
class IEPathSpecifierClassList : public IException {
public:
    using IException::IException;
};

// Asks a handler for the folder of a component: Path comes in empty.
using TGetPathEvent = std::function<void(TComponent* Component, std::string& Path)>;

// Base of every specifier; the constructor adds it to PathSpecifiers, the destructor removes it.
class TCustomPathSpecifier : public TComponent {
public:
    explicit TCustomPathSpecifier(TComponent* AOwner);
    ~TCustomPathSpecifier() override;

    // Raises when `Component` may not use this specifier; nothing in the base.
    virtual void ValidateUser(TComponent* Component) {}
    // The long display text ("Unspecified" in the base), and as `Component` sees it.
    virtual std::string GetDescription() const { return "Unspecified"; }
    virtual std::string GetDescriptionFor(TComponent* Component) { return GetDescription(); }
    // The folder for `Component`: the base asks OnGetPath (empty without a handler).
    virtual std::string GetPath(TComponent* Component);
    // The short display text (the description in the base), and as `Component` sees it.
    virtual std::string GetShortCaption() const { return GetDescription(); }
    virtual std::string GetShortCaptionFor(TComponent* Component) { return GetDescriptionFor(Component); }

    TGetPathEvent OnGetPath;
};

// A project's own specifier: its folder is what OnGetPath gives.
class TPathSpecifier : public TCustomPathSpecifier {
public:
    explicit TPathSpecifier(TComponent* AOwner);
    std::string GetDescription() const override { return FDescription; }
    const std::string& Description() const { return FDescription; }
    void SetDescription(const std::string& value) { FDescription = value; }

    // Expands path macros in one pass: "%p" or "%P" becomes `path`, "%%" one percent sign, a
    // percent sign before any other character is dropped, and one at the end disappears.
    static std::string ExpandText(const std::string& text, const std::string& path);

private:
    std::string FDescription = "My cool new path specifier";
};

// Base of the standard specifiers; the constructor adds it to StandardPathSpecifiers.
class TStandardPathSpecifier : public TCustomPathSpecifier {
public:
    // `identifier`: the class name without its leading T.
    TStandardPathSpecifier(TComponent* AOwner, std::string identifier);
    ~TStandardPathSpecifier() override;
    const std::string& Identifier() const { return FIdentifier; }

protected:
    // The error a specifier raises when it has no folder on the running Windows.
    [[noreturn]] void RaiseNoFolder(TComponent* Component) const;

private:
    std::string FIdentifier;
};

// A registered standard class: its name, the instance test and the constructor.
struct TPathSpecifierClass {
    std::string Name;
    std::function<bool(const TCustomPathSpecifier*)> IsInstance;
    std::function<TStandardPathSpecifier*(TComponent* AOwner)> Create;
};
template <class T>
TPathSpecifierClass PathSpecifierClassOf() {
    return {ClassNameOf(typeid(T)), [](const TCustomPathSpecifier* s) { return dynamic_cast<const T*>(s) != nullptr; },
            [](TComponent* owner) -> TStandardPathSpecifier* { return new T(owner); }};
}

class TPathSpecifierClassList;
// Registers T as a standard class: in `list` and, for form streams, in the class registry.
template <class T>
void RegisterPathSpecifierClass(TPathSpecifierClassList& list);

// A list of specifiers that does not own them.
class TPathSpecifierList {
public:
    virtual ~TPathSpecifierList() = default;
    int Count() const { return static_cast<int>(FItems.size()); }
    TCustomPathSpecifier* Items(int index) const { return FItems.at(static_cast<size_t>(index)); }
    // Raises IEPathSpecifierList "Tried to add a nil object to the path specifier list" for null.
    void Add(TCustomPathSpecifier* specifier);
    void Remove(TCustomPathSpecifier* specifier);
    // The first entry of the class or a descendant; raises IEPathSpecifier "Could not find the
    // path specifier" when there is none.
    virtual TCustomPathSpecifier& Find(const TPathSpecifierClass& cls) const;
    template <class T>
    T& Find() const {
        return static_cast<T&>(Find(PathSpecifierClassOf<T>()));
    }
    // Creates, owned by `owner` and named by its identifier, one instance of every registered
    // standard class in registration order; with `lookForExisting` a class that already has a live
    // instance anywhere in the process is skipped. Nothing without an owner.
    void CreateStandardSpecifiers(TComponent* container, TComponent* owner, bool lookForExisting);

private:
    std::vector<TCustomPathSpecifier*> FItems;
};
class TStandardPathSpecList : public TPathSpecifierList {};

// The registered standard classes in registration order.
class TPathSpecifierClassList {
public:
    // Raises IEPathSpecifierClassList "Tried to add a nil object to the path specifier list" for
    // a class without constructor.
    void Add(const TPathSpecifierClass& cls);
    int Count() const { return static_cast<int>(FItems.size()); }
    const TPathSpecifierClass& Items(int index) const { return FItems.at(static_cast<size_t>(index)); }

private:
    std::vector<TPathSpecifierClass> FItems;
};

template <class T>
void RegisterPathSpecifierClass(TPathSpecifierClassList& list) {
    RegisterClass<T>();
    list.Add(PathSpecifierClassOf<T>());
}

TPathSpecifierList& PathSpecifiers();
TStandardPathSpecList& StandardPathSpecifiers();
// Registers the 35 standard classes (and their names for form streams) on first use.
TPathSpecifierClassList& StandardPathSpecifierClasses();

// Declares a standard specifier class with its own description, short caption and folder.
#define OSTRA_STANDARD_SPECIFIER(Class)                                                        \
    class Class : public TStandardPathSpecifier {                                              \
    public:                                                                                    \
        explicit Class(TComponent* AOwner) : TStandardPathSpecifier(AOwner, &#Class[1]) {}     \
        std::string GetDescription() const override;                                          \
        std::string GetShortCaption() const override;                                          \
        std::string GetPath(TComponent* Component) override;                                   \
    }

// The core standard specifiers. The folder rules: routines_ExpandPaths.h and the .cpp.
OSTRA_STANDARD_SPECIFIER(TpsBDEDLL);
OSTRA_STANDARD_SPECIFIER(TpsCommonFiles);
OSTRA_STANDARD_SPECIFIER(TpsDesktopMenu);
OSTRA_STANDARD_SPECIFIER(TpsProgramFiles);
OSTRA_STANDARD_SPECIFIER(TpsProgramMenu);
OSTRA_STANDARD_SPECIFIER(TpsStartMenu);
OSTRA_STANDARD_SPECIFIER(TpsStartupMenu);
OSTRA_STANDARD_SPECIFIER(TpsSystem);
OSTRA_STANDARD_SPECIFIER(TpsWindow);

// The folder of the component's container: the component must be an install object with a container.
class TpsContainerDestDir : public TStandardPathSpecifier {
public:
    explicit TpsContainerDestDir(TComponent* AOwner) : TStandardPathSpecifier(AOwner, "psContainerDestDir") {}
    void ValidateUser(TComponent* Component) override;
    std::string GetDescription() const override { return "Path of the group (container)"; }
    // "Main installation directory" for the root, else "Path of the <..> group/directory".
    std::string GetDescriptionFor(TComponent* Component) override;
    std::string GetShortCaptionFor(TComponent* Component) override;
    std::string GetPath(TComponent* Component) override;
};

// The archive file of the component's container, which must be file-related.
class TpsContainerArchiveFile : public TStandardPathSpecifier {
public:
    explicit TpsContainerArchiveFile(TComponent* AOwner)
        : TStandardPathSpecifier(AOwner, "psContainerArchiveFile") {}
    void ValidateUser(TComponent* Component) override;
    std::string GetDescription() const override { return "Path to the archive file of the container"; }
    std::string GetShortCaption() const override { return "Container archive file"; }
    std::string GetPath(TComponent* Component) override;
};

// The folder the setup was started from; needs an install root.
class TpsInstallSource : public TStandardPathSpecifier {
public:
    explicit TpsInstallSource(TComponent* AOwner) : TStandardPathSpecifier(AOwner, "psInstallSource") {}
    void ValidateUser(TComponent* Component) override;
    std::string GetDescription() const override { return "Path from which the user ran the install"; }
    std::string GetShortCaption() const override { return "Install source"; }
    std::string GetPath(TComponent* Component) override;
};

// The main installation folder; needs an install root and may not be used by the root itself.
class TpsMainInstall : public TStandardPathSpecifier {
public:
    explicit TpsMainInstall(TComponent* AOwner) : TStandardPathSpecifier(AOwner, "psMainInstall") {}
    void ValidateUser(TComponent* Component) override;
    std::string GetDescription() const override { return "Main installation directory"; }
    std::string GetShortCaption() const override { return "Main install dir"; }
    std::string GetPath(TComponent* Component) override;
};

// The main archive ("files.1" beside the setup, in ArchiveFolder once the user named the folder of
// the next disk, or the self-extracting setup itself). A file path, not a folder.
class TpsMainArchiveFile : public TStandardPathSpecifier {
public:
    explicit TpsMainArchiveFile(TComponent* AOwner) : TStandardPathSpecifier(AOwner, "psMainArchiveFile") {}
    void ValidateUser(TComponent* Component) override;
    std::string GetDescription() const override {
        return "Archive containing most or all non-internet installation files";
    }
    std::string GetShortCaption() const override { return "Main archive"; }
    std::string GetPath(TComponent* Component) override;

    std::string ArchiveFolder;
};

}  // namespace ostra
