"""Reads the resources linked into an executable and checks the bytes the
installer and the platform depend on: the version resource, the dialog
templates (ids, classes, texts, rectangles, styles), the string table and
the absence of a manifest.

Usage: python3 check_resources.py EXE   (or QOR_RESOURCES_EXE=EXE python3 -m unittest ...)
"""
import os
import struct
import sys
import unittest

import pefile

RT_STRING, RT_DIALOG, RT_VERSION, RT_MANIFEST = 6, 5, 16, 24

WS_VISIBLE, WS_CHILD, WS_POPUP = 0x10000000, 0x40000000, 0x80000000
WS_CAPTION, WS_SYSMENU, WS_TABSTOP, WS_GROUP = 0x00C00000, 0x00080000, 0x00010000, 0x00020000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX = 0x1, 0x3, 0x7
SS_BITMAP, SS_ETCHEDHORZ, SS_NOPREFIX = 0xE, 0x10, 0x80
BUTTON, EDIT, STATIC, LISTBOX, COMBOBOX = 0x80, 0x81, 0x82, 0x83, 0x85

EXE = None


def resources(pe, type_id):
    """{id: bytes} of every resource of one type (first language)."""
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != type_id:
            continue
        for r in t.directory.entries:
            lang = r.directory.entries[0]
            out[r.id] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return out


class Reader:
    def __init__(self, data):
        self.d, self.i = data, 0

    def u16(self):
        (v,) = struct.unpack_from("<H", self.d, self.i)
        self.i += 2
        return v

    def u32(self):
        (v,) = struct.unpack_from("<I", self.d, self.i)
        self.i += 4
        return v

    def i16(self):
        (v,) = struct.unpack_from("<h", self.d, self.i)
        self.i += 2
        return v

    def sz_or_ord(self):
        """An ordinal (0xFFFF, n) as int, else a NUL-terminated UTF-16 string."""
        if struct.unpack_from("<H", self.d, self.i)[0] == 0xFFFF:
            self.i += 2
            return self.u16()
        s = []
        while True:
            c = self.u16()
            if c == 0:
                return "".join(s)
            s.append(chr(c))

    def align4(self):
        self.i = (self.i + 3) & ~3


CLASS_NAMES = {"button": BUTTON, "edit": EDIT, "static": STATIC, "listbox": LISTBOX,
               "combobox": COMBOBOX}


def parse_dialog(data):
    r = Reader(data)
    dlg = {"style": r.u32(), "exstyle": r.u32()}
    count = r.u16()
    dlg["rect"] = (r.i16(), r.i16(), r.i16(), r.i16())
    dlg["menu"], dlg["class"], dlg["caption"] = r.sz_or_ord(), r.sz_or_ord(), r.sz_or_ord()
    if dlg["style"] & DS_SETFONT:
        dlg["font"] = (r.u16(), r.sz_or_ord())
    items = []
    for _ in range(count):
        r.align4()
        it = {"style": r.u32(), "exstyle": r.u32()}
        it["rect"] = (r.i16(), r.i16(), r.i16(), r.i16())
        it["id"] = struct.unpack("<h", struct.pack("<H", r.u16()))[0]
        cls = r.sz_or_ord()
        it["class"] = CLASS_NAMES.get(cls.lower(), cls) if isinstance(cls, str) else cls
        it["text"] = r.sz_or_ord()
        extra = r.u16()
        r.i += extra
        items.append(it)
    dlg["items"] = items
    return dlg


# (id, class, text, rect, shown, style bits that must be set)
WIZARD = [
    (1004, BUTTON, "&Next >", (215, 155, 45, 14), True, BS_DEFPUSHBUTTON),
    (2, BUTTON, "Cancel", (270, 155, 45, 14), True, 0),
    (1012, STATIC, 132, (5, 5, 147, 98), True, SS_BITMAP),
    (1025, STATIC, "Instructions...", (160, 5, 155, 100), True, 0),
    (1010, BUTTON, "Destination &Folder:", (5, 110, 310, 30), True, BS_GROUPBOX),
    (1006, STATIC, "C:\\Program Files\\QOR\\Trovix\\", (10, 125, 250, 8), True, 0),
    (1001, BUTTON, "B&rowse...", (265, 120, 45, 14), True, 0),
    (1011, BUTTON, "3rd Party &Folder:", (5, 110, 310, 30), True, BS_GROUPBOX),
    (1007, STATIC, "C:\\3rd Party Dir\\", (10, 125, 250, 8), True, 0),
    (1002, BUTTON, "B&rowse...", (265, 120, 45, 14), True, 0),
    (1027, STATIC, "Progress...", (5, 115, 310, 8), False, 0),
    (1026, LISTBOX, "", (5, 125, 310, 15), False, 0),
    (1032, BUTTON, "&Launch Trovix now", (15, 115, 310, 10), False, BS_AUTOCHECKBOX),
    (1033, BUTTON, "Install a &Desktop Icon for Trovix", (15, 130, 310, 10), False,
     BS_AUTOCHECKBOX),
    (-1, STATIC, "", (0, 150, 319, 1), True, SS_ETCHEDHORZ),
    (1005, BUTTON, "< &Back", (170, 155, 45, 14), True, 0),
]

