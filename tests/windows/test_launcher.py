"""quenlet.exe end to end under Wine, with the stub jvm.dll: the arguments main
gets from exact command lines, the class path from real build and lib
folders, the heap from the real registry, the temp folder, the whole order of
system and JNI calls, the exit status; and, in a 64-bit prefix, the registry
view each exe reads.

Besides the bench's environment (see winebench.py): QUENLET_EXE (the built
quenlet.exe), QUENLET_EXE_BITS (32 or 64), QUENLET_RAW_RUN (raw_run.exe of the
same build), QUENLET_WINE64 (the 64-bit loader, whose regedit writes both
views of a 64-bit prefix)."""

import os
import shutil
import sys
import unittest

import relay
import winebench
from test_run_java_main import MAIN_CLASS, MAIN_SIGNATURE, java_text, order
from winebench import STUB_JVM, dos_path

EXE = os.environ.get("QUENLET_EXE", "")
EXE_BITS = os.environ.get("QUENLET_EXE_BITS", "")
RAW_RUN = os.environ.get("QUENLET_RAW_RUN", "")
WINE64 = os.environ.get("QUENLET_WINE64", "/usr/lib/wine/wine64")

KORVANE = "Software\\Korvane"
JAVASOFT = "Software\\JavaSoft"
KEY_READ = 0x20019


def ansi(data):
    """Bytes as Windows decodes them in code page 1252: the five bytes that
    the code page leaves undefined become the code points of the same value."""
    return "".join(bytes([b]).decode("cp1252") if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else chr(b)
                   for b in data)


def main_arguments(log):
    """The texts main got, from the stub's log; None when main was not called."""
    for index, line in enumerate(log):
        if line.startswith("CallStaticVoidMethodV "):
            count = int(line.rsplit("args=", 1)[1])
            return [java_text(entry.split(" ", 4)[4]) for entry in log[index + 1:index + 1 + count]]
    return None


def options(log):
    """The VM options of the stub's log, in order."""
    return [line.split(" ", 3)[3] for line in log if line.startswith("option ")]


def dialogs(calls):
    return [(c.strings()[0], c.strings()[1], c.args[0], c.args[3], relay.as_signed32(c.retval))
            for c in calls if c.name == "MessageBoxA"]


class LauncherCase(winebench.WineTestCase):
    """An application folder with quenlet.exe and the stub runtime beside it."""

    @classmethod
    def setUpClass(cls):
        if not (EXE and RAW_RUN):
            raise unittest.SkipTest("no quenlet.exe configured")
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.app = self.path("Quenlet App")  # a space in the path, as under Program Files
        self.dos_app = dos_path(self.app)
        self.exe = self.place(EXE, "Quenlet App", "quenlet.exe")
        self.log = self.path("stub.log")

    def bundle(self, jvm=STUB_JVM):
        self.place(jvm, "Quenlet App", "jre", "bin", "client", "jvm.dll")

    def jars(self, folder, names):
        """Empty jar files (and folders for names ending in "/") in the app's folder."""
        for name in names:
            if name.endswith("/"):
                os.makedirs(os.path.join(self.app, folder, name[:-1]), exist_ok=True)
            else:
                self.write(b"", "Quenlet App", folder, name)

    def exe_path(self):
        """The exe's DOS path as command-line bytes."""
        return dos_path(self.exe).encode("latin-1")

    def launch(self, args=(), line=None, env=None, fail=None, trace=False):
        """Runs quenlet.exe, with line (bytes) as its exact command line when
        given, else with args through Wine; returns (result, log)."""
        if os.path.exists(self.log):
            os.remove(self.log)
        full_env = {"QUENLET_STUB_LOG": dos_path(self.log)}
        if fail is not None:
            full_env["QUENLET_STUB_FAIL"] = fail
        full_env.update(env or {})
        if line is None:
            result = self.wine(self.exe, list(args), env=full_env, trace=trace)
        else:
            line_file = self.write(line, "line.bin")
            result = self.wine(RAW_RUN, [dos_path(self.exe), dos_path(line_file)], env=full_env, trace=trace,
                               image=self.exe)
        return result, winebench.read_log(self.log)


