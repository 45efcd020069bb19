"""Reading Wine's relay trace of a Windows executable.

Wine logs each call into one of its DLLs with WINEDEBUG=+relay. The trace is
kept small by the RelayInclude value under HKCU\\Software\\Wine\\Debug (see
relay_include_reg), and cut down here to the calls that the executable itself
makes (their return address lies in its image), plus the markers that the stub
jvm.dll sends through OutputDebugStringA for every JNI call it gets, so that the
launcher's system calls and its JNI calls form one ordered stream.
"""

import re
import struct

# The operations of host/host_services.h, and the marker channel of the stub.
HOST_OPERATIONS = (
    "GetModuleFileNameA", "RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey",
    "FindFirstFileA", "FindNextFileA", "FindClose", "GetEnvironmentVariableA",
    "CreateDirectoryA", "SetDllDirectoryA", "LoadLibraryA", "GetProcAddress",
    "MessageBoxA", "MultiByteToWideChar", "GetCommandLineA", "IsDBCSLeadByte",
)
MARKER_FUNCTION = "OutputDebugStringA"
STUB_MARKER = "quenlet-stub: "


def relay_include_reg():
    """The .reg section that limits the relay trace to the host operations."""
    names = ";".join(HOST_OPERATIONS + ("kernel32." + MARKER_FUNCTION,))
    return '[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"RelayInclude"="%s"\n' % names


def image_range(exe_path):
    """(preferred base, size) of a PE image, from its optional header."""
    with open(exe_path, "rb") as f:
        head = f.read(4096)
    (pe,) = struct.unpack_from("<I", head, 0x3C)
    if head[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image: %s" % exe_path)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", head, optional)
    if magic == 0x10B:
        (base,) = struct.unpack_from("<I", head, optional + 28)
    elif magic == 0x20B:
        (base,) = struct.unpack_from("<Q", head, optional + 24)
    else:
        raise ValueError("unknown optional header magic %#x" % magic)
    (size,) = struct.unpack_from("<I", head, optional + 56)
    return base, size


class Call:
    """One relayed call: name without its DLL, args (ints, or bytes for the
    arguments Wine shows as strings; truncated ones end in b"..."), retval (an
    int, None when the call did not return), and for a stub marker its text."""

    def __init__(self, name, args, ret_address):
        self.name = name
        self.args = args
        self.ret_address = ret_address
        self.retval = None
        self.marker = None

    def strings(self):
        return [a.decode("latin-1") for a in self.args if isinstance(a, bytes)]

    def __repr__(self):
        if self.marker is not None:
            return "<stub %s>" % self.marker
        shown = ",".join(repr(a.decode("latin-1")) if isinstance(a, bytes) else "%x" % a for a in self.args)
        retval = "-" if self.retval is None else "%x" % self.retval
        return "%s(%s)=%s" % (self.name, shown, retval)


_ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", '"': b'"', "\\": b"\\"}
# With +pid every line starts with "pid:tid:".
_LINE = re.compile(r"^([0-9a-f]+):[0-9a-f]+:(Call|Ret) +([\w.]+)\.(\w+)\((.*)\)(?: retval=([0-9a-f]+))? ret=([0-9a-f]+)$")
_LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*)" at ([0-9A-Fa-f]+): ')

# The Wine debug channels that parse_trace needs.
WINEDEBUG = "+pid,+relay,+loaddll"


def _parse_args(text):
    """Splits Wine's argument list: hex numbers, each perhaps followed by the
    string it points to, in debugstr_a's quoting."""
    args, i = [], 0
    while i < len(text):
        m = re.match(r"[0-9a-f]+", text[i:])
        if not m:
            raise ValueError("cannot parse relay arguments: %r" % text)
        value = int(m.group(0), 16)
        i += m.end()
        quote = 2 if text.startswith(' "', i) else 3 if text.startswith(' L"', i) else 0
        if quote:
            i += quote
            raw = bytearray()
            while text[i] != '"':
                if text[i] == "\\":
                    if text[i + 1] == "x":
                        raw.append(int(text[i + 2:i + 4], 16))
                        i += 4
                    else:
                        raw += _ESCAPES[text[i + 1]]
                        i += 2
                else:
                    raw += text[i].encode("latin-1")
                    i += 1
            i += 1
            if text.startswith("...", i):
                raw += b"..."
                i += 3
            args.append(bytes(raw))
        else:
            args.append(value)
        if text.startswith(",", i):
            i += 1
    return args


