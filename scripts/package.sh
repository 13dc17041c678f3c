#!/usr/bin/env bash
# Builds every package into dist/:
#   fwupgrade_<version>_<arch>.deb     the Linux terminal program (dpkg-buildpackage, debian/)
#   fwupgrade-<version>-setup.exe      the Windows installer (NSIS) of the 32-bit program
#   fwupgrade-<version>-win32.zip      the same files, zipped
#   <namespace>-<name>-<version>.tar.gz  the Ansible collection, when the tree has ansible/
# The version is project(VERSION) of CMakeLists.txt; CHANGELOG.md must have a section for it,
# which becomes the Debian changelog's entry.
# Environment: FWUPGRADE_PACKAGES   "deb windows" (default) or either alone.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=${FWUPGRADE_PACKAGES:-deb windows}
bash scripts/install-deps.sh
mkdir -p dist

# The version as CMake has it: the win32 preset is configured anyway.
cmake --preset win32 >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
[ -n "$version" ] || { echo "package: no project version in build/win32/CMakeCache.txt" >&2; exit 1; }

# The Debian changelog entry: CHANGELOG.md's section "## <version>", its items as the
# entry's, dated by the last commit (the package is then the same whenever it is built).
debian_changelog() {
  local date
  date=$(git log -1 --format=%aD 2>/dev/null || date -R)
  python3 - "$version" "$date" <<'PY'
import re, sys, textwrap
version, date = sys.argv[1], sys.argv[2]
text = open("CHANGELOG.md", encoding="utf-8").read()
section = re.search(r"^## " + re.escape(version) + r"\s*\n(.*?)(?=^## |\Z)", text, re.S | re.M)
if not section:
    sys.exit(f"package: CHANGELOG.md has no section \"## {version}\"")
items = re.split(r"^- ", section.group(1).strip(), flags=re.M)
items = [" ".join(i.split()).replace("`", "") for i in items if i.strip()]
maintainer = re.search(r"^Maintainer: (.*)$", open("debian/control").read(), re.M).group(1)
print(f"fwupgrade ({version}) stable; urgency=medium\n")
for item in items:
    print(textwrap.fill(item, 78, initial_indent="  * ", subsequent_indent="    "))
print(f"\n -- {maintainer}  {date}")
PY
}

# The Windows installer (one makensis process) is made beside the Debian package's build.
windows_job=
if [[ " $packages " == *" windows "* ]]; then
  mkdir -p build/package
  cmake --build --preset win32 --target installer zip >build/package/windows.log 2>&1 &
  windows_job=$!
fi

if [[ " $packages " == *" deb "* ]]; then
  # dpkg-buildpackage works in a copy of the tree: its build folders and the generated
  # changelog stay out of the work tree, and its results land beside the copy.
  stage=build/package/deb
  rm -rf "$stage"
  mkdir -p "$stage/fwupgrade-$version"
  # Tracked files and new ones not ignored: the tree as it is, not as last committed.
  git ls-files -z --cached --others --exclude-standard | grep -zv -e '^build/' -e '^dist/' |
    tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$stage/fwupgrade-$version"
  [ -f "$stage/fwupgrade-$version/debian/rules" ] || { echo "package: copying the tree failed" >&2; exit 1; }
  debian_changelog >"$stage/fwupgrade-$version/debian/changelog"
  # debhelper gives the build a HOME of its own, where ccache (cmake/Ccache.cmake) would
  # start an empty cache every time: it keeps the caller's.
  if command -v ccache >/dev/null; then
    CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
    export CCACHE_DIR
  fi
  # No debug symbols package: dist/ never ships one, and making it (dwz, then xz over 8 MB)
  # is one process's work for nothing.
  (cd "$stage/fwupgrade-$version" &&
    DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }noautodbgsym" dpkg-buildpackage -b -us -uc)
  deb=$stage/fwupgrade_${version}_$(dpkg --print-architecture).deb
  cp "$deb" dist/
  # The collection the package ships, as its own file too.
  find "$stage/fwupgrade-$version" -path '*/packaging/collection/*.tar.gz' -exec cp {} dist/ \;
fi

if [ -n "$windows_job" ]; then
  status=0
  wait "$windows_job" || status=$?
  cat build/package/windows.log
  [ "$status" -eq 0 ] || { echo "package: the Windows installer's build failed" >&2; exit 1; }
  cp "build/win32/package/fwupgrade-$version-setup.exe" "build/win32/package/fwupgrade-$version-win32.zip" dist/
fi
ls -l dist/
