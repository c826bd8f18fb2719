// The install component tree: child order, the processing step, the dialog-code dispatch, the
// list of live install containers and the loading rules of Container and DestDirType.
#include "installer/library/cmp_TInstallContainer.h"

#include <algorithm>
#include <cmath>

#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "installer/library/cmp_TPathSpecifier.h"
#include "installer/library/routines_Strings.h"
#include "installer/library/routines_UninstallRecord.h"

namespace ostra {

namespace {

const char* const InstallTypeNames[] = {"itFull", "itDefault", "itCompact", "itCustom"};
const char* const OSNames[] = {"os31win32", "oswin95", "oswinNT", "oswinNT351", "osUnidentified",
                               "osLinux",   "oswin2K", "oswin98", "oswinME",    "oswinXP"};

[[maybe_unused]] const bool kPublished =
    Publish<TInstallContainer, TComponent>()
        .Boolean("Include", &TInstallContainer::Include, &TInstallContainer::SetInclude)
        .Default(true)
        .Set("InstallTypes", &TInstallContainer::InstallTypes, &TInstallContainer::SetInstallTypes, InstallTypeNames)
        .Default(TInstallTypeSet{itFull, itDefault, itCompact, itCustom})
        .Set("OS", &TInstallContainer::OS, &TInstallContainer::SetOS, OSNames)
        .Boolean("Uninstall", &TInstallContainer::Uninstall, &TInstallContainer::SetUninstall)
        .Default(true) &&
    Publish<TInstallObject, TInstallContainer>().Component("Container", &TInstallObject::Container,
                                                          &TInstallObject::SetContainer);

std::vector<TInstallContainer*>& LiveContainers() {
    static std::vector<TInstallContainer*> list;
    return list;
}

IInstallRoot* gCurrentInstall = nullptr;

}  // namespace

std::string& RunRecordKeyValue() {
    static std::string key;
    return key;
}
const std::string& RunRecordKey() { return RunRecordKeyValue(); }
void SetRunRecordKey(const std::string& key) { RunRecordKeyValue() = key; }

IInstallRoot* CurrentInstall() { return gCurrentInstall; }
void SetCurrentInstall(IInstallRoot* root) { gCurrentInstall = root; }
bool IsInstallRoot(const TInstallContainer* container) {
    return container && gCurrentInstall && gCurrentInstall->RootContainer() == container;
}

const std::vector<TInstallContainer*>& InstallComponents() { return LiveContainers(); }

bool IsDesigning(const TComponent* component) {
    return component && component->ComponentState().Contains(csDesigning);
}
TDistributeType CurrentDistributeType() {
    return gCurrentInstall ? gCurrentInstall->DistributeType() : dtTraditionalNet;
}
bool InstallRunning() { return gCurrentInstall && gCurrentInstall->Running(); }

OSSet DefaultOSSet() {
    if (GetWindowsVersionCode() == osLinux) return OSSet{osLinux};
    return OSSet{oswin95, oswinNT, oswin2K, oswin98, oswinME, oswinXP};
}

int DownloadPercent(int64_t totalBytes, int64_t fileSize) {
    if (fileSize <= 0 || totalBytes <= 0) return 0;
    if (totalBytes >= fileSize) return 100;
    return static_cast<int>(std::lround(static_cast<double>(totalBytes) * 100.0 / static_cast<double>(fileSize)));
}

// ---------------------------------------------------------------- TInstallContainer

TInstallContainer::TInstallContainer(TComponent* AOwner, int ARegisteredType)
    : TComponent(AOwner), FRegisteredType(ARegisteredType), FOS(DefaultOSSet()) {
    // A component placed on a form brings the standard path specifiers that are still missing.
    if (AOwner) StandardPathSpecifiers().CreateStandardSpecifiers(this, AOwner, true);
    LiveContainers().push_back(this);
}

TInstallContainer::~TInstallContainer() {
    auto& list = LiveContainers();
    for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i)
        if (i < static_cast<int>(list.size()) && list[i] != this) list[i]->RemoveReferences(this);
    if (FDestDirType) FDestDirType->RemoveFreeNotification(this);
    FChildren.clear();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

TInstallContainer* TInstallContainer::Children(int index) const {
    if (index < 0 || index >= ChildCount())
        throw IEInstallContainer(
            "Tried to reference a helper component in the following component: %s. The following index was used: %d",
            {Name(), index});
    return FChildren[index];
}

void TInstallContainer::CompError(int index, int count) const {
    throw IEInstallContainer(
        "Bad call to the Comp procedure which returns a TInstallObject for a TInstallContainer component. The "
        "parameters are probably reversed. Index: %d, ComponentType: %d",
        {index, count});
}

void TInstallContainer::AddObject(TInstallContainer* Child) {
    if (!Child) throw IEInstallContainer("Cannot add a blank base helper component to %s", {Name()});
    if (Child == this) throw IEInstallContainer("Circular reference");
    for (TInstallContainer* up = this; up;) {
        if (up == Child) throw IEInstallContainer("Circular reference");
        auto* object = dynamic_cast<TInstallObject*>(up);
        up = object ? object->Container() : nullptr;
    }
    const int type = Child->RegisteredType();
    auto at = std::find_if(FChildren.begin(), FChildren.end(),
                           [type](TInstallContainer* c) { return c->RegisteredType() >= type; });
    if (SameText(Child->ClassName(), "TINSTALLBDE")) at = FChildren.begin();
    FChildren.insert(at, Child);
}

void TInstallContainer::RemoveObject(TInstallContainer* Child) {
    if (!Child) return;
    auto it = std::find(FChildren.begin(), FChildren.end(), Child);
    if (it != FChildren.end()) FChildren.erase(it);
}

void TInstallContainer::RemoveReferences(TComponent* AComponent) {
    // Called from the destructor of AComponent, whose dynamic type is then TInstallContainer.
    if (auto* object = dynamic_cast<TInstallContainer*>(AComponent)) RemoveObject(object);
}

int TInstallContainer::RegisteredType() const {
    if (FRegisteredType) return FRegisteredType;
    throw IEInstallContainer("Class must declare a registered type");
}

void TInstallContainer::Process() {
    if (!FOS.Contains(GetWindowsVersionCode())) FInclude = false;
    try {
        if (OnBeforeProcess) OnBeforeProcess(this);
        SendDialogCode(this, this, dcBeforeProcess, nullptr);
        if (!FInclude) return;
        SendDialogCode(this, this, dcProcessIncluded, nullptr);
        if (FSelectedInstallType != itCustom && !FInstallTypes.Contains(FSelectedInstallType)) return;
        InstallObjects();
        FProcessed = true;
        if (gCurrentInstall && FUninstall) WriteUninstallInfo(UninstallRecordKey(gCurrentInstall->ProductName()));
        if (OnAfterProcess) OnAfterProcess(this);
        SendDialogCode(this, this, dcAfterProcess, nullptr);
    } catch (const EAbort&) {
        // A silent abort ends this component's step only.
    }
}

void TInstallContainer::InstallObjects() {
    FProcessed = true;
    // A child may leave the list while it is processed: work on a copy and skip those gone.
    const std::vector<TInstallContainer*> children = FChildren;
    for (TInstallContainer* child : children)
        if (std::find(FChildren.begin(), FChildren.end(), child) != FChildren.end() && child->FProcessedByContainer)
            child->Process();
}

bool TInstallContainer::IsSelected() const {
    if (!FInclude) return false;
    return FSelectedInstallType == itCustom || FInstallTypes.Contains(FSelectedInstallType);
}

void TInstallContainer::SetSelectedInstallType(TInstallType value) {
    for (TInstallContainer* child : FChildren) child->SetSelectedInstallType(value);
    FSelectedInstallType = value;
}

void TInstallContainer::ShowStatusText(const std::string& text) {
    TMessageParameter parameter(text);
    SendDialogCode(this, this, dcShowStatusText, &parameter);
}

void TInstallContainer::HideStatusText() { SendDialogCode(this, this, dcHideStatusText, nullptr); }

void TInstallContainer::SetDestDirType(TCustomPathSpecifier* value) {
    FDestDirTypeAssigned = true;
    if (!Loading() && value) value->ValidateUser(this);
    if (FDestDirType == value) return;
    if (FDestDirType) FDestDirType->RemoveFreeNotification(this);
    FDestDirType = value;
    if (value) value->FreeNotification(this);
}

std::string TInstallContainer::GetFullDestDir() {
    if (FDestDirType) return RemoveBackslash(FDestDirType->GetPath(this) + FDestDir);
    return RemoveBackslash(FDestDir);
}

void TInstallContainer::Loaded() {
    TComponent::Loaded();
    if (FDefaultDestDirTypePending && !FDestDirTypeAssigned) SetDestDirType(nullptr);
    FDefaultDestDirTypePending = false;
}

void TInstallContainer::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FDestDirType) FDestDirType = nullptr;
}

