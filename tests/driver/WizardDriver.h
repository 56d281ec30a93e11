// The scriptable side of qordriver: a command loop that end-to-end tests use
// to walk the setup wizard, its message boxes, the folder browser and the
// open-file dialog, one command per line, one JSON answer per command.
//
// Input: one command per line, fields separated by TAB characters (paths and
// captions may contain spaces, never tabs). WIN is a window handle written
// "0x..." or the exact caption of a visible top-level dialog (class #32770).
// Every answer is one line: {"ok":true,...} or {"ok":false,"error":"..."}.
//
//   start   PROGRAM [ARG...]      start a process (the setup); answer its pid
//   exit    [SECONDS]             wait for the started process; "code" is its
//                                 exit code as a signed 32-bit number
//   wait    CAPTION [SECONDS]     wait for a visible dialog with that caption
//                                 ("" for any); answer "hwnd" and "caption"
//   waitgone WIN [SECONDS]        wait until the window is gone or hidden
//   windows                       the visible top-level windows
//   dump    WIN                   caption, owner, window and client rectangle
//                                 (screen coordinates) and every child control:
//                                 id, class, text, style, visible, enabled,
//                                 checked, rectangle
//   click   WIN ID                press a button like a user would: refused
//                                 when the control is hidden or disabled
//   command WIN ID                post WM_COMMAND ID regardless of state
//   close   WIN                   the system menu's Close
//   check   WIN ID 0|1            set a check box
//   settext WIN ID TEXT           set a control's text (WM_SETTEXT)
//   listbox WIN ID                the items of a list box
//   dblclick WIN ID INDEX         select a list box item and notify a double click
//   msgbox  CAPTION [SECONDS] [BUTTON]
//                                 wait for a message box; answer its caption,
//                                 text, owner, whether it shows an icon and its
//                                 buttons; then press BUTTON (ok, cancel, yes,
//                                 no or a number) when given
//   nomsgbox CAPTION SECONDS      fail if such a message box appears
//   pickfile WIN PATH             type PATH as the file name of an open-file
//                                 dialog and press its OK button
//   sleep   MS
//   quit
#pragma once

#include <cstdio>

// Runs the command loop until "quit" or the end of the input; returns 0.
int RunServe(FILE* in, FILE* out);
