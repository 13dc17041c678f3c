#!/usr/bin/env python3
"""clang-tidy over the translation units of one build's compile database, in parallel,
each skipped when a clean result for the very same input is in the cache.

  clang-tidy-cached.py --build DIR --scope REGEX --header-filter REGEX --cache DIR
                       [--beyond OTHER_DIR] [--jobs N] [--log FILE] [-- CLANG_TIDY_ARGS...]

--scope       the sources analysed (a regex on the absolute path)
--beyond      analyse only what OTHER_DIR's build does not already cover: the sources its
              compile database lacks, and the shared ones whose own text asks which platform
              it is compiled for (the rest is the same code, analysed by that build's pass)
--cache       a folder of clean results, which may outlive the checkout and be shared by
              several (scripts/static-analysis.sh keeps it in the user's cache folder); an
              empty one analyses everything

A result is keyed by the contents of everything the unit reads (the source and every header,
as the build's compiler lists them), its compile command, the checks' configuration, the
header filter, the extra arguments and clang-tidy's version, so any change to any of these
analyses the unit again. Paths under the checkout's root enter the key relative to it: a
clone elsewhere of the same code finds the same results. Only clean results are kept: a unit
with findings is analysed on every run until it is clean. A result no run has used for
PRUNE_DAYS is removed.

Prints each finding once, sorted; the whole output goes to --log. Exits 1 if any unit had a
finding or did not compile, 2 on a usage or database error.
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys
import threading
import time

# A preprocessor test of the target in a source's own text: such a source compiles to
# different code per platform, so each build's pass analyses it.
PLATFORM_TEST = re.compile(
    rb"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|WIN32|__MINGW32__|__MINGW64__|"
    rb"__linux__|__unix__|_MSC_VER|__i386__|__x86_64__)\b",
    re.M,
)
# The checkout this script belongs to: its path is left out of the keys.
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRUNE_DAYS = 30
FINDING = re.compile(r"(warning|error):")
COLOUR = re.compile(r"\x1b\[[0-9;]*m")


def load_database(build):
    path = os.path.join(build, "compile_commands.json")
    try:
        with open(path, encoding="utf-8") as f:
            entries = json.load(f)
    except (OSError, ValueError) as e:
        sys.exit(f"clang-tidy-cached: {path}: {e}")
    # A source several targets compile keeps the last of its entries.
    units = {}
    for entry in entries:
        file = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
        units[file] = entry
    return units


def arguments(entry):
    if "arguments" in entry:
        return list(entry["arguments"])
    return shlex.split(entry["command"])


def dependency_command(entry):
    """The entry's compile command turned into one that lists what the unit reads."""
    args = arguments(entry)
    out = [args[0]]
    skip = False
    for arg in args[1:]:
        if skip:
            skip = False
            continue
        if arg in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if arg in ("-c", "-MD", "-MMD") or arg.startswith(("-o", "-MF")) and len(arg) > 3:
            continue
        out.append(arg)
    return out + ["-M"]