// ---------------------------------------------------------------- TInstallObject

TInstallObject::TInstallObject(TComponent* AOwner, int ARegisteredType) : TInstallContainer(AOwner, ARegisteredType) {
    if (IsDesigning(AOwner) && gCurrentInstall && gCurrentInstall->RootContainer()) {
        TInstallContainer* root = gCurrentInstall->RootContainer();
        TCustomPathSpecifier* folder = &StandardPathSpecifiers().Find<TpsContainerDestDir>();
        root->AddObject(this);
        FContainer = root;
        FDestDirType = folder;
        FDestDirType->FreeNotification(this);
        SetDestDir("");
        FDefaultContainerPending = true;
        FDefaultDestDirTypePending = true;
    }
}

void TInstallObject::SetContainer(TInstallContainer* value) {
    FContainerAssigned = true;
    if (value == FContainer) return;
    // Found before anything changes, so that a missing specifier leaves the object where it was.
    TCustomPathSpecifier* folder =
        value && !Loading() ? &StandardPathSpecifiers().Find<TpsContainerDestDir>() : nullptr;
    if (value) value->AddObject(this);
    if (FContainer) FContainer->RemoveObject(this);
    FContainer = value;
    if (Loading()) return;
    if (value) {
        SetDestDirType(folder);
        SetDestDir("");
    } else if (dynamic_cast<TpsContainerDestDir*>(FDestDirType)) {
        FDestDirType->RemoveFreeNotification(this);
        FDestDirType = nullptr;
    }
}

void TInstallObject::Process() {
    if (!InstallRunning() || !FContainer || FContainer->Processed()) TInstallContainer::Process();
}

void TInstallObject::RemoveReferences(TComponent* AComponent) {
    TInstallContainer::RemoveReferences(AComponent);
    if (AComponent == FContainer) SetContainer(nullptr);
}

void TInstallObject::Loaded() {
    if (FDefaultContainerPending && !FContainerAssigned) SetContainer(nullptr);
    FDefaultContainerPending = false;
    TInstallContainer::Loaded();
}

void SendDialogCode(TInstallContainer* Container, TInstallContainer* Sender, int Code, TObject* Parameter) {
    if (!Container) return;
    for (int i = 0; i < Container->ChildCount(); ++i) {
        TInstallContainer* child = Container->Children(i);
        if (child->RegisteredType() >= rtInstallFile) child->DoDialogEvent(Sender, Code, Parameter);
    }
}

}  // namespace ostra
