#!/usr/bin/env python3
"""The release files, made from a 64-bit and a 32-bit build, and the installer
under Wine.

- The release files are signed with a throwaway certificate: the installer,
  the zips' executables and libraries and the uninstaller that an install
  writes verify against it.
- The zips hold exactly the two files of their architecture and the readme;
  SHA256SUMS matches the three release files.
- The version resources and the manifest of the built files carry the
  project version, and the library compares against that same version.
- In a fresh prefix, one scenario:
  1. a silent install of an older build puts the files, the Start-menu
     shortcut and the uninstall entry in place, no Run value; the class can
     be created late-bound and answers Updates;
  2. the installed Korvane, started as the Run key starts it (another working
     folder), shows its strip, reads its test.ini and registers the class from
     the install folder when its panel loads;
  3. a silent install of the new build with /AUTOSTART=1 while it runs ends
     that Korvane when asked, puts the new files in place, keeps test.ini,
     writes the Run value and starts Korvane again; with --arch x64 the
     install folder has a long name, and the upgrade is given its short one;
  4. a silent uninstall ends it and removes everything, the Run value too.

With --arch x64 (the default) the installer run is the release script built
for amd64-unicode, in a 64-bit prefix; with --arch x86 it is the shipped
32-bit installer in a 32-bit prefix, installing the 32-bit files.

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

import pe_info
import wine_testkit as kit

HERE = os.path.dirname(os.path.abspath(__file__))

CLSID = kit.DETECTION_CLSID
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
CHECK1 = 110  # the panel's "有新版本提示" box
SETTINGS = b"[Check]\r\nCheck1=0\r\n"
ZIP_FILES = ["Korvane.exe", "Update.dll", "README.txt"]
DOWNLOAD = "http://127.0.0.1/download/Korvane-{}.exe"

check = kit.Suite()


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


# ---- Signing -----------------------------------------------------------------

PASSWORD = "korvane-test"


def make_certificate(folder):
    """A throwaway self-signed code-signing certificate: (PKCS#12 file, PEM)."""
    os.makedirs(folder)
    key, pem, p12 = (os.path.join(folder, n) for n in ("key.pem", "cert.pem", "cert.p12"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Korvane test signing", "-addext",
                    "extendedKeyUsage=codeSigning", "-keyout", key, "-out", pem],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", p12,
                    "-passout", "pass:" + PASSWORD], check=True, capture_output=True)
    return p12, pem


def check_signed(what, data_or_path, certificate):
    if isinstance(data_or_path, bytes):
        with tempfile.NamedTemporaryFile(suffix=".exe", delete=False) as f:
            f.write(data_or_path)
        path = f.name
    else:
        path = data_or_path
    try:
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", path],
                                capture_output=True, text=True)
    finally:
        if path is not data_or_path:
            os.unlink(path)
    said = (result.stdout + result.stderr).strip().splitlines()
    check(result.returncode == 0, f"{what} is signed with the test certificate",
          said[-1] if said else "")


def package(args, x64, x86, out, test_installer, certificate=None):
    command = [os.path.join(HERE, "package.sh"), x64, x86, out, "--test-installer",
               test_installer]
    if certificate:
        command += ["--sign-pkcs12", certificate]
    result = subprocess.run(command, env=dict(os.environ, KORVANE_SIGN_PASSWORD=PASSWORD))
    return result.returncode == 0


def older_build(build, folder):
    """A copy of a build's two files that differ from it (an older build):
    a few bytes after the image, which the loader ignores."""
    os.makedirs(os.path.join(folder, "bin"))
    shutil.copy(os.path.join(build, "CMakeCache.txt"), folder)
    for binary in ("Korvane.exe", "Update.dll"):
        data = open(os.path.join(build, "bin", binary), "rb").read()
        with open(os.path.join(folder, "bin", binary), "wb") as f:
            f.write(data + b"older build\0")
    return folder


# ---- Release files -----------------------------------------------------------

