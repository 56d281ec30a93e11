#include "system/FileUtil.h"

#include <windows.h>

#include "system/Handles.h"

namespace {

// folder + "\" (unless it already ends with one) + name.
Text JoinPath(const Text& folder, const char* name) {
    Text path = folder;
    if (path.back() != '\\') path += '\\';
    path += name;
    return path;
}

}  // namespace

bool FileExists(const Text& path) {
    if (path.empty()) return false;
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file.IsValid();
}

bool FolderExists(const Text& path) {
    if (path.empty()) return false;
    if (path.size() == 2 && path[1] == ':') return GetDriveTypeA(path.c_str()) != DRIVE_UNKNOWN;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolder(const Text& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

namespace {

// The walk from the top: up to the first level that exists, then each missing
// level below it made in turn.
bool CreateFolderPathFromTop(const Text& path, std::vector<Text>* tried) {
    if (FolderExists(path)) return true;
    size_t slash = path.rfind('\\');
    if (slash == Text::npos) return false;
    if (!CreateFolderPathFromTop(path.substr(0, slash), tried)) return false;
    // "C:\A\B\" names the folder the recursion has just made.
    if (slash + 1 == path.size()) return true;
    if (tried) tried->push_back(path);
    return CreateFolder(path);
}

}  // namespace

bool CreateFolderPath(const Text& path, std::vector<Text>* tried, bool expectMissing) {
    const size_t slash = path.rfind('\\');
    // A relative name or a trailing backslash takes the walk from the top.
    if (!expectMissing || slash == Text::npos || slash + 1 == path.size())
        return CreateFolderPathFromTop(path, tried);
    // Made outright: under Wine each failing look-up of a missing level is a
    // scan of its parent folder, and the level is made just the same.
    if (CreateDirectoryA(path.c_str(), nullptr)) {
        if (tried) tried->push_back(path);
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        if (FolderExists(path)) return true;
        // A file of that name: tried, and failed, as the walk from the top has it.
        if (tried) tried->push_back(path);
        return false;
    }
    if (error != ERROR_PATH_NOT_FOUND) return CreateFolderPathFromTop(path, tried);
    if (!CreateFolderPath(path.substr(0, slash), tried, true)) return false;
    if (tried) tried->push_back(path);
    return CreateFolder(path);
}

bool RemoveFolder(const Text& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool RemoveFolderTree(const Text& path) {
    if (!path.empty()) {
        Text pattern = JoinPath(path, "*.*");
        WIN32_FIND_DATAA entry;
        FindHandle find;
        if (pattern.size() < kPathBufferSize) find.Attach(FindFirstFileA(pattern.c_str(), &entry));
        if (find.IsValid()) {
            do {
                if (lstrcmpA(entry.cFileName, ".") == 0 || lstrcmpA(entry.cFileName, "..") == 0)
                    continue;
                Text full = JoinPath(path, entry.cFileName);
                // An overlong entry is left alone rather than cut to another name.
                if (full.size() >= kPathBufferSize) continue;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveFolderTree(full);
                } else {
                    ClearReadOnly(full);
                    DeleteFileAt(full);
                }
            } while (FindNextFileA(find.Get(), &entry));
        }
    }
    return RemoveFolder(path);
}

bool DeleteFileAt(const Text& path) { return DeleteFileA(path.c_str()) != 0; }

bool ClearReadOnly(const Text& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

bool IsFileReadOnly(const Text& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

Text MakeTempFileName(const Text& prefix) {
    char folder[kPathBufferSize];
    DWORD n = GetTempPathA(kPathBufferSize, folder);
    // A longer answer means the folder did not fit and the buffer holds nothing.
    if (n == 0 || n >= kPathBufferSize) return Text();
    return MakeTempFileNameIn(Text(folder), prefix);
}

Text MakeTempFileNameIn(const Text& folder, const Text& prefix) {
    const char* usedPrefix = prefix.empty() ? kDefaultTempPrefix : prefix.c_str();
    // GetTempFileNameA adds a backslash and "PPPXXXX.tmp" (at most 3 prefix
    // characters): 14 more characters must fit.
    if (folder.empty() || folder.size() + 14 >= kPathBufferSize) return Text();
    char name[kPathBufferSize];
    if (GetTempFileNameA(folder.c_str(), usedPrefix, 0, name) == 0) return Text();
    return Text(name);
}
