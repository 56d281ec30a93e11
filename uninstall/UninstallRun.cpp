#include "uninstall/UninstallRun.h"

#include "system/Handles.h"
#include "system/Registry.h"
#include "text/ResourceText.h"
#include "text/TextUtil.h"
#include "contract/UninstallLogFormat.h"
#include "uninstall/SelfCopy.h"
#include "uninstall/UninstallResources.h"

namespace {

// How long a copy waits for the original program to end.
constexpr DWORD kOriginalWaitMs = 60000;

Text OwnFile() {
    char own[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    return n == 0 || n >= sizeof own ? Text() : Text(own, n);
}

bool ReadLogFile(const Text& path, std::string& bytes) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    DWORD high = 0;
    DWORD size = GetFileSize(file.Get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > kMaxLogBytes) return false;
    bytes.resize(size);
    DWORD got = 0;
    return size == 0 || (ReadFile(file.Get(), &bytes[0], size, &got, nullptr) && got == size);
}

// Deletes a stale file at path, but only when the system says it is that
// very file (LeadsElsewhere): a planted link is left alone, since deleting
// or renaming through a link reaches its target under Wine. Where the system
// cannot say (before Windows Vista), nothing is deleted.
void RemoveStaleFile(const Text& path) {
    using SetInfoFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const SetInfoFn setInfo = reinterpret_cast<SetInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetFileInformationByHandle")));
    // Without GetFinalPathNameByHandle nothing can be confirmed: keep it.
    if (!setInfo || !GetProcAddress(kernel, "GetFinalPathNameByHandleA")) return;
    FileHandle file(CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid() || HandleLeadsElsewhere(file.Get(), path)) return;
    struct {
        BOOLEAN deleteFile;
    } disposition = {TRUE};
    constexpr int kFileDispositionInfo = 4;
    setInfo(file.Get(), kFileDispositionInfo, &disposition, sizeof disposition);
}

// Writes the log anew through a file beside it, so a failed write loses nothing.
// The new file must be new (CREATE_NEW): whatever lies at "<log>.new" (a
// stale file, or a link planted to make this elevated program overwrite
// another file) is never written through; a stale file is removed, anything
// else is passed over for a numbered name.
bool WriteLogFile(const Text& path, const std::string& bytes) {
    if (path.size() + 8 >= MAX_PATH || PassesThroughReparsePoint(path)) return false;
    Text fresh = path + ".new";
    RemoveStaleFile(fresh);
    {
        FileHandle file(CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        for (char digit = '1'; !file.IsValid() && digit <= '9'; ++digit) {
            fresh = path + ".new" + Text(1, digit);
            file.Attach(CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        if (!file.IsValid()) return false;
        DWORD written = 0;
        if (!bytes.empty() && (!WriteFile(file.Get(), bytes.data(),
                                          static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                               written != bytes.size())) {
            file.Close();
            DeleteFileA(fresh.c_str());
            return false;
        }
    }
    if (MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileA(fresh.c_str());
    return false;
}

// Silent mode: nothing is shown or asked; the exit code tells how it went.
class SilentObserver : public UninstallObserver {
public:
    void Refused(const UninstallSession&, const Text&) override {}
    int Converse(UninstallSession& session) override {
        DoRemoval(session, *this);
        return RemovalExitCode(session);
    }
    void Progress(size_t, size_t, const Text&) override {}
};

void OnEngineProgress(void* context, size_t done, size_t total, const Text& what) {
    static_cast<UninstallObserver*>(context)->Progress(done, total, what);
}

bool IsProductUnit(const UninstallSession& session, const Text& unit) {
    return EqualsNoCase(unit, session.productKey) || EqualsNoCase(unit, kProductWord) ||
           EqualsNoCase(unit, kLogUnknownPrefix);
}

// Reads the log and decides what goes. False (the message shown) when the
// run must end with -1 and nothing removed.
bool PrepareSession(UninstallSession& session, UninstallObserver& observer) {
    size_t slash = session.originalFile.rfind('\\');
    if (slash == Text::npos) return false;
    session.logFile = session.originalFile.substr(0, slash + 1) + kUninstallLogFileName;
    if (session.logFile.size() >= MAX_PATH || !ReadLogFile(session.logFile, session.logBytes)) {
        observer.Refused(
            session, LoadUninstallText(session, IDS_UN_LOG_UNREADABLE, Text(), session.logFile));
        return false;
    }
    session.log = ParseUninstallLog(session.logBytes.data(), session.logBytes.size());
    // Every log the setup writes has the product's sections (it records
    // itself there): an empty log or junk is not one.
    bool product = false;
    for (size_t i = 0; !product && i < session.log.sections.size(); ++i) {
        Text unit = LogSectionUnit(session.log.sections[i].name);
        product = EqualsNoCase(unit, session.productKey) || EqualsNoCase(unit, kProductWord);
    }
    if (!product) {
        observer.Refused(
            session, LoadUninstallText(session, IDS_UN_LOG_UNREADABLE, Text(), session.logFile));
        return false;
    }
    if (!session.options.productIdGiven) return true;

    session.removeAll = false;
    if (!session.options.productId.empty()) {
        const Text& id = session.options.productId;
        if (IsProductUnit(session, id) || !LogKnowsUnit(session.log, id)) {
            observer.Refused(session, LoadUninstallText(session, IDS_UN_NOT_INSTALLED, id));
            return false;
        }
        session.receiver = id;
        return true;
    }
    std::vector<Text> receivers;
    for (const Text& name : ListDependents(session.log))
        if (!IsProductUnit(session, name)) receivers.push_back(name);
    if (receivers.empty()) {
        observer.Refused(session, LoadUninstallText(session, IDS_UN_NO_RECEIVER));
        return false;
    }
    if (receivers.size() == 1) {
        session.receiver = receivers[0];
        return true;
    }
    if (session.options.silent) return false;  // which one is not ours to guess
    session.choices = receivers;
    return true;
}

// The entries a removal takes out of the log: every entry whose object is
// gone, and the commands whose file is gone.
std::set<std::string> EntriesGone(const UninstallSession& session,
                                  const std::vector<WorkItem>& work) {
    std::set<std::string> drop;
    for (const WorkItem& item : work) {
        std::string id = LogEntryId(item.section, item.key);
        if (item.kind == WorkKind::Command) {
            if (GetFileAttributesA(item.key.c_str()) == INVALID_FILE_ATTRIBUTES) drop.insert(id);
        } else if (session.report.gone.count(id)) {
            drop.insert(id);
        }
    }
    return drop;
}

// The entries one receiver's removal takes out of the log: its Dependents
// key, and what EntriesGone says.
std::set<std::string> ReceiverEntriesGone(const UninstallSession& session,
                                          const std::vector<WorkItem>& work) {
    std::set<std::string> drop = EntriesGone(session, work);
    if (const LogSection* dependents = FindSection(session.log, kLogDependents))
        for (const LogEntry& e : dependents->entries)
            if (EqualsNoCase(e.key, session.receiver))
                drop.insert(LogEntryId(dependents->name, e.key));
    return drop;
}

// After a full removal that left something: the log holding exactly what is
// left (a receiver none of whose sections is left leaves "Dependents" too).
std::string LogOfWhatIsLeft(const UninstallSession& session, const std::vector<WorkItem>& work) {
    std::string left =
        RewriteLog(session.logBytes.data(), session.logBytes.size(), EntriesGone(session, work));
    UninstallLog parsed = ParseUninstallLog(left.data(), left.size());
    std::set<std::string> orphans;
    if (const LogSection* dependents = FindSection(parsed, kLogDependents))
        for (const LogEntry& e : dependents->entries) {
            bool owns = false;
            for (size_t i = 0; !owns && i < parsed.sections.size(); ++i)
                owns = EqualsNoCase(LogSectionUnit(parsed.sections[i].name), e.key);
            if (!owns) orphans.insert(LogEntryId(dependents->name, e.key));
        }
    return orphans.empty() ? left : RewriteLog(left.data(), left.size(), orphans);
}

// The product's entry in the list of installed programs: removed last, and
// only when everything else went, so a later run can still be started there.
bool IsUninstallEntry(const WorkItem& item) {
    static const Text kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    if (item.kind != WorkKind::RegistryKey && item.kind != WorkKind::RegistryValue) return false;
    return IsSameOrBelow(item.key, kUninstallKey) && !IsSameOrBelow(kUninstallKey, item.key);
}

int Finish(UninstallSession& session, int code) {
    SignalOriginal(session.options.doneHandle, session.options.failHandle, code == kExitDone);
    if (session.options.IsCopy()) ScheduleOwnRemoval();
    return code;
}

}  // namespace

Text ReceiverDisplayName(const Text& receiver) {
    Text fullName = ReadSetupFullName(receiver);
    return fullName.empty() ? receiver : fullName;
}

Text LoadUninstallText(const UninstallSession& session, UINT id, const Text& name,
                       const Text& file) {
    Text t = LoadResourceText(session.instance, id);
    ReplaceOccurrences(t, "<NAME>", name, false);
    ReplaceOccurrences(t, "<FILE>", file, false);
    return t;
}

Text FormatReport(const UninstallSession& session) {
    Text out;
    for (const ReportLine& line : session.report.lines) {
        if (!out.empty()) out.append("\r\n");
        out.append(line.what).append(" - ").append(LoadUninstallText(session, line.reasonId));
        if (!line.detail.empty()) out.append(" ").append(line.detail);
    }
    return out;
}

void DoRemoval(UninstallSession& session, UninstallObserver& observer) {
    ProgressCallback progress = OnEngineProgress;
    void* progressContext = &observer;
    std::vector<Text> units;
    if (session.removeAll)
        units = ListUnitsForFullRemoval(session.log, session.productKey);
    else
        units.push_back(session.receiver);
    const std::vector<WorkItem> work = BuildWorkList(session.log, units);
    RemovalContext context = MakeRemovalContext(
        session.logFile, session.options.IsCopy() ? session.originalFile : Text());
    if (!session.removeAll) {
        CarryOutWork(work, context, session.report, progress, progressContext);
    } else {
        std::vector<WorkItem> first, last;
        for (const WorkItem& item : work) (IsUninstallEntry(item) ? last : first).push_back(item);
        CarryOutWork(first, context, session.report, progress, progressContext);
        if (!session.report.unfinished)
            CarryOutWork(last, context, session.report, progress, progressContext);
    }

    if (session.removeAll && session.report.unfinished) {
        // Something is left: the log keeps exactly that, and this program,
        // its folder and the Uninstall entry stay, so a later run can finish.
        session.report.deferred.clear();
        if (!WriteLogFile(session.logFile, LogOfWhatIsLeft(session, work)))
            session.report.lines.push_back(
                ReportLine{session.logFile, IDS_WHY_NOT_REMOVED, Text()});
        SignalOriginal(session.options.doneHandle, session.options.failHandle, false);
        return;
    }
    if (session.removeAll) {
        // The original ends on this signal; its file and folder can go then.
        SignalOriginal(session.options.doneHandle, session.options.failHandle, true);
        // Waiting in slices keeps the dialog painted and answering.
        const DWORD start = GetTickCount();
        while (!WaitForOriginal(session.options.parentHandle, 50) &&
               GetTickCount() - start < kOriginalWaitMs)
            if (progress) progress(progressContext, work.size(), work.size(), Text());
        FinishDeferred(context, session.report, progress, progressContext);
        return;
    }
    // One receiver: the log stays; nothing of the product waits.
    for (const WorkItem& item : session.report.deferred)
        session.report.lines.push_back(ReportLine{item.key, IDS_WHY_IN_USE, Text()});
    session.report.deferred.clear();
    std::string rewritten = RewriteLog(session.logBytes.data(), session.logBytes.size(),
                                       ReceiverEntriesGone(session, work));
    if (rewritten != session.logBytes && !WriteLogFile(session.logFile, rewritten))
        session.report.lines.push_back(ReportLine{session.logFile, IDS_WHY_NOT_REMOVED, Text()});
}

int RemovalExitCode(const UninstallSession& session) {
    return session.report.unfinished ? kExitCancelled : kExitDone;
}

int RunUninstaller(HINSTANCE instance, const char* commandTail, UninstallObserver& interactive) {
    UninstallSession session;
    session.instance = instance;
    if (!ParseUninstallOptions(Text(commandTail), session.options))
        return Finish(session, kExitCancelled);
    session.productKey = LoadUninstallText(session, IDS_UN_PRODUCT_KEY);
    if (session.productKey.empty()) session.productKey = kProductWord;
    session.originalFile = session.options.IsCopy() ? session.options.original : OwnFile();
    SilentObserver silent;
    UninstallObserver& observer = session.options.silent ? silent : interactive;
    if (!PrepareSession(session, observer)) return Finish(session, kExitCancelled);

    // The whole product goes with the folder this program lives in: hand the
    // work to a copy in the temp folder. Without one, work in place and leave
    // this program and its folder.
    if (session.removeAll && !session.options.IsCopy()) {
        Text arguments = session.options.silent ? "-silent" : "";
        int code = kExitCancelled;
        // The copy reads the log itself; this program only waits.
        session.log = UninstallLog();
        std::string().swap(session.logBytes);
        if (RunFromTempCopy(arguments, code)) return code;
    }
    return Finish(session, observer.Converse(session));
}
