"""An application folder for the native end-to-end tests: a copy of the built
launcher in a temporary folder, its jars and runtime beside it, a registry
stand-in of its own, and runs with a controlled environment.

The scripts that use it call configure() with the launcher, the runtime and
the folder of fixture jars first.
"""
import os
import shutil
import subprocess

LAUNCHER = RUNTIME = JARS = None
TIMEOUT = 120
# A sanitizer build keeps its settings in the launcher's environment.
SANITIZER_VARIABLES = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")


def configure(argv):
    """Takes LAUNCHER RUNTIME JAR_FOLDER from the front of argv (removing them)
    and returns them as absolute paths."""
    global LAUNCHER, RUNTIME, JARS
    LAUNCHER, RUNTIME, JARS = (os.path.abspath(p) for p in argv[1:4])
    del argv[1:4]
    return LAUNCHER, RUNTIME, JARS


class App:
    """The launcher in folder (root/app unless given), its registry stand-in
    in root/registry, and the report the test application writes."""

    def __init__(self, root, folder=None):
        self.root = root
        self.folder = folder or os.path.join(root, "app")
        os.makedirs(self.folder, exist_ok=True)
        self.exe = os.path.join(self.folder, "quenlet")
        shutil.copy2(LAUNCHER, self.exe)
        self.registry = os.path.join(root, "registry")
        os.makedirs(self.registry, exist_ok=True)
        self.report = os.path.join(root, "report.txt")

    def bundle_runtime(self):
        os.symlink(RUNTIME, os.path.join(self.folder, "jre"))

    def add_jar(self, folder, fixture="good", name=None):
        """Copies a fixture jar into a subfolder; returns its path."""
        target = os.path.join(self.folder, folder)
        os.makedirs(target, exist_ok=True)
        path = os.path.join(target, name or fixture + ".jar")
        shutil.copy(os.path.join(JARS, fixture + ".jar"), path)
        return path

    def set_value(self, key, name, data):
        """A registry value of those bytes; with data None, a key in its place."""
        folder = os.path.join(self.registry, *key.split("\\"))
        os.makedirs(folder, exist_ok=True)
        if data is None:
            os.makedirs(os.path.join(folder, name), exist_ok=True)
            return
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    def run(self, *args, java_home=None, extra_env=None):
        env = {"PATH": "/usr/bin:/bin", "QUENLET_REGISTRY": self.registry, "QUENLET_REPORT": self.report,
               "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        if java_home is not None:
            env["JAVA_HOME"] = java_home
        env.update({k: v for k, v in os.environ.items() if k in SANITIZER_VARIABLES})
        env.update(extra_env or {})
        if os.path.exists(self.report):
            os.remove(self.report)
        return subprocess.run([self.exe, *args], env=env, cwd=self.root, capture_output=True, timeout=TIMEOUT)

    def read_report(self):
        """The test application's report: "arg" as a list, the rest by key."""
        report = {"arg": []}
        with open(self.report, encoding="utf-8") as f:
            for line in f.read().splitlines():
                key, _, value = line.partition("=")
                if key == "arg":
                    report["arg"].append(value)
                else:
                    report[key] = value
        return report
