// QzfModule.h: makes the executable's own code callable after another program
// has loaded it as a library.
//
// LoadLibraryA maps an executable without running its entry point, and Wine's
// loader (like some Windows versions) neither binds an executable's imports
// nor relocates it when it cannot sit at its preferred address. The export
// layer therefore prepares the module itself before the first object is made:
// it relocates the image when it runs away from its link address and fills
// the import table through the loader's own module list. When the executable
// runs as a process everything is already in place and nothing is changed.
#pragma once

// True when the module's code can run: it sits at its link address or has
// been relocated, and every import is bound. Cheap after the first success.
// False when kernel32 or an import cannot be found or a page cannot be made
// writable; the module is then unusable and nothing else may be called.
// On builds other than Windows it always returns true. Not thread-safe:
// the first call (which may rewrite the image) must not overlap another call,
// as no two engine calls may overlap anyway.
bool QzfPrepareModule();