def test_release_files(args, dist, version, certificate):
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
                check(pe_info.content_digest(data) == pe_info.content_digest(built)
                      and pe_info.machine(data) == arch,
                      f"{name}: {binary} is the {arch} build's", pe_info.machine(data))
                check_signed(f"{name}: {binary}", data, certificate)
                test_version_resource(f"{arch} {binary}", data, version)
            manifest = pe_info.manifest(z.read("Korvane.exe"))
            check(f'name="Korvane" version="{version}.0"' in manifest,
                  f"{arch} Korvane.exe: the manifest states {version}.0")
            readme = z.read("README.txt").decode("utf-8")
            check(f"Korvane {version} ({arch})" in readme and "regsvr32" in readme,
                  f"{name}: the readme names the version and the registration")

    info = pe_info.version_info(open(os.path.join(dist, setup), "rb").read())
    check(info["ProductVersion"] == version + ".0"
          and info["strings"].get("ProductVersion") == version,
          "the installer carries the version", str(info))
    check_signed("the installer", os.path.join(dist, setup), certificate)


def test_version_resource(what, data, version):
    info = pe_info.version_info(data)
    strings = info["strings"]
    check(info["FileVersion"] == info["ProductVersion"] == version + ".0"
          and strings.get("FileVersion") == strings.get("ProductVersion") == version,
          f"{what}: version resource is {version}", str(info))


# ---- Install, run, upgrade, uninstall ------------------------------------------


class Target:
    """What an install puts where, and the tools that run in the prefix."""

    def __init__(self, args):
        self.arch = args.arch
        self.build = args.x64_build if args.arch == "x64" else args.x86_build
        self.testbin = os.path.join(self.build, "testbin")
        self.client = (args.client if args.arch == "x64"
                       else os.path.join(self.testbin, "detection_client_driver.exe"))
        local_appdata = kit.shell_folder("LOCALAPPDATA")
        self.programs = kit.unix_path(local_appdata + r"\Programs")
        # The x64 run installs into a folder whose name is no short (8.3)
        # name, the x86 run into the default one.
        self.folder_windows = local_appdata + r"\Programs\Korvane"
        self.install_args = []
        if args.arch == "x64":
            self.folder_windows += "Signboard"
            self.install_args = ["/D=" + self.folder_windows]
        self.folder = kit.unix_path(self.folder_windows)
        self.exe_windows = self.folder_windows + r"\Korvane.exe"
        self.shortcut = os.path.join(kit.unix_path(kit.shell_folder("APPDATA")), "Microsoft",
                                     "Windows", "Start Menu", "Programs", "Korvane.lnk")

    def same_files(self, build):
        """True when the installed two files are `build`'s (signed or not)."""
        for binary in ("Korvane.exe", "Update.dll"):
            path = os.path.join(self.folder, binary)
            if not os.path.exists(path) or pe_info.content_digest(open(path, "rb").read()) != \
                    pe_info.content_digest(open(os.path.join(build, "bin", binary), "rb").read()):
                return False
        return True


def updates(target, account):
    result = kit.wine(target.client, "updates", account, "Korvane")
    lines = result.stdout.decode("utf-8", "replace").splitlines()
    return lines[0].rstrip("\r") if lines else f"<no output, exit {result.returncode}>"


def registered_library():
    clsid = kit.reg_values(rf"HKCR\CLSID\{CLSID}\InprocServer32") or {}
    return clsid.get("(默认)", clsid.get("(Default)", ""))


def run_value():
    return (kit.reg_values(RUN_KEY) or {}).get("Korvane")


