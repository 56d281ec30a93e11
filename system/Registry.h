// Registry access: small free functions over the Windows registry.
//
// Every function opens its key, does one job and closes the key again; no
// handle outlives a call. Key paths carry no root name and no leading or
// trailing backslash ("Software\Microsoft\Windows\CurrentVersion\Uninstall").
// Unless a function takes a root, the root is HKEY_LOCAL_MACHINE.
//
// Nothing here shows a message or reports an error code: readers answer the
// empty text, tests answer false (RegistryKeyIsEmpty answers true), deletions
// stop quietly. A key that exists but cannot be opened with the rights a
// function asks for is treated as absent.
//
// Value data is read into a zero-filled buffer of 260 bytes, so a string
// stored without its terminating zero reads back complete. The value's type
// is not examined: the data bytes are taken as text up to the first zero.
// A value longer than that buffer is never taken for a missing one: the
// readers then read it whole with a buffer of its own size, and
// RegistryValueExists answers true.
#pragma once

#include <windows.h>

#include "text/Text.h"

// Publisher setup entries: this key, followed directly by an application's
// entry name, holds the values "Directory" and "Full Name" of that
// application. Note the trailing backslash.
constexpr const char* kPublisherSetupKey = "Software\\Corvane OnLine\\Setup\\";
constexpr const char* kSetupDirectoryValue = "Directory";
constexpr const char* kSetupFullNameValue = "Full Name";

// Size of the buffer that value data and names are read into (MAX_PATH).
constexpr unsigned kRegistryBufferSize = 260;

// The string value valueName of HKLM\keyPath (KEY_READ). An empty valueName
// reads the key's default value. Returns the empty text when the key cannot
// be opened or the value cannot be read.
Text ReadRegistryString(const Text& keyPath, const Text& valueName);

// As ReadRegistryString, below the given root (HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER, ...). Returns the empty text on any failure.
Text ReadRegistryStringAt(HKEY root, const Text& keyPath, const Text& valueName);

// "Directory" of the publisher setup entry entryName:
// ReadRegistryString(kPublisherSetupKey + entryName, "Directory").
// Empty text when the entry or the value is missing.
Text ReadSetupDirectory(const Text& entryName);

// "Full Name" of the publisher setup entry entryName. Empty text when missing.
Text ReadSetupFullName(const Text& entryName);

// True if HKLM\keyPath can be opened for reading.
bool RegistryKeyExists(const Text& keyPath);

// True if HKLM\keyPath can be opened for reading and its value valueName can
// be read; also true for a value with empty data and for a value longer than
// the 260-byte buffer. False when the key or the value is missing.
bool RegistryValueExists(const Text& keyPath, const Text& valueName);

// True if HKLM\keyPath has neither subkeys nor values, or cannot be opened
// (KEY_QUERY_VALUE). False when the key information cannot be read.
bool RegistryKeyIsEmpty(const Text& keyPath);

// Deletes the value valueName of HKLM\keyPath (KEY_WRITE). Always returns
// true: a missing key or value, or a failed deletion, is not an error here.
bool DeleteRegistryValue(const Text& keyPath, const Text& valueName);

// Deletes the direct subkey subkeyName of HKLM\keyPath. Returns true if it
// was deleted or if HKLM\keyPath cannot be opened (KEY_WRITE); false if the
// deletion failed (missing subkey, or a subkey that still has subkeys).
// An empty subkeyName is refused (false): it would name keyPath itself.
bool DeleteRegistrySubkey(const Text& keyPath, const Text& subkeyName);

// Deletes every value of HKLM\keyPath; subkeys stay. Values that cannot be
// deleted are stepped over, so the function always returns. An empty keyPath
// is refused (nothing is deleted from HKLM itself).
void DeleteRegistryValues(const Text& keyPath);

// Deletes HKLM\keyPath with all its values and subkeys, depth first
// (innermost keys first); the parent of keyPath is untouched. What cannot be
// deleted stays (and so do its ancestors); the function always returns. An
// empty keyPath is refused.
void DeleteRegistryTree(const Text& keyPath);

// True on the Windows NT platform family; false on the Windows 95 family or
// when the version cannot be read.
bool IsWindowsNT();
