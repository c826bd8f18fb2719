// TOpenFolderDialog: a folder browser with an optional path edit and create-folder button, used by
// the destination and change-disk pages. Folders are given and returned in Windows form; the tree
// shows the host's folders (platform/Machine.h maps the drives). Every window it opens (the browser,
// the new-folder question) runs through RunModal, so tests answer it with a modal hook.
//
// A session: the browser opens on the nearest existing folder of Folder. Selecting a folder makes it
// the current folder and shows it in the path edit; typing a path selects it when it exists and
// makes the typed text the current folder. The create button asks for a name (or, when the typed
// path does not exist yet, takes that path), creates the folder with its parents and reopens the
// browser on it. OK with the path edit creates the current folder (typed or chosen) with its
// parents; without it the chosen folder is taken.
#pragma once
#include <functional>
#include <string>

class QObject;

namespace ostra {

class TOpenFolderDialog {
public:
    bool ShowCreateButton = true;
    bool ShowPathEdit = true;
    // The folder selected at the start, and the result.
    std::string Folder;
    // Asked before a folder is created; Allow false refuses (Sender: the create button).
    std::function<void(QObject* Sender, bool& Allow)> OnCreateFolder;

    // True when a folder was chosen. A folder that cannot be created raises EInOutError.
    bool Execute();

    // Captions of the browser.
    static constexpr const char* Title = "Browse for Folder";
    static constexpr const char* CreateCaption = "Make New Folder";
    static constexpr const char* NewFolderPrompt = "Name of the new folder:";
};

}  // namespace ostra
