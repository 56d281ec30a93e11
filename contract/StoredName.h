// StoredName.h: what an archive entry's stored name says about its install.
//
// A stored name is the destination path with a placement prefix standing for
// a folder ("[TROVIX]" the product folder, "[RECEIVE]" the receiver folder)
// and optional command tags: "[InstCmd=ARGS]" runs the file with ARGS after
// the install, "[UninstCmd=ARGS]" records the command for the uninstaller.
// The setup, qorpack's layout view and the uninstaller all read names here.
#pragma once

#include "text/Text.h"

// Placement prefixes and command tags of stored entry names.
constexpr char kProductPrefix[] = "[TROVIX]";
constexpr char kReceiverPrefix[] = "[RECEIVE]";
constexpr char kInstallCommandTag[] = "[InstCmd=";
constexpr char kUninstallCommandTag[] = "[UninstCmd=";

// Whose uninstall log sections record the entry's file and folders.
enum class StoredNameUnit { kUnknown, kProduct, kReceiver };

struct StoredNameMeaning {
    Text destination;    // the name with its prefixes replaced and its tags taken out
    Text installArgs;    // value of the install command tag; empty when none
    Text uninstallArgs;  // value of the uninstall command tag; empty when none
    StoredNameUnit unit;
};

// Replaces the first product prefix, then the first receiver prefix (case-
// sensitive) by the folders given, then takes out the install and the
// uninstall tag (see ExtractTagValue). The receiver's unit wins when a name
// carries both prefixes; a name with neither belongs to no known unit.
StoredNameMeaning DecodeStoredName(const Text& storedName, const Text& productFolder,
                                   const Text& receiverFolder);
