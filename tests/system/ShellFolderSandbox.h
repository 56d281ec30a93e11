// The prefix's own Start Menu programs and Desktop folders for tests that
// create shortcuts there (Wine's shell keeps rewriting the registry values to
// them), with whatever a test added removed again afterwards.
#pragma once

#include <set>
#include <string>

#include "TestFiles.h"
#include "system/FileUtil.h"
#include "system/Shortcuts.h"
#include "text/Text.h"

struct ShellFolderSandbox {
    Text programs, desktop;  // without trailing backslash
    std::set<std::string> programsBefore, desktopBefore;

    // Resolves and creates both folders and notes what they hold; false when
    // either cannot be resolved or created.
    bool Enter() {
        programs = GetProgramsFolder();
        desktop = GetDesktopFolder();
        if (programs.back() != '\\' || desktop.back() != '\\') return false;
        programs.erase(programs.size() - 1);
        desktop.erase(desktop.size() - 1);
        if (!CreateFolderPath(programs) || !CreateFolderPath(desktop)) return false;
        programsBefore = testfiles::List(programs);
        desktopBefore = testfiles::List(desktop);
        return true;
    }

    // Removes every entry added to either folder since Enter.
    void Leave() {
        for (const std::string& name : testfiles::Added(programs, programsBefore))
            Remove(programs + "\\" + name.c_str());
        for (const std::string& name : testfiles::Added(desktop, desktopBefore))
            Remove(desktop + "\\" + name.c_str());
    }

    static void Remove(const Text& path) {
        if (!RemoveFolderTree(path)) DeleteFileAt(path);
    }
};
