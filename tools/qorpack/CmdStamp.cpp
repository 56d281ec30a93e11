// qorpack stamp: writes configuration slot values into a setup.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandUtil.h"
#include "Commands.h"
#include "FileOps.h"
#include "Stamp.h"
#include "WriteLock.h"

namespace qorpack {

const char* const kStampUsage =
    "usage: qorpack stamp SETUP [--unsign] [--codepage N] --slot MARKER=VALUE\n"
    "                         [--slot MARKER=VALUE ...]\n"
    "Writes values into the configuration slots of SETUP (a stub or a built setup),\n"
    "converted from UTF-8 into the setup's code page (Windows-1252 unless --codepage\n"
    "N names another single-byte one; a character it lacks is refused).\n"
    "Markers and the bytes each takes: TVIID_INST_NAME 39, TVIID_RCV_REG_KEY 31,\n"
    "TVIID_RCV_DEF_DIR 63, TVIID_APP_REG_KEY 127, TVIID_APP_LOC_ITEM 31,\n"
    "TVIID_APP_NAME 31, TVIID_APP_EXE 31. An empty VALUE stamps an empty text.\n"
    "A built setup's payload and slots are checked as its build checks them.\n"
    "A setup built from the stub is found by its slot section and can be stamped\n"
    "again at any time; other files only while one slot still holds its marker.\n"
    "A signed SETUP is refused (stamping breaks the signature) unless --unsign is\n"
    "given, which removes the signature first; sign the result again.\n"
    "On any error SETUP is left as it was.\n";

int CmdStamp(int argc, char** argv) {
    const char* cmd = "stamp";
    std::string setup;
    std::vector<std::string> slotArgs;
    qor_codepage::SingleByteTable codePage = qor_codepage::Windows1252();
    std::string error;
    bool unsign = false;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) return printf("%s", kStampUsage), 0;
        if (!strcmp(argv[i], "--unsign")) {
            unsign = true;
        } else if (!strcmp(argv[i], "--slot")) {
            if (i + 1 >= argc) return UsageError(cmd, kStampUsage, "--slot needs MARKER=VALUE");
            slotArgs.push_back(argv[++i]);
        } else if (!strncmp(argv[i], "--slot=", 7)) {
            slotArgs.push_back(argv[i] + 7);
        } else if (!strcmp(argv[i], "--codepage") || !strncmp(argv[i], "--codepage=", 11)) {
            const char* v = argv[i][10] == '=' ? argv[i] + 11 : (i + 1 < argc ? argv[++i] : "");
            if (!ParseCodePage(v, &codePage, &error))
                return UsageError(cmd, kStampUsage, error.c_str());
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return UsageError(cmd, kStampUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else if (setup.empty()) {
            setup = argv[i];
        } else {
            return UsageError(cmd, kStampUsage, "give one SETUP file");
        }
    }
    if (setup.empty()) return UsageError(cmd, kStampUsage, "no SETUP file given");
    std::vector<SlotAssignment> slots;
    if (!ParseSlotArguments(cmd, slotArgs, codePage, &slots, &error))
        return Complain(cmd, "%s", error.c_str());
    if (slots.empty()) return UsageError(cmd, kStampUsage, "no --slot MARKER=VALUE given");
    if (!IsRegularFile(setup.c_str()))
        return Complain(cmd, "'%s' does not exist or is not a file", setup.c_str());
    WriteLock lock;
    if (!lock.Acquire(setup, false, &error)) return Complain(cmd, "%s", error.c_str());
    qzf_format::ArchiveLocation at;
    if (!LocateArchiveOf(setup, &at, &error) || !CheckSignature(setup, unsign, at, &error))
        return Complain(cmd, "%s", error.c_str());
    uint64_t offset;
    unsigned char bytes[kSlotBlockSize];
    if (!LocateSlotBlock(setup.c_str(), &offset, &error) ||
        !ReadBlockAt(setup.c_str(), offset, bytes, &error))
        return Complain(cmd, "%s", error.c_str());
    // A built setup is checked as it will be: its payload with the new slots.
    if (at.appended) {
        OpenedArchive a;
        if (OpenArchive(setup, QorZipFile::QZF_MODE_READ, &a, &error)) {
            std::vector<std::string> names;
            for (unsigned long i = 0; i < a.Count(); ++i) names.push_back(a.Name(i));
            SlotState states[kSlotCount];
            ApplySlotAssignments(bytes, slots);
            ReadSlotStates(bytes, states);
            if (!ReportPackageChecks(cmd, names, states, &error))
                return Complain(cmd, "%s", error.c_str());
        }
    }

    TempOutput out;
    if (!out.Create(setup, &error) ||
        !CopyFileContents(setup.c_str(), out.Path().c_str(), &error) ||
        !RemoveSignature(out.Path().c_str(), at, &error) ||
        !StampFileInPlace(out.Path().c_str(), slots, &error))
        return Complain(cmd, "%s", error.c_str());
    out.CopyModeFrom(setup.c_str());
    if (!lock.StillCurrent(&error)) return Complain(cmd, "%s", error.c_str());
    lock.BeforeReplace();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    Say("stamped %lu slot%s of %s\n", static_cast<unsigned long>(slots.size()),
        slots.size() == 1 ? "" : "s", setup.c_str());
    return 0;
}

}  // namespace qorpack
