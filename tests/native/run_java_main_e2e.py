#!/usr/bin/env python3
"""RunJavaMain end to end on the real Java runtime.

Usage: run_java_main_e2e.py DRIVER CLASSES

DRIVER is run_java_main_driver, built with a jlink runtime beside it as jre/;
CLASSES holds the compiled fixture classes (package e2e). Most cases run a copy
of the driver in a fresh application folder whose jre/ links to that runtime,
so each case sees its own temp folder. Every case sets JAVA_HOME,
QUENLET_REGISTRY and the locale explicitly.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

DRIVER = ""
CLASSES = ""
MB = 1024 * 1024
DIALOG = re.compile(r"^(Error|Java not found\.): ", re.M)


def utf16_units(text):
    """The code units a Java string of text holds, as Report prints them."""
    data = text.encode("utf-16-be", "surrogatepass")
    return " ".join("%02X%02X" % (data[i], data[i + 1]) for i in range(0, len(data), 2))


class Outcome:
    def __init__(self, completed, folder):
        self.stdout = completed.stdout.decode("utf-8", "replace")
        self.stderr = completed.stderr.decode("utf-8", "replace")
        self.folder = folder
        found = re.search(r"^RunJavaMain = (-?\d+)$", self.stdout, re.M)
        self.result = int(found.group(1)) if found else None
        self.report = dict(re.findall(r"^(\w+)=(.*)$", self.stdout, re.M))

    def dialogs(self):
        return [line for line in self.stderr.splitlines() if DIALOG.match(line)]


class RunJavaMainTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="run_java_main_e2e.")
        self.registry = os.path.join(self.work, "registry")  # empty: no registered runtime
        os.mkdir(self.registry)
        self.runtime = os.path.join(os.path.dirname(DRIVER), "jre")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def app_folder(self, name="app", bundled=True):
        """A folder holding a copy of the driver, with jre/ when bundled."""
        folder = os.path.join(self.work, name)
        os.mkdir(folder)
        shutil.copy2(DRIVER, folder)
        if bundled:
            os.symlink(self.runtime, os.path.join(folder, "jre"))
        return folder

    def run_driver(self, main_class, arguments=(), heap=64, class_path=None, folder=None, driver=None,
                   java_home=None, locale="C.UTF-8"):
        if driver is None:
            folder = folder or self.app_folder()
            driver = os.path.join(folder, os.path.basename(DRIVER))
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "QUENLET_REGISTRY": self.registry,
               "LANG": locale, "LC_ALL": locale}
        if java_home is not None:
            env["JAVA_HOME"] = java_home
        # A sanitizer build keeps its settings (see the asan preset).
        env.update({k: v for k, v in os.environ.items() if k in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")})
        command = [driver, main_class, CLASSES if class_path is None else class_path, str(heap)] + list(arguments)
        completed = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                                   cwd=self.work, timeout=60)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        return Outcome(completed, os.path.dirname(driver))

    def assert_ran(self, outcome):
        self.assertEqual(outcome.result, 1, outcome.stdout + outcome.stderr)
        self.assertEqual(outcome.dialogs(), [])

    def assert_failed(self, outcome, dialog):
        self.assertEqual(outcome.result, 0, outcome.stdout + outcome.stderr)
        self.assertEqual(outcome.dialogs(), [dialog])

    # --- The launch ---

    def test_main_receives_exactly_the_arguments(self):
        arguments = ["plain", "", "two words", "", "quote\"d", "back\\slash", "  "]
        outcome = self.run_driver("e2e/Report", arguments)
        self.assert_ran(outcome)
        self.assertEqual(outcome.report["argc"], str(len(arguments)))
        for i, argument in enumerate(arguments):
            self.assertEqual(outcome.report["arg%d" % i], utf16_units(argument), "argument %d" % i)

    def test_no_arguments_give_an_empty_array(self):
        outcome = self.run_driver("e2e/Report")
        self.assert_ran(outcome)
        self.assertEqual(outcome.report["argc"], "0")

    def test_non_ascii_arguments_are_decoded_from_the_locale(self):
        # The C locale reads UTF-8 too; bytes that do not decode become U+FFFD.
        for locale in ["C.UTF-8", "C"]:
            with self.subTest(locale=locale):
                arguments = ["caf\u00e9", "\u20ac \U0001F600", b"a\xffb", b"\xc3"]
                expected = ["caf\u00e9", "\u20ac \U0001F600", "a\ufffdb", "\ufffd"]
                raw = [a if isinstance(a, bytes) else a.encode("utf-8") for a in arguments]
                outcome = self.run_driver("e2e/Report", raw, folder=self.app_folder("app-" + locale),
                                          locale=locale)
                self.assert_ran(outcome)
                self.assertEqual(outcome.report["argc"], str(len(expected)))
                for i, text in enumerate(expected):
                    self.assertEqual(outcome.report["arg%d" % i], utf16_units(text), "argument %d" % i)

    def test_class_path_temp_folder_and_heap_are_as_passed(self):
        for heap in [64, 200]:
            with self.subTest(heap=heap):
                folder = self.app_folder("app-%d" % heap)
                class_path = CLASSES + os.pathsep + os.path.join(folder, "lib", "absent.jar")
                outcome = self.run_driver("e2e/Report", heap=heap, class_path=class_path, folder=folder)
                self.assert_ran(outcome)
                temp = os.path.join(folder, "temp")
                self.assertEqual(outcome.report["classpath"], class_path)
                self.assertEqual(outcome.report["tmpdir"], temp)
                self.assertEqual(outcome.report["tmpdirExists"], "true")
                self.assertTrue(os.path.isdir(temp))
                # The collector may keep a little of the limit back for itself.
                max_memory = int(outcome.report["maxMemory"])
                self.assertLessEqual(max_memory, heap * MB)
                self.assertGreater(max_memory, heap * MB * 3 // 4)

    def test_existing_temp_folder_is_kept(self):
        folder = self.app_folder()
        marker = os.path.join(folder, "temp", "kept")
        os.makedirs(os.path.dirname(marker))
        open(marker, "w").close()
        outcome = self.run_driver("e2e/Report", folder=folder)
        self.assert_ran(outcome)
        self.assertTrue(os.path.exists(marker))

    def test_driver_in_its_build_folder_uses_the_runtime_beside_it(self):
        outcome = self.run_driver("e2e/Report", ["x"], driver=DRIVER)
        self.assert_ran(outcome)
        self.assertEqual(outcome.report["tmpdir"], os.path.join(os.path.dirname(DRIVER), "temp"))

    def test_runtime_found_through_java_home(self):
        folder = self.app_folder(bundled=False)
        outcome = self.run_driver("e2e/Report", ["x"], folder=folder, java_home=self.runtime)
        self.assert_ran(outcome)
        self.assertEqual(outcome.report["tmpdir"], os.path.join(folder, "temp"))

    def test_main_throwing_still_returns_one_without_a_dialog(self):
        outcome = self.run_driver("e2e/ThrowingMain")
        self.assert_ran(outcome)
        self.assertIn("main started", outcome.stdout)

    def test_destroy_waits_for_non_daemon_threads(self):
        written = os.path.join(self.work, "written-by-thread")
        started = time.monotonic()
        outcome = self.run_driver("e2e/LingeringThread", [written])
        self.assert_ran(outcome)
        self.assertIn("main returned", outcome.stdout)
        self.assertTrue(os.path.exists(written), "the driver exited before the thread wrote its file")
        self.assertGreaterEqual(time.monotonic() - started, 0.9)

    # --- Failures, each one dialog on standard error ---

    def test_main_class_and_method_failures(self):
        rows = [
            ("e2e/Missing", "Error: Cannot find main class."),
            ("e2e/InstanceMain", "Error: Cannot find main method."),
            ("e2e/WrongSignature", "Error: Cannot find main method."),
            # The real VM initialises the class in FindClass, so a throwing
            # static initialiser already fails the class lookup.
            ("e2e/ThrowingInit", "Error: Cannot find main class."),
        ]
        for main_class, dialog in rows:
            with self.subTest(main_class=main_class):
                outcome = self.run_driver(main_class, ["x"], folder=self.app_folder(main_class.replace("/", "-")))
                self.assert_failed(outcome, dialog)
                self.assertNotIn("ran", outcome.stdout)

    def test_vm_that_refuses_its_options(self):
        outcome = self.run_driver("e2e/Report", heap=0)
        self.assert_failed(outcome, "Error: Cannot load Java VM.")
        self.assertTrue(os.path.isdir(os.path.join(outcome.folder, "temp")), "the temp folder precedes the VM")

    def test_no_runtime_found(self):
        folder = self.app_folder(bundled=False)
        outcome = self.run_driver("e2e/Report", folder=folder, java_home=None)
        self.assert_failed(outcome, "Java not found.: Cannot find compatible Java VM.")
        self.assertFalse(os.path.exists(os.path.join(folder, "temp")))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    DRIVER = os.path.abspath(sys.argv[1])
    CLASSES = os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])
