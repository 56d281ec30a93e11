// PackageChecks.h: what a built setup will do with its entries and slots,
// checked before it ships. A package the setup cannot install as meant is
// refused; one that installs but surprises its users gets a warning. Each
// finding names the fix.
#pragma once

#include <string>
#include <vector>

#include "Stamp.h"

namespace qorpack {

// The number of install commands the setup runs; later ones are dropped.
constexpr int kMaxInstallCommands = 20;

struct PackageFinding {
    bool refuse;          // the setup cannot work as packaged
    std::string message;  // what happens and the fix, one paragraph
};

// storedNames: every entry of the payload, in archive order; slots: the seven
// slots as the setup will read them.
std::vector<PackageFinding> CheckPackage(const std::vector<std::string>& storedNames,
                                         const SlotState slots[kSlotCount]);

}  // namespace qorpack