class LauncherTest(LauncherCase):
    def setUp(self):
        super().setUp()
        # No registered runtime, no heap setting, the relay filter set.
        self.set_registry(clear=(KORVANE,))

    def test_main_gets_the_arguments_of_the_exact_command_line(self):
        self.bundle()
        quoted = b'"' + self.exe_path() + b'"'
        cases = [
            # name, command line, arguments main gets
            ("quoted program path with a space", quoted + b' one "two three"', ["one", "two three"]),
            ("program name only", quoted, []),
            ("blanks after the name only", quoted + b" \t  ", []),
            ("closing quote ends the name", b'"ab"cd', ["cd"]),
            ("closing quote ends an argument", quoted + b' "ab"cd', ["ab", "cd"]),
            ("quotes inside an argument", quoted + b' ab"c d" a"b c"d key="x y"', ["abc d", "ab c", "d", "key=x y"]),
            ("empty quotes", quoted + b' "" a "" a""', ["", "a", "", "a"]),
            ("tabs and repeated spaces", quoted + b'\t a  \t b   "c\t  d"   ', ["a", "b", "c\t  d"]),
            ("backslashes escape nothing", quoted + b' "C:\\Program Files\\" a\\"b c"',
             ["C:\\Program Files\\", "a\\b c"]),
            ("unclosed quote", quoted + b' a "b  c ', ["a", "b  c "]),
            ("bytes from 0x80 in code page 1252", quoted + b" caf\xe9 \x80\x9f\xff \x81\x8d",
             [ansi(b"caf\xe9"), ansi(b"\x80\x9f\xff"), ansi(b"\x81\x8d")]),
            # Unquoted, the name ends at the first blank, inside the path too.
            ("unquoted path with a space", self.exe_path() + b" a", ["App\\quenlet.exe", "a"]),
        ]
        for name, line, expected in cases:
            with self.subTest(name):
                result, log = self.launch(line=line)
                self.assertEqual(result.returncode, 0, result.stderr[-2000:])
                self.assertEqual(main_arguments(log), expected, log)

    def test_arguments_given_through_wine(self):
        # Wine builds the command line from these, quoting as needed; main
        # gets them back unchanged.
        self.bundle()
        arguments = ["plain", "with space", "tab\there", "caf\xe9"]
        result, log = self.launch(arguments)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(main_arguments(log), arguments)

    def test_class_path_from_the_build_and_lib_folders(self):
        self.bundle()
        build_names = ["lib.jar", "lib-1.jar", "lib2.jar", "lib_x.jar", "Tool.JAR", "b.jar", "C.jar", "a.jar",
                       "x-9.jar", "x-10.jar", "cafz.jar", "caf\xe9.jar", "classes.jar/", "readme.txt", "a.jar.txt"]
        cases = [
            # name, build entries (None: no folder), lib entries, jars in build, jars in lib
            ("no build or lib folder", None, None, [], []),
            ("empty folders", [], [], [], []),
            ("folders without jars", ["readme.txt", "a.zip"], ["notes.jar.txt"], [], []),
            ("jars only in build", ["b.jar", "a.jar"], None, ["a.jar", "b.jar"], []),
            ("jars only in lib", None, ["x.jar"], [], ["x.jar"]),
            ("build before lib", ["z.jar"], ["a.jar"], ["z.jar"], ["a.jar"]),
            ("byte order whatever the case", build_names, ["mid.Jar", "Mid.jar"],
             ["C.jar", "Tool.JAR", "a.jar", "b.jar", "cafz.jar", "caf\xe9.jar", "classes.jar",
              "lib-1.jar", "lib.jar", "lib2.jar", "lib_x.jar", "x-10.jar", "x-9.jar"], ["Mid.jar", "mid.Jar"]),
        ]
        for name, build, lib, build_jars, lib_jars in cases:
            with self.subTest(name):
                for folder in ("build", "lib"):
                    shutil.rmtree(os.path.join(self.app, folder), ignore_errors=True)
                if build is not None:
                    os.makedirs(os.path.join(self.app, "build"))
                    self.jars("build", build)
                if lib is not None:
                    os.makedirs(os.path.join(self.app, "lib"))
                    self.jars("lib", lib)
                result, log = self.launch()
                self.assertEqual(result.returncode, 0)
                folder = self.dos_app
                expected = (folder + ";" + ";".join(folder + "\\build\\" + n for n in build_jars) + ";"
                            + ";".join(folder + "\\lib\\" + n for n in lib_jars))
                self.assertEqual(options(log)[1], "-Djava.class.path=" + winebench.escape(expected))

    def test_heap_from_the_registry(self):
        self.bundle()
        key = "[HKEY_LOCAL_MACHINE\\%s]\n" % KORVANE
        cases = [
            # name, .reg text (None: no key), heap option
            ("4-byte number", key + '"maxheap"=dword:00000200\n', "-Xmx512m"),
            ("2 bytes 00 02", key + '"maxheap"=hex:00,02\n', "-Xmx512m"),
            ("1 byte", key + '"maxheap"=hex:01\n', "-Xmx1m"),
            ("zero", key + '"maxheap"=dword:00000000\n', "-Xmx0m"),
            ("largest", key + '"maxheap"=dword:ffffffff\n', "-Xmx4294967295m"),
            ("no key", None, "-Xmx64m"),
            ("no value", key + '"other"=dword:00000200\n', "-Xmx64m"),
            ("no bytes", key + '"maxheap"=hex:\n', "-Xmx64m"),
            ("5 bytes", key + '"maxheap"=hex:00,01,00,00,00\n', "-Xmx64m"),
            # A string is not parsed: the bytes of its ANSI form, terminator
            # included, are the number.
            ("string of 2 characters", key + '"maxheap"="25"\n', "-Xmx%dm" % 0x3532),
            ("string of 3 characters", key + '"maxheap"="256"\n', "-Xmx%dm" % 0x363532),
            ("string of 4 characters", key + '"maxheap"="2560"\n', "-Xmx64m"),
        ]
        for name, reg, heap in cases:
            with self.subTest(name):
                self.set_registry(*([reg] if reg else []), clear=(KORVANE,))
                result, log = self.launch()
                self.assertEqual(result.returncode, 0)
                self.assertEqual(options(log)[0], heap)

    def test_temp_folder_beside_the_exe(self):
        self.bundle()
        result, log = self.launch(["x"])
        self.assertEqual(result.returncode, 0)
        self.assertEqual(options(log)[2], "-Djava.io.tmpdir=" + self.dos_app + "\\temp")
        self.assertTrue(os.path.isdir(os.path.join(self.app, "temp")))

    def test_whole_launch_in_order(self):
        self.bundle()
        self.jars("build", ["b.jar", "a.jar"])
        self.jars("lib", ["x.jar"])
        self.set_registry("[HKEY_LOCAL_MACHINE\\%s]\n\"maxheap\"=dword:00000100\n" % KORVANE, clear=(KORVANE,))
        result, log = self.launch(line=b'"' + self.exe_path() + b'" one "two three"', trace=True)
        self.assertEqual(result.returncode, 0)
        app = self.dos_app
        runtime = app + "\\jre\\bin\\client\\jvm.dll"
        steps = order(result.calls)
        self.assertEqual(steps, [
            "GetModuleFileNameA",
            "FindFirstFileA:" + app + "\\build\\*.jar", "FindNextFileA", "FindNextFileA", "FindClose",
            "FindFirstFileA:" + app + "\\lib\\*.jar", "FindNextFileA", "FindClose",
            "RegOpenKeyExA:" + KORVANE, "RegQueryValueExA:maxheap", "RegCloseKey",
            "GetModuleFileNameA", "FindFirstFileA:" + runtime, "FindClose",
            "GetModuleFileNameA",
            "SetDllDirectoryA:" + app + "\\jre\\bin",
            "LoadLibraryA:" + runtime, "jni:loaded",
            "GetProcAddress:JNI_CreateJavaVM",
            "CreateDirectoryA:" + app + "\\temp",
            "jni:JNI_CreateJavaVM", "jni:option", "jni:option", "jni:option",
            "jni:FindClass", "jni:GetStaticMethodID", "jni:FindClass", "jni:NewObjectArray",
            "jni:NewString", "jni:SetObjectArrayElement", "jni:NewString", "jni:SetObjectArrayElement",
            "jni:CallStaticVoidMethodV", "jni:", "jni:", "jni:DestroyJavaVM",
        ])
        calls = result.calls
        # The tail is cut from the process command line before anything else.
        first = [c.name for c in calls if c.marker is None][0]
        self.assertEqual(first, "GetCommandLineA")
        # The heap key: HKEY_LOCAL_MACHINE, read access and no view flag; the
        # value read with no type wanted into 4 bytes; the key closed.
        open_key = next(c for c in calls if c.name == "RegOpenKeyExA")
        self.assertEqual((open_key.args[0] & 0xFFFFFFFF, open_key.args[2], open_key.args[3]), (0x80000002, 0, KEY_READ))
        self.assertEqual(open_key.retval, 0)
        query = next(c for c in calls if c.name == "RegQueryValueExA")
        self.assertEqual((query.args[2], query.args[3]), (0, 0))
        self.assertEqual(query.retval, 0)
        self.assertEqual(log[2:5], ["option 0 extraInfo=null -Xmx256m",
                                    "option 1 extraInfo=null -Djava.class.path=" + winebench.escape(
                                        "%s;%s\\build\\a.jar;%s\\build\\b.jar;%s\\lib\\x.jar" % (app, app, app, app)),
                                    "option 2 extraInfo=null -Djava.io.tmpdir=" + winebench.escape(app + "\\temp")])
        self.assertIn("FindClass " + MAIN_CLASS, log)
        self.assertIn("GetStaticMethodID class=%s name=main sig=%s" % (MAIN_CLASS, MAIN_SIGNATURE), log)
        self.assertEqual(main_arguments(log), ["one", "two three"])
        self.assertEqual(dialogs(calls), [])

    def test_exit_status_is_0_after_a_failure(self):
        cases = [
            # name, runtime beside the exe, stub failure, dialog text and title, VM destroyed
            ("no runtime", False, None, "Cannot find compatible Java VM.", "Java not found.", False),
            ("VM not created", True, "create", "Cannot load Java VM.", "Error", False),
            ("no main class", True, "findclass", "Cannot find main class.", "Error", True),
            ("no argument array", True, "array", "Error initializing options.", "Error", True),
        ]
        for name, beside, fail, text, title, destroyed in cases:
            with self.subTest(name):
                shutil.rmtree(os.path.join(self.app, "jre"), ignore_errors=True)
                if beside:
                    self.bundle()
                result, _ = self.launch(["a"], fail=fail, trace=True)
                self.assertEqual(result.returncode, 0)
                # One dialog, no owner, the error icon; headless Wine answers -1 at once.
                self.assertEqual(dialogs(result.calls), [(text, title, 0, winebench.DIALOG_STYLE, -1)])
                steps = order(result.calls)
                self.assertEqual(steps.count("jni:DestroyJavaVM"), 1 if destroyed else 0, steps)
                self.assertNotIn("jni:CallStaticVoidMethodV", steps)


