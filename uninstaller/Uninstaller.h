// The removal of one installed product: the sequence that the uninstaller's "&Start" button runs
// over the product's uninstall record (installer/library/routines_UninstallRecord.h), and its
// steps. The window (program/UninstallForm.h) only shows what happens; everything it starts is
// here, so that the removal runs and is tested without a display.
//
// The sequence, in this order (each step reads its part of the record, undoes what it lists and
// deletes the part; all registry work is on HKEY_LOCAL_MACHINE unless a step says otherwise):
//   1. aliases     the database engine's aliases of "Aliases" are deleted (WinBde.h)
//   2. ActiveX     the servers of "ActiveX": shared counts counted down, or the user asked; a
//                  server that goes is unregistered (in-process "0" through DllUnregisterServer,
//                  local "1" started with "/UNREGSERVER", type libraries "2" not at all) and deleted
//   3. files       the files of "Files", "Files1" ... (while the next one exists): shared counts
//                  counted down; a file without a count goes without a question
//   4. INI entries the recorded keys of "INIFiles" are removed from their sections (whole keys;
//                  the other lines stay in place, IniText.h); a file left empty is deleted, and its
//                  folder when that is then empty
//   5. engine      "BDE": the engine's "UseCount" counted down by the record's "Entries", or, when
//                  nothing else uses the engine and the user agrees, its configuration and keys
//                  deleted
//   6. folders     every folder noted on the way (the folder of each file that went, in upper
//                  case, each once) is removed when empty, deepest first, so that a parent noted
//                  before its sub-folder goes too
//   7. registry    the keys of "RegistryKeys": their recorded values deleted, then each key that is
//                  left empty, the longer paths first; a numbered entry that cannot be read or has
//                  a root outside 0..5 makes the step fail (the message below), the others still go
//   8. the record key is deleted with everything below it
//   9. the uninstaller's own file is deleted, or, while it is in use (the running program holds
//      it), deleted at the next restart (routines_Reboot.h); the last message says which.
//
// Shared counts (SharedDLLs, found under the short path first): 2 or more is written back minus
// one and the file stays; otherwise the user is asked "Uninstall has determined that the file %s
// is no longer used by an application. Is it o.k. to delete it?" and Yes deletes the count with
// the file. A count found under the short path makes the short path the file's path.
//
// Failures: files, folders and values that cannot be deleted stay without a word (a file in use
// simply stays). A count that cannot be written back (EIRCannotWriteValue) and an INI file that
// cannot be written (EIniFileException "Unable to write to %s") raise out of Run: the later steps
// do not run and the record stays.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/Exceptions.h"
#include "host/Object.h"

namespace ostra {

class TStringList;

// The steps the window shows, each with its check box.
enum TRemovalStep { rsAliases, rsActiveX, rsFiles, rsINIFiles, rsBDE, rsRegistry };

// What the removal tells its window.
class IUninstallView {
public:
    virtual ~IUninstallView() = default;
    // A step starts: its check box is shown and the window repainted.
    virtual void StepStarted(TRemovalStep Step) = 0;
    // A step ended: its check box is ticked.
    virtual void StepDone(TRemovalStep Step) = 0;
    // Shows the progress bar at 0, or hides it.
    virtual void ShowProgress(bool Visible) = 0;
    // Moves the progress bar (0..100) and repaints it.
    virtual void SetProgress(int Percent) = 0;
    // Repaints the window.
    virtual void Repaint() = 0;
};

// An INI file could not be written.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// One recorded registry key for the registry step: the numbered "RegistryKey" subkey it was
// read from, its root index and the names of its recorded values.
class TKeyInfoObject : public TObject {
public:
    std::string Path;
    int Root = 0;
    std::vector<std::string> ValueNames;
};

// The removal of one product.
class TUninstaller {
public:
    // productWords: the command line's parameters, joined with single blanks into the product
    // name; none raises Exception "Please remove this software from the Add/Remove Programs from
    // the Control Panel". programPath: the Windows-form path of the uninstaller's own file. view
    // (not owned; may be null) hears of the steps.
    TUninstaller(const std::vector<std::string>& productWords, std::string programPath, IUninstallView* view);

    const std::string& ProductName() const { return FProductName; }
    // "\Software\Microsoft\Windows\CurrentVersion\Uninstall\" and the product name, trimmed.
    const std::string& RecordKey() const { return FRecordKey; }
    // The folders noted so far, in upper case, in the order first noted.
    const std::vector<std::string>& Folders() const { return FFolders; }

    // The whole sequence (see above), ending with the last message.
    void Run();

    // The steps, each on its part of the record.
    void RemoveAliases();
    void RemoveActiveXComponents();
    void RemoveFiles();
    void RemoveINIEntries();
    void RemoveBDE();
    void RemoveEmptyFolders();
    // False when a recorded key could not be read or named no valid root.
    bool RemoveRegistryEntries();
    // Deletes the recorded values of the keys listed (each with its TKeyInfoObject), and each key
    // left without values and subkeys; the list is sorted without regard to case and walked from
    // the last item to the first, so a key goes before any key whose path is a prefix of it.
    static void DeleteRecordedKeys(TStringList& Keys);
    // Deletes the uninstaller's own file, or schedules it for the next restart; the message that
    // says which.
    std::string RemoveProgramFile();

    // Notes the folder of a path (its folder part, upper-cased, unless noted already).
    void NoteFolder(const std::string& Path);
    // Asks whether a shared file that no application uses any more may go.
    static bool ConfirmSharedFileDelete(const std::string& Path);

private:
    // Counts a shared file down (see above); true when the file goes. A file without a count
    // goes, or, with askWithoutCount, is asked for. Path becomes the short path when the count
    // was found under it.
    bool SharedFileGoes(std::string& Path, bool AskWithoutCount);
    // Unregisters an ActiveX file that goes, by its kind.
    static void Unregister(const std::string& Path, const std::string& Kind);
    // Shows the progress of entry Index of Count.
    void Progress(size_t Index, size_t Count);
    std::string Part(const char* Name) const { return FRecordKey + "\\" + Name; }

    std::string FProductName, FRecordKey, FProgramPath;
    std::vector<std::string> FFolders;
    IUninstallView* FView;
    std::unique_ptr<IUninstallView> FNoView;
};

}  // namespace ostra
