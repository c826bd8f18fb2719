// The install component tree. Every component of an install project is an install container;
// the form owns them all, and each install object's Container property makes it the child of
// another container. Children stand sorted by registered type (groups 500, folders and the run
// 1000, files 2000, registry components 8500, dialogs and managers 9000), which also decides who
// hears dialog codes (2000 and above) and, in the run, the install phases.
//
// Two notification channels join the components: dialog codes (-999 .. -962) that a container
// sends down to its direct children (SendDialogCode), and information codes (1001 .. 1016) that a
// child sends up to its container (DoInformationEventControl). The parameter objects that travel
// with them are declared here.
//
// Loading: while a component is read from its form (csLoading) the setters only store. The
// defaults that the constructor picks at design time (Container, DestDirType) are dropped again in
// Loaded when the stream did not set the property. References between components are resolved
// after the whole form is read, so Container assignments build the child lists in stream order.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "host/Component.h"
#include "host/Set.h"
#include "installer/library/InstallRoot.h"
#include "installer/library/cmp_TFrnmCompress.h"
#include "installer/library/routines_API.h"
#include "installer/library/routines_Exceptions.h"

namespace ostra {

class TCustomPathSpecifier;
class TInstallContainer;

// Errors of the component tree.
class IEInstallContainer : public IException {
public:
    using IException::IException;
};
class IEContainerList : public IException {
public:
    using IException::IException;
};

enum TInstallType { itFull, itDefault, itCompact, itCustom };
using TInstallTypeSet = TSet<TInstallType>;

using TInstallContainerNotifyEvent = std::function<void(TInstallContainer* Container)>;

// Registered type codes.
inline constexpr int rtInstallGroup = 500;
inline constexpr int rtFileContainer = 1000;
inline constexpr int rtInstallFile = 2000;
inline constexpr int rtInstallRegistry = 8500;
inline constexpr int rtDialog = 9000;

// Dialog codes (sent down) and information codes (sent up).
enum : int {
    dcProcessIncluded = -999, dcFileStatus = -998, dcReplaceFile = -997, dcStepEnded = -996, dcGoodInstall = -995,
    dcBadInstall = -994, dcNewDisk = -993, dcContainerStarts = -992, dcBeforeProcess = -990, dcAfterProcess = -989,
    dcDownloadStatus = -988, dcReboot = -987, dcAfterInitialized = -986, dcBeforeReadArchiveInfo = -984,
    dcAfterReadArchiveInfo = -983, dcShowLicense = -981, dcBeforeInstallWizard = -980, dcGoodInstallWizard = -979,
    dcBadInstallWizard = -978, dcShowReadme = -977, dcShowStatusText = -974, dcHideStatusText = -973,
    dcProcessRegistry = -968, dcRegistration = -962,
};
enum : int {
    icFileInstalled = 1001, icBeforeInstall = 1002, icReplacing = 1003, icBeforeCompress = 1004,
    icAfterCompress = 1005, icBeforeCopy = 1006, icAfterCopy = 1007, icInstallStatus = 1008,
    icCompressStatus = 1009, icCopyStatus = 1010, icNewDisk = 1011, icPassStarts = 1012, icPassEnded = 1013,
    icDownloadBlock = 1014, icFileSkipped = 1015, icTargetKept = 1016,
};

// Parameter objects: made by the sender for one notification and freed right after it.
class TMessageParameter : public TObject {
public:
    explicit TMessageParameter(std::string message) : Message(std::move(message)) {}
    std::string Message;
};
class TDiskParameter : public TObject {
public:
    int DiskNumber = 0;  // the volume asked for
    std::string Path;    // where it is expected; the receiver may change it
};
class TFileStatusParameter : public TObject {
public:
    int FileBytesDone = 0;
    int FilePercent = 0;
    std::string FileName;
    TlzhFileStats FileStats;
    int TotalBytesDone = 0;
    int TotalPercent = 0;
};
class TDownloadStatusParameter : public TObject {
public:
    int Bytes = 0;      // size of the block just received
    std::string FileName;
    int FileSize = 0;   // expected size, 0 when unknown
    int TotalBytes = 0; // received so far
    int Percent = 0;    // DownloadPercent(TotalBytes, FileSize)
};
// TotalBytes of FileSize in percent, rounded and never above 100; 0 when the size is unknown.
int DownloadPercent(int64_t totalBytes, int64_t fileSize);
// The two-entry list that travels with some codes: the install file, then the parameter object.
class TParameterPair : public TObject {
public:
    TParameterPair(TObject* file, TObject* parameter) : File(file), Parameter(parameter) {}
    TObject* File;
    TObject* Parameter;
};

// Base of every install component.
class TInstallContainer : public TComponent {
public:
    // `ARegisteredType`: the class's registered type code (0 for none). It is given to the
    // constructor because a new object may join a container before its own constructor has run.
    explicit TInstallContainer(TComponent* AOwner, int ARegisteredType = 0);
    ~TInstallContainer() override;

