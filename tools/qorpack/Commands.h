// The qorpack commands. Each takes the arguments after the command name,
// prints its results on stdout and its complaints on stderr, and returns the
// process exit code: 0 on success, 1 on failure, 2 for a usage error.
// Every command that changes a file builds the new file under a temporary name
// next to it and renames it into place only when it is complete.
#pragma once

namespace qorpack {

int CmdStamp(int argc, char** argv);
int CmdInfo(int argc, char** argv);
int CmdList(int argc, char** argv);
int CmdExtract(int argc, char** argv);
int CmdAdd(int argc, char** argv);
int CmdRemove(int argc, char** argv);
int CmdBuild(int argc, char** argv);
int CmdVerify(int argc, char** argv);

// Usage texts, each beside its command.
extern const char* const kStampUsage;
extern const char* const kInfoUsage;
extern const char* const kListUsage;
extern const char* const kExtractUsage;
extern const char* const kAddUsage;
extern const char* const kRemoveUsage;
extern const char* const kBuildUsage;
extern const char* const kVerifyUsage;

// Silences the success lines (--quiet); complaints and warnings still show.
void SetQuiet(bool quiet);

// Usage text of one command (null for an unknown name).
const char* CommandUsage(const char* command);

}  // namespace qorpack
