"""Failures of the wizard's copy: a product folder that cannot be created,
and a payload that cannot be read."""

import os
import struct
import unittest

from qorwine import WinePrefix
from wizardlib import (BACK, CANCEL, NEXT, TITLE_DESTINATION, TITLE_READY, Wizard, build_setup)


class CopyFailureTest(unittest.TestCase):

    def test_product_folder_not_creatable_returns_to_ready_page(self):
        with WinePrefix() as p:
            # A file where a folder of the destination path should be.
            with open(os.path.join(p.drive_c, "blocker"), "w") as f:
                f.write("not a folder")
            setup = build_setup(p)
            with Wizard(p, setup, "-trovixdir=c:\\blocker\\trovix") as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.click(NEXT)
                box = w.msgbox("Unable to Create Folder", "ok")
                self.assertEqual(box["text"], "Unable to create folder 'c:\\blocker\\trovix'.  "
                                 "Please select a new Folder and try again.")
                self.assertTrue(box["icon"])
                page = w.wait_page(TITLE_READY)
                for cid in (BACK, NEXT, CANCEL):
                    self.assertTrue(page.enabled(cid), cid)
                self.assertEqual(page.text(CANCEL), "Cancel")
                w.click(BACK)
                w.wait_page(TITLE_DESTINATION)
                w.click(CANCEL)
                w.msgbox("Cancel Installation", "yes")
                self.assertEqual(w.exit_code(), -1)

    def corrupt_and_run(self, corrupt):
        with WinePrefix() as p:
            setup = build_setup(p)
            path = p.unixpath(setup)
            with open(path, "r+b") as f:
                corrupt(f, os.path.getsize(path))
            with Wizard(p, setup) as w:
                w.wait_page(TITLE_DESTINATION)
                w.click(NEXT)
                w.wait_page(TITLE_READY)
                w.click(NEXT)
                box = w.msgbox("File Extraction Error", "ok")
                self.assertEqual(box["text"], "Unable to extract files")
                self.assertTrue(box["icon"])
                self.assertEqual(w.exit_code(), -1)

    def test_archive_length_beyond_the_file_ends_with_minus_one(self):
        def corrupt(f, size):
            f.seek(size - 4)
            f.write(struct.pack("<I", size + 1000))
        self.corrupt_and_run(corrupt)

    def test_damaged_entry_data_ends_with_minus_one(self):
        def corrupt(f, size):
            f.seek(size - 4)
            length = struct.unpack("<I", f.read(4))[0]
            start = size - length
            # The first entry record follows the 9-byte header; its data
            # follows its name. Overwrite the middle of that gzip stream.
            f.seek(start + 9)
            head = f.read(26)
            record_len, _, compressed = struct.unpack("<IBI", head[:9])
            data = start + 9 + record_len
            f.seek(data + 10 + compressed // 3)
            f.write(b"\xff" * max(16, compressed // 3))
        self.corrupt_and_run(corrupt)


if __name__ == "__main__":
    unittest.main()
