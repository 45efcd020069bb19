#!/usr/bin/env python3
"""Exact command lines under Wine: each line goes byte for byte to tail_print
through raw_run, which prints the line it got, the tail cut from it and the
arguments split from the tail.

Environment: QUENLET_WINEPREFIX, QUENLET_WINE (from the test), QUENLET_RAW_RUN,
QUENLET_TAIL_PRINT (the executables), QUENLET_WORK (a scratch folder)."""
import os
import subprocess
import sys

# (name, command line, tail, arguments)
CASES = [
    ("closing quote ends the name", b'"ab"cd', b"cd", [b"cd"]),
    ("quote inside a bare name", b'tail.exe"q r" s', b'r" s', [b"r s"]),
    ("quoted program path", b'"C:\\Program Files\\q.exe" a "b c"', b'a "b c"', [b"a", b"b c"]),
    ("repeated spaces", b"prog   a    b   ", b"a    b   ", [b"a", b"b"]),
    ("tabs", b"prog\t\ta\tb\t", b"a\tb\t", [b"a", b"b"]),
    ("tab inside quotes", b'prog "a\tb"', b'"a\tb"', [b"a\tb"]),
    ("control bytes after the name", b"prog \x01\x02 x", b"x", [b"x"]),
    ("high bytes", b"prog caf\xe9 \xff\"x y\"", b"caf\xe9 \xff\"x y\"", [b"caf\xe9", b"\xffx y"]),
    ("empty quotes", b'prog "" a ""', b'"" a ""', [b"", b"a", b""]),
    ("empty quotes after a bare argument", b'prog a""', b'a""', [b"a"]),
    ("backslash before the closing quote", b'prog "C:\\Program Files\\"', b'"C:\\Program Files\\"',
     [b"C:\\Program Files\\"]),
    ("unclosed quote", b'prog a "b c ', b'a "b c ', [b"a", b"b c "]),
    ("name only", b"prog", b"", []),
    ("unclosed quoted name", b'"prog a b', b"", []),
    ("leading blank keeps every token", b"  a b", b"a b", [b"a", b"b"]),
]


def escaped(data):
    return "".join(chr(b) if 0x20 < b < 0x7F and b != 0x5C else "\\x%02X" % b for b in data)


def dos_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    wine = os.environ["QUENLET_WINE"]
    raw_run = os.environ["QUENLET_RAW_RUN"]
    program = os.environ["QUENLET_TAIL_PRINT"]
    work = os.environ["QUENLET_WORK"]
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=os.environ["QUENLET_WINEPREFIX"], WINEDEBUG="-all", LANG="C.UTF-8")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)

    failures = 0
    for index, (name, line, tail, arguments) in enumerate(CASES):
        line_file = os.path.join(work, "line%d.bin" % index)
        out_file = os.path.join(work, "out%d.txt" % index)
        err_file = os.path.join(work, "err%d.txt" % index)
        with open(line_file, "wb") as f:
            f.write(line)
        # Output to files, not pipes: Wine once hung writing into a pipe.
        with open(out_file, "wb") as out, open(err_file, "wb") as err:
            code = subprocess.call([wine, raw_run, dos_path(program), dos_path(line_file)],
                                   stdout=out, stderr=err, env=env, cwd=work, timeout=60)
        with open(out_file, "rb") as f:
            got = f.read().decode("ascii", "replace").replace("\r\n", "\n").splitlines()
        expected = ["line " + escaped(line), "tail " + escaped(tail), "count %d" % len(arguments)]
        expected += ["arg " + escaped(a) for a in arguments]
        if code != 0 or got != expected:
            failures += 1
            with open(err_file, "rb") as f:
                errors = f.read().decode("utf-8", "replace")
            print("FAIL %s (exit %d)\n  expected: %s\n  got:      %s\n  stderr: %s"
                  % (name, code, expected, got, errors.strip()[-500:]))
        else:
            print("ok   %s" % name)
    print("%d of %d command lines failed" % (failures, len(CASES)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
