// qorpack verify: every entry decoded as the setup decodes it.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "CommandUtil.h"
#include "Commands.h"
#include "NameRules.h"

namespace qorpack {

const char* const kVerifyUsage =
    "usage: qorpack verify ARCHIVE\n"
    "Decodes every entry in memory as the setup does when it installs it (gzip\n"
    "data with its CRC and length checked; data not in gzip form as it is); exits\n"
    "1 naming each bad entry. ARCHIVE may be a setup with an appended archive.\n";

namespace {

bool DiscardData(void*, const uint8_t*, uint32_t) { return true; }

}  // namespace

int CmdVerify(int argc, char** argv) {
    const char* cmd = "verify";
    std::string archive;
    int rc = ParseOneFile(argc, argv, cmd, kVerifyUsage, "ARCHIVE", &archive);
    if (rc >= 0) return rc;
    OpenedArchive a;
    std::string error;
    if (!OpenArchive(archive, QorZipFile::QZF_MODE_READ, &a, &error))
        return Complain(cmd, "%s", error.c_str());
    // Every entry is decoded as the setup decodes it when it installs it.
    EntryDecoder decoder(a);
    const unsigned long count = a.Count();
    unsigned long bad = 0;
    for (unsigned long i = 0; i < count; ++i) {
        qzf_indexed::InflateNotes notes;
        const Inflated r = decoder.Decode(i, DiscardData, nullptr, &notes);
        // Bytes after the last member are ignored by the setup, but a
        // well-made entry has none: they are damage all the same.
        if (r != Inflated::kOk || notes.trailing) {
            fprintf(stderr, "qorpack verify: entry %lu '%s': %s\n", i + 1,
                    EscapeControls(a.Name(i)).c_str(), DamageText(r, notes, a.Entry(i)).c_str());
            ++bad;
        }
    }
    if (bad)
        return Complain(cmd, "%lu of %lu entries of '%s' are bad", bad, count, archive.c_str());
    Say("%s: %lu entr%s verified\n", archive.c_str(), count, count == 1 ? "y" : "ies");
    return 0;
}

}  // namespace qorpack
