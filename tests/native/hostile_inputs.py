#!/usr/bin/env python3
"""Hostile inputs to the built native launcher, end to end on a real runtime.

Exe folders around and past the path limit, long JAVA_HOME values, a command
line of 32,767 characters, 10,000 jars, jar names of high bytes, registry
values of every awkward size and of the wrong kind, and runtime libraries that
are not libraries. Each case checks the outcome (the application's report, or
one dialog on standard error) and that the process neither crashed nor
reported a sanitizer error.

Usage: hostile_inputs.py LAUNCHER RUNTIME JAR_FOLDER
"""
import os
import shutil
import sys
import tempfile
import unittest

import app_folder
from app_folder import App

LAUNCHER = RUNTIME = JARS = None  # set from the command line

JAVA_KEY = "Software\\JavaSoft\\Java Runtime Environment"
NOT_FOUND = "Java not found.: Cannot find compatible Java VM."
CANT_LOAD = "Error: Can't load jvm.dll."
NO_VM = "Error: Cannot load Java VM."
NO_MAIN_CLASS = "Error: Cannot find main class."
SANITIZER_MARKS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:")


def folder_of_length(root, length):
    """A new folder below root whose path has exactly length characters."""
    path = root
    while len(path) < length:
        remaining = length - len(path)  # a separator and a name each time
        if remaining < 2:
            raise ValueError("cannot reach %d from %s" % (length, root))
        part = remaining - 1 if remaining <= 201 else (200 if remaining - 201 >= 2 else 198)
        path = os.path.join(path, "d" * part)
    os.makedirs(path)
    assert len(path) == length, (len(path), length)
    return path


def java_home_of_length(root, length):
    """A JAVA_HOME of exactly length characters whose lib/ is the test runtime's."""
    home = folder_of_length(root, length)
    os.symlink(os.path.join(RUNTIME, "lib"), os.path.join(home, "lib"))
    return home


class HostileTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quenlet-hostile-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def app(self, folder=None):
        return App(self.tmp, folder)

    def assertSound(self, result):
        """No signal, no sanitizer report, no hang (the run's timeout)."""
        self.assertGreaterEqual(result.returncode, 0, "ended by signal %d" % -result.returncode)
        for mark in SANITIZER_MARKS:
            self.assertNotIn(mark, result.stderr, result.stderr.decode(errors="replace")[-3000:])

    def assertRan(self, app, result):
        self.assertSound(result)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace")[-3000:])
        self.assertEqual(result.stderr, b"")
        return app.read_report()

    def assertDialog(self, result, dialog):
        self.assertSound(result)
        self.assertEqual(result.returncode, 0)
        lines = result.stderr.decode(errors="replace").splitlines()
        dialogs = [line for line in lines if line.startswith(("Error: ", "Java not found.: "))]
        self.assertEqual(dialogs, [dialog], lines[-20:])


class ExeFolderLength(HostileTest):
    """The module name is the folder, '/' and 'quenlet' (8 more characters). A
    name that does not fit 260 bytes is truncated, and a truncated name counts
    as no exe folder: then no jar folder is listed, the class path is '::',
    no temp folder is made and the runtime beside the launcher is not looked for."""

    def test_lengths(self):
        for length in (237, 251, 252, 254, 255, 259, 300, 600):
            with self.subTest(length=length):
                case = tempfile.mkdtemp(dir=self.tmp)
                a = App(case, folder_of_length(case, length))
                a.bundle_runtime()
                a.add_jar("lib")
                result = a.run(java_home=RUNTIME)
                temp = os.path.join(a.folder, "temp")
                if length + len("/lib/*.jar") < 260:
                    # The folder is known and its lib pattern fits: the application runs.
                    # The runtime beside it makes a path past 259 characters, so JAVA_HOME gives it.
                    report = self.assertRan(a, result)
                    self.assertEqual(report["class.path"], "%s::%s/lib/good.jar" % (a.folder, a.folder))
                    self.assertEqual(report["tmpdir"], temp)
                    self.assertTrue(os.path.isdir(temp))
                else:
                    # 251: the folder is known, but folder/lib/*.jar does not fit, so lib counts as
                    # absent. 252 and longer: no exe folder at all.
                    self.assertDialog(result, NO_MAIN_CLASS)
                    self.assertEqual(os.path.isdir(temp), length + len("/quenlet") < 260)

    def test_folder_itself_on_the_class_path_when_lib_does_not_fit(self):
        # 251 characters: the module name (259) fits, folder/lib/*.jar (261) does not. The
        # classes in the exe folder itself are still found.
        a = self.app(folder_of_length(self.tmp, 251))
        shutil.unpack_archive(os.path.join(JARS, "good.jar"), a.folder, "zip")
        report = self.assertRan(a, a.run(java_home=RUNTIME))
        self.assertEqual(report["class.path"], a.folder + "::")


