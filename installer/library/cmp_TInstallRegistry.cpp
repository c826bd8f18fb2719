// The registry install component (see the header).
#include "installer/library/cmp_TInstallRegistry.h"

#include <algorithm>

#include "host/ClassRegistry.h"
#include "host/PropertyRegistry.h"
#include "installer/library/cmp_TPathSpecifier.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_Strings.h"

namespace ostra {

namespace {

const char* const EntryTypeNames[] = {"retText", "retInteger", "retBoolean"};
const char* const KeySpecifierNames[] = {"ksAbsolute", "ksCompanyName", "ksProductName", "ksVersion"};
const char* const RootKeyNames[] = {"hkClassesRoot", "hkCurrentConfig", "hkCurrentUser",
                                    "hkDynData",     "hkLocalMachine",  "hkUsers"};

[[maybe_unused]] const bool kPublished =
    Publish<TRegistryEntry, TCollectionItem>()
        .Boolean("Boolean", &TRegistryEntry::Boolean, &TRegistryEntry::SetBoolean)
        .Enum("EntryType", &TRegistryEntry::EntryType, &TRegistryEntry::SetEntryType, EntryTypeNames)
        .String("Ident", &TRegistryEntry::Ident, &TRegistryEntry::SetIdent)
        .Integer("Integer", &TRegistryEntry::Integer, &TRegistryEntry::SetInteger)
        .Component("PathSpecifier", &TRegistryEntry::PathSpecifier, &TRegistryEntry::SetPathSpecifier)
        .String("Text", &TRegistryEntry::Text, &TRegistryEntry::SetText) &&
    Publish<TInstallRegistry, TInstallObject>()
        .Collection("Entries", &TCustomInstallRegistry::Entries)
        .String("Key", &TCustomInstallRegistry::Key, &TCustomInstallRegistry::SetKey)
        .Enum("KeySpecifierType", &TCustomInstallRegistry::KeySpecifierType,
              &TCustomInstallRegistry::SetKeySpecifierType, KeySpecifierNames)
        .Default(ksAbsolute)
        .Enum("RootKey", &TCustomInstallRegistry::RootKey, &TCustomInstallRegistry::SetRootKey, RootKeyNames)
        .Default(hkLocalMachine) &&
    (RegisterClass<TInstallRegistry>(), true);

std::vector<TCustomInstallRegistry*>& Registries() {
    static std::vector<TCustomInstallRegistry*> list;
    return list;
}

IInstallRoot& RequireRoot() {
    IInstallRoot* root = CurrentInstall();
    if (!root) throw IEInstallRegistry("There is no TInstall component in your project");
    return *root;
}

}  // namespace

const std::vector<TCustomInstallRegistry*>& InstallRegistryList() { return Registries(); }

// ---------------------------------------------------------------- TRegistryEntry

TCustomInstallRegistry* TRegistryEntry::InstallRegistry() const {
    auto* entries = dynamic_cast<TRegistryEntries*>(Collection());
    return entries ? entries->Registry() : nullptr;
}

bool TRegistryEntry::Loading() const {
    TCustomInstallRegistry* registry = InstallRegistry();
    return registry && registry->ComponentState().Contains(csLoading);
}

void TRegistryEntry::SetText(const std::string& value) {
    FText = value;
    if (!Loading()) FEntryType = retText;
}
void TRegistryEntry::SetInteger(int32_t value) {
    FInteger = value;
    if (!Loading()) FEntryType = retInteger;
}
void TRegistryEntry::SetBoolean(bool value) {
    FBoolean = value;
    if (!Loading()) FEntryType = retBoolean;
}

void TRegistryEntry::SetPathSpecifier(TCustomPathSpecifier* value) {
    TCustomInstallRegistry* registry = InstallRegistry();
    if (Loading()) {
        FPathSpecifier = value;
    } else {
        if (value) value->ValidateUser(registry);
        FPathSpecifier = value;
        if (value) FText = "%p";
        FEntryType = retText;
    }
    if (value && registry) value->FreeNotification(registry);
}

std::string TRegistryEntry::ExpandedText() const {
    if (!FPathSpecifier) return FText;
    return TPathSpecifier::ExpandText(FText, FPathSpecifier->GetPath(InstallRegistry()));
}

void TRegistryEntry::Assign(const TPersistent* Source) {
    if (auto* other = dynamic_cast<const TRegistryEntry*>(Source)) {
        FEntryType = other->FEntryType;
        FIdent = other->FIdent;
        FText = other->FText;
        FInteger = other->FInteger;
        FBoolean = other->FBoolean;
        FPathSpecifier = other->FPathSpecifier;
        return;
    }
    TCollectionItem::Assign(Source);
}

TRegistryEntries::TRegistryEntries(TCustomInstallRegistry* AOwner)
    : TCollection(ItemClassOf<TRegistryEntry>(), AOwner), FRegistry(AOwner) {
    if (!AOwner) throw IERegistryEntries("Cannot create a TRegistryEntries component with a Nil Owner");
}

// ---------------------------------------------------------------- TCustomInstallRegistry

TCustomInstallRegistry::TCustomInstallRegistry(TComponent* AOwner)
    : TInstallObject(AOwner, rtInstallRegistry), FEntries(std::make_unique<TRegistryEntries>(this)) {
    Registries().push_back(this);
}

TCustomInstallRegistry::~TCustomInstallRegistry() {
    auto& list = Registries();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TCustomInstallRegistry::SetEntries(const TRegistryEntries* value) { FEntries->Assign(value); }

void TCustomInstallRegistry::SetKey(const std::string& value) {
    FKey = FKeySpecifierType == ksAbsolute ? value : std::string();
}

void TCustomInstallRegistry::SetKeySpecifierType(TKeySpecifier value) {
    if (!Loading() && value != ksAbsolute) {
        RequireRoot();
        FKey.clear();
        FRootKey = hkLocalMachine;
    }
    FKeySpecifierType = value;
}

std::string TCustomInstallRegistry::GetFullKey() const {
    if (FKeySpecifierType == ksAbsolute) return RemoveBackslash(FKey);
    IInstallRoot& root = RequireRoot();
    std::string key = "\\SOFTWARE\\" + root.CompanyName();
    if (FKeySpecifierType == ksCompanyName) return key;
    key += "\\" + root.ProductName();
    if (FKeySpecifierType == ksProductName) return key;
    return key + "\\" + root.Version();
}

void TCustomInstallRegistry::WriteEntry(const TRegistryEntry& entry, const std::string& key) {
    TfrnmRegistry registry;
    SetRegistryRootByIndex(registry, static_cast<int>(FRootKey));
    if (!registry.OpenKey(key, true))
        throw IERegistryEntry("%s cannot create the key %s in the registry", {Name(), key});
    switch (entry.EntryType()) {
        case retText: registry.WriteString(entry.Ident(), entry.ExpandedText()); break;
        case retInteger: registry.WriteInteger(entry.Ident(), entry.Integer()); break;
        case retBoolean: registry.WriteInteger(entry.Ident(), entry.Boolean() ? 1 : 0); break;
    }
}

void TCustomInstallRegistry::InstallObjects() {
    FWritten.clear();
    const std::string key = GetFullKey();
    for (int i = 0; i < FEntries->Count(); ++i) {
        TRegistryEntry* entry = FEntries->Items(i);
        bool proceed = true;
        if (OnBeforeWriteEntry) OnBeforeWriteEntry(this, entry, proceed);
        if (!proceed) continue;
        WriteEntry(*entry, key);
        FWritten.push_back({entry->Ident(), entry->ExpandedText()});
    }
    TInstallObject::InstallObjects();
}

void TCustomInstallRegistry::WriteUninstallInfo(const std::string& RecordKey) {
    if (FWritten.empty()) return;
    AddUninstallRegistryKey(RecordKey, GetFullKey(), static_cast<int>(FRootKey), FWritten);
}

void TCustomInstallRegistry::DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) {
    TInstallObject::DoDialogEvent(Sender, Code, Parameter);
    if (Code == dcProcessRegistry) Process();
}

void TCustomInstallRegistry::RemoveReferences(TComponent* AComponent) {
    TInstallObject::RemoveReferences(AComponent);
    // The install root goes away (it leaves the current-root slot before its container part ends).
    if (FKeySpecifierType != ksAbsolute &&
        (!CurrentInstall() || CurrentInstall()->RootContainer() == AComponent))
        FKeySpecifierType = ksAbsolute;
}

void TCustomInstallRegistry::Notification(TComponent* AComponent, TOperation Operation) {
    TInstallObject::Notification(AComponent, Operation);
    if (Operation != opRemove || !FEntries) return;
    for (int i = 0; i < FEntries->Count(); ++i)
        if (FEntries->Items(i)->PathSpecifier() == AComponent) FEntries->Items(i)->ForgetPathSpecifier();
}

}  // namespace ostra