BROWSER = [
    (-1, STATIC, "Please select the installation folder.", (5, 5, 120, 8), True, 0),
    (-1, STATIC, "&Path:", (5, 20, 18, 8), True, 0),
    (1013, EDIT, "", (5, 30, 215, 14), True, 0),
    (1121, LISTBOX, "", (5, 50, 150, 125), True, 0),
    (1091, STATIC, "Dri&ves:", (5, 180, 23, 8), True, 0),
    (1137, COMBOBOX, "", (5, 190, 150, 80), True, 0),
    (1, BUTTON, "OK", (160, 50, 60, 14), True, BS_DEFPUSHBUTTON),
    (2, BUTTON, "Cancel", (160, 70, 60, 14), True, 0),
    (1037, BUTTON, "Net&work...", (160, 190, 60, 14), True, 0),
    (1090, STATIC, "File &Name:", (160, 100, 34, 8), True, 0),
    (1088, STATIC, "<path>", (5, 40, 215, 8), True, SS_NOPREFIX),
    (1120, LISTBOX, "", (160, 120, 58, 15), True, 0),
    (1089, STATIC, "List file of &type:", (160, 140, 58, 8), True, 0),
    (1136, COMBOBOX, "", (160, 150, 58, 85), True, 0),
    (1152, EDIT, "", (160, 170, 60, 14), True, 0),
]

# Every string-table text the installer shows or uses, byte for byte. 137
# (the install label) and 162 (the product address) are the installer's own
# wording and are checked by shape only.
TEXTS = {
    103: "TrovixInstall",
    109: "TROVIXINSTALL",
    110: "Choose Trovix Installation Destination",
    111: "Start Copying Files",
    112: "Copying Files",
    113: "Installation Complete",
    115: "Setup will install Trovix files in the following folder.",
    116: "To install to this folder, click on the Next button.",
    117: "To install to a different folder, click on the Browse button, and select another "
         "folder.",
    118: "You may cancel the installation by clicking on the Cancel button.",
    119: "Setup has installed <DISP NAME>.",
    120: "You can access Trovix by selecting your Start button, then look in the Programs | QOR "
         "| Trovix folder.",
    121: "Setup is ready to install <DISP NAME>.",
    122: "If you wish to change or review any of your settings click on the Back button.",
    123: "If you are satisfied with your selections, click on the Next button.",
    124: "&Finished",
    125: "Do you wish to cancel the installation of <DISP NAME>?",
    126: "Cancel Installation",
    127: "The folder <FOLDER> does not exist.  Create it?",
    128: "Create Folder?",
    129: "<RCV> requires an installed copy of <PROD>.  You must install <PROD> before you "
         "install <RCV>.",
    130: "Installation Aborted",
    131: "Copying files, please wait...",
    132: "Unable to extract files",
    133: "File Extraction Error",
    134: "Updating System...",
    135: "Installation Complete.",
    136: "Extracting <FILE>...",
    139: "Unable to create folder '<FOLDER>'.  Please select a new Folder and try again.",
    140: "Unable to Create Folder",
    141: "<DISP NAME> needs to know the location of <3RD PARTY NAME> to work correctly.",
    142: "Please select the folder that contains <3RD PARTY NAME>.",
    145: "Select folder containing <PROD NAME>",
    146: "You must select <EXE> from the <PROD NAME> folder.",
    147: "Incorrect File Selected",
    148: "Unable to access file. You may need to re-install <PROD NAME>.",
    149: "Unable to Access File",
    150: "Select <PROD NAME> Folder",
    151: "Select the &Folder Containing <PROD NAME>:",
    152: "Unable to copy file: <FILE>",
    153: "Installation Error",
    155: "Setup will install <DISP NAME> files in the following folder.",
    156: "To install to this folder, click on the Next button.",
    157: "To install to a different folder, click on the Browse button, and select another "
         "folder.",
    158: "These files must be installed in the specified folder.",
    159: "Choose <DISP NAME> Installation Destination",
    160: "Select the options below if you want to launch Trovix now, and/or if you want Desktop "
         "access to Trovix.",
    161: "Click the Finished button to complete Setup.",
    163: "Trovix",
    164: "Configure Trovix",
    165: "Start Trovix",
    166: "Program Files\\QOR\\Trovix",
    167: "Select the Installation Folder",
    168: "Invalid path.\nMake sure it looks something like:\n<SAMPLE>",
    169: "Invalid Path",
    170: "Unable to write Title Scout tag file.\nIf you use title scout, it will not be able to "
         "use Trovix to automatically update your system.",
    171: "Unable to write file",
    173: "Uninstall Trovix",
    174: "Some files of <DISP NAME> were in use and will be replaced when the computer "
         "restarts.  Restart the computer to finish the installation.",
    175: "Restart Required",
}

