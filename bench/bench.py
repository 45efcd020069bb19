#!/usr/bin/env python3
"""The launcher's performance benchmark.

1. Start-up on a real Java runtime: the native quenlet against two anchors,
   the runtime's own `java` and a bare JNI program (bench/bare_jni.c), all
   running the sample's main class with the same heap, class path and temp
   options. Runs alternate, round after round; wall time, pairwise ratios
   and peak RSS (ru_maxrss from wait4) are reported.
2. The launcher's own work: quenlet against a stub libjvm.so whose VM costs
   nothing (bench/stub_jvm.c), with lib/ folders of many empty jars. Wall
   time, and instruction counts from callgrind (and perf stat where the
   machine has the counters).

The results replace the block between the two bench markers in
docs/performance.md; the rest of that file is left as it is.

Usage: bench/run.sh [--quick] [--build-dir DIR] [--runtime JAVA_HOME] ...
"""
import argparse
import datetime
import json
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAIN_CLASS = "com/fernwickdale/korvane/apps/Quenlet"
HEAP = "-Xmx64m"
BEGIN = "<!-- bench:begin (written by bench/bench.py; edits inside are lost) -->"
END = "<!-- bench:end -->"


def log(text):
    print(text, file=sys.stderr, flush=True)


def run_checked(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(command), result.stdout, result.stderr))
    return result


# ---- Building -----------------------------------------------------------------


def build(build_dir, jdk, launcher=None):
    """The launcher with the native preset's Release flags, the sample's jar
    and the bench's own programs. Returns their paths; `launcher` replaces
    the built quenlet (to measure another version of it)."""
    launcher_dir = os.path.join(build_dir, "launcher")
    tools_dir = os.path.join(build_dir, "tools")
    log("Building the launcher (native preset, Release) in %s" % launcher_dir)
    run_checked(["cmake", "--preset", "native", "-B", launcher_dir, "-DQUENLET_BUILD_TESTS=OFF",
                 "-DQUENLET_JDK_HOME=" + jdk], cwd=ROOT)
    run_checked(["cmake", "--build", launcher_dir, "--target", "quenlet", "sample_jar"], cwd=ROOT)
    log("Building the bench programs in %s" % tools_dir)
    run_checked(["cmake", "-S", os.path.join(ROOT, "bench"), "-B", tools_dir, "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DQUENLET_JDK_HOME=" + jdk])
    run_checked(["cmake", "--build", tools_dir])
    return {
        "quenlet": os.path.abspath(launcher) if launcher else os.path.join(launcher_dir, "quenlet"),
        "sample_jar": os.path.join(launcher_dir, "sample", "quenlet-sample.jar"),
        "bare_jni": os.path.join(tools_dir, "bare_jni"),
        "stub_jvm": os.path.join(tools_dir, "libjvm.so"),
        "empty_main": os.path.join(tools_dir, "empty_main"),
    }


def fresh_folder(path):
    if os.path.lexists(path):
        shutil.rmtree(path)
    os.makedirs(path)
    return path


# ---- Running and timing -------------------------------------------------------


def environment(registry):
    # A fixed environment: no JAVA_TOOL_OPTIONS or JAVA_HOME from the caller,
    # an empty registry folder so the heap is the default 64 MiB.
    return {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "HOME": os.environ.get("HOME", "/tmp"),
            "QUENLET_REGISTRY": registry}


