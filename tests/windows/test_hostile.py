"""Hostile inputs to quenlet.exe under Wine, end to end, and the DLL search.

Each case lays out an application folder (a copy of the built quenlet.exe,
never the build folder, whose DLLs the loader would find beside the exe),
runs it from a neutral folder, and checks the outcome whole: what the runtime
got (the stub jvm.dll logs the options and main's arguments unabridged), or
the one dialog from the relay trace, and in every case exit status 0 with no
crash. The inputs: long exe folders and JAVA_HOME values around the 260-byte
limits, a command line of 32,767 characters, 10,000 jars, jar names with every
byte from 0x80 to 0xFF, registry values of the wrong type and of awkward
sizes, runtime libraries that are no library; and DLLs planted in the current
folder, which must never be loaded.
"""

import os
import random
import re
import shutil
import sys
import unittest

import relay
import winebench
from winebench import STUB_JVM, STUB_JVM_DEP, STUBDEP, dos_path, escape, reg_string

EXE = os.environ.get("QUENLET_EXE", "")
RAW_RUN = os.environ.get("QUENLET_RAW_RUN", "")

MAIN_CLASS = "com/fernwickdale/korvane/apps/Quenlet"
MAIN_SIGNATURE = "([Ljava/lang/String;)V"
INIT_ARGS = "version=0x00010002 nOptions=%d ignoreUnrecognized=1"
BESIDE = "\\jre\\bin\\client\\jvm.dll"
HOME_BIN = "\\bin\\client\\jvm.dll"
JAVASOFT = "HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\Java Runtime Environment"
KORVANE = "HKEY_LOCAL_MACHINE\\Software\\Korvane"
NOT_FOUND = ("Cannot find compatible Java VM.", "Java not found.")
NOT_LOADED = ("Can't load jvm.dll.", "Error")
NO_VM = ("Cannot load Java VM.", "Error")
# What Wine writes on standard error when a program crashes.
CRASH_SIGNS = ("Unhandled exception", "Unhandled page fault", "Backtrace:", "err:seh:", "stack overflow",
               "err:virtual:", "EXCEPTION_")
MAX_COMPONENT = 200  # Unix file names are at most 255 bytes
LINE_LIMIT = 32766  # a command line of 32,767 characters with its terminator


def unix_name(ansi):
    """The Unix file name that Wine shows as this name in code page 1252; the
    bytes 1252 leaves undefined stand for U+0081, U+008D, and so on."""
    text = "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in ansi)
    return text.encode("utf-8")


def units(text):
    """A text as the stub logs a UTF-16 string: its units in hex."""
    data = text.encode("utf-16-le")
    return " ".join("%04X" % int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2))


