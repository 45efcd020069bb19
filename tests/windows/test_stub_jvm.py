"""The stub jvm.dll checked on its own: it keeps the JNI calling convention of
jni.h (with a wrong-convention build as the negative control), its log records
what a known call sequence sends, each failure it can be told to produce gives
what a real VM gives, and its dependent flavour needs its helper DLL."""

import sys
import unittest

import winebench
from winebench import PROBE, STUB_JVM, STUB_JVM_CDECL, STUB_JVM_DEP, STUBDEP, dos_path

# The calls the probe makes through jni.h's declarations, and the bytes their
# arguments take on 32-bit (what a callee of the wrong convention leaves on the
# stack). CallStaticVoidMethod is variadic, so the caller cleans up either way.
PROBE_CALLS = [
    ("JNI_CreateJavaVM", 12), ("FindClass", 8), ("GetStaticMethodID", 16), ("FindClass", 8),
    ("NewObjectArray", 16), ("NewStringUTF", 8), ("NewStringUTF", 8), ("NewString", 12),
    ("SetObjectArrayElement", 16), ("SetObjectArrayElement", 16), ("SetObjectArrayElement", 16),
    ("CallStaticVoidMethodV", 16), ("CallStaticVoidMethodA", 16), ("CallStaticVoidMethod", 0),
    ("ExceptionCheck", 4), ("ExceptionOccurred", 4), ("ExceptionClear", 4), ("DestroyJavaVM", 4),
]

ARGS_LOGGED = ["  arg 0 utf:a b", "  arg 1 utf:%C3%A9%80%25", "  arg 2 u16:0041 00E9 20AC"]

# What the stub logs for the probe's call sequence, byte for byte, after the
# line that names the library loaded.
PROBE_LOG = [
    "JNI_CreateJavaVM version=0x00010002 nOptions=3 ignoreUnrecognized=1",
    "option 0 extraInfo=null -Xmx64m",
    "option 1 extraInfo=null -Djava.class.path=C:\\a b;100%25%E9",
    "option 2 extraInfo=null -Djava.io.tmpdir=C:\\App\\temp",
    "FindClass com/example/Main",
    "GetStaticMethodID class=com/example/Main name=main sig=([Ljava/lang/String;)V",
    "FindClass java/lang/String",
    "NewObjectArray length=3 initial=null class=java/lang/String",
    "NewStringUTF a b",
    "NewStringUTF %C3%A9%80%25",
    "NewString length=3 units=0041 00E9 20AC",
    "SetObjectArrayElement index=0 value=utf:a b",
    "SetObjectArrayElement index=1 value=utf:%C3%A9%80%25",
    "SetObjectArrayElement index=2 value=u16:0041 00E9 20AC",
    "CallStaticVoidMethodV class=com/example/Main method=main args=3", *ARGS_LOGGED,
    "CallStaticVoidMethodA class=com/example/Main method=main args=3", *ARGS_LOGGED,
    "CallStaticVoidMethod class=com/example/Main method=main args=3", *ARGS_LOGGED,
    "ExceptionCheck",
    "ExceptionOccurred",
    "ExceptionClear",
    "DestroyJavaVM",
]


def loaded(dll):
    return "loaded " + winebench.escape(dos_path(dll))


class StubJvmTest(winebench.WineTestCase):
    def probe(self, dll, fail=None):
        log = self.path("stub.log")
        env = {"QUENLET_STUB_LOG": dos_path(log)}
        if fail is not None:
            env["QUENLET_STUB_FAIL"] = fail
        probe = self.place(PROBE, "probe.exe")
        result = self.wine(probe, ["calls", dos_path(dll)], env=env)
        return result, winebench.read_log(log)

    def test_stub_keeps_the_jni_calling_convention(self):
        result, _ = self.probe(STUB_JVM)
        self.assertEqual(result.returncode, 0, result.stdout)
        lines = [line for line in result.stdout.splitlines() if " stack=" in line]
        self.assertEqual(lines, ["%s stack=0" % name for name, _ in PROBE_CALLS])
        self.assertIn("mismatches=0", result.stdout)

    @unittest.skipUnless(winebench.ARCH == "win32", "64-bit Windows has one calling convention")
    def test_probe_catches_a_stub_of_the_wrong_convention(self):
        result, log = self.probe(STUB_JVM_CDECL)
        self.assertEqual(result.returncode, 1, result.stdout)
        lines = [line for line in result.stdout.splitlines() if " stack=" in line]
        expected = ["%s stack=%d%s" % (name, -size, " MISMATCH" if size else "") for name, size in PROBE_CALLS]
        self.assertEqual(lines, expected)
        # The wrong stub did get every call: the probe measured calls, not crashes.
        self.assertEqual(log, [loaded(STUB_JVM_CDECL)] + PROBE_LOG)

    def test_log_records_what_a_known_call_sequence_sends(self):
        result, log = self.probe(STUB_JVM)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertEqual(log, [loaded(STUB_JVM)] + PROBE_LOG)
        self.assertIn("pending=0 thrown=null destroyed=0", result.stdout)

    def test_each_step_fails_as_a_real_vm_fails_it(self):
        cases = [
            # QUENLET_STUB_FAIL, what the probe saw of the handles
            ("findclass", "class=null method=null string=ok array=ok strings=ok,ok,ok"),
            ("method", "class=ok method=null string=ok array=ok strings=ok,ok,ok"),
            ("string_class", "class=ok method=ok string=null array=null strings=ok,ok,ok"),
            ("array", "class=ok method=ok string=ok array=null strings=ok,ok,ok"),
            ("newstring", "class=ok method=ok string=ok array=ok strings=null,null,null"),
            ("method,array", "class=ok method=null string=ok array=null strings=ok,ok,ok"),
        ]
        for fail, seen in cases:
            with self.subTest(fail=fail):
                result, log = self.probe(STUB_JVM, fail)
                self.assertEqual(result.returncode, 0, result.stdout)
                self.assertIn("created=0", result.stdout)
                self.assertIn(seen, result.stdout)
                self.assertEqual(log[-1], "DestroyJavaVM")

    def test_failed_creation_returns_a_negative_result_and_no_vm(self):
        result, log = self.probe(STUB_JVM, "create")
        self.assertIn("created=-1", result.stdout)
        self.assertNotIn("FindClass", result.stdout)
        self.assertEqual(log, [loaded(STUB_JVM)] + PROBE_LOG[:4])  # the options are still recorded

    def test_dependent_stub_needs_its_helper_library(self):
        # The probe sits in a folder of its own: the loader searches the
        # program's folder, and the build folder holds the helper.
        probe = self.place(PROBE, "probe", "probe.exe")
        jvm = self.place(STUB_JVM_DEP, "jre", "bin", "client", "jvm.dll")
        self.place(STUBDEP, "jre", "bin", "stubdep.dll")
        # Kept only in jre\bin, the helper is not found by a plain load...
        result = self.wine(probe, ["load", dos_path(jvm)])
        self.assertEqual((result.returncode, result.stdout.strip()), (2, "load error=126"))
        # ...and is once it sits in a folder of the default search.
        self.place(STUBDEP, "probe", "stubdep.dll")
        result = self.wine(probe, ["load", dos_path(jvm)])
        self.assertEqual((result.returncode, result.stdout.strip()), (0, "loaded"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv, testRunner=unittest.TextTestRunner(stream=sys.stdout, verbosity=2))