def timed_run(command, env, cwd):
    """Runs command with output to /dev/null; returns (wall ms, peak RSS KiB)."""
    actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    old = os.getcwd()
    os.chdir(cwd)
    try:
        start = time.perf_counter_ns()
        pid = os.posix_spawn(command[0], command, env, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        wall = (time.perf_counter_ns() - start) / 1e6
    finally:
        os.chdir(old)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed (status %d): %s" % (os.waitstatus_to_exitcode(status), " ".join(command)))
    return wall, usage.ru_maxrss


def alternate(commands, env, cwd, warmup, rounds):
    """Runs every command once per round, the order rotating each round so that
    none always runs first; the warm-up rounds are dropped."""
    names = list(commands)
    results = {name: [] for name in names}
    for r in range(warmup + rounds):
        shift = r % len(names)
        for name in names[shift:] + names[:shift]:
            wall, rss = timed_run(commands[name], env, cwd)
            if r >= warmup:
                results[name].append((wall, rss))
    return results


def median(values):
    return statistics.median(values)


def load_average():
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "?"


# ---- Part 1: start-up on the real runtime -------------------------------------


def startup(paths, build_dir, runtime, warmup, rounds):
    app = fresh_folder(os.path.realpath(os.path.join(build_dir, "startup-app")))
    shutil.copy2(paths["quenlet"], os.path.join(app, "quenlet"))
    os.symlink(runtime, os.path.join(app, "jre"))
    os.makedirs(os.path.join(app, "lib"))
    jar = os.path.join(app, "lib", "quenlet-sample.jar")
    shutil.copy2(paths["sample_jar"], jar)
    os.makedirs(os.path.join(app, "temp"))
    registry = fresh_folder(os.path.join(build_dir, "registry"))
    env = environment(registry)

    # The class path as the launcher builds it: the exe folder, the (empty)
    # build jars, the lib jars.
    options = [HEAP, "-Djava.class.path=%s::%s" % (app, jar), "-Djava.io.tmpdir=" + os.path.join(app, "temp")]
    libjvm = os.path.join(runtime, "lib", "server", "libjvm.so")
    commands = {
        "quenlet": [os.path.join(app, "quenlet")],
        "java": [os.path.join(runtime, "bin", "java")] + options + [MAIN_CLASS.replace("/", ".")],
        "bare JNI": [paths["bare_jni"], libjvm, MAIN_CLASS] + options,
    }

    # All three must have given the application the same settings.
    reports = {}
    for name, command in commands.items():
        out = run_checked(command, env=env, cwd=build_dir).stdout
        reports[name] = [line for line in out.splitlines() if "=" in line]
    if len({tuple(r) for r in reports.values()}) != 1 or len(reports["quenlet"]) != 3:
        sys.exit("the three programs ran the sample differently:\n%s" % json.dumps(reports, indent=1))

    log("Start-up: %d warm-up rounds, %d measured rounds of 3 runs" % (warmup, rounds))
    load_before = load_average()
    results = alternate(commands, env, build_dir, warmup, rounds)
    load_after = load_average()
    wall = {name: [w for w, _ in runs] for name, runs in results.items()}
    rss = {name: [kib for _, kib in runs] for name, runs in results.items()}
    q = wall["quenlet"]
    return {
        "options": options,
        "commands": {name: command for name, command in commands.items()},
        "settings": reports["quenlet"],
        "rounds": rounds,
        "warmup": warmup,
        "load": [load_before, load_after],
        "wall_median": {name: median(v) for name, v in wall.items()},
        "wall_min": {name: min(v) for name, v in wall.items()},
        "rss_median": {name: median(v) for name, v in rss.items()},
        "rss_max": {name: max(v) for name, v in rss.items()},
        "ratio_java": median([a / b for a, b in zip(q, wall["java"])]),
        "ratio_bare": median([a / b for a, b in zip(q, wall["bare JNI"])]),
        "bare_to_java": median([a / b for a, b in zip(wall["bare JNI"], wall["java"])]),
        "rss_over_bare": median([a - b for a, b in zip(rss["quenlet"], rss["bare JNI"])]),
    }


# ---- Part 2: the launcher's own work ------------------------------------------


def stub_app(paths, build_dir, jars):
    """An app folder with the stub runtime and `jars` empty jars in lib/; the
    jars are kept from an earlier run when their count is right."""
    app = os.path.realpath(os.path.join(build_dir, "stub-app-%d" % jars))
    lib = os.path.join(app, "lib")
    if not os.path.isdir(lib) or len(os.listdir(lib)) != jars:
        fresh_folder(lib)
        for i in range(jars):
            open(os.path.join(lib, "quenlet-part-%06d.jar" % i), "wb").close()
    server = os.path.join(app, "jre", "lib", "server")
    os.makedirs(server, exist_ok=True)
    shutil.copy2(paths["stub_jvm"], os.path.join(server, "libjvm.so"))
    shutil.copy2(paths["quenlet"], os.path.join(app, "quenlet"))
    os.makedirs(os.path.join(app, "temp"), exist_ok=True)
    return app


def callgrind(command, env, cwd, work, toggle=None):
    """Instructions executed (Ir): the whole process, or inside `toggle` only."""
    out = os.path.join(work, "callgrind.out")
    valgrind = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out]
    if toggle:
        valgrind.append("--toggle-collect=" + toggle)
    run_checked(valgrind + command, env=env, cwd=cwd)
    with open(out) as f:
        for line in f:
            if line.startswith("totals:") or line.startswith("summary:"):
                return int(line.split()[1])
    sys.exit("no totals in callgrind output for %s" % command)


