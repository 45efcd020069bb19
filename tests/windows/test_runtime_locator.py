"""FindJavaRuntime on the real Windows host under Wine: the runtime beside the
program, the registered runtime in a real registry (version rule, value
types, sizes), then JAVA_HOME, each seen both in the path found and in the
relayed system calls."""

import os
import shutil
import sys
import unittest

import winebench
from winebench import DRIVER, dos_path, java_runtime_key

JRE = "\\jre\\bin\\client\\jvm.dll"
HOME_JRE = "\\jre\\bin\\client\\jvm.dll"
HOME_BIN = "\\bin\\client\\jvm.dll"
JAVASOFT = "Software\\JavaSoft\\Java Runtime Environment"
HKLM = 0x80000002
KEY_READ = 0x20019
INVALID = 0xFFFFFFFF


def sequence(calls):
    """The calls as "Name" or "Name:first string argument"."""
    out = []
    for call in calls:
        strings = call.strings()
        out.append(call.name + (":" + strings[0] if strings else ""))
    return out


class RuntimeLocatorTest(winebench.WineTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.path("app")
        self.driver = self.place(DRIVER, "app", "driver.exe")
        self.home = self.path("home")
        self.dos_app = dos_path(self.app)
        self.dos_home = dos_path(self.home)

    def touch(self, *relative):
        self.write(b"not a library", *relative)

    def find(self, *registry, java_home=None, driver=None):
        """Runs the locator; returns (path found or None, its calls)."""
        self.set_registry(*registry)
        env = {"JAVA_HOME": java_home} if java_home is not None else {}
        driver = driver or self.driver
        result = self.wine(driver, ["find"], env=env, trace=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr[-3000:])
        out = result.stdout.strip()
        self.check_handles(result.calls)
        if out == "found=0":
            return None, result.calls
        self.assertTrue(out.startswith("found=1 path="), out)
        return out[len("found=1 path="):], result.calls

    def check_handles(self, calls):
        """Every key opened is closed; every search opened is closed, once."""
        opened = [c for c in calls if c.name == "RegOpenKeyExA" and c.retval == 0]
        closed = [c for c in calls if c.name == "RegCloseKey"]
        self.assertEqual(len(opened), len(closed), calls)
        for call in calls:
            if call.name == "RegOpenKeyExA":
                self.assertEqual(call.args[3], KEY_READ, call)
                self.assertEqual(call.args[2], 0, call)
        searches = [c.retval for c in calls if c.name == "FindFirstFileA" and (c.retval & INVALID) != INVALID]
        self.assertEqual(sorted(searches), sorted(c.args[0] for c in calls if c.name == "FindClose"), calls)

    def test_runtime_beside_the_program_comes_first(self):
        self.touch("app", "jre", "bin", "client", "jvm.dll")
        self.touch("home", "jre", "bin", "client", "jvm.dll")
        found, calls = self.find(java_runtime_key("1.4", "Z:\\registered\\jvm.dll"), java_home=self.dos_home)
        self.assertEqual(found, winebench.escape(self.dos_app + JRE))
        self.assertEqual(sequence(calls), ["GetModuleFileNameA", "FindFirstFileA:" + self.dos_app + JRE, "FindClose"])

    def test_a_folder_named_jvm_dll_counts_as_found(self):
        os.makedirs(self.path("app", "jre", "bin", "client", "jvm.dll"))
        found, _ = self.find()
        self.assertEqual(found, winebench.escape(self.dos_app + JRE))

    def test_registered_runtime_is_read_from_the_registry(self):
        lib = "Z:\\nowhere\\jre\\bin\\client\\jvm.dll"  # never tested for existence
        found, calls = self.find(java_runtime_key("1.4", lib), java_home=self.dos_home)
        self.assertEqual(found, winebench.escape(lib))
        self.assertEqual(sequence(calls), [
            "GetModuleFileNameA", "FindFirstFileA:" + self.dos_app + JRE,
            "RegOpenKeyExA:" + JAVASOFT, "RegQueryValueExA:CurrentVersion",
            "RegOpenKeyExA:1.4", "RegQueryValueExA:RuntimeLib", "RegCloseKey", "RegCloseKey"])
        self.assertEqual(calls[2].args[0] & 0xFFFFFFFF, HKLM)
        self.assertEqual((calls[3].args[3], calls[5].args[3]), (0, 0))  # no type wanted
        # The subkey is closed before the main key.
        self.assertNotEqual(calls[6].args[0], calls[7].args[0])

    def test_version_rule(self):
        self.touch("home", "jre", "bin", "client", "jvm.dll")
        home_runtime = winebench.escape(self.dos_home + HOME_JRE)
        cases = [
            # CurrentVersion, registered runtime used
            ("1.4", True), ("1.4.2", True), ("1.5.0", True), ("10", True), ("2", True),
            ("1.3.1", False), ("1.10", False), ("1", False), ("", False),
            # 9 characters and the terminator: 10 bytes, compared whole.
            ("1.4.2_123", True),
            # 10 characters and the terminator do not fit the 10 bytes read.
            ("1.4.2_1234", False),
        ]
        for version, used in cases:
            with self.subTest(version=version):
                lib = "Z:\\registered\\%s\\jvm.dll" % version
                key = java_runtime_key(version, lib if version else None)
                found, calls = self.find(key, java_home=self.dos_home)
                self.assertEqual(found, winebench.escape(lib) if used else home_runtime)
                self.assertEqual("GetEnvironmentVariableA:JAVA_HOME" in sequence(calls), not used)

    def test_registry_value_types_are_neither_asked_for_nor_expanded(self):
        self.touch("home", "jre", "bin", "client", "jvm.dll")
        cases = [
            # CurrentVersion as .reg data, RuntimeLib as .reg data, path expected
            ("hex:31,2e,34", '"Z:\\\\lib\\\\jvm.dll"', "Z:\\lib\\jvm.dll"),  # binary, no terminator
            ('"1.4"', "hex(2):25,4a,48,25,5c,6a,76,6d,2e,64,6c,6c,00", "%JH%\\jvm.dll"),  # expandable
            ('"1.4"', "hex:5a,3a,5c,62,69,6e,00", "Z:\\bin"),  # binary with terminator
        ]
        for current, runtime_lib, expected in cases:
            with self.subTest(current=current, runtime_lib=runtime_lib):
                base = "HKEY_LOCAL_MACHINE\\" + JAVASOFT
                key = '[%s]\n"CurrentVersion"=%s\n\n[%s\\1.4]\n"RuntimeLib"=%s\n' % (base, current, base, runtime_lib)
                found, _ = self.find(key, java_home=self.dos_home)
                self.assertEqual(found, winebench.escape(expected))

    def test_registered_version_without_its_runtime_leads_on_to_java_home(self):
        self.touch("home", "bin", "client", "jvm.dll")
        base = "HKEY_LOCAL_MACHINE\\" + JAVASOFT
        cases = [
            ("no subkey", java_runtime_key("1.4")),
            ("no RuntimeLib", java_runtime_key("1.4") + '\n[%s\\1.4]\n"JavaHome"="Z:\\\\x"\n' % base),
            ("subkey of another version", java_runtime_key("1.5") + '\n[%s\\1.4]\n"RuntimeLib"="Z:\\\\x"\n' % base),
        ]
        for name, key in cases:
            with self.subTest(name):
                found, calls = self.find(key, java_home=self.dos_home)
                self.assertEqual(found, winebench.escape(self.dos_home + HOME_BIN))

    def test_java_home_candidates(self):
        cases = [
            # files below JAVA_HOME, JAVA_HOME's value (None: the home folder), path expected
            (["jre/bin/client/jvm.dll", "bin/client/jvm.dll"], None, HOME_JRE),
            (["bin/client/jvm.dll"], None, HOME_BIN),
            (["jre/bin/client/jvm.dll"], "\\", "\\" + HOME_JRE),  # doubled backslash, as given
            ([], None, None),
        ]
        for files, suffix, expected in cases:
            with self.subTest(files=files, suffix=suffix):
                for name in ("jre", "bin"):
                    if os.path.isdir(os.path.join(self.home, name)):
                        shutil.rmtree(os.path.join(self.home, name))
                for name in files:
                    self.touch("home", *name.split("/"))
                java_home = self.dos_home + (suffix or "")
                found, calls = self.find(java_home=java_home)
                self.assertEqual(found, None if expected is None else winebench.escape(self.dos_home + expected))
                tried = [c.strings()[0] for c in calls if c.name == "FindFirstFileA"][1:]
                self.assertEqual(tried[0], java_home + HOME_JRE)

    def test_without_java_home_nothing_is_found(self):
        self.touch("home", "jre", "bin", "client", "jvm.dll")
        cases = [
            ("unset", None),
            ("empty", ""),
            # Longer than the 260-byte buffer: treated as absent.
            ("too long", "Z:\\" + "x" * 300),
        ]
        for name, java_home in cases:
            with self.subTest(name):
                found, calls = self.find(java_home=java_home)
                self.assertIsNone(found)
                self.assertEqual(sequence(calls)[-1], "GetEnvironmentVariableA:JAVA_HOME")

    def test_exe_folder_length_limit(self):
        # "\jre\bin\client\jvm.dll" adds 23 characters: an exe folder of 236
        # gives a 259-character candidate, one of 237 a candidate that does
        # not fit, so the runtime there is not found.
        for length, found_beside in ((236, True), (237, False)):
            with self.subTest(length=length):
                pad = length - len(dos_path(self.path("x")))
                self.assertGreater(pad, 0)
                folder = self.path("x" + "y" * pad)
                self.assertEqual(len(dos_path(folder)), length)
                driver = self.place(DRIVER, folder, "driver.exe")
                self.touch(folder, "jre", "bin", "client", "jvm.dll")
                found, _ = self.find(driver=driver)
                self.assertEqual(found, winebench.escape(dos_path(folder) + JRE) if found_beside else None)


if __name__ == "__main__":
    unittest.main(argv=sys.argv, testRunner=unittest.TextTestRunner(stream=sys.stdout, verbosity=2))
