#include "contract/StoredName.h"

#include "text/TextUtil.h"

StoredNameMeaning DecodeStoredName(const Text& storedName, const Text& productFolder,
                                   const Text& receiverFolder) {
    StoredNameMeaning m;
    m.destination = storedName;
    const bool product = ReplaceOccurrences(m.destination, kProductPrefix, productFolder, false);
    const bool receiver = ReplaceOccurrences(m.destination, kReceiverPrefix, receiverFolder, false);
    ExtractTagValue(m.destination, kInstallCommandTag, m.installArgs);
    ExtractTagValue(m.destination, kUninstallCommandTag, m.uninstallArgs);
    m.unit = receiver  ? StoredNameUnit::kReceiver
             : product ? StoredNameUnit::kProduct
                       : StoredNameUnit::kUnknown;
    return m;
}
