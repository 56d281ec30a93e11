// The table of commands by name: each command lives in a file of its own
// (CmdStamp.cpp, CmdList.cpp, ...) with its usage text.
#include "Commands.h"

#include <cstring>

namespace qorpack {

const char* CommandUsage(const char* command) {
    static const struct {
        const char* name;
        const char* const* usage;
    } kTable[] = {
        {"stamp", &kStampUsage},     {"info", &kInfoUsage},     {"list", &kListUsage},
        {"extract", &kExtractUsage}, {"add", &kAddUsage},       {"remove", &kRemoveUsage},
        {"build", &kBuildUsage},     {"verify", &kVerifyUsage},
    };
    for (const auto& c : kTable)
        if (!strcmp(command, c.name)) return *c.usage;
    return nullptr;
}

}  // namespace qorpack