    // --- the tree
    int ChildCount() const { return static_cast<int>(FChildren.size()); }
    // Raises IEInstallContainer for an index outside 0..ChildCount-1.
    TInstallContainer* Children(int index) const;
    // Inserts `Child` before the first child of the same or a higher registered type (a class named
    // TInstallBDE goes first). Raises IEInstallContainer for null and for a circular reference.
    virtual void AddObject(TInstallContainer* Child);
    // Takes `Child` out of the list (null does nothing).
    virtual void RemoveObject(TInstallContainer* Child);
    // Drops what this component holds of `AComponent`, which is being destroyed.
    virtual void RemoveReferences(TComponent* AComponent);
    // The number of children of class C (or a descendant); the index-th of them, raising
    // IEInstallContainer when there is none; freeing them all, the last first.
    template <class C>
    int CountOfClass() const {
        int n = 0;
        for (TInstallContainer* c : FChildren) n += dynamic_cast<C*>(c) != nullptr;
        return n;
    }
    template <class C>
    C* Comp(int index) const {
        int n = 0;
        for (TInstallContainer* c : FChildren)
            if (C* typed = dynamic_cast<C*>(c))
                if (n++ == index) return typed;
        CompError(index, n);
    }
    template <class C>
    void FreeChildrenOfClass() {
        for (int i = ChildCount() - 1; i >= 0; --i)
            if (i < ChildCount() && dynamic_cast<C*>(FChildren[i])) delete FChildren[i];
    }

    // --- type and processing
    // The registered type code; raises IEInstallContainer "Class must declare a registered type"
    // for a class without one.
    virtual int RegisteredType() const;
    // Applies the OS, Include and install-type tests and runs the component's step between its
    // events and dialog codes; a silent abort (EAbort) inside ends only this component's step.
    virtual void Process();
    // The step: the base marks the component processed and processes every child that its
    // container processes, in child order.
    virtual void InstallObjects();
    virtual bool IsSelected() const;
    virtual void FinishAfterReboot() {}
    virtual void LanguageChanged() {}
    // Writes the component's part of the uninstall record under `RecordKey`; empty in the base.
    virtual void WriteUninstallInfo(const std::string& RecordKey) {}
    // Sets SelectedInstallType of every child, recursively, then of this component.
    void SetSelectedInstallType(TInstallType value);

    // --- notifications
    virtual void DoInformationEventControl(TInstallContainer* Child, int Code, TObject* Parameter) {}
    virtual void DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) {}
    // Sends -974 with the text / -973 to the children.
    virtual void ShowStatusText(const std::string& text);
    void HideStatusText();

    // --- destination
    const std::string& DestDir() const { return FDestDir; }
    virtual void SetDestDir(const std::string& value) { FDestDir = value; }
    TCustomPathSpecifier* DestDirType() const { return FDestDirType; }
    // Outside loading the specifier validates this component first (and may raise, leaving the
    // old value).
    virtual void SetDestDirType(TCustomPathSpecifier* value);
    // The specifier's folder for this component followed by DestDir, without a trailing backslash.
    virtual std::string GetFullDestDir();

    // --- properties
    bool ProcessedByContainer() const { return FProcessedByContainer; }
    bool Include() const { return FInclude; }
    void SetInclude(bool value) { FInclude = value; }
    bool Processed() const { return FProcessed; }
    TInstallType SelectedInstallType() const { return FSelectedInstallType; }
    bool Uninstall() const { return FUninstall; }
    void SetUninstall(bool value) { FUninstall = value; }
    OSSet OS() const { return FOS; }
    void SetOS(OSSet value) { FOS = value; }
    TInstallTypeSet InstallTypes() const { return FInstallTypes; }
    // An empty set stores [itFull].
    void SetInstallTypes(TInstallTypeSet value) { FInstallTypes = value.Empty() ? TInstallTypeSet{itFull} : value; }
    int Order() const { return FOrder; }
    virtual void SetOrder(int value) { FOrder = value; }

    TInstallContainerNotifyEvent OnBeforeProcess, OnAfterProcess;

    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
    bool Loading() const { return ComponentState().Contains(csLoading); }
    [[noreturn]] void CompError(int index, int count) const;

    bool FProcessedByContainer = false;
    bool FProcessed = false;
    bool FDestDirTypeAssigned = false;
    bool FDefaultDestDirTypePending = false;
    TCustomPathSpecifier* FDestDirType = nullptr;

private:
    int FRegisteredType;
    std::vector<TInstallContainer*> FChildren;
    bool FInclude = true;
    TInstallType FSelectedInstallType = itFull;
    bool FUninstall = true;
    OSSet FOS;
    TInstallTypeSet FInstallTypes{itFull, itDefault, itCompact};
    int FOrder = -1;
    std::string FDestDir;
};

// An install container that has a container of its own.
class TInstallObject : public TInstallContainer {
public:
    explicit TInstallObject(TComponent* AOwner, int ARegisteredType = 0);

    TInstallContainer* Container() const { return FContainer; }
    // Moves the object under `value` (AddObject may raise, leaving everything as it was). Outside
    // loading a new container also sets DestDirType to the container's folder specifier and clears
    // DestDir; null drops that specifier.
    virtual void SetContainer(TInstallContainer* value);

    // During an install run only an object whose container was processed (or that has none) is processed.
    void Process() override;
    void RemoveReferences(TComponent* AComponent) override;
    void Loaded() override;

protected:
    bool FContainerAssigned = false;
    bool FDefaultContainerPending = false;

private:
    TInstallContainer* FContainer = nullptr;
};

// Sends `Code` from `Sender` to every direct child of `Container` whose registered type is 2000 or
// more, in child order.
void SendDialogCode(TInstallContainer* Container, TInstallContainer* Sender, int Code, TObject* Parameter);

// Every live install container, in creation order.
const std::vector<TInstallContainer*>& InstallComponents();

// True when the component is being designed.
bool IsDesigning(const TComponent* component);
// The current root's DistributeType; dtTraditionalNet without a root.
TDistributeType CurrentDistributeType();
// The current root's in-run flag; false without a root.
bool InstallRunning();

// The OS set a new component starts with: the Windows versions, or [osLinux] on Linux.
OSSet DefaultOSSet();

}  // namespace ostra
