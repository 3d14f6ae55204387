#!/usr/bin/env python3
"""The manifest's format (release/manifest.py): what the publish tool writes, reads back, and refuses."""

import hashlib
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "release"))
import manifest  # noqa: E402

EMPTY = hashlib.sha256(b"").hexdigest()


class Format(unittest.TestCase):
    def test_lines_are_sorted_by_utf8_bytes_and_read_back(self):
        names = ["data/readme.txt", "Ostrel.exe", "plugins/\u0444.dll", "a b/\u00e9t\u00e9.txt", "Z.txt"]
        text = manifest.text_of([manifest.entry_of_bytes(name, name.encode()) for name in names])
        lines = text.decode("utf-8").split("\n")
        self.assertEqual(lines[-1], "", "every line ends with a line feed")
        self.assertEqual([line.split("\t")[1] for line in lines[:-1]],
                         ["Ostrel.exe", "Z.txt", "a b/\u00e9t\u00e9.txt", "data/readme.txt", "plugins/\u0444.dll"])
        self.assertEqual(lines[0], "file\tOstrel.exe\t10\t%s" % hashlib.sha256(b"Ostrel.exe").hexdigest())
        parsed = manifest.parse(text)
        self.assertEqual(parsed["a b/\u00e9t\u00e9.txt"][1], len("a b/\u00e9t\u00e9.txt".encode()))
        self.assertEqual(set(parsed), set(names))
        self.assertEqual(manifest.parse(b""), {}, "an empty release has an empty manifest")

    def test_paths_that_cannot_share_one_folder_are_refused(self):
        for paths in (["a.txt", "a.txt"], ["Data/x", "data/x"], ["\u00c9.txt", "\u00e9.txt"], ["../x"],
                      ["/etc/x"], ["a/./b"], ["a//b"], ["a\\b"], ["C:x"], ["a/"], [""], ["a\tb"]):
            with self.assertRaises(manifest.ManifestError, msg=paths):
                manifest.check_paths(paths)
        manifest.check_paths(["data/x", "data/y", "datax"])

    def test_lines_a_reader_does_not_know_are_refused(self):
        good = "file\tOstrel.exe\t0\t%s\n" % EMPTY
        self.assertEqual(manifest.parse(good.encode()), {"Ostrel.exe": ("file", 0, EMPTY)})
        for bad in (good[:-1], good.replace("file", "patch"), good.replace(EMPTY, EMPTY.upper()),
                    good.replace("\t0\t", "\t00\t"), good.replace("\t0\t", "\t-1\t"), good.replace("\t", " "),
                    good + good, "file\tb\t0\t%s\nfile\ta\t0\t%s\n" % (EMPTY, EMPTY)):
            with self.assertRaises(manifest.ManifestError, msg=bad):
                manifest.parse(bad.encode("utf-8"))
        with self.assertRaises(manifest.ManifestError):
            manifest.parse(b"file\t\xff\t0\t" + EMPTY.encode() + b"\n")

if __name__ == "__main__":
    unittest.main(verbosity=2)