def test_install(args, target, installer, older, version):
    check(not os.path.exists(target.programs), "a fresh prefix has no Programs folder")

    code = kit.wine(installer, "/S", *target.install_args).returncode
    kit.wait_wineserver()
    check(code == 0, "silent install succeeds", f"exit {code}")

    installed = sorted(os.listdir(target.folder)) if os.path.isdir(target.folder) else []
    check(installed == ["Korvane.exe", "Uninstall.exe", "Update.dll"],
          "the install folder holds the program, the library and the uninstaller",
          " ".join(installed))
    check(target.same_files(older), f"the files are the older {target.arch} build's")

    entry = kit.reg_values(UNINSTALL_KEY) or {}
    uninstaller = target.folder_windows + r"\Uninstall.exe"
    expected = {
        "DisplayName": "Korvane",
        "DisplayVersion": version,
        "Publisher": "Korvane",
        "DisplayIcon": target.exe_windows + ",0",
        "InstallLocation": target.folder_windows,
        "UninstallString": f'"{uninstaller}"',
        "QuietUninstallString": f'"{uninstaller}" /S',
    }
    for name, value in expected.items():
        check(entry.get(name, "").lower() == value.lower(), f"uninstall entry {name}",
              entry.get(name, "<missing>"))
    size = int(entry.get("EstimatedSize", "0"), 0)
    check(300 < size < 10000, "uninstall entry EstimatedSize is in KiB", str(size))
    check(run_value() is None, "no start at sign-in unless asked")

    link_target, workdir = (link_info(target.shortcut) if os.path.exists(target.shortcut)
                            else ("", ""))
    check(link_target.lower() == target.exe_windows.lower(),
          "the Start-menu shortcut starts the installed program", link_target)
    check(workdir.lower() == target.folder_windows.lower(),
          "the shortcut's working folder is the install folder", workdir)

    check(registered_library().lower() == (target.folder_windows + r"\Update.dll").lower(),
          "the class is registered from the install folder", registered_library())

    # The library compares against the project version.
    entries = os.path.join(args.work, "entries.json")
    newer = next_version(version)
    with open(entries, "w") as f:
        json.dump({"10001": [{"title": f"Korvane {newer}", "imgsrc": DOWNLOAD.format(newer)}],
                   "10002": [{"title": f"Korvane {version}", "imgsrc": DOWNLOAD.format(version)}]},
                  f)
    with kit.UpdateService(entries, script=args.service):
        reply = updates(target, "10001")
        check(reply == f"REPLY OK|True|{newer}|" + DOWNLOAD.format(newer),
              "Updates reports the next version as newer", reply)
        reply = updates(target, "10002")
        check(reply == f"REPLY OK|False|{version}|" + DOWNLOAD.format(version),
              "Updates compares against the project version", reply)