def parse_trace(trace, exe_path):
    """The calls that the executable at exe_path makes, in order, with the stub
    markers among them. trace: the text of Wine's standard error, written with
    WINEDEBUG. Only the exe's own process counts: a dialog may start Wine's
    desktop process, which inherits the tracing and whose image may lie at
    the same address."""
    base, size = image_range(exe_path)
    exe_name = exe_path.replace("\\", "/").rsplit("/", 1)[-1].lower()
    process = None
    calls, pending = [], []
    for line in trace.splitlines():
        loaded = _LOADED.match(line)
        if loaded and process is None:
            if loaded.group(2).replace("\\\\", "\\").rsplit("\\", 1)[-1].lower() == exe_name:
                process = loaded.group(1)
                base = int(loaded.group(3), 16)  # where Wine really put it
            continue
        m = _LINE.match(line)
        if not m or m.group(1) != process:
            continue
        _, kind, _, name, args, retval, ret = m.groups()
        ret = int(ret, 16)
        if kind == "Call":
            call = Call(name, _parse_args(args), ret)
            in_exe = base <= ret < base + size
            is_marker = (name == MARKER_FUNCTION and call.args and isinstance(call.args[0], bytes)
                         and call.args[0].startswith(STUB_MARKER.encode()))
            if is_marker:
                call.marker = call.args[0][len(STUB_MARKER):].decode("latin-1")
            keep = in_exe or is_marker
            pending.append((call, keep))
            if keep:
                calls.append(call)
        else:
            for index in range(len(pending) - 1, -1, -1):
                call, _ = pending[index]
                if call.name == name and call.ret_address == ret:
                    call.retval = int(retval, 16) if retval is not None else None
                    del pending[index]
                    break
    if process is None:
        raise ValueError("the trace shows no process of %s" % exe_name)
    return calls


def as_signed32(value):
    """A relayed return value as a signed 32-bit number (MessageBoxA's -1)."""
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def main(argv):
    """relay.py EXE [ARGS...]: runs EXE in the test prefix (QUENLET_WINEPREFIX,
    QUENLET_WINE) with the relay filter set, and prints the calls it makes."""
    import os
    import subprocess
    import tempfile

    prefix, wine = os.environ["QUENLET_WINEPREFIX"], os.environ["QUENLET_WINE"]
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["WINEPREFIX"] = prefix
    with tempfile.TemporaryDirectory() as scratch:
        reg = os.path.join(scratch, "relay.reg")
        with open(reg, "w", newline="\r\n") as f:
            f.write("REGEDIT4\n\n" + relay_include_reg())
        with open(os.path.join(scratch, "err"), "wb") as err:
            subprocess.run([wine, "regedit", "/S", "Z:" + reg.replace("/", "\\")], env=dict(env, WINEDEBUG="-all"),
                           stdout=subprocess.DEVNULL, stderr=err, timeout=60, check=True)
        with open(os.path.join(scratch, "out"), "wb") as out, open(os.path.join(scratch, "err"), "wb") as err:
            subprocess.run([wine] + argv, env=dict(env, WINEDEBUG=WINEDEBUG), stdin=subprocess.DEVNULL,
                           stdout=out, stderr=err, timeout=60, check=False)
        with open(os.path.join(scratch, "err"), "rb") as f:
            for call in parse_trace(f.read().decode("latin-1"), argv[0]):
                print(call)


if __name__ == "__main__":
    import sys

    main(sys.argv[1:])
