#include "NameRules.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "contract/AsciiCase.h"
#include "contract/RelativeName.h"
#include "contract/StoredName.h"
#include "text/TextUtil.h"

namespace qorpack {

namespace {

// Stand-ins for the folders in the shared decoder's destination; a name that
// holds them is refused for its control characters anyway.
const char kProductMark = '\x01';
const char kReceiverMark = '\x02';

// Takes the value of `tag` out of `name` as the setup does (ExtractTagValue).
void TakeTag(std::string* name, const char* tag) {
    Text text(*name), value;
    ExtractTagValue(text, tag, value);
    *name = text.str();
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 in any case, alone or
// before an extension: Windows opens the device, never a file.
bool IsDeviceName(const std::string& step) {
    std::string stem = FoldAscii(step.substr(0, step.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

namespace {

// Unicode's simple upper case of the letters single-byte code pages hold:
// ASCII, Latin-1, Latin Extended-A (pairs), a few of Extended-B, Greek and
// Cyrillic. Everything else is its own upper case.
uint32_t UpperOf(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0x80) return c;
    if (c == 0xB5) return 0x39C;                               // µ: Greek Mu
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;  // à-þ but ÷
    if (c == 0xFF) return 0x178;                               // ÿ
    if (c >= 0x100 && c <= 0x17E) {
        // Pairs, upper case first: even-odd except Ĺ-ň and Ź-ž, which are odd-even;
        // İ ı, ĸ and ŉ have no simple partner.
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149) return c;
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        const bool lower = oddUpper ? (c % 2 == 0) : (c % 2 == 1);
        return lower ? c - 1 : c;
    }
    if (c == 0x192) return 0x191;                // ƒ
    if (c == 0x1A1 || c == 0x1B0) return c - 1;  // ơ ư
    if (c == 0x3AC) return 0x386;                // ά
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 0x20;
    if (c == 0x3C2) return 0x3A3;  // ς: Sigma
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c == 0x491) return 0x490;  // ґ
    return c;
}

}  // namespace

std::string WindowsNameKey(const std::string& s, const qor_codepage::SingleByteTable& codePage) {
    std::string key;
    key.reserve(2 * s.size());
    for (unsigned char b : s) {
        const uint32_t c = b < 0x80 ? b : codePage.upper[b - 0x80];
        // An undefined byte gets a private-use character of its own.
        const uint32_t u = b >= 0x80 && c == 0 ? 0xF700 + b : UpperOf(c);
        key += static_cast<char>(u >> 8);
        key += static_cast<char>(u & 0xFF);
    }
    return key;
}

std::string FoldAscii(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = qor_case::FoldAscii(c);
    return out;
}

StoredPlacement PlaceStoredName(const std::string& stored) {
    const StoredNameMeaning m =
        DecodeStoredName(Text(stored), Text(1, kProductMark), Text(1, kReceiverMark));
    StoredPlacement p;
    p.installArgs = m.installArgs.str();
    p.uninstallArgs = m.uninstallArgs.str();
    const std::string& dest = m.destination.str();
    const char mark = m.unit == StoredNameUnit::kReceiver  ? kReceiverMark
                      : m.unit == StoredNameUnit::kProduct ? kProductMark
                                                           : 0;
    // A prefix inside a tag's value goes with the tag: the name stays unplaced.
    const size_t at = mark ? dest.find(mark) : std::string::npos;
    if (at == std::string::npos) {
        p.path = dest;
        return p;
    }
    p.folder = mark == kReceiverMark ? StoredPlacement::kReceiver : StoredPlacement::kProduct;
    p.path = dest.substr(at + 1);
    if (!p.path.empty() && p.path[0] == '\\') p.path.erase(0, 1);
    return p;
}

NameCheck CheckStoredName(const std::string& name, NameOrigin origin) {
    NameCheck r;
    auto refuse = [&](const std::string& why) {
        r.problem = why;
        return r;
    };
    if (name.empty()) return refuse("is empty");
    if (name.size() >= 260)
        return refuse("is " + std::to_string(name.size()) +
                      " bytes long; at most 259 bytes fit the installer's path buffers");
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f) return refuse("contains a control character");
    size_t product = name.find(kProductPrefix), receiver = name.find(kReceiverPrefix);
    // The setup gives such an entry to the receiver; a packager may mean it.
    const bool both = product != std::string::npos && receiver != std::string::npos;
    if (both)
        r.warning =
            "carries both [TROVIX] and [RECEIVE]; the setup places it in the receiver's "
            "folder";
    size_t prefixAt = product < receiver ? product : receiver;
    if (prefixAt != std::string::npos && prefixAt != 0)
        return refuse("has its placement prefix after other text; it must begin the name");

    StoredPlacement p = PlaceStoredName(name);
    if (both) {
        // Checked below on the path after the receiver prefix, where it lands.
    } else if (p.folder != StoredPlacement::kUnplaced) {
        // The text after the prefix and tags must start a path below the folder.
        std::string rest =
            name.substr(p.folder == StoredPlacement::kProduct ? sizeof kProductPrefix - 1
                                                              : sizeof kReceiverPrefix - 1);
        std::string check = rest;
        TakeTag(&check, kInstallCommandTag);
        TakeTag(&check, kUninstallCommandTag);
        if (check.empty() || check[0] != '\\')
            return refuse("needs a backslash after its placement prefix and tags");
    } else {
        if (!p.path.empty() && p.path[0] == '\\') return refuse("begins with a backslash");
        if (p.path.size() >= 2 && p.path[1] == ':') return refuse("names a drive");
        if (origin == NameOrigin::kGiven)
            r.warning =
                "has no placement prefix ([TROVIX] or [RECEIVE]); the setup would place it "
                "relative to its current folder";
    }
    if (p.path.empty()) return refuse("names no file after its prefix");
    if (p.path.find('/') != std::string::npos)
        return refuse("contains '/'; the setup separates folders with backslashes only");
    if (p.path.find(':') != std::string::npos)
        return refuse("contains ':', which names a drive or a stream on Windows");
    size_t odd = p.path.find_first_of("<>\"|?*");
    if (odd != std::string::npos && r.warning.empty())
        r.warning = std::string("contains '") + p.path[odd] +
                    "', which Windows file names cannot hold; the setup cannot create it";
    switch (CheckRelativeName(p.path.data(), p.path.size())) {
        case RelativeNameVerdict::Below:
        case RelativeNameVerdict::Drive:  // refused above: no ':' at all
            break;
        case RelativeNameVerdict::EmptyStep:
            return refuse("has an empty folder step ('\\\\' or a trailing '\\')");
        case RelativeNameVerdict::DotDotStep:
            return refuse("has a '..' step, which leads out of its folder");
        case RelativeNameVerdict::DotStep:
            return refuse("has a '.' step");
    }
    size_t start = 0;
    for (;;) {
        size_t end = p.path.find('\\', start);
        std::string step = p.path.substr(start, end == std::string::npos ? end : end - start);
        // Windows drops them: "docs." and "docs " name the folder "docs".
        if (step.back() == '.' || step.back() == ' ')
            return refuse("has a step ending in a dot or a space ('" + step +
                          "'), which Windows drops, so it names another file");
        if (IsDeviceName(step) && r.warning.empty())
            r.warning = "has a step '" + step +
                        "' that Windows takes for a device (CON, PRN, AUX, NUL, COM1-9, "
                        "LPT1-9, with any extension); the setup cannot create it";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    r.ok = true;
    return r;
}

std::string InstallKey(const std::string& stored, const qor_codepage::SingleByteTable& codePage) {
    StoredPlacement p = PlaceStoredName(stored);
    return std::string(1, static_cast<char>('0' + p.folder)) + WindowsNameKey(p.path, codePage);
}

std::string EscapeControls(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool StoredNameFromRelative(const std::string& rel, std::string* stored) {
    std::vector<std::string> steps;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find_first_of("\\/", start);
        if (end == std::string::npos) end = rel.size();
        std::string step = rel.substr(start, end - start);
        if (step == "..") {
            if (steps.empty()) return false;
            steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    stored->clear();
    for (const std::string& s : steps) {
        if (!stored->empty()) *stored += '\\';
        *stored += s;
    }
    return true;
}

}  // namespace qorpack
