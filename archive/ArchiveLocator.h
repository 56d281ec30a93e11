// ArchiveLocator.h: the engine's side of an appended archive. The rule that
// says where a file's archive starts and ends is a contract between the
// programs (contract/ArchiveLocation.h); here it is applied to a file on
// disk, and the archive found is opened.
#pragma once

#include <cstdint>

#include "archive/QorZipFile.h"
#include "contract/ArchiveLocation.h"

namespace qzf_format {

// LocateArchive for the file at path, read through the engine's file layer.
// False when it cannot be opened or read.
bool LocateArchiveInFile(const char* path, ArchiveLocation* out);

// Opens the archive `at` describes in the file at path: header offset, and for
// a signed file an end the reader does not pass (the exported interface has
// no such setting; the object keeps it until its next Open, or until a change
// cuts the file after the archive). Fails as Open does, with its error codes.
bool OpenLocatedArchive(QorZipFile& archive, const char* path, const ArchiveLocation& at,
                        QorZipFile::QZF_MODE mode);

}  // namespace qzf_format