class RegistryViewTest(LauncherCase):
    """In a 64-bit prefix the 32-bit exe reads the 32-bit view of HKLM\\Software
    (Software\\Wow6432Node seen from 64 bits), the 64-bit exe the 64-bit view,
    though neither asks for a view. Each case writes the views through the
    64-bit regedit, which reaches both."""

    VIEWS = {"64": "Software", "32": "Software\\Wow6432Node"}

    @classmethod
    def setUpClass(cls):
        if winebench.ARCH != "win64" or EXE_BITS not in ("32", "64"):
            raise unittest.SkipTest("registry views need a 64-bit prefix")
        super().setUpClass()

    def tearDown(self):
        self.set_views({})
        super().tearDown()

    def set_views(self, sections):
        """Clears Korvane and JavaSoft in both views, then writes sections:
        {view: .reg text with keys below "HKLM\\Software" written as "@\\"}."""
        text = "REGEDIT4\n\n" + relay.relay_include_reg() + "\n"
        for view in self.VIEWS.values():
            text += "[-HKEY_LOCAL_MACHINE\\%s\\Korvane]\n\n[-HKEY_LOCAL_MACHINE\\%s\\JavaSoft]\n\n" % (view, view)
        for view, section in sections.items():
            text += section.replace("@\\", "HKEY_LOCAL_MACHINE\\" + self.VIEWS[view] + "\\") + "\n"
        reg = self.write(text.replace("\n", "\r\n"), "views.reg")
        result = self.wine("regedit", ["/S", dos_path(reg)], loader=WINE64)
        self.assertEqual(result.returncode, 0, "regedit failed: " + result.stderr[-2000:])

    def test_heap_is_read_in_the_exe_own_view(self):
        self.bundle()
        own, other = EXE_BITS, "32" if EXE_BITS == "64" else "64"
        heap = '[@\\Korvane]\n"maxheap"=dword:%08x\n'
        cases = [
            # name, sections by view, heap option
            ("own view only", {own: heap % 100}, "-Xmx100m"),
            ("other view only", {other: heap % 200}, "-Xmx64m"),
            ("both views", {own: heap % 300, other: heap % 400}, "-Xmx300m"),
        ]
        for name, sections, expected in cases:
            with self.subTest(name):
                self.set_views(sections)
                result, log = self.launch(trace=True)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(options(log)[0], expected)
                # No view flag: the access is KEY_READ alone.
                open_key = next(c for c in result.calls if c.name == "RegOpenKeyExA")
                self.assertEqual((open_key.strings()[0], open_key.args[3]), (KORVANE, KEY_READ))

    def test_registered_runtime_is_read_in_the_exe_own_view(self):
        # No runtime beside the exe; a stub runtime registered elsewhere.
        jvm = dos_path(self.place(STUB_JVM, "registered", "jre", "bin", "client", "jvm.dll"))
        own, other = EXE_BITS, "32" if EXE_BITS == "64" else "64"

        def registration(lib):
            return ('[@\\JavaSoft\\Java Runtime Environment]\n"CurrentVersion"="1.4"\n\n'
                    '[@\\JavaSoft\\Java Runtime Environment\\1.4]\n"RuntimeLib"=%s\n' % winebench.reg_string(lib))

        nowhere = "Z:\\nowhere\\jvm.dll"
        cases = [
            # name, sections by view, library loaded (None: none found)
            ("own view only", {own: registration(jvm)}, jvm),
            ("other view only", {other: registration(jvm)}, None),
            ("both views", {own: registration(jvm), other: registration(nowhere)}, jvm),
        ]
        for name, sections, loaded in cases:
            with self.subTest(name):
                self.set_views(sections)
                result, log = self.launch(["a"], trace=True)
                self.assertEqual(result.returncode, 0)
                steps = order(result.calls)
                opened = [c for c in result.calls if c.name == "RegOpenKeyExA"]
                self.assertTrue(opened)
                self.assertTrue(all(c.args[3] == KEY_READ for c in opened), opened)
                if loaded is None:
                    self.assertNotIn("RegQueryValueExA:RuntimeLib", steps)
                    self.assertEqual(dialogs(result.calls), [("Cannot find compatible Java VM.", "Java not found.",
                                                              0, winebench.DIALOG_STYLE, -1)])
                    self.assertEqual(log, [])
                else:
                    self.assertIn("LoadLibraryA:" + loaded, steps)
                    self.assertEqual(dialogs(result.calls), [])
                    self.assertEqual(main_arguments(log), ["a"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv, testRunner=unittest.TextTestRunner(stream=sys.stdout, verbosity=2))
