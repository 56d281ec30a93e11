// Resource identifiers of TrovixInstall: string table, dialogs, picture, icons.
// Plain #defines only, so that windres and the C++ code read the same file.
#ifndef TROVIX_RESOURCES_RESOURCE_H
#define TROVIX_RESOURCES_RESOURCE_H

// Icons of the main window class (large, small).
#define IDI_MAIN_LARGE 107
#define IDI_MAIN_SMALL 108

// Picture beside the wizard's instructions.
#define IDB_WIZARD_PICTURE 132

// Dialog templates.
#define IDD_WIZARD 130
#define IDD_FOLDER_BROWSER 134

// Static controls that are never addressed.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Wizard dialog 130, in template order.
#define IDC_WIZ_NEXT 1004
#define IDC_WIZ_CANCEL 2  // relabelled "&Finished" on the last page
#define IDC_WIZ_PICTURE 1012
#define IDC_WIZ_INSTRUCTIONS 1025
#define IDC_WIZ_DEST_GROUP 1010
#define IDC_WIZ_DEST_FOLDER 1006
#define IDC_WIZ_DEST_BROWSE 1001
#define IDC_WIZ_3RD_GROUP 1011
#define IDC_WIZ_3RD_FOLDER 1007
#define IDC_WIZ_3RD_BROWSE 1002
#define IDC_WIZ_PROGRESS_LABEL 1027
#define IDC_WIZ_PROGRESS_BAR 1026  // never shown; marks where the bar is painted
#define IDC_WIZ_LAUNCH 1032
#define IDC_WIZ_DESKTOP_ICON 1033
#define IDC_WIZ_BACK 1005

// Folder browser dialog 134. Apart from the path box, these are the ids the
// classic open-file dialog expects in a custom template.
#define IDC_FB_PATH 1013             // path box, ours
#define IDC_FB_FOLDER_LIST 1121      // lst2
#define IDC_FB_DRIVES_LABEL 1091     // stc4
#define IDC_FB_DRIVES 1137           // cmb2
#define IDC_FB_OK 1                  // IDOK
#define IDC_FB_CANCEL 2              // IDCANCEL
#define IDC_FB_NETWORK 1037          // psh14
#define IDC_FB_FILE_NAME_LABEL 1090  // stc3, hidden at start
#define IDC_FB_CURRENT_FOLDER 1088   // stc1, hidden at start
#define IDC_FB_FILE_LIST 1120        // lst1, hidden at start
#define IDC_FB_TYPE_LABEL 1089       // stc2, hidden at start
#define IDC_FB_TYPE_LIST 1136        // cmb1, hidden at start
#define IDC_FB_FILE_NAME 1152        // edt1, hidden at start

// String table. Placeholders in angle brackets are noted where an entry has them.
#define IDS_WINDOW_TITLE 103  // main window title
#define IDS_WINDOW_CLASS 109  // main window class name
#define IDS_TITLE_DESTINATION 110
#define IDS_TITLE_READY 111
#define IDS_TITLE_COPYING 112
#define IDS_TITLE_COMPLETE 113
#define IDS_DEST_INTRO 115
#define IDS_DEST_CLICK_NEXT 116
#define IDS_DEST_CLICK_BROWSE 117
#define IDS_DEST_CAN_CANCEL 118
#define IDS_DONE_INSTALLED 119  // <DISP NAME>
#define IDS_DONE_ACCESS 120
#define IDS_READY_INTRO 121  // <DISP NAME>
#define IDS_READY_REVIEW 122
#define IDS_READY_CLICK_NEXT 123
#define IDS_FINISHED_BUTTON 124
#define IDS_CANCEL_QUERY 125  // <DISP NAME>
#define IDS_CANCEL_CAPTION 126
#define IDS_CREATE_FOLDER_QUERY 127  // <FOLDER>
#define IDS_CREATE_FOLDER_CAPTION 128
#define IDS_PREREQ_MISSING 129  // <RCV>, <PROD>, all occurrences
#define IDS_PREREQ_CAPTION 130
#define IDS_COPYING_WAIT 131
#define IDS_EXTRACT_FAILED 132
#define IDS_EXTRACT_FAILED_CAPTION 133
#define IDS_UPDATING_SYSTEM 134
#define IDS_INSTALL_COMPLETE 135
#define IDS_EXTRACTING_FILE 136       // <FILE>
#define IDS_INSTALLING 137            // <DISP NAME>
#define IDS_CREATE_FOLDER_FAILED 139  // <FOLDER>
#define IDS_CREATE_FOLDER_FAILED_CAPTION 140
#define IDS_3RD_NEEDED 141        // <DISP NAME>, <3RD PARTY NAME>
#define IDS_3RD_SELECT 142        // <3RD PARTY NAME>
#define IDS_3RD_BROWSE_TITLE 145  // <PROD NAME>
#define IDS_WRONG_FILE 146        // <EXE>, <PROD NAME>
#define IDS_WRONG_FILE_CAPTION 147
#define IDS_FILE_ACCESS_FAILED 148  // <PROD NAME>
#define IDS_FILE_ACCESS_FAILED_CAPTION 149
#define IDS_TITLE_3RD_FOLDER 150  // <PROD NAME>
#define IDS_3RD_GROUP 151         // <PROD NAME>
#define IDS_COPY_FAILED 152       // <FILE>
#define IDS_COPY_FAILED_CAPTION 153
#define IDS_RCV_DEST_INTRO 155  // <DISP NAME>
#define IDS_RCV_DEST_CLICK_NEXT 156
#define IDS_RCV_DEST_CLICK_BROWSE 157
#define IDS_RCV_DEST_FIXED 158
#define IDS_TITLE_RCV_DESTINATION 159  // <DISP NAME>
#define IDS_DONE_OPTIONS 160
#define IDS_DONE_CLICK_FINISHED 161
#define IDS_PRODUCT_URL 162
#define IDS_PRODUCT_NAME 163
#define IDS_SHORTCUT_CONFIGURE 164
#define IDS_SHORTCUT_START 165
#define IDS_DEFAULT_FOLDER 166  // below the system drive
#define IDS_BROWSE_TITLE 167
#define IDS_INVALID_PATH 168  // <SAMPLE>
#define IDS_INVALID_PATH_CAPTION 169
#define IDS_TAG_WRITE_FAILED 170
#define IDS_TAG_WRITE_FAILED_CAPTION 171
#define IDS_SHORTCUT_UNINSTALL 173
#define IDS_RESTART_NEEDED 174  // <DISP NAME>
#define IDS_RESTART_NEEDED_CAPTION 175

#endif  // TROVIX_RESOURCES_RESOURCE_H
