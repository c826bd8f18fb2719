// The registry install component: a list of values written under one key when the install run
// reaches the registry phase (type 8500) or a project sends dialog code -968, and recorded in the
// uninstall record so that the uninstaller deletes them again. The key is given absolutely or
// made from the install root's company, product and version; a text value may contain "%p", the
// folder of the entry's path specifier.
//
// Only values that were written are recorded: an entry that OnBeforeWriteEntry skips is not
// listed, so the uninstaller never deletes a value of that name that the setup did not write, and
// a component that wrote nothing records no key.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "host/Collection.h"
#include "installer/library/cmp_TInstallContainer.h"
#include "installer/library/routines_UninstallRecord.h"

namespace ostra {

class TCustomInstallRegistry;
class TCustomPathSpecifier;

class IERegistryEntries : public IException {
public:
    using IException::IException;
};
class IERegistryEntry : public IException {
public:
    using IException::IException;
};
class IEInstallRegistry : public IException {
public:
    using IException::IException;
};
class IEInstallRegistryList : public IException {
public:
    using IException::IException;
};

enum TRegistryEntryType { retText, retInteger, retBoolean };
enum TKeySpecifier { ksAbsolute, ksCompanyName, ksProductName, ksVersion };
// The registry roots in the index order of the registry routines.
enum TRootKeys { hkClassesRoot, hkCurrentConfig, hkCurrentUser, hkDynData, hkLocalMachine, hkUsers };

// One value: its name, which of the three values is written, and the folder "%p" stands for.
class TRegistryEntry : public TCollectionItem {
public:
    explicit TRegistryEntry(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // The registry component of the collection (null outside one).
    TCustomInstallRegistry* InstallRegistry() const;

    TRegistryEntryType EntryType() const { return FEntryType; }
    void SetEntryType(TRegistryEntryType value) { FEntryType = value; }
    const std::string& Ident() const { return FIdent; }
    void SetIdent(const std::string& value) { FIdent = value; }
    // Setting a value outside loading also selects its EntryType.
    const std::string& Text() const { return FText; }
    void SetText(const std::string& value);
    int32_t Integer() const { return FInteger; }
    void SetInteger(int32_t value);
    bool Boolean() const { return FBoolean; }
    void SetBoolean(bool value);
    TCustomPathSpecifier* PathSpecifier() const { return FPathSpecifier; }
    // Outside loading the specifier validates the registry component first, then Text becomes
    // "%p" (for a specifier) and EntryType retText.
    void SetPathSpecifier(TCustomPathSpecifier* value);
    // Drops the specifier, keeping EntryType (the specifier is being destroyed).
    void ForgetPathSpecifier() { FPathSpecifier = nullptr; }

    // Text with "%p" expanded to the specifier's folder for the registry component.
    std::string ExpandedText() const;

    void Assign(const TPersistent* Source) override;

private:
    bool Loading() const;
    TRegistryEntryType FEntryType = retText;
    std::string FIdent, FText;
    int32_t FInteger = 0;
    bool FBoolean = false;
    TCustomPathSpecifier* FPathSpecifier = nullptr;
};

// The entries of one registry component.
class TRegistryEntries : public TCollection {
public:
    // Raises IERegistryEntries "Cannot create a TRegistryEntries component with a Nil Owner" without owner.
    explicit TRegistryEntries(TCustomInstallRegistry* AOwner);
    TCustomInstallRegistry* Registry() const { return FRegistry; }
    TRegistryEntry* Add() { return static_cast<TRegistryEntry*>(TCollection::Add()); }
    TRegistryEntry* Items(int index) const { return static_cast<TRegistryEntry*>(TCollection::Items(index)); }

private:
    TCustomInstallRegistry* FRegistry;
};

using TBeforeWriteEntryEvent = std::function<void(TCustomInstallRegistry* InstallRegistry, TRegistryEntry* Entry, bool& Continue)>;

class TCustomInstallRegistry : public TInstallObject {
public:
    explicit TCustomInstallRegistry(TComponent* AOwner);
    ~TCustomInstallRegistry() override;

    TRegistryEntries* Entries() const { return FEntries.get(); }
    // Copies the entries of `value`.
    virtual void SetEntries(const TRegistryEntries* value);
    const std::string& Key() const { return FKey; }
    // Stores an empty key while KeySpecifierType is not ksAbsolute.
    virtual void SetKey(const std::string& value);
    TKeySpecifier KeySpecifierType() const { return FKeySpecifierType; }
    // Outside loading a derived kind needs an install root (IEInstallRegistry otherwise) and
    // clears Key and sets RootKey to hkLocalMachine.
    virtual void SetKeySpecifierType(TKeySpecifier value);
    TRootKeys RootKey() const { return FRootKey; }
    void SetRootKey(TRootKeys value) { FRootKey = value; }

    // The key path: Key without its trailing backslash, or "\SOFTWARE\" with the root's company
    // (then product, then version). The derived kinds raise IEInstallRegistry "There is no
    // TInstall component in your project" without an install root.
    virtual std::string GetFullKey() const;

    // Writes the entries (those that OnBeforeWriteEntry does not skip), then processes children.
    void InstallObjects() override;
    // Records the key and the values written in this run under "RegistryKeys".
    void WriteUninstallInfo(const std::string& RecordKey) override;
    // -968 processes the component.
    void DoDialogEvent(TInstallContainer* Sender, int Code, TObject* Parameter) override;
    void RemoveReferences(TComponent* AComponent) override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // The values written by the last InstallObjects, in entry order.
    const std::vector<TUninstallRegistryValue>& WrittenValues() const { return FWritten; }

    TBeforeWriteEntryEvent OnBeforeWriteEntry;

private:
    friend class TRegistryEntry;
    void WriteEntry(const TRegistryEntry& entry, const std::string& key);

    std::unique_ptr<TRegistryEntries> FEntries;
    std::string FKey = "\\SOFTWARE\\MyStuff";
    TKeySpecifier FKeySpecifierType = ksAbsolute;
    TRootKeys FRootKey = hkLocalMachine;
    std::vector<TUninstallRegistryValue> FWritten;
};

// The published registry component.
class TInstallRegistry : public TCustomInstallRegistry {
public:
    explicit TInstallRegistry(TComponent* AOwner) : TCustomInstallRegistry(AOwner) {}
};

// Every live registry component, in creation order.
const std::vector<TCustomInstallRegistry*>& InstallRegistryList();

}  // namespace ostra
