// Resource identifiers of TrovixUninstall: its dialog, icons and string table.
// Plain #defines only, so that windres and the C++ code read the same file.
#ifndef TROVIX_UNINSTALL_UNINSTALLRESOURCES_H
#define TROVIX_UNINSTALL_UNINSTALLRESOURCES_H

#define IDI_UNINSTALL_LARGE 107
#define IDI_UNINSTALL_SMALL 108

// The one dialog; its pages show and hide these controls.
#define IDD_UNINSTALL 200
#define IDC_UN_TEXT 1101            // what the page says
#define IDC_UN_RECEIVERS 1102       // list box: which receiver to remove
#define IDC_UN_REPORT 1103          // read-only edit: what was left or skipped
#define IDC_UN_PROGRESS_LABEL 1104  // what is being removed
#define IDC_UN_PROGRESS_BAR 1105    // never shown; where the progress bar is painted
#define IDC_UN_YES 1106             // "&Yes" (confirm) or "&Next >" (choose)
#define IDC_UN_NO 1107              // "&No"
#define IDC_UN_FINISH 1108          // "&Finish" on the last page

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Texts. Placeholders: <NAME> a receiver or product name, <FILE> a path.
#define IDS_UN_TITLE 300
#define IDS_UN_PRODUCT_KEY 301  // prefix of the product's log sections
#define IDS_UN_CONFIRM_ALL 302
#define IDS_UN_CONFIRM_ONE 303  // <NAME>
#define IDS_UN_CHOOSE 304
#define IDS_UN_NEXT 305
#define IDS_UN_REMOVING 306
#define IDS_UN_DONE_ALL 307
#define IDS_UN_DONE_ONE 308  // <NAME>
#define IDS_UN_SOME_LEFT 309
#define IDS_UN_LOG_UNREADABLE 310  // <FILE>
#define IDS_UN_NOT_INSTALLED 311   // <NAME>
#define IDS_UN_NO_RECEIVER 312
#define IDS_UN_CANCELLED 313
#define IDS_UN_CANCEL 314
#define IDS_UN_YES 315
#define IDS_UN_NO 316

// Why an entry was left: one text per reason, appended to the entry.
#define IDS_WHY_NOT_ABSOLUTE 320
#define IDS_WHY_TOO_LONG 321
#define IDS_WHY_MALFORMED 322
#define IDS_WHY_DOT 323
#define IDS_WHY_DRIVE_ROOT 324
#define IDS_WHY_SHELL_FOLDER 325
#define IDS_WHY_SYSTEM_FOLDER 326
#define IDS_WHY_PROGRAM_FILES 327
#define IDS_WHY_TEMP_FOLDER 328
#define IDS_WHY_KEY_MALFORMED 329
#define IDS_WHY_KEY_SHALLOW 330
#define IDS_WHY_KEY_TOO_LONG 331
#define IDS_WHY_FOLDER_HOLDS 332  // followed by the names it holds
#define IDS_WHY_KEY_HOLDS 333     // followed by the subkeys it holds
#define IDS_WHY_NOT_REMOVED 334
#define IDS_WHY_COMMAND_MISMATCH 335
#define IDS_WHY_COMMAND_FAILED 336
#define IDS_WHY_COMMAND_TIMEOUT 337
#define IDS_WHY_IN_USE 338
#define IDS_WHY_NOT_A_FILE 339
#define IDS_WHY_REPARSE_POINT 340
#define IDS_WHY_COMMAND_NOT_PROGRAM 341
#define IDS_WHY_KEPT_FOR_LATER 342
#define IDS_UN_NOT_FINISHED 317

#endif