class JavaHomeLength(HostileTest):
    """JAVA_HOME/jre/lib/server/libjvm.so (25 more characters) and then
    JAVA_HOME/lib/server/libjvm.so (21 more) count only when they fit 259."""

    def test_lengths(self):
        for length, runs in ((236, True), (237, True), (238, True), (239, False), (240, False), (241, False),
                             (259, False), (260, False)):
            with self.subTest(length=length):
                case = tempfile.mkdtemp(dir=self.tmp)
                a = App(case)
                a.add_jar("lib")
                home = java_home_of_length(case, length)
                result = a.run(java_home=home)
                if runs:
                    self.assertRan(a, result)
                else:
                    self.assertDialog(result, NOT_FOUND)

    def test_ten_thousand_characters(self):
        a = self.app()
        a.add_jar("lib")
        self.assertDialog(a.run(java_home="/" + "h" * 9999), NOT_FOUND)


class CommandLine(HostileTest):
    def test_32767_characters(self):
        a = self.app()
        a.bundle_runtime()
        a.add_jar("lib")
        fixed = len(a.exe) + 1
        cases = {
            "one argument": ["a" * (32767 - fixed)],
            "many arguments": ["x%d" % i for i in range(5000)],
        }
        # Fill the many-argument line to exactly 32,767 characters too.
        many = cases["many arguments"]
        used = fixed + sum(len(s) + 1 for s in many) - 1
        many[-1] += "y" * (32767 - used)
        for name, args in cases.items():
            with self.subTest(name):
                self.assertEqual(len(" ".join([a.exe] + args)), 32767)
                report = self.assertRan(a, a.run(*args))
                self.assertEqual(int(report["count"]), len(args))
                self.assertEqual(report["arg"], args)


class ManyAndStrangeJars(HostileTest):
    def test_ten_thousand_jars(self):
        a = self.app()
        a.bundle_runtime()
        lib = os.path.join(a.folder, "lib")
        os.makedirs(lib)
        source = os.path.join(JARS, "good.jar")
        names = ["j%05d.jar" % i for i in range(10000)]
        for name in names:
            shutil.copyfile(source, os.path.join(lib, name))
        report = self.assertRan(a, a.run())
        self.assertEqual(report["class.path"], a.folder + "::" + ":".join(os.path.join(lib, n) for n in names))

    def test_names_with_every_high_byte(self):
        a = self.app()
        a.bundle_runtime()
        a.add_jar("lib")
        lib = os.fsencode(os.path.join(a.folder, "lib"))
        names = [bytes([b]) + b".jar" for b in range(0x80, 0x100)] + [bytes(range(0x80, 0x100)) + b".jar"]
        for name in names:
            shutil.copy(os.path.join(JARS, "good.jar"), os.path.join(lib, name))
        report = self.assertRan(a, a.run())
        # The VM decodes the class path as UTF-8: a lone high byte becomes U+FFFD,
        # so only the order and the count can be seen from Java.
        entries = report["class.path"].split(":")
        self.assertEqual(entries[:2], [a.folder, ""])
        self.assertEqual(len(entries), 2 + 1 + len(names))
        self.assertEqual(entries[2], os.path.join(a.folder, "lib", "good.jar"))
        self.assertTrue(all("\ufffd" in entry for entry in entries[3:]))


