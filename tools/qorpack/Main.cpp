// qorpack: builds and inspects setups and archives. The dispatcher only picks
// the command; each command parses its own arguments (Commands.h).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "EngineTemp.h"

namespace {

const char* const kUsage =
    "usage: qorpack COMMAND [ARGS]   (qorpack COMMAND --help for details)\n"
    "  stamp   SETUP --slot MARKER=VALUE ...    write configuration slots\n"
    "  info    SETUP                            show configuration slots\n"
    "  list    [--layout] ARCHIVE               list entries (or where they install)\n"
    "  extract ARCHIVE [-C DIR] [NAME ...]      extract entries (--layout DIR: as placed)\n"
    "  verify  ARCHIVE                          check every entry's data\n"
    "  add     ARCHIVE SOURCE... [--as STORED]  add or replace entries\n"
    "  remove  ARCHIVE NAME ...                 remove entries\n"
    "  build   --stub STUB --manifest FILE --out SETUP [--slot MARKER=VALUE ...]\n"
    "ARCHIVE may also be a setup executable carrying an appended archive.\n"
    "--quiet (anywhere) silences the success lines; --version prints the version.\n";

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"stamp", qorpack::CmdStamp}, {"info", qorpack::CmdInfo},
    {"list", qorpack::CmdList},   {"extract", qorpack::CmdExtract},
    {"add", qorpack::CmdAdd},     {"remove", qorpack::CmdRemove},
    {"build", qorpack::CmdBuild}, {"verify", qorpack::CmdVerify},
};

// A listing that never reached its reader (a full disk, a closed pipe) is a
// failure, not a success.
int Finish(const char* what, int rc) {
    if ((fflush(stdout) != 0 || ferror(stdout)) && rc == 0) {
        fprintf(stderr, "%s: cannot write the output: %s\n", what, strerror(errno));
        return 1;
    }
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    qorpack::TrackEngineTemporaryFiles();
    // --quiet may stand anywhere; the commands never see it.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--quiet") || !strcmp(argv[i], "-q"))
            qorpack::SetQuiet(true);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    if (argc >= 2 && !strcmp(argv[1], "--version")) {
        printf("qorpack %s\n", QORPACK_VERSION);
        return Finish("qorpack", 0);
    }
    if (argc < 2) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h") || !strcmp(argv[1], "help")) {
        if (argc > 2 && qorpack::CommandUsage(argv[2])) {
            fputs(qorpack::CommandUsage(argv[2]), stdout);
            return Finish("qorpack", 0);
        }
        fputs(kUsage, stdout);
        return Finish("qorpack", 0);
    }
    for (const Command& c : kCommands) {
        if (strcmp(argv[1], c.name) != 0) continue;
        return Finish((std::string("qorpack ") + c.name).c_str(), c.run(argc - 2, argv + 2));
    }
    fprintf(stderr, "qorpack: unknown command '%s'\n%s", argv[1], kUsage);
    return 2;
}
