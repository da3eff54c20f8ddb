#!/usr/bin/env python3
"""The release files, made from a 64-bit and a 32-bit build, and the installer
under Wine.

- The zips hold exactly the two files of their architecture and the readme;
  SHA256SUMS matches the three release files.
- The version resources of the built files carry the project version, and the
  library compares against that same version.
- In a fresh 64-bit prefix, a silent install puts the 64-bit files, the
  Start-menu shortcut and the uninstall entry in place; the class can be
  created late-bound and answers Updates; the program started from the
  shortcut's folder shows its strip. A silent uninstall removes all of it.

The installer run here is the release script built for amd64-unicode: the
release installer itself is 32-bit code.

Runs inside the project's Wine environment (scripts/wine-env.sh); the build
must talk to 127.0.0.1:PORT for both hosts.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "testing"))
import wine_testkit as kit  # noqa: E402
import pe_info  # noqa: E402

PORT = int(os.environ.get("KORVANE_UPDATE_HOST", "127.0.0.1:18080").rpartition(":")[2])
CLSID = "{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"
ZIP_FILES = ["Korvane.exe", "Update.dll", "README.txt"]
DOWNLOAD = "http://127.0.0.1/download/Korvane-{}.exe"

check = kit.Checks()


def wine(*args, cwd=None, timeout=180):
    # Output through files: a wineserver started here would hold a pipe open.
    with tempfile.TemporaryFile() as out:
        result = subprocess.run(["wine", *args], cwd=cwd, stdout=out,
                                stderr=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return result.returncode, out.read()


def wait_wineserver():
    subprocess.run(["wineserver", "-w"], timeout=300)


def unix_path(windows_path):
    out = subprocess.run(["winepath", "-u", windows_path], capture_output=True, check=True)
    return out.stdout.decode("utf-8", "replace").strip()


def reg_values(key):
    """{name: text} of a key's values, or None when the key is missing."""
    code, out = wine("reg", "query", key)
    if code != 0:
        return None
    values = {}
    for line in out.decode("gbk", "replace").splitlines():
        match = re.match(r"\s+(\S.*?)\s+(REG_\w+)\s*(.*)$", line)
        if match:
            values[match.group(1)] = match.group(3).strip()
    return values


def shell_folder(name):
    code, out = wine("cmd", "/c", "echo", f"%{name}%")
    return out.decode("gbk", "replace").strip()


def link_info(path):
    """(target, working folder) of a Shell Link (.lnk) file."""
    data = open(path, "rb").read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    target = ""
    if flags & 0x2:  # HasLinkInfo: LocalBasePath, an ANSI string
        size, _, info_flags, _, base_offset = struct.unpack_from("<IIIII", data, pos)
        if info_flags & 0x1:
            end = data.index(b"\0", pos + base_offset)
            target = data[pos + base_offset:end].decode("mbcs" if os.name == "nt" else "gbk")
        pos += size
    unicode = flags & 0x80
    strings = {}
    for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "workdir"),
                      (0x20, "arguments"), (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, pos)[0]
            width = 2 if unicode else 1
            raw = data[pos + 2:pos + 2 + count * width]
            strings[name] = raw.decode("utf-16-le" if unicode else "gbk").rstrip("\0")
            pos += 2 + count * width
    return target, strings.get("workdir", "")


