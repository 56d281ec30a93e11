#include "PackageChecks.h"

#include "contract/AsciiCase.h"
#include "contract/StoredName.h"

namespace qorpack {

namespace {

// Slot indices in block order.
enum { kInstName, kRcvRegKey, kRcvDefDir, kAppRegKey, kAppLocItem, kAppName, kAppExe };

bool Stamped(const SlotState slots[kSlotCount], int i) {
    return !slots[i].holdsMarker && !slots[i].value.empty();
}

std::string Marker(int i) { return GetSlotSpec(i).marker; }

}  // namespace

std::vector<PackageFinding> CheckPackage(const std::vector<std::string>& storedNames,
                                         const SlotState slots[kSlotCount]) {
    std::vector<PackageFinding> out;
    bool uninstaller = false;
    size_t receiverEntries = 0, installCommands = 0;
    std::string firstDropped;
    for (const std::string& name : storedNames) {
        // Placeholders that no stored name can hold tell the two folders apart.
        const StoredNameMeaning m = DecodeStoredName(Text(name.c_str()), Text("<P>"), Text("<R>"));
        if (qor_case::EqualAscii(m.destination.c_str(), "<P>\\TrovixUninstall.exe"))
            uninstaller = true;
        if (m.unit == StoredNameUnit::kReceiver) ++receiverEntries;
        if (!m.installArgs.empty() && ++installCommands == kMaxInstallCommands + 1)
            firstDropped = name;
    }

    if (installCommands > static_cast<size_t>(kMaxInstallCommands))
        out.push_back({true, std::to_string(installCommands) +
                                 " entries carry an install command ([InstCmd=...]); the setup "
                                 "runs the first " +
                                 std::to_string(kMaxInstallCommands) +
                                 " and drops the rest, from '" + firstDropped +
                                 "' on: run the others from one of the first " +
                                 std::to_string(kMaxInstallCommands) + " programs"});
    if (!uninstaller)
        out.push_back({false,
                       "no entry installs TrovixUninstall.exe into the product folder: the setup "
                       "registers an uninstall command that points at a missing file; add a "
                       "manifest line such as 'bin/TrovixUninstall.exe => "
                       "[TROVIX]\\TrovixUninstall.exe'"});

    const bool receiver = Stamped(slots, kRcvRegKey);
    if (receiverEntries && !receiver)
        out.push_back({false, std::to_string(receiverEntries) + " entr" +
                                  (receiverEntries == 1 ? "y is" : "ies are") +
                                  " placed with [RECEIVE] but " + Marker(kRcvRegKey) +
                                  " is not stamped, so this is no receiver setup and has no "
                                  "receiver folder for them: stamp " +
                                  Marker(kRcvRegKey) + " (and the application slots)"});
    if (receiver && !receiverEntries)
        out.push_back({false, Marker(kRcvRegKey) +
                                  " is stamped but no entry is placed with [RECEIVE]: the setup "
                                  "registers a receiver that installs no file of its own"});
    if (!receiver) {
        for (int i : {kRcvDefDir, kAppRegKey, kAppLocItem, kAppName, kAppExe})
            if (Stamped(slots, i))
                out.push_back(
                    {false, Marker(i) + " is stamped but " + Marker(kRcvRegKey) +
                                " is not: only a receiver setup uses it" +
                                (i == kAppRegKey ? "; even so, the setup refuses to install when "
                                                   "the application is not found"
                                                 : "")});
        return out;
    }

    if (!Stamped(slots, kAppRegKey) && !Stamped(slots, kRcvDefDir))
        out.push_back({false, Marker(kAppRegKey) +
                                  " is not stamped: the setup looks for the application's folder "
                                  "under the receiver's own name ('" +
                                  slots[kRcvRegKey].value + "') only" +
                                  (Stamped(slots, kAppExe)
                                       ? ", then the wizard asks for " + slots[kAppExe].value +
                                             " and a silent install fails"
                                       : ", then it refuses to install")});
    if (Stamped(slots, kAppRegKey) && !Stamped(slots, kAppName) && !Stamped(slots, kAppExe) &&
        !Stamped(slots, kRcvDefDir))
        out.push_back({false, Marker(kAppName) +
                                  " is not stamped: when the application is not found the "
                                  "setup's message names no application"});
    return out;
}

}  // namespace qorpack