def perf_supported():
    if shutil.which("perf") is None:
        return False
    result = subprocess.run(["perf", "stat", "-x,", "-e", "instructions:u", "true"], capture_output=True, text=True)
    return result.returncode == 0 and re.search(r"^\d+,", result.stderr, re.M) is not None


def perf_instructions(command, env, cwd, repeat):
    result = run_checked(["perf", "stat", "-x,", "-r", str(repeat), "-e", "instructions:u"] + command,
                         env=env, cwd=cwd)
    match = re.search(r"^(\d+),", result.stderr, re.M)
    return int(match.group(1)) if match else None


def own_work(paths, build_dir, sizes, warmup, rounds):
    registry = os.path.join(build_dir, "registry")
    os.makedirs(registry, exist_ok=True)
    env = environment(registry)
    commands = {"empty process": [paths["empty_main"]]}
    apps = {}
    for n in sizes:
        log("Laying out the stub app with %d jars" % n)
        apps[n] = stub_app(paths, build_dir, n)
    # The least any launcher can do on the stub: load it, create the VM, call main.
    commands["bare JNI"] = [paths["bare_jni"], os.path.join(apps[sizes[0]], "jre", "lib", "server", "libjvm.so"),
                            MAIN_CLASS, HEAP]
    for n in sizes:
        commands["%d jars" % n] = [os.path.join(apps[n], "quenlet")]

    log("Own work: %d warm-up rounds, %d measured rounds of %d runs" % (warmup, rounds, len(commands)))
    load_before = load_average()
    results = alternate(commands, env, build_dir, warmup, rounds)
    load_after = load_average()
    wall = {name: [w for w, _ in runs] for name, runs in results.items()}
    empty = wall["empty process"]
    bare = wall["bare JNI"]

    log("Counting instructions with callgrind")
    work = tempfile.mkdtemp(prefix="quenlet-bench-")
    rows = []
    perf = perf_supported()
    for name, command in commands.items():
        row = {
            "name": name,
            "wall_median": median(wall[name]),
            "over_empty": median([a - b for a, b in zip(wall[name], empty)]),
            "over_bare": median([a - b for a, b in zip(wall[name], bare)]),
            "ir_total": callgrind(command, env, build_dir, work),
            "ir_main": callgrind(command, env, build_dir, work, toggle="main"),
            "perf": perf_instructions(command, env, build_dir, 10) if perf else None,
        }
        rows.append(row)
    shutil.rmtree(work)
    return {"rows": rows, "sizes": sizes, "rounds": rounds, "warmup": warmup, "perf": perf,
            "load": [load_before, load_after]}


# ---- The report -----------------------------------------------------------------


def machine(runtime, launcher=None):
    info = {"kernel": platform.release(), "cores": os.cpu_count()}
    try:
        with open("/proc/cpuinfo") as f:
            models = re.findall(r"^model name\s*:\s*(.*)$", f.read(), re.M)
        info["cpu"] = models[0] if models else "?"
    except OSError:
        info["cpu"] = "?"
    try:
        with open("/proc/meminfo") as f:
            info["memory"] = "%.1f GiB" % (int(f.readline().split()[1]) / 1048576)
    except OSError:
        info["memory"] = "?"
    try:
        with open("/etc/os-release") as f:
            info["os"] = re.search(r'^PRETTY_NAME="?([^"\n]*)', f.read(), re.M).group(1)
    except (OSError, AttributeError):
        info["os"] = "?"
    version = subprocess.run([os.path.join(runtime, "bin", "java"), "-version"], capture_output=True, text=True)
    info["jdk"] = " / ".join(line.strip() for line in version.stderr.strip().splitlines())
    info["compiler"] = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True, cwd=ROOT)
    info["commit"] = "commit " + (commit.stdout.strip() or "?")
    dirty = subprocess.run(["git", "status", "--porcelain", "--", "launcher", "java", "host"],
                           capture_output=True, text=True, cwd=ROOT).stdout.strip()
    if dirty:
        info["commit"] += " (with uncommitted changes to the launcher)"
    if launcher:
        info["commit"] = "`%s` (given with --launcher; the tree is at %s)" % (launcher, info["commit"])
    return info