class RegistryValues(HostileTest):
    def test_maxheap(self):
        # (value, lowest and highest heap the VM reports in MiB); None: a key in its place.
        for data, low, high in ((b"", 48, 64), (b"\x80", 100, 128), (b"\x00\x02\x00\x00", 400, 512),
                                (b"\x00\x02\x00\x00\x00", 48, 64), (b"\x00\x02" * 500000, 48, 64), (None, 48, 64)):
            with self.subTest(size=None if data is None else len(data)):
                case = tempfile.mkdtemp(dir=self.tmp)
                a = App(case)
                a.bundle_runtime()
                a.add_jar("lib")
                a.set_value("Software\\Korvane", "maxheap", data)
                heap = int(self.assertRan(a, a.run())["max.heap.mib"])
                self.assertTrue(low <= heap <= high, heap)

    def test_current_version(self):
        library = os.path.join(RUNTIME, "lib", "server", "libjvm.so").encode()
        # (CurrentVersion, the subkey it names, whether the registered runtime is used)
        for data, subkey, used in ((b"", "", False), (b"9", "9", True), (b"17\x00\x00", "17", True),
                                   (b"1.4.2", "1.4.2", True), (b"1" * 1000000, "1", False), (None, "17", False)):
            with self.subTest(size=None if data is None else len(data)):
                case = tempfile.mkdtemp(dir=self.tmp)
                a = App(case)
                a.add_jar("lib")
                a.set_value(JAVA_KEY, "CurrentVersion", data)
                a.set_value(JAVA_KEY + "\\" + subkey, "RuntimeLib", library)
                result = a.run()
                if used:
                    self.assertRan(a, result)
                else:
                    self.assertDialog(result, NOT_FOUND)

    def test_runtime_lib(self):
        library = os.path.join(RUNTIME, "lib", "server", "libjvm.so").encode()
        # (RuntimeLib, the outcome). A value that is read is used even when it names
        # nothing loadable; one that does not fit 260 bytes or is a key is passed over
        # for JAVA_HOME, which holds a runtime.
        for data, outcome in ((b"", CANT_LOAD), (b"x", CANT_LOAD), (b"/x\x00\x00", CANT_LOAD),
                              (b"/nope", CANT_LOAD), (library + b"\x00", None), (b"/" * 1000000, None),
                              (None, None)):
            with self.subTest(size=None if data is None else len(data)):
                case = tempfile.mkdtemp(dir=self.tmp)
                a = App(case)
                a.add_jar("lib")
                a.set_value(JAVA_KEY, "CurrentVersion", b"17")
                a.set_value(JAVA_KEY + "\\17", "RuntimeLib", data)
                result = a.run(java_home=RUNTIME)
                if outcome is None:
                    self.assertRan(a, result)
                else:
                    self.assertDialog(result, outcome)
                    self.assertFalse(os.path.exists(os.path.join(a.folder, "temp")))


class RuntimeLibraryThatIsNotOne(HostileTest):
    def bundled_library(self, a):
        server = os.path.join(a.folder, "jre", "lib", "server")
        os.makedirs(server)
        return os.path.join(server, "libjvm.so")

    def test_not_a_library(self):
        with open(os.path.join(RUNTIME, "lib", "server", "libjvm.so"), "rb") as f:
            head = f.read(4096)
        for name, data in (("text", b"not a library"), ("empty", b""), ("truncated ELF", head)):
            with self.subTest(name):
                case = tempfile.mkdtemp(dir=self.tmp)
                a = App(case)
                a.add_jar("lib")
                with open(self.bundled_library(a), "wb") as f:
                    f.write(data)
                # The bundled runtime comes first: JAVA_HOME's good one is not tried.
                self.assertDialog(a.run(java_home=RUNTIME), CANT_LOAD)

    def test_folder_named_like_the_library(self):
        a = self.app()
        a.add_jar("lib")
        os.makedirs(self.bundled_library(a))
        self.assertDialog(a.run(java_home=RUNTIME), CANT_LOAD)

    def test_library_without_the_vm_entry_point(self):
        a = self.app()
        a.add_jar("lib")
        shutil.copy("/lib/x86_64-linux-gnu/libz.so.1", self.bundled_library(a))
        self.assertDialog(a.run(java_home=RUNTIME), NO_VM)

    def test_not_a_library_from_java_home(self):
        a = self.app()
        a.add_jar("lib")
        home = os.path.join(self.tmp, "home")
        os.makedirs(os.path.join(home, "lib", "server"))
        with open(os.path.join(home, "lib", "server", "libjvm.so"), "wb") as f:
            f.write(b"\x7fELF" + b"\xff" * 60)
        self.assertDialog(a.run(java_home=home), CANT_LOAD)


if __name__ == "__main__":
    LAUNCHER, RUNTIME, JARS = app_folder.configure(sys.argv)
    unittest.main(verbosity=2)