def test_start_as_run_key(args, target):
    """Starts the installed Korvane as the Run key does, in another working
    folder, with the class not registered; returns its process."""
    with open(os.path.join(target.folder, "test.ini"), "wb") as f:
        f.write(SETTINGS)
    kit.forget_update_library()
    elsewhere = os.path.join(args.work, "elsewhere")
    os.makedirs(elsewhere, exist_ok=True)
    process = subprocess.Popen(["wine", target.exe_windows], cwd=elsewhere,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    strip = kit.wait_for_window("Form1", timeout=60)
    check(strip is not None, "started from another folder, Korvane finds its library and "
          "shows its strip")
    if strip is None:
        return process
    time.sleep(0.5)
    x, y, w, h = kit.geometry(strip)
    kit.run("xdotool", "mousemove", str(x + w - 20), str(y + h // 2), "click", "3")
    probe = os.path.join(target.testbin, "panel_probe.exe")
    value = ""
    deadline = time.time() + 20
    while time.time() < deadline and value not in ("0", "1"):
        value = kit.run("wine", probe, "value", str(CHECK1)).stdout.strip()
        time.sleep(0.3)
    check(value == "0", "its panel reads the install folder's test.ini", value)
    wanted = (target.folder_windows + r"\Update.dll").lower()
    deadline = time.time() + 20
    while time.time() < deadline and registered_library().lower() != wanted:
        time.sleep(0.5)
    check(registered_library().lower() == wanted,
          "its panel registers the class from the install folder", registered_library())
    return process


def short_name(path):
    """The short (8.3) form of an existing folder's path, or None."""
    parent, name = path.rsplit("\\", 1)
    out = kit.wine("cmd", "/c", "dir", "/x", parent).stdout
    for line in out.decode("gbk", "replace").splitlines():
        match = re.match(r".*<DIR>\s+(\S+)\s+(\S+)\s*$", line)
        if match and match.group(2).lower() == name.lower():
            return parent + "\\" + match.group(1)
    return None


def test_upgrade(target, installer, old_process):
    folder_args = target.install_args
    if folder_args:
        short = short_name(target.folder_windows)
        took = bool(short) and short.lower() != target.folder_windows.lower() and \
            kit.unix_path(short) == target.folder
        check(took, "the upgrade is given the install folder by its short name", str(short))
        if not took:
            return
        folder_args = ["/D=" + short]
    code = kit.wine(installer, "/S", "/AUTOSTART=1", *folder_args).returncode
    check(code == 0, "silent upgrade over the running Korvane succeeds", f"exit {code}")
    try:
        old_code = old_process.wait(timeout=15)
    except subprocess.TimeoutExpired:
        old_code = None
    check(old_code == 0, "the running Korvane ended when asked, as Exit ends it",
          f"exit {old_code}")
    check(target.same_files(target.build), "the files are the new build's")
    settings = os.path.join(target.folder, "test.ini")
    check(os.path.exists(settings) and open(settings, "rb").read() == SETTINGS,
          "the upgrade keeps test.ini")
    check((run_value() or "").lower() == f'"{target.exe_windows}"'.lower(),
          "/AUTOSTART=1 writes the Run value, the quoted program path", str(run_value()))
    check(kit.wait_for_window("Form1", timeout=60) is not None,
          "the installer starts Korvane again")


def test_uninstall(target, certificate):
    check_signed("the uninstaller that the install wrote",
                 os.path.join(target.folder, "Uninstall.exe"), certificate)
    # The uninstaller copies itself to a temporary folder and returns at once;
    # Wine's processes all end once it has ended the running Korvane.
    code = kit.wine(target.folder_windows + r"\Uninstall.exe", "/S").returncode
    try:
        kit.wait_wineserver(timeout=120)
        ended = True
    except subprocess.TimeoutExpired:
        ended = False
    check(code == 0, "silent uninstall starts", f"exit {code}")
    check(ended, "the uninstaller ends the running Korvane and starts none")
    check(not os.path.exists(target.folder), "the install folder is gone, test.ini included",
          " ".join(os.listdir(target.folder)) if os.path.isdir(target.folder) else "")
    check(not os.path.exists(target.programs), "no empty Programs folder is left")
    check(not os.path.exists(target.shortcut), "the shortcut is gone")
    check(kit.reg_values(UNINSTALL_KEY) is None, "the uninstall entry is gone")
    check(run_value() is None, "the Run value is gone")
    check(kit.reg_values(r"HKCR\Quorvel.Detection") is None
          and kit.reg_values(rf"HKCR\CLSID\{CLSID}") is None, "the class registration is gone")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x64-build", required=True)
    parser.add_argument("--x86-build", required=True)
    parser.add_argument("--client", required=True, help="the 64-bit detection_client_driver.exe")
    parser.add_argument("--service", required=True, help="update_service.py")
    parser.add_argument("--work", required=True, help="scratch folder, emptied first")
    parser.add_argument("--arch", choices=("x64", "x86"), default="x64",
                        help="x86: the shipped 32-bit installer in a 32-bit prefix")
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.x86_build, "bin", "Update.dll")):
        print(f"SKIP: no 32-bit build in {args.x86_build}")
        return 77

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    p12, certificate = make_certificate(os.path.join(args.work, "certificate"))
    dist = os.path.join(args.work, "dist")
    installer = os.path.join(args.work, "Korvane-setup-amd64.exe")
    check(package(args, args.x64_build, args.x86_build, dist, installer, p12),
          "package.sh makes the signed release files")
    old = os.path.join(args.work, "older")
    old_dist = os.path.join(old, "dist")
    old_installer = os.path.join(old, "Korvane-setup-amd64.exe")
    olders = {"x64": older_build(args.x64_build, os.path.join(old, "x64")),
              "x86": older_build(args.x86_build, os.path.join(old, "x86"))}
    check(package(args, olders["x64"], olders["x86"], old_dist, old_installer),
          "package.sh makes the older build's release files")
    if check.failures:
        return 1
    cache = open(os.path.join(args.x64_build, "CMakeCache.txt")).read()
    version = re.search(r"^CMAKE_PROJECT_VERSION:\w+=(.*)$", cache, re.M).group(1)
    test_release_files(args, dist, version, certificate)
    if args.arch == "x86":
        installer = os.path.join(dist, f"Korvane-{version}-setup.exe")
        old_installer = os.path.join(old_dist, f"Korvane-{version}-setup.exe")

    # A fresh prefix of its own: the install must find nothing there before.
    os.environ["WINEPREFIX"] = os.path.join(args.work, "prefix")
    os.environ["WINEARCH"] = "win64" if args.arch == "x64" else "win32"
    subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)
    kit.wait_wineserver()
    try:
        target = Target(args)
        test_install(args, target, old_installer, olders[args.arch], version)
        running = test_start_as_run_key(args, target)
        test_upgrade(target, installer, running)
        test_uninstall(target, certificate)
    finally:
        kit.kill_wine()

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
