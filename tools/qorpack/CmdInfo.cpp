// qorpack info: the slots, the signature and the appended archive of a setup.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandUtil.h"
#include "Commands.h"
#include "Stamp.h"

namespace qorpack {

const char* const kInfoUsage =
    "usage: qorpack info SETUP\n"
    "Prints each configuration slot's marker and stamped value (or that it still\n"
    "holds its marker), whether SETUP is signed, and the archive appended to it,\n"
    "if any.\n";

int CmdInfo(int argc, char** argv) {
    const char* cmd = "info";
    std::string setup;
    int rc = ParseOneFile(argc, argv, cmd, kInfoUsage, "SETUP file", &setup);
    if (rc >= 0) return rc;
    std::string error;
    uint64_t offset;
    unsigned char block[kSlotBlockSize];
    if (!LocateSlotBlock(setup.c_str(), &offset, &error) ||
        !ReadBlockAt(setup.c_str(), offset, block, &error))
        return Complain(cmd, "%s", error.c_str());
    SlotState states[kSlotCount];
    ReadSlotStates(block, states);
    printf("configuration slots at file offset %" PRIu64 ":\n", offset);
    for (int i = 0; i < kSlotCount; ++i) {
        const SlotSpec& s = GetSlotSpec(i);
        if (states[i].holdsMarker)
            printf("  %-18s (%3u)  still holds its marker\n", s.marker, s.capacity);
        else
            printf("  %-18s (%3u)  \"%s\"\n", s.marker, s.capacity, Shown(states[i].value).c_str());
    }
    qzf_format::ArchiveLocation located;
    const bool read = qzf_format::LocateArchiveInFile(setup.c_str(), &located);
    if (read && located.hasSignature)
        printf("signed: certificate table at offset %" PRIu64 "\n", located.signatureOffset);
    else
        printf("not signed\n");
    const uint64_t at = located.headerOffset;
    if (read && located.hasHeader && at > 0) {
        QorZipFile z;
        if (qzf_format::OpenLocatedArchive(z, setup.c_str(), located, QorZipFile::QZF_MODE_READ))
            printf("appended archive at offset %" PRIu64 ": %lu entries\n", at, z.GetNumFiles());
        else
            printf("appended archive at offset %" PRIu64 " does not open: %s\n", at,
                   EngineError(z).c_str());
    } else {
        printf("no appended archive\n");
    }
    return 0;
}

}  // namespace qorpack
