"""RunJavaMain on the real Windows host under Wine, with the stub jvm.dll: what
the VM is given (options, init arguments, main class, arguments), the order of
the system and JNI calls, the six failure dialogs, the temp folder, and the
DLL search folder set before the runtime library is loaded."""

import os
import re
import shutil
import sys
import unittest

import relay
import winebench
from winebench import DRIVER, STUB_JVM, STUB_JVM_DEP, STUBDEP, dos_path, java_runtime_key

MAIN_CLASS = "com/fernwickdale/korvane/apps/Quenlet"
MAIN_SIGNATURE = "([Ljava/lang/String;)V"
# Host operations that serve the C runtime, the tail cutting and the argument
# decoding; their place is checked apart from the launch order.
NOT_IN_ORDER = ("MultiByteToWideChar", "GetCommandLineA", "IsDBCSLeadByte")


def java_text(value):
    """The text of a string as the stub logged it: u16:HHHH HHHH or utf:BYTES."""
    if value.startswith("u16:"):
        units = [int(u, 16) for u in value[4:].split()]
        return b"".join(u.to_bytes(2, "little") for u in units).decode("utf-16-le")
    if value.startswith("utf:"):
        raw = re.sub(r"%([0-9A-F]{2})", lambda m: chr(int(m.group(1), 16)), value[4:]).encode("latin-1")
        return raw.decode("utf-8", errors="replace")  # what a VM reads from these bytes
    raise AssertionError("not a string record: %r" % value)


def order(calls):
    """The relayed calls as names (host calls with their first string
    argument, stub events as "jni:" and their first word)."""
    out = []
    for call in calls:
        if call.marker is not None:
            word = call.marker.split(" ", 1)[0]
            out.append("jni:" + ("NewString" if word.startswith("NewString") else word))
        elif call.name not in NOT_IN_ORDER:
            strings = call.strings()
            out.append(call.name + (":" + strings[0] if strings else ""))
    return out


