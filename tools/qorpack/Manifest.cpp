#include "Manifest.h"

#include "FileOps.h"

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

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string Where(const std::string& file, int line) {
    return file + ":" + std::to_string(line) + ": ";
}
}  // namespace

bool ParseManifestText(const std::string& text, const std::string& manifestPath,
                       std::vector<ManifestEntry>* entries, std::string* error) {
    std::string base = DirectoryOf(manifestPath);
    size_t pos = 0;
    int lineNo = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
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
                     " characters long; at most 259 fit the installer's path buffers";
            return false;
        }
        for (unsigned char c : e.storedName) {
            if (c < 0x20 || c == 0x7f) {
                *error = Where(manifestPath, lineNo) + "stored name contains a control character";
                return false;
            }
        }
        for (const ManifestEntry& other : *entries) {
            if (EqualsNoCase(other.storedName, e.storedName)) {
                *error = Where(manifestPath, lineNo) + "stored name '" + e.storedName +
                         "' was already given on line " + std::to_string(other.line) +
                         " (names are unique regardless of case)";
                return false;
            }
        }
        source = ToNativeSeparators(source);
        e.source = IsAbsolute(source) ? source : JoinPath(base, source);
        entries->push_back(e);
    }
    return true;
}

bool LoadManifest(const std::string& manifestPath, std::vector<ManifestEntry>* entries,
                  std::string* error) {
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
