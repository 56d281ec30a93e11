#include "NameRules.h"

#include <cstdio>
#include <vector>

namespace qorpack {

namespace {

const char kProductPrefix[] = "[TROVIX]";
const char kReceiverPrefix[] = "[RECEIVE]";
// Stand-ins for the folders while the tags are taken out; a name that holds
// them is refused for its control characters anyway.
const char kProductMark = '\x01';
const char kReceiverMark = '\x02';

void ReplaceFirst(std::string* s, const std::string& what, char mark) {
    size_t at = s->find(what);
    if (at != std::string::npos) s->replace(at, what.size(), 1, mark);
}

// Takes the value of `tag` out of `name` as the setup does: the tag is found
// without regard to case, but removed only when spelled as `tag` is.
std::string TakeTagValue(std::string* name, const std::string& tag) {
    std::string lower = FoldAscii(*name);
    size_t at = lower.find(FoldAscii(tag));
    if (at == std::string::npos) return "";
    size_t close = lower.find(']', at + 1);
    if (close == std::string::npos) return "";
    std::string value = name->substr(at + tag.size(), close - at - tag.size());
    std::string whole = tag + value + "]";
    size_t exact = name->find(whole);
    if (exact != std::string::npos) name->erase(exact, whole.size());
    return value;
}

}  // namespace

std::string FoldAscii(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

StoredPlacement DecodeStoredName(const std::string& stored) {
    StoredPlacement p;
    std::string dest = stored;
    ReplaceFirst(&dest, kProductPrefix, kProductMark);
    ReplaceFirst(&dest, kReceiverPrefix, kReceiverMark);
    p.installArgs = TakeTagValue(&dest, "[InstCmd=");
    p.uninstallArgs = TakeTagValue(&dest, "[UninstCmd=");
    size_t mark = dest.find(kReceiverMark);
    if (mark != std::string::npos) {
        p.folder = StoredPlacement::kReceiver;
    } else {
        mark = dest.find(kProductMark);
        if (mark != std::string::npos) p.folder = StoredPlacement::kProduct;
    }
    if (p.folder == StoredPlacement::kUnplaced) {
        p.path = dest;
        return p;
    }
    p.path = dest.substr(mark + 1);
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
                      " characters long; at most 259 fit the installer's path buffers");
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f) return refuse("contains a control character");
    size_t product = name.find(kProductPrefix), receiver = name.find(kReceiverPrefix);
    if (product != std::string::npos && receiver != std::string::npos)
        return refuse("carries both [TROVIX] and [RECEIVE]");
    size_t prefixAt = product != std::string::npos ? product : receiver;
    if (prefixAt != std::string::npos && prefixAt != 0)
        return refuse("has its placement prefix after other text; it must begin the name");

    StoredPlacement p = DecodeStoredName(name);
    if (p.folder != StoredPlacement::kUnplaced) {
        // The text after the prefix and tags must start a path below the folder.
        std::string rest =
            name.substr(p.folder == StoredPlacement::kProduct ? sizeof kProductPrefix - 1
                                                              : sizeof kReceiverPrefix - 1);
        std::string check = rest;
        TakeTagValue(&check, "[InstCmd=");
        TakeTagValue(&check, "[UninstCmd=");
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
    size_t start = 0;
    for (;;) {
        size_t end = p.path.find('\\', start);
        std::string step = p.path.substr(start, end == std::string::npos ? end : end - start);
        if (step.empty()) return refuse("has an empty folder step ('\\\\' or a trailing '\\')");
        if (step == "..") return refuse("has a '..' step, which leads out of its folder");
        if (step == ".") return refuse("has a '.' step");
        if (end == std::string::npos) break;
        start = end + 1;
    }
    r.ok = true;
    return r;
}

std::string InstallKey(const std::string& stored) {
    StoredPlacement p = DecodeStoredName(stored);
    return std::string(1, static_cast<char>('0' + p.folder)) + FoldAscii(p.path);
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