def verdict(ok):
    return "met" if ok else "**missed**"


def report(command, info, runtime, start, work):
    lines = [BEGIN, "",
             "Measured %s with `%s`." % (datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), command), "",
             "| machine | |", "|---|---|",
             "| CPU | %s, %d cores |" % (info["cpu"], info["cores"]),
             "| memory | %s |" % info["memory"],
             "| system | %s, Linux %s |" % (info["os"], info["kernel"]),
             "| runtime (all three) | `%s`: %s |" % (runtime, info["jdk"]),
             "| compiler | %s (native preset, Release) |" % info["compiler"],
             "| launcher | %s |" % info["commit"],
             "| load average (start-up; own work) | %s -> %s; %s -> %s |" % (
                 start["load"][0], start["load"][1], work["load"][0], work["load"][1]),
             ""]

    w, r = start["wall_median"], start["rss_median"]
    lines += ["### Start-up against the anchors", "",
              "The sample's main class, no arguments, options %s; %d rounds after %d warm-up rounds, the "
              "order of the three rotating each round." % (" ".join("`%s`" % o for o in start["options"]),
                                                          start["rounds"], start["warmup"]), "",
              "| program | median wall (ms) | fastest (ms) | median peak RSS (MiB) | largest peak RSS (MiB) |",
              "|---|---:|---:|---:|---:|"]
    for name in ("quenlet", "java", "bare JNI"):
        lines.append("| %s | %.1f | %.1f | %.2f | %.2f |" % (name, w[name], start["wall_min"][name],
                                                           r[name] / 1024, start["rss_max"][name] / 1024))
    lines += ["",
              "| target | measured (median of the rounds' pairs) | |", "|---|---:|---|",
              "| quenlet / java wall <= 0.95 | %.3f | %s |" % (start["ratio_java"], verdict(start["ratio_java"] <= 0.95)),
              "| quenlet / bare JNI wall <= 1.02 | %.3f | %s |" % (start["ratio_bare"],
                                                              verdict(start["ratio_bare"] <= 1.02)),
              "| (for reference: bare JNI / java, the best any launcher can reach) | %.3f | |" % start["bare_to_java"],
              "| quenlet peak RSS - bare JNI's <= 1 MiB | %+.2f MiB | %s |" % (
                  start["rss_over_bare"] / 1024, verdict(start["rss_over_bare"] <= 1024)),
              ""]

    rows = work["rows"]
    by_name = {row["name"]: row for row in rows}
    lines += ["### The launcher's own work (stub libjvm.so)", "",
              "`quenlet` with a `libjvm.so` whose VM and JNI functions return at once (it depends on the C++ "
              "runtime as the real one does), `lib/` holding n empty jars. Two floors: *empty process*, a C++ "
              "program linked like the launcher that does nothing, and *bare JNI*, the bare JNI program on the "
              "same stub (load it, create the VM, call main): the least any launcher does. Wall time: %d rounds "
              "after %d warm-up rounds, the order rotating; the *above* columns are medians of each round's "
              "difference. Instructions: callgrind, the whole process and inside `main` only." % (
                  work["rounds"], work["warmup"]), "",
              "| run | median wall (ms) | above the empty process (ms) | above bare JNI (ms) | "
              "instructions, process | instructions in main | perf stat instructions:u |",
              "|---|---:|---:|---:|---:|---:|---:|"]
    for row in rows:
        perf = "{:,}".format(row["perf"]) if row["perf"] is not None else "not supported here"
        lines.append("| %s | %.3f | %.3f | %.3f | {:,} | {:,} | %s |".format(row["ir_total"], row["ir_main"]) % (
            row["name"], row["wall_median"], row["over_empty"], row["over_bare"], perf))

    base = by_name["%d jars" % work["sizes"][0]]
    lines += ["", "Growth of the work above the 0-jar run, from one size to the next, against n log n:", "",
              "| from -> to | instructions in main grow x | wall grows x | n log n grows x |",
              "|---|---:|---:|---:|"]
    worst = 0.0
    sizes = [n for n in work["sizes"] if n > 0]
    for a, b in zip(sizes, sizes[1:]):
        ra, rb = by_name["%d jars" % a], by_name["%d jars" % b]
        ir = (rb["ir_main"] - base["ir_main"]) / max(1, ra["ir_main"] - base["ir_main"])
        wall = (rb["over_bare"] - base["over_bare"]) / max(1e-9, ra["over_bare"] - base["over_bare"])
        bound = (b * math.log2(b)) / (a * math.log2(a))
        worst = max(worst, ir / bound)
        lines.append("| %d -> %d | %.2f | %.2f | %.2f |" % (a, b, ir, wall, bound))
    at_1000 = by_name.get("1000 jars")
    lines += ["", "| target | measured | |", "|---|---:|---|"]
    if at_1000:
        lines.append("| wall at 1,000 jars above bare JNI < 0.5 ms | %.3f ms | %s |" % (
            at_1000["over_bare"], verdict(at_1000["over_bare"] < 0.5)))
        lines.append("| (the same above the empty process) | %.3f ms | |" % at_1000["over_empty"])
    lines.append("| instruction growth no worse than n log n | worst step %.2f x the bound | %s |" % (
        worst, verdict(worst <= 1.0)))
    lines += ["", END]
    return "\n".join(lines)


