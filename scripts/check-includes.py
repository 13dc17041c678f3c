#!/usr/bin/env python3
"""Fails on an include that crosses a wall the wrong way.

The build already keeps each layer from seeing the folders of layers it does not link
(cmake/Layers.cmake). This check covers what one target cannot: the order of the program's
folders, which share the target fwprogram; the framework's core, which must not know its
back ends; the library's transports to the OS's devices, which must not know its emulation;
the library's private headers, which only the library and its tests may name; and relative
includes, which would walk round every include root.

    check-includes.py [ROOT]     prints one line per wrong include; exit status 1 if any
"""
import pathlib
import re
import sys

PUBLIC_LIBRARY = {"zurvax/ZurvaxApi.h", "zurvax/ZurvaxStatus.h"}

# What each folder may include, besides itself and the C and C++ libraries. "zurvax-api" is
# the library's public interface; "zurvax" the whole library.
BASE = ["framework"]
ALLOWED = {
    "zurvax": ["zurvax"],
    "framework": [],
    "res": BASE,
    "scsi": BASE + ["res", "zurvax-api"],
    "app": BASE + ["res"],
    "ui": BASE + ["res", "zurvax-api", "scsi", "app"],
    "devices": BASE + ["res", "zurvax-api", "scsi", "app", "ui"],
    "upgrade": BASE + ["res", "zurvax-api", "scsi", "app", "ui"],
    "cli": BASE + ["res", "zurvax-api", "scsi", "app", "ui", "devices", "upgrade"],
}
# The process entry sits above all of the program.
ENTRY = {"app/main.cpp": ALLOWED["cli"] + ["cli"]}
# The framework's back ends build on its core and never on each other; the core knows none.
BACKENDS = ("framework/headless/", "framework/tui/", "framework/win32/")
# The program is written against the core; only the unattended command line, which plays
# the program's windows on the headless back end, names one.
BACKEND_USERS = {"framework/headless/": ("cli",)}

# The transports to the OS's devices (SG_IO, SPTI) share zurvax/ with the emulation but never
# see it: its drives and its fault rules, which act on the emulation's library calls alone.
REAL_TRANSPORTS = ("zurvax/RealTransport", "zurvax/SgTransport_", "zurvax/Spti")
EMULATION = {
    "zurvax/EmulatedDrive.h",
    "zurvax/EmulatedTransport.h",
    "zurvax/EmulationConfig.h",
    "zurvax/FaultInjection.h",
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = ("*.h", "*.hpp", "*.cpp", "*.c", "*.h.in")


def layer_of(include):
    if include in PUBLIC_LIBRARY:
        return "zurvax-api"
    return include.split("/", 1)[0] if "/" in include else None


def wrong(path, include):
    """Why path may not include include, or None."""
    if include.startswith("../") or "/../" in include:
        return "relative include walks round the include roots"
    if path.startswith(REAL_TRANSPORTS) and include in EMULATION:
        return "a transport to the OS's devices may not know the emulation"
    folder = path.split("/", 1)[0]
    target = layer_of(include)
    if target in ("tests", "bench"):
        return "the product may not include its tests or benchmarks"
    if target is None or target == folder or target not in ALLOWED and target != "zurvax-api":
        # Same folder, a file beside it, or a generated or system header.
        if folder == "framework" and include.startswith(BACKENDS):
            return back_end_rule(path, include)
        return None
    if folder == "zurvax" and target == "zurvax-api":
        return None
    backend = next((b for b in BACKENDS if include.startswith(b)), None)
    if backend is not None and folder not in BACKEND_USERS.get(backend, ()):
        return f"{folder}/ may not name the framework's back end {backend}"
    allowed = ENTRY.get(path, ALLOWED[folder])
    if target in allowed or (target == "zurvax-api" and "zurvax" in allowed):
        return None
    if target == "zurvax":
        return f"{folder}/ may use the library's public interface only (zurvax/include/zurvax/)"
    return f"{folder}/ may not include {target}/"


def back_end_rule(path, include):
    own = next((b for b in BACKENDS if path.startswith(b)), None)
    if own is None:
        return "the framework's core may not include a back end"
    if not include.startswith(own):
        return "a back end may not include another back end"
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    found = 0
    for folder in ALLOWED:
        for pattern in SOURCES:
            for file in sorted((root / folder).rglob(pattern)):
                path = file.relative_to(root).as_posix()
                lines = file.read_text(encoding="utf-8", errors="replace").splitlines()
                for number, line in enumerate(lines, 1):
                    match = INCLUDE.match(line)
                    why = match and wrong(path, match.group(1))
                    if why:
                        print(f"{path}:{number}: #include \"{match.group(1)}\": {why}")
                        found += 1
    print(f"include walls: {found} wrong include(s)" if found else "include walls: clean")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
