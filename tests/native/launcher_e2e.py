#!/usr/bin/env python3
"""End-to-end tests of the built native launcher on a real Java runtime.

Each test lays out an application folder the way a user ships one (the
launcher, jre/, build/ and lib/ jars) in a temporary folder, runs it with a
controlled environment and checks what the Java application received, the
dialogs on standard error and the exit status.

Usage: launcher_e2e.py LAUNCHER RUNTIME JAR_FOLDER
"""
import os
import shutil
import sys
import tempfile
import unittest

import app_folder
from app_folder import App

LAUNCHER = RUNTIME = JARS = None  # set from the command line

class LauncherTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quenlet-e2e-")
        self.app = App(self.tmp)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def assertRan(self, result, app=None):
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        self.assertEqual(result.stderr, b"")
        return (app or self.app).read_report()

    def assertDialog(self, result, dialog):
        """Exactly one dialog, this one; the VM may print messages of its own."""
        self.assertEqual(result.returncode, 0)
        dialogs = [line for line in result.stderr.decode(errors="replace").splitlines()
                   if line.startswith(("Error: ", "Java not found.: "))]
        self.assertEqual(dialogs, [dialog])


class ClassPathAndArguments(LauncherTest):
    def test_class_path_by_where_the_jars_are(self):
        a = self.app
        a.bundle_runtime()
        f = a.folder
        cases = [
            ("build only", [("build", "good")], f"{f}:{f}/build/good.jar:"),
            ("lib only", [("lib", "good")], f"{f}::{f}/lib/good.jar"),
            ("both", [("build", "good"), ("lib", "good")], f"{f}:{f}/build/good.jar:{f}/lib/good.jar"),
        ]
        for name, jars, expected in cases:
            with self.subTest(name):
                shutil.rmtree(os.path.join(f, "build"), ignore_errors=True)
                shutil.rmtree(os.path.join(f, "lib"), ignore_errors=True)
                for folder, fixture in jars:
                    a.add_jar(folder, fixture)
                self.assertEqual(self.assertRan(a.run())["class.path"], expected)

    def test_jars_in_byte_order(self):
        a = self.app
        a.bundle_runtime()
        a.add_jar("lib", "good", "b.jar")
        a.add_jar("lib", "good", "B.jar")
        a.add_jar("lib", "good", "a-1.jar")
        f = a.folder
        self.assertEqual(self.assertRan(a.run())["class.path"], f"{f}::{f}/lib/B.jar:{f}/lib/a-1.jar:{f}/lib/b.jar")

    def test_no_jars_means_no_main_class(self):
        self.app.bundle_runtime()
        self.assertDialog(self.app.run(), "Error: Cannot find main class.")

    def test_arguments_arrive_exactly(self):
        a = self.app
        a.bundle_runtime()
        a.add_jar("lib", "good")
        args = ["hello world", "", 'say "hi"', "C:\\Program Files\\", "caf\u00e9", "it\u2019s", "\U0001F600"]
        report = self.assertRan(a.run(*args))
        self.assertEqual(report["count"], str(len(args)))
        expected = ["".join(c if 0x20 <= ord(c) < 0x7F and c != "\\" else
                            "".join(f"\\u{u:04x}" for u in _utf16(c)) for c in arg) for arg in args]
        self.assertEqual(report["arg"], expected)

    def test_temp_folder_and_default_heap(self):
        a = self.app
        a.bundle_runtime()
        a.add_jar("build", "good")
        report = self.assertRan(a.run())
        self.assertEqual(report["tmpdir"], os.path.join(a.folder, "temp"))
        self.assertEqual(report["tmpdir.exists"], "true")
        self.assertTrue(48 <= int(report["max.heap.mib"]) <= 64, report["max.heap.mib"])


def _utf16(c):
    data = c.encode("utf-16-be")
    return [int.from_bytes(data[i:i + 2], "big") for i in range(0, len(data), 2)]


class HeapSetting(LauncherTest):
    def test_maxheap_from_the_registry(self):
        a = self.app
        a.bundle_runtime()
        a.add_jar("lib", "good")
        for data, low, high in [(b"\x00\x02\x00\x00", 400, 512), (b"\x00\x02", 400, 512), (b"\x80", 100, 128),
                                (b"\x00\x01\x00\x00\x00", 48, 64)]:
            with self.subTest(data=data):
                a.set_value("Software\\Korvane", "maxheap", data)
                heap = int(self.assertRan(a.run())["max.heap.mib"])
                self.assertTrue(low <= heap <= high, heap)

    def test_zero_heap_is_refused_by_the_vm(self):
        a = self.app
        a.bundle_runtime()
        a.add_jar("lib", "good")
        a.set_value("Software\\Korvane", "maxheap", b"\x00\x00\x00\x00")
        self.assertDialog(a.run(), "Error: Cannot load Java VM.")


class RuntimeSources(LauncherTest):
    def test_runtime_from_java_home(self):
        self.app.add_jar("lib", "good")
        self.assertRan(self.app.run(java_home=RUNTIME))

    def test_registered_runtime_from_version_1_4_on(self):
        key = "Software\\JavaSoft\\Java Runtime Environment"
        library = os.path.join(RUNTIME, "lib", "server", "libjvm.so").encode()
        for version, used in ((b"17", True), (b"1.3.1", False)):
            with self.subTest(version=version):
                a = App(tempfile.mkdtemp(dir=self.tmp))
                a.add_jar("lib", "good")
                a.set_value(key, "CurrentVersion", version)
                a.set_value(key + "\\" + version.decode(), "RuntimeLib", library)
                if used:
                    self.assertRan(a.run(), a)
                else:
                    self.assertDialog(a.run(), "Java not found.: Cannot find compatible Java VM.")

    def test_no_runtime(self):
        self.app.add_jar("lib", "good")
        self.assertDialog(self.app.run(), "Java not found.: Cannot find compatible Java VM.")
        self.assertFalse(os.path.exists(os.path.join(self.app.folder, "temp")))

    def test_runtime_library_that_does_not_load(self):
        a = self.app
        a.add_jar("lib", "good")
        server = os.path.join(a.folder, "jre", "lib", "server")
        os.makedirs(server)
        with open(os.path.join(server, "libjvm.so"), "wb") as f:
            f.write(b"not a library")
        self.assertDialog(a.run(), "Error: Can't load jvm.dll.")
        self.assertFalse(os.path.exists(os.path.join(a.folder, "temp")))


class ApplicationOutcomes(LauncherTest):
    def test_instance_main_is_not_a_main_method(self):
        self.app.bundle_runtime()
        self.app.add_jar("lib", "instance_main")
        self.assertDialog(self.app.run(), "Error: Cannot find main method.")

    def test_exception_from_main_still_exits_with_zero(self):
        self.app.bundle_runtime()
        self.app.add_jar("lib", "good")
        result = self.app.run("--throw")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.app.read_report()["arg"], ["--throw"])
        self.assertEqual(result.stderr, b"", "the launcher reports no exception of the application")

    def test_system_exit_ends_the_process_with_its_status(self):
        self.app.bundle_runtime()
        self.app.add_jar("lib", "exit_three")
        result = self.app.run()
        self.assertEqual(result.returncode, 3)
        self.assertEqual(result.stderr, b"")


if __name__ == "__main__":
    LAUNCHER, RUNTIME, JARS = app_folder.configure(sys.argv)
    unittest.main(verbosity=2)