def write_report(path, block):
    text = ""
    if os.path.exists(path):
        with open(path) as f:
            text = f.read()
    if BEGIN.split(" (")[0] in text and END in text:
        head = text[:text.index(BEGIN.split(" (")[0])]
        tail = text[text.index(END) + len(END):]
        text = head + block + tail
    else:
        text = (text.rstrip() + "\n\n" if text else "# Performance\n\n") + "## Latest results\n\n" + block + "\n"
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--jdk", default="/usr/lib/jvm/java-17-openjdk-amd64",
                        help="the JDK whose jni.h and javac build the programs")
    parser.add_argument("--runtime", help="the Java home all three start-up programs run on (default: --jdk)")
    parser.add_argument("--rounds", type=int, default=30, help="measured start-up rounds (at least 20)")
    parser.add_argument("--warmup", type=int, default=3)
    parser.add_argument("--stub-rounds", type=int, default=100)
    parser.add_argument("--sizes", default="0,1000,10000,100000", help="jar counts for the stub runs")
    parser.add_argument("--output", default=os.path.join(ROOT, "docs", "performance.md"))
    parser.add_argument("--json", help="also write the raw figures here (default: BUILD_DIR/results.json)")
    parser.add_argument("--launcher", help="measure this quenlet executable instead of the one built")
    parser.add_argument("--command", default="bench/run.sh", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.rounds < 20:
        parser.error("--rounds must be at least 20")
    runtime = os.path.realpath(args.runtime or args.jdk)
    build_dir = os.path.abspath(args.build_dir)
    os.makedirs(build_dir, exist_ok=True)
    sizes = [int(n) for n in args.sizes.split(",")]
    if not sizes or sizes[0] != 0:
        parser.error("--sizes must start with 0")

    paths = build(build_dir, args.jdk, args.launcher)
    start = startup(paths, build_dir, runtime, args.warmup, args.rounds)
    work = own_work(paths, build_dir, sizes, args.warmup, args.stub_rounds)
    info = machine(runtime, args.launcher)
    block = report(args.command, info, runtime, start, work)
    write_report(os.path.abspath(args.output), block)
    with open(args.json or os.path.join(build_dir, "results.json"), "w") as f:
        json.dump({"machine": info, "startup": start, "own_work": work}, f, indent=1)
    print(block)


if __name__ == "__main__":
    main()
