#include "uninstall/RemovalRules.h"

#include <cstring>

#include "uninstall/LogReader.h"

namespace {

constexpr size_t kMaxPath = 260;

Text WithoutTrailingBackslashes(const Text& t) {
    size_t n = t.size();
    while (n > 0 && t[n - 1] == '\\') --n;
    return t.substr(0, n);
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Checks the components after "X:\"; Removable when they are all plain.
PathVerdict CheckComponents(const Text& path) {
    size_t start = 3;
    while (start <= path.size()) {
        size_t slash = path.find('\\', start);
        size_t end = slash == Text::npos ? path.size() : slash;
        Text part = path.substr(start, end - start);
        if (part.empty()) {
            // Only a single trailing backslash may end the path.
            if (slash == Text::npos || slash + 1 == path.size()) break;
            return PathVerdict::Malformed;
        }
        if (part == "." || part == "..") return PathVerdict::DotComponent;
        if (part.back() == '.' || part.back() == ' ') return PathVerdict::Malformed;
        if (slash == Text::npos) break;
        start = slash + 1;
    }
    return PathVerdict::Removable;
}

}  // namespace

bool IsSameOrBelow(const Text& inner, const Text& folder) {
    std::string a = LowerAscii(WithoutTrailingBackslashes(inner));
    std::string b = LowerAscii(WithoutTrailingBackslashes(folder));
    if (b.empty() || a.size() < b.size() || a.compare(0, b.size(), b) != 0) return false;
    return a.size() == b.size() || a[b.size()] == '\\';
}

PathVerdict CheckRemovablePath(const Text& path, const ProtectedFolders& protectedFolders) {
    if (path.empty()) return PathVerdict::NotAbsolute;
    if (path.size() >= kMaxPath) return PathVerdict::TooLong;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 32 || std::strchr("/*?\"<>|", c) || (c == ':' && i != 1))
            return PathVerdict::Malformed;
    }
    if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != ':' || path[2] != '\\')
        return PathVerdict::NotAbsolute;
    PathVerdict parts = CheckComponents(path);
    if (parts != PathVerdict::Removable) return parts;
    const Text bare = WithoutTrailingBackslashes(path);
    if (bare.size() <= 2) return PathVerdict::DriveRoot;

    // Below a shell folder the Windows folder does not protect, unless that
    // shell folder is (or holds) the Windows or system folder itself.
    bool belowShellFolder = false;
    for (const ProtectedFolder& f : protectedFolders) {
        if (f.kind != ProtectedKind::ShellFolder || !IsSameOrBelow(bare, f.path) ||
            IsSameOrBelow(f.path, bare))
            continue;
        bool coversSystem = false;
        for (const ProtectedFolder& g : protectedFolders)
            if ((g.kind == ProtectedKind::WindowsFolder || g.kind == ProtectedKind::SystemFolder) &&
                IsSameOrBelow(g.path, f.path))
                coversSystem = true;
        if (!coversSystem) belowShellFolder = true;
    }
    // The protected folders themselves first, then what lies below them.
    for (const ProtectedFolder& f : protectedFolders) {
        if (WithoutTrailingBackslashes(f.path).empty() || !IsSameOrBelow(f.path, bare) ||
            !IsSameOrBelow(bare, f.path))
            continue;
        switch (f.kind) {
            case ProtectedKind::ShellFolder:
            case ProtectedKind::UserShellFolder:
                return PathVerdict::ShellFolder;
            case ProtectedKind::WindowsFolder:
                return PathVerdict::SystemFolder;
            case ProtectedKind::SystemFolder:
                return PathVerdict::SystemFolder;
            case ProtectedKind::ProgramFiles:
                return PathVerdict::ProgramFiles;
            case ProtectedKind::TempFolder:
                return PathVerdict::TempFolder;
        }
    }
    for (const ProtectedFolder& f : protectedFolders) {
        if (WithoutTrailingBackslashes(f.path).empty() || !IsSameOrBelow(bare, f.path)) continue;
        if (f.kind == ProtectedKind::SystemFolder) return PathVerdict::SystemFolder;
        if (f.kind == ProtectedKind::WindowsFolder && !belowShellFolder)
            return PathVerdict::SystemFolder;
    }
    return PathVerdict::Removable;
}

KeyVerdict CheckRemovableKey(const Text& keyPath) {
    if (keyPath.empty()) return KeyVerdict::Malformed;
    if (keyPath.size() > kMaxKeyPath) return KeyVerdict::TooLong;
    size_t components = 1;
    for (size_t i = 0; i < keyPath.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(keyPath[i]);
        if (c < 32) return KeyVerdict::Malformed;
        if (c == '\\') {
            if (i == 0 || i + 1 == keyPath.size() || keyPath[i + 1] == '\\')
                return KeyVerdict::Malformed;
            ++components;
        }
    }
    // A root name would read as a key below HKEY_LOCAL_MACHINE of that name.
    if (LowerAscii(keyPath).compare(0, 5, "hkey_") == 0) return KeyVerdict::Malformed;
    return components < 2 ? KeyVerdict::TooShallow : KeyVerdict::Removable;
}

KeyVerdict CheckRemovableValue(const Text& item, Text& keyPath, Text& valueName) {
    size_t slash = item.rfind('\\');
    keyPath = slash == Text::npos ? Text() : item.substr(0, slash);
    valueName = slash == Text::npos ? item : item.substr(slash + 1);
    for (size_t i = 0; i < valueName.size(); ++i)
        if (static_cast<unsigned char>(valueName[i]) < 32) return KeyVerdict::Malformed;
    if (slash == Text::npos) return KeyVerdict::TooShallow;
    return CheckRemovableKey(keyPath);
}

CommandVerdict CheckUninstallCommand(const Text& file, const Text& commandLine, Text& arguments) {
    arguments = commandLine.substr(file.size());
    if (file.empty() || !EqualsNoCase(commandLine.substr(0, file.size()), file) ||
        (!arguments.empty() && arguments[0] != ' '))
        return CommandVerdict::Mismatch;
    if (file.size() < 4 || !EqualsNoCase(file.substr(file.size() - 4), ".exe"))
        return CommandVerdict::NotProgram;
    return CommandVerdict::Runnable;
}