def sha256(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def next_version(version):
    major, minor, patch = (int(p) for p in version.split("."))
    return f"{major}.{minor}.{patch + 1}"


# ---- Release files -----------------------------------------------------------

def test_release_files(args, dist, version):
    setup = f"Korvane-{version}-setup.exe"
    zips = {arch: f"Korvane-{version}-{arch}.zip" for arch in ("x64", "x86")}
    names = sorted(os.listdir(dist))
    check(names == sorted([setup, *zips.values(), "SHA256SUMS"]), "dist holds the release files",
          " ".join(names))

    sums = {}
    for line in open(os.path.join(dist, "SHA256SUMS")).read().splitlines():
        digest, _, name = line.partition("  ")
        sums[name] = digest
    check(sorted(sums) == sorted([setup, *zips.values()]), "SHA256SUMS lists the three files",
          " ".join(sums))
    check(all(sums.get(n) == sha256(os.path.join(dist, n)) for n in sums),
          "SHA256SUMS matches the files")

    builds = {"x64": args.x64_build, "x86": args.x86_build}
    for arch, name in zips.items():
        with zipfile.ZipFile(os.path.join(dist, name)) as z:
            check(sorted(z.namelist()) == sorted(ZIP_FILES), f"{name} holds the two files and "
                  "the readme", " ".join(z.namelist()))
            for binary in ZIP_FILES[:2]:
                data = z.read(binary)
                built = open(os.path.join(builds[arch], "bin", binary), "rb").read()
                check(data == built and pe_info.machine(data) == arch,
                      f"{name}: {binary} is the {arch} build's", pe_info.machine(data))
                test_version_resource(f"{arch} {binary}", data, version)
            readme = z.read("README.txt").decode("utf-8")
            check(f"Korvane {version} ({arch})" in readme and "regsvr32" in readme,
                  f"{name}: the readme names the version and the registration")

    info = pe_info.version_info(open(os.path.join(dist, setup), "rb").read())
    check(info["ProductVersion"] == version + ".0"
          and info["strings"].get("ProductVersion") == version,
          "the installer carries the version", str(info))


def test_version_resource(what, data, version):
    info = pe_info.version_info(data)
    strings = info["strings"]
    check(info["FileVersion"] == info["ProductVersion"] == version + ".0"
          and strings.get("FileVersion") == strings.get("ProductVersion") == version,
          f"{what}: version resource is {version}", str(info))


# ---- Install, run, uninstall -------------------------------------------------


def updates(args, account):
    code, out = wine(args.client, "updates", account, "Korvane")
    lines = out.decode("utf-8", "replace").splitlines()
    return lines[0].rstrip("\r") if lines else f"<no output, exit {code}>"


def test_install(args, work, installer, version):
    local_appdata = shell_folder("LOCALAPPDATA")
    programs = unix_path(local_appdata + r"\Programs")
    check(not os.path.exists(programs), "a fresh prefix has no Programs folder")

    code, _ = wine(installer, "/S")
    wait_wineserver()
    check(code == 0, "silent install succeeds", f"exit {code}")

    folder_windows = local_appdata + r"\Programs\Korvane"
    folder = unix_path(folder_windows)
    installed = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    check(installed == ["Korvane.exe", "Uninstall.exe", "Update.dll"],
          "the install folder holds the program, the library and the uninstaller",
          " ".join(installed))
    for binary in ("Korvane.exe", "Update.dll"):
        path = os.path.join(folder, binary)
        same = os.path.exists(path) and \
            open(path, "rb").read() == open(os.path.join(args.x64_build, "bin", binary),
                                            "rb").read()
        check(same, f"{binary} is the 64-bit build's")

    entry = reg_values(UNINSTALL_KEY) or {}
    uninstaller = folder_windows + r"\Uninstall.exe"
    expected = {
        "DisplayName": "Korvane",
        "DisplayVersion": version,
        "Publisher": "Korvane",
        "DisplayIcon": folder_windows + r"\Korvane.exe,0",
        "InstallLocation": folder_windows,
        "UninstallString": f'"{uninstaller}"',
        "QuietUninstallString": f'"{uninstaller}" /S',
    }
    for name, value in expected.items():
        check(entry.get(name, "").lower() == value.lower(), f"uninstall entry {name}",
              entry.get(name, "<missing>"))
    size = int(entry.get("EstimatedSize", "0"), 0)
    check(300 < size < 10000, "uninstall entry EstimatedSize is in KiB", str(size))

    shortcut = os.path.join(unix_path(shell_folder("APPDATA")),
                            "Microsoft", "Windows", "Start Menu", "Programs", "Korvane.lnk")
    target, workdir = link_info(shortcut) if os.path.exists(shortcut) else ("", "")
    check(target.lower() == (folder_windows + r"\Korvane.exe").lower(),
          "the Start-menu shortcut starts the installed program", target)
    check(workdir.lower() == folder_windows.lower(),
          "the shortcut's working folder is the install folder", workdir)

    clsid = reg_values(rf"HKCR\CLSID\{CLSID}\InprocServer32") or {}
    check(clsid.get("(默认)", clsid.get("(Default)", "")).lower()
          == (folder_windows + r"\Update.dll").lower(),
          "the class is registered from the install folder", str(clsid))

    # The library compares against the project version.
    entries = os.path.join(work, "entries.json")
    newer = next_version(version)
    with open(entries, "w") as f:
        json.dump({"10001": [{"title": f"Korvane {newer}", "imgsrc": DOWNLOAD.format(newer)}],
                   "10002": [{"title": f"Korvane {version}", "imgsrc": DOWNLOAD.format(version)}]},
                  f)
    with kit.UpdateService(entries, script=args.service):
        reply = updates(args, "10001")
        check(reply == f"REPLY OK|True|{newer}|" + DOWNLOAD.format(newer),
              "Updates reports the next version as newer", reply)
        reply = updates(args, "10002")
        check(reply == f"REPLY OK|False|{version}|" + DOWNLOAD.format(version),
              "Updates compares against the project version", reply)

    # Run as the shortcut does; a settings file keeps the first-run page shut.
    workdir_unix = unix_path(workdir) if workdir else folder
    with open(os.path.join(workdir_unix, "test.ini"), "w") as f:
        f.write("[Check]\r\nCheck1=1\r\n")
    process = subprocess.Popen(["wine", os.path.join(workdir_unix, "Korvane.exe")],
                               cwd=workdir_unix, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    check(kit.wait_for_window("Form1", timeout=60) is not None,
          "the installed program shows its strip")
    kit.kill_wine()
    process.wait(timeout=30)
    return folder, folder_windows, programs, shortcut


def test_uninstall(folder, folder_windows, programs, shortcut):
    # The uninstaller copies itself to a temporary folder and returns at once.
    code, _ = wine(folder_windows + r"\Uninstall.exe", "/S")
    wait_wineserver()
    check(code == 0, "silent uninstall starts", f"exit {code}")
    check(not os.path.exists(folder), "the install folder is gone, test.ini included",
          " ".join(os.listdir(folder)) if os.path.isdir(folder) else "")
    check(not os.path.exists(programs), "no empty Programs folder is left")
    check(not os.path.exists(shortcut), "the shortcut is gone")
    check(reg_values(UNINSTALL_KEY) is None, "the uninstall entry is gone")
    check(reg_values(r"HKCR\Quorvel.Detection") is None
          and reg_values(rf"HKCR\CLSID\{CLSID}") is None, "the class registration is gone")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x64-build", required=True)
    parser.add_argument("--x86-build", required=True)
    parser.add_argument("--client", required=True, help="detection_client_test.exe")
    parser.add_argument("--service", required=True, help="update_service.py")
    parser.add_argument("--work", required=True, help="scratch folder, emptied first")
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.x86_build, "bin", "Update.dll")):
        print(f"SKIP: no 32-bit build in {args.x86_build}")
        return 77

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    dist = os.path.join(args.work, "dist")
    installer = os.path.join(args.work, "Korvane-setup-amd64.exe")
    package = subprocess.run([os.path.join(HERE, "package.sh"), args.x64_build, args.x86_build,
                              dist, "--test-installer", installer])
    check(package.returncode == 0, "package.sh makes the release files")
    if package.returncode != 0:
        return 1
    cache = open(os.path.join(args.x64_build, "CMakeCache.txt")).read()
    version = re.search(r"^CMAKE_PROJECT_VERSION:\w+=(.*)$", cache, re.M).group(1)
    test_release_files(args, dist, version)

    # A fresh prefix of its own: the install must find nothing there before.
    os.environ["WINEPREFIX"] = os.path.join(args.work, "prefix")
    subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)
    wait_wineserver()
    try:
        installed = test_install(args, args.work, installer, version)
        test_uninstall(*installed)
    finally:
        kit.kill_wine()

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