class Hashes:
    """The content hash of each file read, once per run however many units include it."""

    def __init__(self):
        self.lock = threading.Lock()
        self.known = {}

    def of(self, path):
        with self.lock:
            if path in self.known:
                return self.known[path]
        with open(path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with self.lock:
            self.known[path] = digest
        return digest


def portable(text):
    """TEXT with the checkout's root replaced by a name no path has."""
    return text.replace(ROOT, "\0root")


def prune(cache):
    """Removes the results no run has used for PRUNE_DAYS."""
    horizon = time.time() - PRUNE_DAYS * 86400
    for name in os.listdir(cache):
        path = os.path.join(cache, name)
        try:
            if os.path.getmtime(path) < horizon:
                os.remove(path)
        except OSError:
            pass


def unit_key(entry, common, hashes):
    """The cache key of one unit, or None when its dependencies cannot be listed."""
    try:
        listed = subprocess.run(dependency_command(entry), cwd=entry["directory"],
                                capture_output=True, check=True).stdout.decode()
    except (OSError, subprocess.CalledProcessError):
        return None
    # "target: dep dep \" over continued lines; the first word is the rule's target.
    words = listed.replace("\\\n", " ").split()
    # In the order of their portable names: the checkout's place must not change the key.
    deps = sorted({os.path.normpath(os.path.join(entry["directory"], w))
                   for w in words[1:] if not w.endswith(":")}, key=portable)
    h = hashlib.sha256(common)
    h.update(portable(json.dumps([entry["directory"], entry["file"], arguments(entry)])).encode())
    try:
        for dep in deps:
            h.update(f"\0{portable(dep)}\0{hashes.of(dep)}".encode())
    except OSError:
        return None
    return h.hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--scope", required=True)
    parser.add_argument("--header-filter", required=True)
    parser.add_argument("--cache", required=True)
    parser.add_argument("--beyond")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--log")
    parser.add_argument("tidy_args", nargs="*")
    opts = parser.parse_args()

    units = load_database(opts.build)
    scope = re.compile(opts.scope)
    selected = sorted(f for f in units if scope.search(f))
    if opts.beyond:
        covered = load_database(opts.beyond)

        def own(file):
            if file not in covered:
                return True
            with open(file, "rb") as f:
                return PLATFORM_TEST.search(f.read()) is not None

        selected = [f for f in selected if own(f)]

    version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout
    config = b""
    for folder in {os.path.dirname(f) for f in selected}:
        # clang-tidy reads the nearest .clang-tidy above each source: hash every candidate.
        while True:
            candidate = os.path.join(folder, ".clang-tidy")
            if os.path.isfile(candidate):
                with open(candidate, "rb") as f:
                    config += portable(candidate).encode() + b"\0" + f.read()
            parent = os.path.dirname(folder)
            if parent == folder:
                break
            folder = parent
    common = b"\0".join([version, hashlib.sha256(config).digest(), portable(opts.header_filter).encode(),
                         portable(json.dumps(opts.tidy_args)).encode()])
    hashes = Hashes()
    os.makedirs(opts.cache, exist_ok=True)
    prune(opts.cache)
    # clang-tidy analyses a source once for each entry the database has for it: a source two
    # targets compile would be analysed twice. Its own database has the one entry the key
    # was made from.
    database = os.path.join(opts.build, "clang-tidy-units")
    os.makedirs(database, exist_ok=True)
    with open(os.path.join(database, "compile_commands.json"), "w", encoding="utf-8") as f:
        json.dump([units[file] for file in selected], f, indent=1)

    def analyse(file):
        entry = units[file]
        key = unit_key(entry, common, hashes)
        marker = key and os.path.join(opts.cache, key)
        if marker and os.path.exists(marker):
            try:
                os.utime(marker)
            except OSError:
                pass
            return file, True, 0, ""
        run = subprocess.run(["clang-tidy", "-p", database, "-quiet",
                              f"-header-filter={opts.header_filter}", *opts.tidy_args, file],
                             capture_output=True)
        text = COLOUR.sub("", (run.stdout + run.stderr).decode(errors="replace"))
        if run.returncode == 0 and marker:
            # Whole or not at all: another checkout's run may be reading the same folder.
            partial = f"{marker}.{os.getpid()}.{threading.get_ident()}"
            with open(partial, "w", encoding="utf-8") as f:
                f.write(os.path.relpath(file, ROOT) + "\n")
            os.replace(partial, marker)
        return file, False, run.returncode, text

    failed = cached = 0
    findings = set()
    log = open(opts.log, "w", encoding="utf-8") if opts.log else open(os.devnull, "w")
    with log, concurrent.futures.ThreadPoolExecutor(max(1, opts.jobs)) as pool:
        for file, hit, rc, text in pool.map(analyse, selected):
            cached += hit
            if rc != 0:
                failed += 1
                log.write(f"== {file}: exit status {rc}\n")
            log.write(text)
            findings.update(line for line in text.splitlines() if FINDING.search(line))
    for line in sorted(findings):
        print(line)
    print(f"clang-tidy: {len(selected)} translation units, {cached} clean in the cache, "
          f"{failed} with findings or errors")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
