// qorpack build: a stamped copy of the stub with an archive of a manifest's files.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandUtil.h"
#include "Commands.h"
#include "FileOps.h"
#include "Manifest.h"
#include "Numbers.h"
#include "Parallel.h"
#include "ParallelWriter.h"
#include "Stamp.h"
#include "WriteLock.h"
#include "contract/ArchiveFormat.h"

namespace qorpack {

namespace {
constexpr uint64_t kGzipFraming = sizeof qzf_format::kGzipHeader + 8;  // header, CRC-32, size
}  // namespace

const char* const kBuildUsage =
    "usage: qorpack build --stub STUB --manifest FILE --out SETUP\n"
    "                     [--slot MARKER=VALUE ...] [--codepage N] [--jobs N]\n"
    "                     [--level N]\n"
    "Builds a setup: a stamped copy of STUB with an archive of the manifest's files\n"
    "appended. Manifest lines read 'SOURCE => STORED NAME'; '#' starts a comment\n"
    "line (after a name it is part of the name); sources are relative to the\n"
    "manifest's folder; a SOURCE ending in '/' adds every file below that folder,\n"
    "in sorted order, below STORED NAME. Stored names are written verbatim once\n"
    "they pass the stored-name rules. --jobs N compresses on N threads (default:\n"
    "one per processor);\n"
    "--jobs 1 adds the files one by one through the archive engine. The output is\n"
    "the same byte for byte either way. SETUP appears only when complete; it may\n"
    "not be the stub, the manifest or a source.\n"
    "--level N (1 to 9, default 9) is zlib's compression level: lower is faster\n"
    "and larger.\n"
    "Stored names and slot values are converted from UTF-8 into the setup's code\n"
    "page, Windows-1252 unless --codepage N names another single-byte one; a\n"
    "character it lacks is refused. A payload the setup cannot install as meant is\n"
    "refused (more than 20 install commands); one that surprises (no uninstaller,\n"
    "receiver entries without receiver slots, ...) gets a warning.\n";

int CmdBuild(int argc, char** argv) {
    const char* cmd = "build";
    std::string stub, manifest, outPath;
    std::vector<std::string> slotArgs;
    qor_codepage::SingleByteTable codePage = qor_codepage::Windows1252();
    int jobs = ProcessorCount();
    int level = kDefaultLevel;
    std::string error;
    for (int i = 0; i < argc; ++i) {
        std::string option = argv[i];
        const char* a = argv[i];
        if (IsHelp(a)) return printf("%s", kBuildUsage), 0;
        bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : nullptr;
        // --option=VALUE reads like --option VALUE.
        size_t eq = option.find('=');
        if (option.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = argv[i] + eq + 1;
            option.resize(eq);
            hasValue = true;
            --i;  // the ++i below takes no extra argument
        }
        if (option == "--stub" && hasValue) {
            stub = value;
            ++i;
        } else if (option == "--manifest" && hasValue) {
            manifest = value;
            ++i;
        } else if (option == "--out" && hasValue) {
            outPath = value;
            ++i;
        } else if (option == "--slot" && hasValue) {
            ++i;
            slotArgs.push_back(value);
        } else if (option == "--codepage" && hasValue) {
            ++i;
            if (!ParseCodePage(value, &codePage, &error))
                return UsageError(cmd, kBuildUsage, error.c_str());
        } else if (option == "--jobs" && hasValue) {
            ++i;
            unsigned long n = 0;
            if (!ParseCount(value, 1, 64, &n))
                return UsageError(cmd, kBuildUsage, "--jobs takes 1 to 64");
            jobs = static_cast<int>(n);
        } else if (option == "--level" && hasValue) {
            ++i;
            unsigned long n = 0;
            if (!ParseCount(value, 1, 9, &n))
                return UsageError(cmd, kBuildUsage, "--level takes 1 to 9");
            level = static_cast<int>(n);
        } else {
            return UsageError(cmd, kBuildUsage,
                              (std::string("unexpected argument ") + a +
                               (hasValue ? "" : " (or an option without its value)"))
                                  .c_str());
        }
    }
    if (stub.empty() || manifest.empty() || outPath.empty())
        return UsageError(cmd, kBuildUsage, "--stub, --manifest and --out are all needed");
    std::vector<SlotAssignment> slots;
    if (!ParseSlotArguments(cmd, slotArgs, codePage, &slots, &error))
        return Complain(cmd, "%s", error.c_str());
    if (!IsRegularFile(stub.c_str()))
        return Complain(cmd, "stub '%s' does not exist or is not a file", stub.c_str());
    if (!CheckStub(stub.c_str(), &error)) return Complain(cmd, "%s", error.c_str());
    uint64_t stubArchive = 0, stubSize = 0;
    bool stubHasArchive = false;
    if (!FindAppendedArchive(stub.c_str(), &stubArchive, &stubHasArchive) ||
        !GetFileSizeByPath(stub.c_str(), &stubSize))
        return Complain(cmd, "cannot read stub '%s'", stub.c_str());
    if (stubHasArchive && stubArchive > 0)
        return Complain(cmd, "stub '%s' already carries an archive at offset %" PRIu64,
                        stub.c_str(), stubArchive);
    if (stubSize >= 0xFFFFFFFFull) return Complain(cmd, "stub '%s' is too large", stub.c_str());
    if (SameFile(stub.c_str(), outPath.c_str()))
        return Complain(cmd, "--out names the stub itself; write the setup to another file");
    if (SameFile(manifest.c_str(), outPath.c_str()))
        return Complain(cmd, "--out names the manifest itself; write the setup to another file");
    std::vector<ManifestEntry> entries;
    std::vector<std::string> warnings;
    if (!LoadManifest(manifest, &entries, &error, &warnings, &codePage))
        return Complain(cmd, "%s", error.c_str());
    for (const std::string& w : warnings) Warn(cmd, w);
    {
        // The slots as the setup will read them: the stub's, then these.
        uint64_t block = 0;
        unsigned char bytes[kSlotBlockSize];
        SlotState states[kSlotCount];
        std::vector<std::string> names;
        for (const ManifestEntry& e : entries) names.push_back(e.storedName);
        if (!LocateSlotBlock(stub.c_str(), &block, &error) ||
            !ReadBlockAt(stub.c_str(), block, bytes, &error))
            return Complain(cmd, "%s", error.c_str());
        ApplySlotAssignments(bytes, slots);
        ReadSlotStates(bytes, states);
        if (!ReportPackageChecks(cmd, names, states, &error))
            return Complain(cmd, "%s", error.c_str());
    }
    uint64_t inputBytes = 0;
    const SameFileTest isOut(outPath.c_str());
    for (const ManifestEntry& e : entries) {
        uint64_t size = 0;
        if (isOut.Matches(e.source.c_str(), &size))
            return Complain(cmd, "%s:%d: --out names this source; write the setup to another file",
                            manifest.c_str(), e.line);
        inputBytes += size;
    }
    WriteLock lock;
    if (!lock.Acquire(outPath, WriteLock::Target::kMayBeMissing, &error))
        return Complain(cmd, "%s", error.c_str());

    TempOutput out;
    if (!out.Create(outPath, &error) ||
        !CopyFileContents(stub.c_str(), out.Path().c_str(), &error) ||
        (!slots.empty() && !StampFileInPlace(out.Path().c_str(), slots, &error)))
        return Complain(cmd, "%s", error.c_str());
    out.CopyModeFrom(stub.c_str());

    ProgressLine progress("compressing");
    if (jobs == 1) {
        QorZipFile z;
        z.SetUseBackupFile(false);
        z.SetHeaderOffset(static_cast<unsigned long>(stubSize));
        if (!qzf_indexed::SetAddLevel(z, level)) return Complain(cmd, "out of memory");
        if (!z.Open(out.Path().c_str(), QorZipFile::QZF_MODE_READWRITE))
            return Complain(cmd, "cannot open '%s': %s", out.Path().c_str(),
                            EngineError(z).c_str());
        for (size_t i = 0; i < entries.size(); ++i) {
            progress.Update(i + 1, entries.size(), entries[i].storedName);
            if (!z.AddFile(entries[i].source.c_str(), entries[i].storedName.c_str())) {
                progress.Finish();
                return Complain(cmd, "%s:%d: cannot add '%s': %s", manifest.c_str(),
                                entries[i].line, entries[i].source.c_str(), EngineError(z).c_str());
            }
        }
        // No entry added means nothing written yet: an empty archive still
        // gets its header and trailer, as the parallel writer gives it.
        if (entries.empty() && !z.Save())
            return Complain(cmd, "cannot write an empty archive to '%s': %s", out.Path().c_str(),
                            EngineError(z).c_str());
        z.Close();
        progress.Finish();
    } else {
        std::vector<PackItem> items;
        for (const ManifestEntry& e : entries) items.push_back({e.source, e.storedName});
        PackResult r = WriteArchiveParallel(out.Path(), items, jobs, level, &progress);
        if (!r.ok) {
            if (r.failedItem < entries.size())
                return Complain(cmd, "%s:%d: %s", manifest.c_str(), entries[r.failedItem].line,
                                r.error.c_str());
            return Complain(cmd, "%s", r.error.c_str());
        }
    }
    uint64_t outBytes = 0;
    GetFileSizeByPath(out.Path().c_str(), &outBytes);
    if (!lock.StillCurrent(&error)) return Complain(cmd, "%s", error.c_str());
    lock.BeforeReplace();
    if (!out.Commit(&error)) return Complain(cmd, "%s", error.c_str());
    // What the format costs besides the deflate streams: records, stored
    // names and each entry's gzip header and trailer.
    uint64_t framing = qzf_format::kHeaderLength + qzf_format::kTrailerLength;
    for (const ManifestEntry& e : entries)
        framing += qzf_format::kEntryMinLength + e.storedName.size() + kGzipFraming;
    Say("built %s: %lu entr%s, %s -> %s (stub %" PRIu64
        " KB, %.1f%% of the setup; records, names and gzip framing %" PRIu64 " KB, %.1f%%)\n",
        outPath.c_str(), static_cast<unsigned long>(entries.size()),
        entries.size() == 1 ? "y" : "ies", Megabytes(inputBytes).c_str(),
        Megabytes(outBytes - stubSize).c_str(), (stubSize + 500) / 1000,
        outBytes ? 100.0 * stubSize / outBytes : 0.0, (framing + 500) / 1000,
        outBytes ? 100.0 * framing / outBytes : 0.0);
    return 0;
}

}  // namespace qorpack
