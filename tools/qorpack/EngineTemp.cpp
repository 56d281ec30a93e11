#include "EngineTemp.h"

#include <string>

#include "FileOps.h"
#include "archive/FileLayer.h"

namespace qorpack {

namespace {

bool TrackedMakeTempName(char* buffer) {
    if (!qfl::kDefaultCalls.makeTempName(buffer)) return false;
    RegisterPending(buffer);
    return true;
}

bool TrackedRemove(const char* path) {
    bool ok = qfl::kDefaultCalls.remove(path);
    UnregisterPending(path);
    return ok;
}

}  // namespace

void TrackEngineTemporaryFiles() {
    InstallCleanupHandlers();
    qfl::g_calls.makeTempName = TrackedMakeTempName;
    qfl::g_calls.remove = TrackedRemove;
}

}  // namespace qorpack
