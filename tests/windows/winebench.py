"""The Wine test bench: runs the Windows test executables in the test run's
private prefix, headless, from a neutral folder, with every run bounded in
time; lays out application folders; writes the prefix's registry.

Configured by the environment that tests/windows/CMakeLists.txt sets:
QUENLET_WINEPREFIX, QUENLET_WINE (the loader of the prefix's architecture, so
that regedit writes the registry view our executables read), QUENLET_WINE_ARCH,
QUENLET_WORK (scratch space in the build folder) and the paths of the built
stub DLLs, probe and driver.
"""

import os
import shutil
import subprocess
import tempfile
import unittest

import relay

PREFIX = os.environ.get("QUENLET_WINEPREFIX", "")
WINE = os.environ.get("QUENLET_WINE", "")
ARCH = os.environ.get("QUENLET_WINE_ARCH", "")
WORK = os.environ.get("QUENLET_WORK", "")
STUB_JVM = os.environ.get("QUENLET_STUB_JVM", "")
STUB_JVM_CDECL = os.environ.get("QUENLET_STUB_JVM_CDECL", "")
STUB_JVM_DEP = os.environ.get("QUENLET_STUB_JVM_DEP", "")
STUBDEP = os.environ.get("QUENLET_STUBDEP", "")
PROBE = os.environ.get("QUENLET_PROBE", "")
DRIVER = os.environ.get("QUENLET_DRIVER", "")

RUN_TIMEOUT = 30  # seconds for one Wine run; a headless run takes well under 2
DIALOG_STYLE = 0x10  # MB_ICONERROR

# Variables of the outer environment that would change what the programs see.
_SCRUBBED = ("DISPLAY", "WAYLAND_DISPLAY", "JAVA_HOME", "QUENLET_STUB_LOG", "QUENLET_STUB_FAIL", "WINEDEBUG",
             "WINEDLLOVERRIDES", "WINEDLLPATH", "LANGUAGE")


def configured():
    return all((PREFIX, WINE, WORK)) and os.path.isdir(PREFIX)


def dos_path(path):
    """The DOS path under which Wine shows a Unix path (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def escape(data):
    """Bytes written as the stub and the driver write them: %HH for bytes below
    0x20, from 0x7f up, and '%'."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    return "".join("%%%02X" % b if b < 0x20 or b >= 0x7F or b == 0x25 else chr(b) for b in data)


class Result:
    def __init__(self, returncode, stdout, stderr, calls):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.calls = calls  # relayed calls of the executable, when traced


def _kill_wineserver():
    env = dict(os.environ, WINEPREFIX=PREFIX)
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=20, check=False)


class WineTestCase(unittest.TestCase):
    """Gives each test a scratch folder in the build folder, and runs Windows
    programs in the test prefix."""

    @classmethod
    def setUpClass(cls):
        if not configured():
            raise unittest.SkipTest("no Wine test prefix configured")
        os.makedirs(WORK, exist_ok=True)
        cls.neutral = tempfile.mkdtemp(prefix="cwd-", dir=WORK)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.neutral, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.id().rsplit(".", 1)[-1][:40] + "-", dir=WORK)
        self.runs = 0

    def run(self, result=None):
        problems = (lambda r: len(r.failures) + len(r.errors)) if result is not None else (lambda r: 0)
        before = problems(result)
        outcome = super().run(result)
        if problems(result) == before and getattr(self, "dir", None):
            shutil.rmtree(self.dir, ignore_errors=True)  # a failed test keeps its folder for a look
        return outcome

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def place(self, source, *relative):
        """Copies a built file into the scratch folder; returns the copy's path."""
        target = self.path(*relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        return target

    def write(self, data, *relative):
        target = self.path(*relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("latin-1"))
        return target

    def wine(self, exe, args=(), env=None, trace=False, image=None, loader=None):
        """Runs exe under Wine from the neutral folder, output to files; with
        trace, returns the relayed calls of image (exe unless given: a program
        that exe starts) too. loader: another Wine loader than the bench's."""
        self.runs += 1
        out = self.path("run%d.out" % self.runs)
        err = self.path("run%d.err" % self.runs)
        full_env = {k: v for k, v in os.environ.items() if k not in _SCRUBBED}
        full_env.update(WINEPREFIX=PREFIX, WINEDEBUG=relay.WINEDEBUG if trace else "-all", LC_ALL="C.UTF-8")
        full_env.update(env or {})
        with open(out, "wb") as stdout, open(err, "wb") as stderr:
            try:
                completed = subprocess.run([loader or WINE, exe] + list(args), cwd=self.neutral, env=full_env,
                                           stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                           timeout=RUN_TIMEOUT, check=False)
            except subprocess.TimeoutExpired:
                _kill_wineserver()
                self.fail("%s did not end within %d s" % (exe, RUN_TIMEOUT))
        with open(out, "rb") as f:
            stdout = f.read().decode("latin-1").replace("\r\n", "\n")  # the C runtime writes text mode
        with open(err, "rb") as f:
            stderr = f.read().decode("latin-1")
        calls = relay.parse_trace(stderr, image or exe) if trace else None
        return Result(completed.returncode, stdout, stderr, calls)

    def ensure_relay_filter(self):
        """Sets the relay filter once for the test class, with no JavaSoft key."""
        if not getattr(type(self), "_relay_filter_set", False):
            self.set_registry()
            type(self)._relay_filter_set = True

    def set_registry(self, *sections, clear=()):
        """Replaces the JavaSoft key of HKLM (and the HKLM keys named in clear)
        with the given .reg sections, and sets the relay filter, in one
        regedit run."""
        text = "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\JavaSoft]\n\n" + relay.relay_include_reg() + "\n"
        text += "".join("[-HKEY_LOCAL_MACHINE\\%s]\n\n" % key for key in clear)
        text += "\n".join(sections) + "\n"
        reg = self.write(text.replace("\n", "\r\n"), "case.reg")
        result = self.wine("regedit", ["/S", dos_path(reg)])
        self.assertEqual(result.returncode, 0, "regedit failed: " + result.stderr[-2000:])


def reg_string(text):
    """A string in .reg syntax."""
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def java_runtime_key(version, runtime_lib=None, current_version=None):
    """The .reg sections of a registered Java runtime. current_version: the
    CurrentVersion value as .reg data when it is not the plain string."""
    base = "HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\Java Runtime Environment"
    data = current_version if current_version is not None else reg_string(version)
    text = "[%s]\n\"CurrentVersion\"=%s\n" % (base, data)
    if runtime_lib is not None:
        text += "\n[%s\\%s]\n\"RuntimeLib\"=%s\n" % (base, version, reg_string(runtime_lib))
    return text


def read_log(path):
    """The stub's log lines; [] when the stub never wrote one."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return f.read().decode("latin-1").splitlines()
