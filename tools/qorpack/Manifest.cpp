#include "Manifest.h"

#include <unordered_map>

#include "CodePageTable.h"
#include "FileOps.h"
#include "NameRules.h"
#include "SetupText.h"

namespace qorpack {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool IsAbsolute(const std::string& p) {
#ifdef _WIN32
    return (p.size() >= 2 && p[1] == ':') || (!p.empty() && (p[0] == '\\' || p[0] == '/'));
#else
    return !p.empty() && p[0] == '/';
#endif
}

std::string Where(const std::string& file, int line) {
    return file + ":" + std::to_string(line) + ": ";
}
}  // namespace

bool ParseManifestText(const std::string& text, const std::string& manifestPath,
                       std::vector<ManifestEntry>* entries, std::string* error) {
    std::string base = DirectoryOf(manifestPath);
    // Names seen so far, without regard to case: one lookup per line.
    std::unordered_map<std::string, int> seen;
    for (const ManifestEntry& e : *entries) seen.emplace(FoldAscii(e.storedName), e.line);
    size_t pos = 0;
    // A byte-order mark some editors write is not part of the first source.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    int lineNo = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A path would end at the zero byte: the rest of the line would be lost unseen.
        if (line.find('\0') != std::string::npos) {
            *error = Where(manifestPath, lineNo) + "contains a zero byte";
            return false;
        }
        std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        size_t arrow = trimmed.find("=>");
        if (arrow == std::string::npos) {
            *error = Where(manifestPath, lineNo) + "expected 'SOURCE => STORED NAME'";
            return false;
        }
        ManifestEntry e;
        e.line = lineNo;
        std::string source = Trim(trimmed.substr(0, arrow));
        e.storedName = Trim(trimmed.substr(arrow + 2));
        if (source.empty()) {
            *error = Where(manifestPath, lineNo) + "no source file before '=>'";
            return false;
        }
        if (e.storedName.empty()) {
            *error = Where(manifestPath, lineNo) + "no stored name after '=>'";
            return false;
        }
        if (e.storedName.size() >= 260) {
            *error = Where(manifestPath, lineNo) + "stored name is " +
                     std::to_string(e.storedName.size()) +
                     " bytes long; at most 259 bytes fit the installer's path buffers";
            return false;
        }
        for (unsigned char c : e.storedName) {
            if (c < 0x20 || c == 0x7f) {
                *error = Where(manifestPath, lineNo) + "stored name contains a control character";
                return false;
            }
        }
        auto first = seen.emplace(FoldAscii(e.storedName), lineNo);
        if (!first.second) {
            *error = Where(manifestPath, lineNo) + "stored name '" + e.storedName +
                     "' was already given on line " + std::to_string(first.first->second) +
                     " (names are unique regardless of case)";
            return false;
        }
        e.folder = source.back() == '/' || source.back() == '\\';
        source = ToNativeSeparators(source);
        e.source = IsAbsolute(source) ? source : JoinPath(base, source);
        entries->push_back(e);
    }
    return true;
}

namespace {

void CollectFolder(const std::string& dir, const std::string& stored, const ManifestEntry& line,
                   std::vector<ManifestEntry>* out, std::vector<std::string>* skipped, bool* ok,
                   std::string* error) {
    std::vector<std::string> files, folders;
    if (!ListFolder(dir, &files, &folders, error, skipped)) {
        *ok = false;
        return;
    }
    for (const std::string& f : files) {
        ManifestEntry e = line;
        e.folder = false;
        e.source = JoinPath(dir, f);
        e.storedName = stored + "\\" + f;
        out->push_back(e);
    }
    for (const std::string& d : folders)
        if (*ok) CollectFolder(JoinPath(dir, d), stored + "\\" + d, line, out, skipped, ok, error);
}

}  // namespace

bool ExpandFolders(const std::string& manifestPath, std::vector<ManifestEntry>* entries,
                   std::string* error, std::vector<std::string>* warnings) {
    bool any = false;
    for (const ManifestEntry& e : *entries) any = any || e.folder;
    if (!any) return true;
    std::vector<ManifestEntry> out;
    for (const ManifestEntry& e : *entries) {
        if (!e.folder) {
            out.push_back(e);
            continue;
        }
        if (!IsDirectory(e.source.c_str())) {
            *error = Where(manifestPath, e.line) + "source '" + e.source + "' is not a folder";
            return false;
        }
        bool ok = true;
        std::string why;
        std::vector<std::string> skipped;
        CollectFolder(e.source, e.storedName, e, &out, &skipped, &ok, &why);
        if (!ok) {
            *error = Where(manifestPath, e.line) + why;
            return false;
        }
        for (const std::string& s : skipped) {
            if (warnings)
                warnings->push_back(Where(manifestPath, e.line) + s);
            else
                fprintf(stderr, "qorpack: %s%s\n", Where(manifestPath, e.line).c_str(), s.c_str());
        }
    }
    entries->swap(out);
    return true;
}