class RunJavaMainTest(winebench.WineTestCase):
    def setUp(self):
        super().setUp()
        self.app = self.path("app")
        self.dos_app = dos_path(self.app)
        self.driver = self.place(DRIVER, "app", "driver.exe")
        self.log = self.path("stub.log")

    def bundle(self, jvm=STUB_JVM):
        self.place(jvm, "app", "jre", "bin", "client", "jvm.dll")

    def run_main(self, arguments=(), class_path="Z:\\app", heap="64", env=None, fail=None, trace=True):
        """Runs RunJavaMain; returns (its result, the relayed calls, the stub's log)."""
        self.ensure_relay_filter()
        argfile = self.write("".join(winebench.escape(a) + "\n" for a in arguments), "args.txt")
        full_env = {"QUENLET_STUB_LOG": dos_path(self.log)}
        if fail is not None:
            full_env["QUENLET_STUB_FAIL"] = fail
        full_env.update(env or {})
        result = self.wine(self.driver, ["run", winebench.escape(MAIN_CLASS), winebench.escape(class_path), heap,
                                         dos_path(argfile)], env=full_env, trace=trace)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr[-3000:])
        m = re.search(r"^result=(-?\d+)$", result.stdout, re.M)
        self.assertIsNotNone(m, result.stdout)
        return int(m.group(1)), result.calls, winebench.read_log(self.log)

    def dialogs(self, calls):
        return [(c.strings()[0], c.strings()[1], c.args[0], c.args[3], relay.as_signed32(c.retval))
                for c in calls if c.name == "MessageBoxA"]

    def test_vm_gets_the_options_and_main_gets_the_arguments(self):
        self.bundle()
        arguments = [b"plain", b"with space", b"", b"tab\there", b'quote"d', b"100%", b"\xe9\x80\xff"]
        class_path = "Z:\\app;Z:\\app\\lib\\a b.jar"
        result, _, log = self.run_main(arguments, class_path, trace=False)
        self.assertEqual(result, 1)
        self.assertEqual(log[:9], [
            "loaded " + self.dos_app + "\\jre\\bin\\client\\jvm.dll",
            "JNI_CreateJavaVM version=0x00010002 nOptions=3 ignoreUnrecognized=1",
            "option 0 extraInfo=null -Xmx64m",
            "option 1 extraInfo=null -Djava.class.path=" + class_path,
            "option 2 extraInfo=null -Djava.io.tmpdir=" + self.dos_app + "\\temp",
            "FindClass " + MAIN_CLASS,
            "GetStaticMethodID class=%s name=main sig=%s" % (MAIN_CLASS, MAIN_SIGNATURE),
            "FindClass java/lang/String",
            "NewObjectArray length=%d initial=null class=java/lang/String" % len(arguments),
        ])
        # Each argument made into a string, then stored at its index, in order.
        count = len(arguments)
        made = log[9:9 + 2 * count]
        for i in range(count):
            self.assertRegex(made[2 * i], r"^NewString(UTF)? ")
            self.assertTrue(made[2 * i + 1].startswith("SetObjectArrayElement index=%d value=" % i), made)
        rest = log[9 + 2 * count:]
        self.assertEqual(rest[0], "CallStaticVoidMethodV class=%s method=main args=%d" % (MAIN_CLASS, count))
        self.assertEqual(rest[-1], "DestroyJavaVM")
        seen = [line.split(" ", 4)[4] for line in rest[1:-1]]
        self.assertEqual(len(seen), count)
        # main sees each argument's text: its bytes read in the ANSI code page
        # (1252 here), no string left null, the empty one empty.
        self.assertEqual([java_text(value) for value in seen], [a.decode("cp1252") for a in arguments])
        self.assertTrue(os.path.isdir(self.path("app", "temp")))

    def test_heap_and_class_path_are_passed_as_given(self):
        self.bundle()
        cases = [("64", "Z:\\app"), ("0", ""), ("4294967295", "a;b;;c")]
        for heap, class_path in cases:
            with self.subTest(heap=heap, class_path=class_path):
                if os.path.exists(self.log):
                    os.remove(self.log)
                result, _, log = self.run_main([], class_path, heap, trace=False)
                self.assertEqual(result, 1)
                self.assertEqual(log[2:4], ["option 0 extraInfo=null -Xmx%sm" % heap,
                                            "option 1 extraInfo=null -Djava.class.path=" + class_path])
                # No arguments: main still gets an array, of length 0.
                self.assertIn("NewObjectArray length=0 initial=null class=java/lang/String", log)
                self.assertIn("CallStaticVoidMethodV class=%s method=main args=0" % MAIN_CLASS, log)

    def test_call_order(self):
        self.bundle()
        result, calls, _ = self.run_main(["one", "two"])
        self.assertEqual(result, 1)
        runtime = self.dos_app + "\\jre\\bin\\client\\jvm.dll"
        self.assertEqual(order(calls), [
            "GetModuleFileNameA", "FindFirstFileA:" + runtime, "FindClose",
            "GetModuleFileNameA",
            "SetDllDirectoryA:" + self.dos_app + "\\jre\\bin",
            "LoadLibraryA:" + runtime, "jni:loaded",
            "GetProcAddress:JNI_CreateJavaVM",
            "CreateDirectoryA:" + self.dos_app + "\\temp",
            "jni:JNI_CreateJavaVM", "jni:option", "jni:option", "jni:option",
            "jni:FindClass", "jni:GetStaticMethodID", "jni:FindClass", "jni:NewObjectArray",
            "jni:NewString", "jni:SetObjectArrayElement", "jni:NewString", "jni:SetObjectArrayElement",
            "jni:CallStaticVoidMethodV", "jni:", "jni:", "jni:DestroyJavaVM",
        ])
        load = next(c for c in calls if c.name == "LoadLibraryA")
        entry = next(c for c in calls if c.name == "GetProcAddress")
        self.assertNotEqual(load.retval, 0)
        self.assertEqual(entry.args[0], load.retval)  # asked of the module just loaded
        self.assertEqual(next(c for c in calls if c.name == "CreateDirectoryA").args[1], 0)
        self.assertEqual(self.dialogs(calls), [])

    def test_existing_temp_folder_is_left_as_it_is(self):
        self.bundle()
        self.write(b"kept", "app", "temp", "keep.txt")
        result, calls, log = self.run_main(trace=True)
        self.assertEqual(result, 1)
        with open(self.path("app", "temp", "keep.txt"), "rb") as f:
            self.assertEqual(f.read(), b"kept")
        self.assertEqual(relay.as_signed32(next(c for c in calls if c.name == "CreateDirectoryA").retval), 0)
        self.assertIn("option 2 extraInfo=null -Djava.io.tmpdir=" + self.dos_app + "\\temp", log)

    def test_failure_dialogs(self):
        cases = [
            # name, runtime in jre (a DLL, "text" or None), registry, stub failure,
            # dialog text and title, VM created, temp folder made
            ("no runtime", None, None, None, "Cannot find compatible Java VM.", "Java not found.", False, False),
            ("library does not load", "text", None, None, "Can't load jvm.dll.", "Error", False, False),
            ("registered library missing", None, "Z:\\nowhere\\jvm.dll", None, "Can't load jvm.dll.", "Error",
             False, False),
            ("no entry point", STUBDEP, None, None, "Cannot load Java VM.", "Error", False, False),
            ("VM not created", STUB_JVM, None, "create", "Cannot load Java VM.", "Error", False, True),
            ("no main class", STUB_JVM, None, "findclass", "Cannot find main class.", "Error", True, True),
            ("no main method", STUB_JVM, None, "method", "Cannot find main method.", "Error", True, True),
            ("no array", STUB_JVM, None, "array", "Error initializing options.", "Error", True, True),
            ("no String class", STUB_JVM, None, "string_class", "Error initializing options.", "Error", True, True),
            ("no string", STUB_JVM, None, "newstring", "Error initializing options.", "Error", True, True),
        ]
        for name, jvm, runtime_lib, fail, text, title, vm_created, temp_made in cases:
            with self.subTest(name):
                self.reset_app()
                if jvm == "text":
                    self.write(b"not a library", "app", "jre", "bin", "client", "jvm.dll")
                elif jvm is not None:
                    self.bundle(jvm)
                self.set_registry(java_runtime_key("1.4", runtime_lib) if runtime_lib else "")
                result, calls, log = self.run_main(["arg"], fail=fail)
                self.assertEqual(result, 0)
                # One dialog, no owner, error icon; headless Wine answers -1 at once.
                self.assertEqual(self.dialogs(calls), [(text, title, 0, winebench.DIALOG_STYLE, -1)])
                steps = order(calls)
                self.assertEqual(steps.count("jni:DestroyJavaVM"), 1 if vm_created else 0, steps)
                if vm_created:  # the dialog first, then the VM destroyed
                    self.assertEqual(steps[-2:], ["MessageBoxA:" + text, "jni:DestroyJavaVM"])
                else:
                    self.assertEqual(steps[-1], "MessageBoxA:" + text)
                self.assertEqual(os.path.isdir(self.path("app", "temp")), temp_made)
                self.assertNotIn("jni:CallStaticVoidMethodV", steps)

    def reset_app(self):
        for name in ("jre", "temp"):
            target = self.path("app", name)
            if os.path.isdir(target):
                shutil.rmtree(target)
        if os.path.exists(self.log):
            os.remove(self.log)

    def test_runtime_folder_joins_the_dll_search(self):
        # The runtime library needs a DLL kept only in the folder above its
        # own (jre\bin for jre\bin\client\jvm.dll); found only by a loader told
        # to look there before the load.
        cases = [
            # source, where the runtime sits, JAVA_HOME, registry
            ("beside", os.path.join("app", "jre", "bin", "client"), None, False),
            ("registered", os.path.join("registered", "jre", "bin", "client"), None, True),
            ("JAVA_HOME", os.path.join("home", "bin", "client"), "home", False),
        ]
        for source, folder, home, registered in cases:
            with self.subTest(source):
                self.reset_app()
                jvm = self.place(STUB_JVM_DEP, folder, "jvm.dll")
                self.place(STUBDEP, os.path.dirname(folder), "stubdep.dll")
                self.set_registry(java_runtime_key("1.4", dos_path(jvm)) if registered else "")
                env = {"JAVA_HOME": dos_path(self.path(home))} if home else {}
                result, calls, log = self.run_main(["x"], env=env)
                self.assertEqual(result, 1)
                self.assertIn("stubdep answer=42", log)
                steps = order(calls)
                set_dir = steps.index("SetDllDirectoryA:" + dos_path(self.path(os.path.dirname(folder))))
                self.assertEqual(steps[set_dir + 1], "LoadLibraryA:" + dos_path(jvm))


if __name__ == "__main__":
    unittest.main(argv=sys.argv, testRunner=unittest.TextTestRunner(stream=sys.stdout, verbosity=2))