FRAME = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT


def strings(pe):
    """{id: text} from the RT_STRING blocks (16 counted UTF-16 strings each)."""
    out = {}
    for block, data in resources(pe, RT_STRING).items():
        r = Reader(data)
        for k in range(16):
            n = r.u16()
            s = data[r.i:r.i + 2 * n].decode("utf-16-le")
            r.i += 2 * n
            if n:
                out[(block - 1) * 16 + k] = s
    return out


class ResourceBytes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE or os.environ["QOR_RESOURCES_EXE"])
        cls.dialogs = resources(cls.pe, RT_DIALOG)

    def check_dialog(self, number, caption, size, expected):
        dlg = parse_dialog(self.dialogs[number])
        self.assertEqual(FRAME, dlg["style"] & FRAME)
        self.assertEqual(0, dlg["style"] & WS_VISIBLE)
        self.assertEqual(caption, dlg["caption"])
        self.assertEqual((0, 0) + size, dlg["rect"])
        self.assertEqual((8, "MS Sans Serif"), dlg["font"])
        self.assertEqual(("", ""), (dlg["menu"], dlg["class"]))  # no menu, default class
        self.assertEqual(len(expected), len(dlg["items"]))
        for it, (cid, cls, text, rect, shown, bits) in zip(dlg["items"], expected):
            where = "dialog %d control %d" % (number, cid)
            self.assertEqual(cid, it["id"], where)
            self.assertEqual(cls, it["class"], where)
            self.assertEqual(text, it["text"], where)
            self.assertEqual(rect, it["rect"], where)
            self.assertEqual(shown, bool(it["style"] & WS_VISIBLE), where)
            self.assertTrue(it["style"] & WS_CHILD, where)
            self.assertEqual(bits, it["style"] & bits, where)
            if cls == BUTTON and bits in (0, BS_DEFPUSHBUTTON):
                self.assertEqual(bits, it["style"] & 0xF, where)  # push button kind
            if cls == STATIC and bits == 0:
                self.assertEqual(0, it["style"] & 0x1F, where)  # left-aligned text

    def test_wizard_dialog(self):
        self.check_dialog(130, "Choose Installation Destination", (319, 175), WIZARD)

    def test_folder_browser_dialog(self):
        self.check_dialog(134, "Select Folder", (227, 210), BROWSER)

    def test_version_resource(self):
        ffi = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((0x00010001, 0x00000007), (ffi.FileVersionMS, ffi.FileVersionLS))
        self.assertEqual((0x00010001, 0x00000007), (ffi.ProductVersionMS, ffi.ProductVersionLS))
        values = {}
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    values.update({k.decode(): v.decode() for k, v in table.entries.items()})
        expect = {"DownloaderVersion": "1.1.0.7", "ReceiverVersion": "1.1.0.7",
                  "TrovixDllVersion": "1.1.0.7", "InstallerVersion": "2, 0, 0, 5",
                  "CustomRcvVersion": "N/A", "FileVersion": "1.1.0.7",
                  "ProductVersion": "1.1.0.7", "ProductName": "Trovix"}
        for key, value in expect.items():
            self.assertEqual(value, values.get(key), key)

    def test_string_table_bytes(self):
        table = strings(self.pe)
        self.assertEqual("Invalid path.\nMake sure it looks something like:\n<SAMPLE>", table[168])
        self.assertTrue(table[170].startswith("Unable to write Title Scout tag file.\nIf you "))
        self.assertEqual(1, table[170].count("\n"))
        self.assertEqual("Program Files\\QOR\\Trovix", table[166])
        for i, text in table.items():
            if 103 <= i <= 175:
                self.assertNotIn("\r", text, i)
                self.assertTrue(all(ord(c) < 128 for c in text), i)
                self.assertEqual(text, text.strip(), i)  # no stray spaces at either end

    def test_string_table_texts(self):
        table = strings(self.pe)
        for number, text in TEXTS.items():
            self.assertEqual(text, table.get(number), number)
        self.assertIn("<DISP NAME>", table[137])
        self.assertTrue(table[162].startswith("http://"), table[162])
        # Nothing else in the installer's range: an unknown id loads as empty.
        extra = sorted(set(i for i in table if 103 <= i <= 175) - set(TEXTS) - {137, 162})
        self.assertEqual([], extra)

    def test_manifest_keeps_the_classic_controls(self):
        # The dialogs are laid out for the classic controls; a manifest, where
        # there is one, must not switch to common controls 6.
        for data in resources(self.pe, RT_MANIFEST).values():
            self.assertNotIn(b"Microsoft.Windows.Common-Controls", data)


if __name__ == "__main__":
    EXE = sys.argv.pop(1) if len(sys.argv) > 1 else None
    unittest.main(verbosity=2)
