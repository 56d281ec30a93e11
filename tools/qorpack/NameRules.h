// Rules for stored names, shared by `build`, `add --as` and `add`, and the
// decoding of a stored name into the place the setup gives it. Pure text
// functions: no file is looked at.
#pragma once

#include <string>

#include "contract/CodePage.h"

namespace qorpack {

// What the setup makes of a stored name: the folder it lands in (by its
// placement prefix), the path below that folder with the tags removed, and
// the arguments of its install and uninstall commands.
struct StoredPlacement {
    enum Folder { kUnplaced, kProduct, kReceiver };
    Folder folder = kUnplaced;
    std::string path;  // below the folder ("\\" separated, no leading separator when placed)
    std::string installArgs;
    std::string uninstallArgs;
};

// Where the setup puts a stored name, by the setup's own decoder
// (DecodeStoredName, contract/StoredName.h): the first "[TROVIX]" and the first
// "[RECEIVE]" are replaced (receiver wins when both are present), then the
// "[InstCmd=" and "[UninstCmd=" tags are taken out.
StoredPlacement PlaceStoredName(const std::string& stored);

enum class NameOrigin {
    kGiven,    // written by the user (a manifest line, add --as): must carry a prefix
    kDerived,  // made from a source path by `add`: plain archives need no prefix
};

struct NameCheck {
    bool ok = false;
    std::string problem;  // why it is refused (when !ok)
    std::string warning;  // accepted, but worth a word (no placement prefix)
};

// Checks a stored name before it is written to an archive. Refused: empty,
// 260 bytes or longer, control characters, forward slashes, an absolute name
// (drive or leading backslash), empty, "." or ".." steps, a ':', a prefix
// that does not begin the name or lacks the backslash after it, a step ending
// in a dot or a space (Windows drops them). Warned of: a given name without
// placement prefix, characters Windows file names lack, a step Windows takes
// for a device (CON, NUL, COM1, LPT1.txt, ...).
NameCheck CheckStoredName(const std::string& name, NameOrigin origin);

// The key two names collide under once installed: folder and path with the
// tags removed, without regard to case as Windows compares file names
// written in the setup's code page (WindowsNameKey).
std::string InstallKey(const std::string& stored,
                       const qor_codepage::SingleByteTable& codePage = qor_codepage::Windows1252());

// The key under which Windows takes names, bytes of code page `codePage`, for
// one file: each byte's character in upper case (Unicode's simple case pairs
// of the Latin, Greek and Cyrillic letters the single-byte code pages hold,
// ÿ and ς included; not the Turkish dotted and dotless i), so that 0xC4 and
// 0xE4 are one name in Windows-1252 (Ä ä) and in Windows-1251 (Д д), and
// 0xD7 and 0xF7 only in Windows-1251 (Ч ч; × ÷ in Windows-1252). Bytes the
// code page leaves undefined stay apart. Not text: a key to compare.
std::string WindowsNameKey(const std::string& s, const qor_codepage::SingleByteTable& codePage);

// Lower-cases A-Z only, as the archive compares names.
std::string FoldAscii(const std::string& s);

// A name made safe for a terminal: control characters and DEL become \xNN.
std::string EscapeControls(const std::string& s);

// The stored name of a source path given relative to its base folder: steps
// joined with backslashes, "." steps dropped, ".." resolved lexically (""
// for the base itself). False when the path climbs out of its base.
bool StoredNameFromRelative(const std::string& rel, std::string* stored);

}  // namespace qorpack