def launched(runtime, options, arguments=(), created=()):
    """The stub's log of a launch that ran main: the library loaded from
    runtime, the VM created with options (strings or bytes; created: the lines
    the stub adds after them), main given arguments (texts), each made with
    NewString, then the VM destroyed."""
    log = ["loaded " + escape(runtime), "JNI_CreateJavaVM " + INIT_ARGS % len(options)]
    log += ["option %d extraInfo=null %s" % (i, escape(option)) for i, option in enumerate(options)]
    log += list(created)
    log += ["FindClass " + MAIN_CLASS, "GetStaticMethodID class=%s name=main sig=%s" % (MAIN_CLASS, MAIN_SIGNATURE),
            "FindClass java/lang/String",
            "NewObjectArray length=%d initial=null class=java/lang/String" % len(arguments)]
    for i, text in enumerate(arguments):
        log += ["NewString length=%d units=%s" % (len(text.encode("utf-16-le")) // 2, units(text)),
                "SetObjectArrayElement index=%d value=u16:%s" % (i, units(text))]
    log += ["CallStaticVoidMethodV class=%s method=main args=%d" % (MAIN_CLASS, len(arguments))]
    log += ["  arg %d u16:%s" % (i, units(text)) for i, text in enumerate(arguments)]
    return log + ["DestroyJavaVM"]


class Outcome:
    def __init__(self, result, log, dialogs, loaded):
        self.result = result
        self.log = log  # the stub jvm.dll's log lines
        self.dialogs = dialogs  # (text, title, owner, style) of each MessageBoxA
        self.loaded = loaded  # DOS paths of the native DLLs loaded, from +loaddll


class HostileTest(winebench.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not all((EXE, STUB_JVM, RAW_RUN)):
            raise unittest.SkipTest("QUENLET_EXE, QUENLET_STUB_JVM or QUENLET_RAW_RUN not set")
        cls._registry = None

    def setUp(self):
        super().setUp()
        self.stub_log = self.path("stub.log")
        self.registry()  # none of the keys, unless the test sets them

    # ---- Layout ------------------------------------------------------------

    def long_folder(self, name, length):
        """A folder below the scratch folder whose DOS path has exactly length
        characters, made of components Unix accepts."""
        folder = self.path(name)
        while len(dos_path(folder)) < length:
            room = length - len(dos_path(folder)) - 1
            if room < 1:  # one character left: lengthen the last component instead
                folder += "y"
                continue
            folder = os.path.join(folder, "y" * min(room, MAX_COMPONENT))
        self.assertEqual(len(dos_path(folder)), length)
        return folder

    def application(self, folder=None):
        """quenlet.exe copied into folder (default: app); returns its path."""
        folder = folder or self.path("app")
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "quenlet.exe")
        shutil.copyfile(EXE, target)
        return target

    def put(self, source, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(source, bytes):
            with open(path, "wb") as f:
                f.write(source)
        else:
            shutil.copyfile(source, path)
        return path

    # ---- Registry ----------------------------------------------------------

    def registry(self, *sections):
        """Sets the JavaSoft and Korvane keys of HKLM to the sections (both
        removed when none), with one regedit run, skipped when unchanged."""
        text = "[-%s]\n\n" % KORVANE + "\n".join(sections)
        if type(self)._registry != text:
            self.set_registry(text)
            type(self)._registry = text

    # ---- Running -----------------------------------------------------------

    def launch(self, exe, args=(), env=None, cwd=None, line=None, trace=True):
        """Runs quenlet.exe from the neutral folder (or cwd), with arguments
        as Wine passes them or with the exact command line given (through
        raw_run). Checks that it ended with 0 and did not crash."""
        if os.path.exists(self.stub_log):
            os.remove(self.stub_log)
        full_env = {"QUENLET_STUB_LOG": dos_path(self.stub_log), "WINEDEBUG": "-all"}
        if trace:
            full_env["WINEDEBUG"] = relay.WINEDEBUG
        full_env.update(env or {})
        self.neutral = cwd or type(self).neutral
        if line is not None:
            line_file = self.write(line, "line.bin")
            result = self.wine(RAW_RUN, [dos_path(exe), dos_path(line_file)], env=full_env)
        else:
            result = self.wine(exe, list(args), env=full_env)
        tail = result.stderr[-3000:]
        self.assertEqual(result.returncode, 0, tail)
        for sign in CRASH_SIGNS:
            self.assertNotIn(sign, result.stderr, tail)
        dialogs, loaded = [], []
        if trace:
            for call in relay.parse_trace(result.stderr, exe):
                if call.name == "MessageBoxA":
                    strings = call.strings()
                    dialogs.append((strings[0], strings[1], call.args[0], call.args[3]))
            loaded = self.native_dlls(result.stderr, exe)
        return Outcome(result, winebench.read_log(self.stub_log), dialogs, loaded)

    @staticmethod
    def native_dlls(trace, exe):
        """The native (not Wine's builtin) DLLs the exe's process loaded."""
        name = os.path.basename(exe).lower()
        process, loaded = None, []
        pattern = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*)" at [0-9A-Fa-f]+: (\w+)')
        for line in trace.splitlines():
            m = pattern.match(line)
            if not m:
                continue
            path = m.group(2).replace("\\\\", "\\")
            if process is None and path.lower().endswith("\\" + name):
                process = m.group(1)
            elif m.group(1) == process and m.group(3) == "native":
                loaded.append(path)
        return loaded

    def assertDialog(self, outcome, dialog):
        """Exactly one dialog, with this text and title, no owner, error icon."""
        self.assertEqual(outcome.dialogs, [(dialog[0], dialog[1], 0, winebench.DIALOG_STYLE)])


    # ---- The cases -----------------------------------------------------------

    def test_exe_folder_lengths(self):
        # The runtime beside the exe is found while exe folder and
        # "\jre\bin\client\jvm.dll" fit 259 characters (folder of 236); past
        # that, JAVA_HOME's runtime is used. From 248 on the module name
        # itself (folder, "\quenlet.exe") no longer fits 260 bytes: the exe
        # folder is unknown, so no jar folders, no temp folder, no temp option.
        home_runtime = self.put(STUB_JVM, self.path("home", "bin", "client", "jvm.dll"))
        env = {"JAVA_HOME": dos_path(self.path("home"))}
        for length, beside, known in ((236, True, True), (237, False, True), (245, False, True),
                                      (247, False, True), (248, False, False), (300, False, False)):
            with self.subTest(length=length):
                folder = self.long_folder("f%d" % length, length)
                exe = self.application(folder)
                runtime = self.put(STUB_JVM, folder + "/jre/bin/client/jvm.dll")
                self.put(b"", folder + "/build/b.jar")
                self.put(b"", folder + "/lib/a.jar")
                outcome = self.launch(exe, ["x"], env=env, trace=False)
                dos = dos_path(folder)
                if known:
                    options = ["-Xmx64m", "-Djava.class.path=%s;%s\\build\\b.jar;%s\\lib\\a.jar" % (dos, dos, dos),
                               "-Djava.io.tmpdir=%s\\temp" % dos]
                else:
                    options = ["-Xmx64m", "-Djava.class.path=;;"]
                used = runtime if beside else home_runtime
                self.assertEqual(outcome.log, launched(dos_path(used), options, ["x"]))
                self.assertEqual(os.path.isdir(folder + "/temp"), known)

    def test_java_home_lengths(self):
        # "\jre\bin\client\jvm.dll" adds 23 characters, "\bin\client\jvm.dll"
        # 19: a JAVA_HOME of 236 gives the first, 237 to 240 only the second,
        # 241 to 259 neither, and from 260 on the value does not fit its
        # buffer at all. Both runtimes exist below every home that Unix can
        # hold, so a candidate that should not fit would be found.
        for length, found in ((236, BESIDE), (237, HOME_BIN), (240, HOME_BIN), (241, None), (259, None),
                              (260, None), (10000, None)):
            with self.subTest(length=length):
                exe = self.application()
                if length < 1000:
                    home = self.long_folder("home%d" % length, length)
                    for suffix in (BESIDE, HOME_BIN):
                        self.put(STUB_JVM, home + suffix.replace("\\", "/"))
                    java_home = dos_path(home)
                else:
                    java_home = dos_path(self.path("h")) + "\\" + "h" * (length - len(dos_path(self.path("h"))) - 1)
                self.assertEqual(len(java_home), length)
                outcome = self.launch(exe, env={"JAVA_HOME": java_home})
                if found is None:
                    self.assertDialog(outcome, NOT_FOUND)
                    self.assertEqual(outcome.log, [])
                    self.assertFalse(os.path.exists(self.path("app", "temp")))
                else:
                    app = dos_path(self.path("app"))
                    options = ["-Xmx64m", "-Djava.class.path=%s;;" % app, "-Djava.io.tmpdir=%s\\temp" % app]
                    self.assertEqual(outcome.dialogs, [])
                    self.assertEqual(outcome.log, launched(java_home + found, options))
                shutil.rmtree(self.path("app"))

    def test_command_line_of_32767_characters(self):
        # The longest command line Windows takes, program name included: many
        # arguments and a long quoted one with blanks, each of which arrives.
        exe = self.application()
        self.put(STUB_JVM, self.path("app", "jre", "bin", "client", "jvm.dll"))
        head = '"%s"' % dos_path(exe)
        arguments = ["a%04d" % i for i in range(3000)]
        line = " ".join([head] + arguments) + ' "'
        room = LINE_LIMIT - len(line) - 1
        long_argument = ("0123456789 \t" * (room // 12 + 1))[:room]
        line += long_argument + '"'
        self.assertEqual(len(line), LINE_LIMIT)
        outcome = self.launch(exe, line=line.encode("latin-1"), trace=False)
        app = dos_path(self.path("app"))
        options = ["-Xmx64m", "-Djava.class.path=%s;;" % app, "-Djava.io.tmpdir=%s\\temp" % app]
        expected = launched(app + BESIDE, options, arguments + [long_argument])
        self.assertEqual(len(outcome.log), len(expected))
        self.assertEqual(outcome.log, expected)

    def test_ten_thousand_jars(self):
        # Created in random order; half the names upper-case, so that byte
        # order (every J before every j) differs from the order Wine returns.
        exe = self.application()
        self.put(STUB_JVM, self.path("app", "jre", "bin", "client", "jvm.dll"))
        names = [("J%05d.jar" if i % 2 else "j%05d.jar") % i for i in range(10000)]
        lib = self.path("app", "lib")
        os.makedirs(lib)
        for name in random.Random(8).sample(names, len(names)):
            open(os.path.join(lib, name), "wb").close()
        outcome = self.launch(exe, trace=False)
        app = dos_path(self.path("app"))
        class_path = app + ";;" + ";".join(app + "\\lib\\" + name for name in sorted(names))
        options = ["-Xmx64m", "-Djava.class.path=" + class_path, "-Djava.io.tmpdir=%s\\temp" % app]
        expected = launched(app + BESIDE, options)
        self.assertEqual(len(outcome.log[3]), len(expected[3]))
        self.assertEqual(outcome.log, expected)

    def test_jar_names_with_every_high_byte(self):
        # One jar per byte from 0x80 to 0xFF, named "b" and that byte in the
        # ANSI code page (1252), beside ASCII neighbours. Wine shows the Unix
        # name of each character of the code page, the five bytes that 1252
        # leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) included, as that
        # byte; a Unix name that is no UTF-8 shows its bad byte as "?". The
        # class path lists every name as the search returns it, in byte order,
        # unconverted.
        exe = self.application()
        self.put(STUB_JVM, self.path("app", "jre", "bin", "client", "jvm.dll"))
        lib = self.path("app", "build")
        os.makedirs(lib)
        shown = [b"b" + bytes([byte]) + b".jar" for byte in range(0x80, 0x100)]
        shown += [b"bz.jar", b"bZ.jar", b"b~.jar", b"b.jar"]
        unix = [unix_name(name) for name in shown]
        shown.append(b"raw?.jar")
        unix.append(b"raw\xff.jar")
        for name in random.Random(9).sample(unix, len(unix)):
            open(os.path.join(lib.encode(), name), "wb").close()
        outcome = self.launch(exe, trace=False)
        app = dos_path(self.path("app")).encode("latin-1")
        fragment = b";".join(app + b"\\build\\" + name for name in sorted(shown))
        options = [b"-Xmx64m", b"-Djava.class.path=" + app + b";" + fragment + b";",
                   b"-Djava.io.tmpdir=" + app + b"\\temp"]
        self.assertEqual(outcome.log, launched(app + BESIDE.encode(), options))


    def test_registry_values_of_any_type_and_size(self):
        # maxheap takes up to 4 bytes over the default's, whatever the type;
        # more leaves 64. CurrentVersion counts up to 10 bytes, RuntimeLib up
        # to 260, each up to its first zero byte, whatever the type; a larger
        # value is not read and the search goes on to JAVA_HOME. The current
        # folder holds DLLs that a bare name would find there.
        exe = self.application()
        home_runtime = dos_path(self.put(STUB_JVM, self.path("home", "bin", "client", "jvm.dll")))
        registered = dos_path(self.put(STUB_JVM, self.path("registered", "jvm.dll")))
        plant = self.planted_folder("jvm.dll", "x.dll", "A.dll")
        env = {"JAVA_HOME": dos_path(self.path("home"))}
        megabyte = lambda first: "hex:" + ",".join(first + ["00"] * (1000000 - len(first)))
        ascii_hex = lambda text: ["%02x" % ord(c) for c in text]
        cases = [
            # maxheap (.reg data), CurrentVersion (.reg data, its subkey or None), that subkey's
            # RuntimeLib (.reg data), heap option, runtime used (or the dialog)
            ('"512"', ('dword:00342e31', "1.4"), reg_string(registered), "-Xmx3289397m", registered),
            ("hex(b):00,02,00,00,00,00,00,00", ("hex:", None), reg_string(registered), "-Xmx64m", home_runtime),
            ("hex:", ("hex:32", "2"), reg_string(registered), "-Xmx64m", registered),
            ("hex:05", ("hex:31,2e,34,78", "1.4x"), reg_string(registered), "-Xmx5m", registered),
            ("hex:ff,ff,ff,ff", ("hex:31,2e,34,2e,32", "1.4.2"), reg_string(registered), "-Xmx4294967295m",
             registered),
            ("hex:00,02,00,00,00", (megabyte(ascii_hex("1.4") + ["00"]), "1.4"), reg_string(registered), "-Xmx64m",
             home_runtime),
            (megabyte(["00", "02"]), ('"1.4"', "1.4"),
             "hex(7):" + ",".join(ascii_hex(registered) + ["00"] + ascii_hex("Z:\\other") + ["00", "00"]),
             "-Xmx64m", registered),
            (None, ('"1.4"', "1.4"), "dword:00000041", None, NOT_LOADED),  # "A": no A.dll from here
            (None, ('"1.4"', "1.4"), "hex:", None, NOT_LOADED),  # empty path
            (None, ('"1.4"', "1.4"), "hex:78", None, NOT_LOADED),  # "x": no x.dll from here
            (None, ('"1.4"', "1.4"), "hex:5a,3a,5c,00", None, NOT_LOADED),  # "Z:\"
            (None, ('"1.4"', "1.4"), "hex:5a,3a,5c,71,71", None, NOT_LOADED),  # "Z:\qq", no terminator
            (None, ('"1.4"', "1.4"), megabyte(ascii_hex(registered) + ["00"]), "-Xmx64m", home_runtime),
            (None, ('"1.4"', "1.4"), reg_string("jvm.dll"), None, NOT_LOADED),  # bare name
        ]
        for maxheap, (current, subkey), runtime_lib, heap, used in cases:
            with self.subTest(maxheap=maxheap and maxheap[:20], current=current[:20], runtime_lib=runtime_lib[:30]):
                sections = ['[%s]\n"CurrentVersion"=%s\n' % (JAVASOFT, current)]
                if subkey is not None:
                    sections.append('[%s\\%s]\n"RuntimeLib"=%s\n' % (JAVASOFT, subkey, runtime_lib))
                if maxheap is not None:
                    sections.append('[%s]\n"maxheap"=%s\n' % (KORVANE, maxheap))
                self.registry(*sections)
                outcome = self.launch(exe, env=env, cwd=plant)
                self.assertEqual(outcome.loaded, [] if isinstance(used, tuple) else [used])
                if isinstance(used, tuple):
                    self.assertDialog(outcome, used)
                    self.assertEqual(outcome.log, [])
                else:
                    app = dos_path(self.path("app"))
                    options = [heap, "-Djava.class.path=%s;;" % app, "-Djava.io.tmpdir=%s\\temp" % app]
                    self.assertEqual(outcome.dialogs, [])
                    self.assertEqual(outcome.log, launched(used, options))

    def test_runtime_that_is_no_library(self):
        exe = self.application()
        runtime = self.path("app", "jre", "bin", "client", "jvm.dll")
        with open(STUB_JVM, "rb") as f:
            head = f.read(1024)
        cases = [
            ("empty file", b"", NOT_LOADED),
            ("text", b"MZ but no more than text\r\n", NOT_LOADED),
            ("cut-off DLL", head, NOT_LOADED),
            ("folder", None, NOT_LOADED),
            ("program", RAW_RUN, NO_VM),  # loads, but has no JNI_CreateJavaVM
            ("library without the entry point", STUBDEP, NO_VM),
        ]
        for name, content, dialog in cases:
            with self.subTest(name):
                if os.path.isdir(runtime):
                    os.rmdir(runtime)
                elif os.path.exists(runtime):
                    os.remove(runtime)
                if content is None:
                    os.makedirs(runtime)
                else:
                    self.put(content, runtime)
                outcome = self.launch(exe, ["a"])
                self.assertDialog(outcome, dialog)
                self.assertEqual(outcome.log, [])
                self.assertEqual(outcome.loaded, [dos_path(runtime)] if dialog == NO_VM else [])
                # The temp folder comes after the entry point, before the VM.
                self.assertFalse(os.path.exists(self.path("app", "temp")))

    # ---- DLL safety ----------------------------------------------------------

    def planted_folder(self, *names):
        """A current folder holding stub jvm.dll copies under the given names,
        and as the runtimes that JAVA_HOME or the exe folder would name."""
        plant = self.path("plant")
        for name in names + ("jre/bin/client/jvm.dll", "bin/client/jvm.dll"):
            self.put(STUB_JVM, os.path.join(plant, name))
        self.put(STUBDEP, os.path.join(plant, "stubdep.dll"))
        return plant

    def test_nothing_is_loaded_from_the_current_folder(self):
        # The runtime beside the exe needs stubdep.dll, kept in jre\bin: the
        # copy planted in the current folder would be found first by a search
        # that looks there. Loaded: the runtime and its own helper, nothing else.
        exe = self.application()
        runtime = self.put(STUB_JVM_DEP, self.path("app", "jre", "bin", "client", "jvm.dll"))
        helper = self.put(STUBDEP, self.path("app", "jre", "bin", "stubdep.dll"))
        plant = self.planted_folder("jvm.dll")
        outcome = self.launch(exe, ["a"], cwd=plant)
        app = dos_path(self.path("app"))
        options = ["-Xmx64m", "-Djava.class.path=%s;;" % app, "-Djava.io.tmpdir=%s\\temp" % app]
        self.assertEqual(outcome.dialogs, [])
        self.assertEqual(sorted(outcome.loaded), sorted([dos_path(runtime), dos_path(helper)]))
        # The runtime ran with its helper; no planted copy did.
        self.assertEqual(outcome.log, launched(dos_path(runtime), options, ["a"], created=["stubdep answer=42"]))

    def test_no_runtime_is_looked_for_in_the_current_folder(self):
        # No runtime beside the exe, none registered, no JAVA_HOME: the
        # current folder's jvm.dll and runtime folders are not candidates.
        exe = self.application()
        plant = self.planted_folder("jvm.dll")
        outcome = self.launch(exe, cwd=plant)
        self.assertDialog(outcome, NOT_FOUND)
        self.assertEqual(outcome.loaded, [])
        self.assertEqual(outcome.log, [])

    def test_bare_runtime_name_is_found_beside_the_exe_not_in_the_current_folder(self):
        # A registered RuntimeLib of "jvm.dll" names no folder: the loader's
        # search finds the one beside the exe, never the current folder's.
        exe = self.application()
        plant = self.planted_folder("jvm.dll")
        beside = self.put(STUB_JVM, self.path("app", "jvm.dll"))
        self.registry('[%s]\n"CurrentVersion"="1.4"\n\n[%s\\1.4]\n"RuntimeLib"="jvm.dll"\n' % (JAVASOFT, JAVASOFT))
        outcome = self.launch(exe, cwd=plant)
        app = dos_path(self.path("app"))
        options = ["-Xmx64m", "-Djava.class.path=%s;;" % app, "-Djava.io.tmpdir=%s\\temp" % app]
        self.assertEqual(outcome.dialogs, [])
        self.assertEqual(outcome.loaded, [dos_path(beside)])
        self.assertEqual(outcome.log, launched(dos_path(beside), options))


if __name__ == "__main__":
    unittest.main(argv=sys.argv, testRunner=unittest.TextTestRunner(stream=sys.stdout, verbosity=2))