bool CheckManifestNames(const std::string& manifestPath, const std::vector<ManifestEntry>& entries,
                        std::vector<std::string>* warnings, std::string* error,
                        const qor_codepage::SingleByteTable& codePage) {
    std::unordered_map<std::string, size_t> names, places, folders;
    // The names are in the setup's code page by now; messages show them as written.
    const bool utf8 = TerminalIsUtf8();
    auto shown = [&](const std::string& n) { return ShowSetupText(n, codePage, utf8); };
    for (size_t i = 0; i < entries.size(); ++i) {
        const ManifestEntry& e = entries[i];
        NameCheck c = CheckStoredName(e.storedName, NameOrigin::kGiven);
        std::string where =
            Where(manifestPath, e.line) + "stored name '" + shown(e.storedName) + "' ";
        if (!c.ok) {
            *error = where + shown(c.problem);
            return false;
        }
        if (!c.warning.empty() && warnings) warnings->push_back(where + shown(c.warning));
        auto name = names.emplace(FoldAscii(e.storedName), i);
        if (!name.second) {
            *error = where + "was already given on line " +
                     std::to_string(entries[name.first->second].line) +
                     " (names are unique regardless of case)";
            return false;
        }
        auto place = places.emplace(InstallKey(e.storedName, codePage), i);
        if (!place.second) {
            const ManifestEntry& other = entries[place.first->second];
            *error = where + "installs to the same path as '" + shown(other.storedName) +
                     "' (line " + std::to_string(other.line) + ") once the tags are removed";
            return false;
        }
        // A file and a folder of one name (a and A\b.txt) cannot both be
        // installed: the setup would fail on the second. A key holds two bytes
        // a character after its one-byte placement.
        auto clash = [&](size_t j, const char* what) {
            const ManifestEntry& other = entries[j];
            *error = where + what + " '" + shown(other.storedName) + "' (line " +
                     std::to_string(other.line) + ")";
            return false;
        };
        const std::string& key = place.first->first;
        auto folder = folders.find(key);
        if (folder != folders.end())
            return clash(folder->second, "installs a file where a folder is needed by");
        for (size_t j = 1; j + 1 < key.size(); j += 2) {
            if (key[j] != 0 || key[j + 1] != '\\') continue;
            const std::string up = key.substr(0, j);
            auto file = places.find(up);
            if (file != places.end())
                return clash(file->second, "needs a folder where a file is installed by");
            folders.emplace(up, i);
        }
    }
    return true;
}

bool ConvertStoredNames(const std::string& manifestPath, std::vector<ManifestEntry>* entries,
                        const qor_codepage::SingleByteTable& table,
                        std::vector<std::string>* warnings, std::string* error) {
    for (ManifestEntry& e : *entries) {
        const std::string where = manifestPath + ":" + std::to_string(e.line) + ": ";
        std::string converted, warning;
        if (!ToSetupText(e.storedName, "stored name '" + e.storedName + "'", table, &converted,
                         &warning, error)) {
            *error = where + *error;
            return false;
        }
        if (!warning.empty()) warnings->push_back(where + warning);
        e.storedName = converted;
    }
    return true;
}

bool LoadManifest(const std::string& manifestPath, std::vector<ManifestEntry>* entries,
                  std::string* error, std::vector<std::string>* warnings,
                  const qor_codepage::SingleByteTable* codePage) {
    FilePtr f = OpenFile(manifestPath.c_str(), "rb");
    if (!f) {
        *error = "cannot open manifest '" + manifestPath + "': " + LastErrorText();
        return false;
    }
    std::string text;
    char buf[16384];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
    if (ferror(f.get())) {
        *error = "cannot read manifest '" + manifestPath + "'";
        return false;
    }
    if (!ParseManifestText(text, manifestPath, entries, error)) return false;
    // Names are checked as the setup will hold them, in its code page.
    std::vector<std::string> ignored;
    const qor_codepage::SingleByteTable& table = codePage ? *codePage : qor_codepage::Windows1252();
    if (!ExpandFolders(manifestPath, entries, error, warnings) ||
        !ConvertStoredNames(manifestPath, entries, table, warnings ? warnings : &ignored, error) ||
        !CheckManifestNames(manifestPath, *entries, warnings, error, table))
        return false;
    for (const ManifestEntry& e : *entries) {
        if (!IsRegularFile(e.source.c_str())) {
            *error =
                Where(manifestPath, e.line) + "source '" + e.source +
                (PathExists(e.source.c_str()) ? "' is not a regular file" : "' does not exist");
            return false;
        }
        FilePtr probe = OpenFile(e.source.c_str(), "rb");
        if (!probe) {
            *error = Where(manifestPath, e.line) + "cannot read source '" + e.source +
                     "': " + LastErrorText();
            return false;
        }
    }
    return true;
}

}  // namespace qorpack
