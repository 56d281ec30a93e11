// SystemLibrary.h: libraries from the system folder only, and a DLL search
// path that leaves out the program's own folder.
//
// A setup runs elevated from wherever it was downloaded, a folder others may
// have written to. Windows looks in the program's folder first for any
// library that is not one of its "known DLLs", so a planted copy there would
// run with the setup's rights. The programs therefore import known DLLs only
// and load anything else from the system folder by full path.
#pragma once

#include <windows.h>

// Restricts the process's later library searches to the system folder where
// the system can (SetDefaultDllDirectories, Windows 8 and updated Vista/7),
// else takes the current folder out of the search (SetDllDirectoryA(""),
// XP SP1 and later); on older systems changes nothing. Both are looked up at
// run time so the program still loads there. Call first thing in WinMain; a
// program that loads us as a library must never call it (its search path is
// its own).
void RestrictDllSearchToSystem();

// LoadLibraryA of "<system folder>\name" (GetSystemDirectoryA), never a
// search. Null when the path would not fit MAX_PATH, name is empty or holds
// a folder separator, or the library cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);
