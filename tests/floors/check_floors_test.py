#!/usr/bin/env python3
"""The floors check passes on the tree as it is and fails on each kind of
wrong-way include planted in a copy of it.

usage: check_floors_test.py SOURCE_DIR COMPONENT_MAP
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE, MAP = sys.argv[1], sys.argv[2]
CHECKER = os.path.join(SOURCE, "scripts", "check_floors.py")
FOLDERS = ("src", "include", "tools", "bench", "fuzz", "examples", "tests")


class FloorsCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="qn-floors-")
        for folder in FOLDERS:
            shutil.copytree(os.path.join(SOURCE, folder), os.path.join(cls.tmp, folder))
        shutil.copy(MAP, os.path.join(cls.tmp, "components.txt"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def run_check(self, map_file="components.txt"):
        return subprocess.run(
            [sys.executable, CHECKER, "--root", self.tmp, "--map",
             os.path.join(self.tmp, map_file)],
            capture_output=True, text=True)

    def planted(self, relpath, line):
        """Appends `line` to a file of the copy for the length of a with block."""
        path = os.path.join(self.tmp, relpath)
        test = self

        class Plant:
            def __enter__(self):
                with open(path, encoding="utf-8") as f:
                    self.original = f.read()
                with open(path, "a", encoding="utf-8") as f:
                    f.write("\n" + line + "\n")

            def __exit__(self, *exc):
                with open(path, "w", encoding="utf-8") as f:
                    f.write(self.original)
                test.assertEqual(test.run_check().returncode, 0)

        return Plant()

    def assert_caught(self, relpath, line, reason):
        with self.planted(relpath, line):
            result = self.run_check()
            self.assertEqual(result.returncode, 1, result.stdout)
            self.assertIn(relpath, result.stdout)
            self.assertIn(reason, result.stdout)

    def test_tree_as_it_is_passes(self):
        result = self.run_check()
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_upward_include_from_core(self):
        self.assert_caught("src/core/value.cc", "#include <qn/net/http_client.h>",
                           "'core' does not declare 'net'")

    def test_upward_internal_include_from_host(self):
        self.assert_caught("src/host/model.cc", '#include "files/files_internal.h"',
                           "'host' does not declare 'files'")

    def test_sideways_include_of_an_undeclared_neighbour(self):
        self.assert_caught("src/crypto/hash.cc", "#include <qn/geo/geography.h>",
                           "'crypto' does not declare 'geo'")

    def test_public_header_reaching_upward_or_inside(self):
        self.assert_caught("include/qn/files/file.h", "#include <qn/data/xml_writer.h>",
                           "'files' does not declare 'data'")
        self.assert_caught("include/qn/host/log.h", '#include "core/hash.h"',
                           "a public header may not include an internal one")

    def test_top_floor_uses_public_headers_only(self):
        self.assert_caught("bench/value_bench.cc", '#include "core/hash.h"',
                           "bench/ may include public headers only")
        self.assert_caught("tools/qn/main.cc", '#include "net/missing.h"',
                           "tools/ may include public headers only")

    def test_circle_in_the_map(self):
        with open(os.path.join(self.tmp, "components.txt"), encoding="utf-8") as f:
            text = f.read()
        with open(os.path.join(self.tmp, "circle.txt"), "w", encoding="utf-8") as f:
            f.write(text.replace("host: core", "host: core data"))
        result = self.run_check("circle.txt")
        self.assertEqual(result.returncode, 1)
        self.assertIn("the component map has a circle", result.stdout)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
