// ShellLink.h: owner of the system's shell-link object, through which .lnk
// shortcut files are written and read.
//
// The holder asks COM for the shell link (IShellLinkA) and its persistence
// interface (IPersistFile) on construction and releases both on destruction.
// It calls CoInitialize each time it is constructed and never uninitialises,
// so it belongs on the single user-interface thread. If the shell link
// cannot be created, IsValid() is false and every member answers failure
// (false, empty Text, 0) without touching anything.
//
// There is one member per IShellLinkA method, passing its arguments through.
// Text getters read into 260-character buffers and answer empty Text on
// failure; GetHotkey and GetShowCmd answer 0 on failure; the rest answer
// whether the call succeeded (any success code). Paths handed to IPersistFile
// are converted to UTF-16 from the ANSI code page; a path that does not fit
// 260 wide characters is refused (false).
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "system/Handles.h"
#include "text/Text.h"

class ShellLink {
public:
    ShellLink();
    ~ShellLink() = default;  // members release IPersistFile first, then IShellLinkA
    ShellLink(const ShellLink&) = delete;
    ShellLink& operator=(const ShellLink&) = delete;

    // True when the shell-link object was created.
    bool IsValid() const { return static_cast<bool>(link_); }

    bool SetPath(const Text& path);
    // flags: SLGP_* values; findData may be null.
    Text GetPath(DWORD flags = 0, WIN32_FIND_DATAA* findData = nullptr);
    bool SetArguments(const Text& args);
    Text GetArguments();
    bool SetDescription(const Text& description);
    Text GetDescription();
    bool SetWorkingDirectory(const Text& folder);
    Text GetWorkingDirectory();
    bool SetIconLocation(const Text& iconFile, int iconIndex);
    // The icon file; *iconIndex (may be null) receives the index, 0 on failure.
    Text GetIconLocation(int* iconIndex);
    bool SetHotkey(WORD hotkey);
    WORD GetHotkey();
    bool SetShowCmd(int showCmd);
    int GetShowCmd();
    bool SetIDList(LPCITEMIDLIST idList);
    // *idList receives a list the caller frees with CoTaskMemFree.
    bool GetIDList(LPITEMIDLIST* idList);
    bool SetRelativePath(const Text& relativeTo);
    bool Resolve(HWND window, DWORD flags);

    // Writes the link to path (and remembers path as its file). False if the
    // persistence interface is missing, IsDirty fails, the path does not fit,
    // or the save fails; a failed save may leave a partial file.
    bool Save(const Text& path);
    // Writes the link to the file it was loaded from or last saved to.
    bool Save();
    // Reads the link from path (read-only access).
    bool Load(const Text& path);

private:
    // Declared in this order so that the persistence interface is released
    // before the shell link.
    ComPtr<IShellLinkA> link_;
    ComPtr<IPersistFile> file_;
};
