// Launch.h: the default web browser (the program registered for ".html") and
// starting it on an address.
#pragma once

#include "text/Text.h"

// Longest command line handed to the browser, terminating zero included: a
// space and the address must fit.
constexpr unsigned kBrowserCommandLineSize = 8192;

// Reads HKCR\.html's class, then that class's "shell\open\command". A quoted
// command gives the short (8.3) form of the quoted program path; an unquoted
// one is cut at its first space, tab or line feed. out is emptied first and
// holds the path on success. False (out empty) if a key or value is missing,
// the quoted path cannot be shortened or its short form needs 260 or more
// characters, or the path comes out empty.
bool GetBrowserPath(Text& out);

// Starts the browser with the command line " " + address and does not wait
// for it. True if the process was started. False, starting nothing, if there
// is no browser path or the command line would not fit
// kBrowserCommandLineSize.
bool OpenUrlInBrowser(const Text& address);
