#!/usr/bin/env python3
"""The shipped installer under Wine, one scenario in a fresh prefix of --arch
(one wineserver throughout), with the release files that
installer_release_files made (release.json in its work folder): silent
install; upgrade refused while Korvane.exe is held open without sharing (as
Windows holds the image of an elevated copy); the installed Korvane started as
the Run key starts it; upgrade with /AUTOSTART=1 over the running, read-only
Korvane.exe held open by a program that shares everything (as a virus scanner
does), given the install folder's short name on x64; reinstall with
/AUTOSTART=0; uninstall refused while Update.dll is held; uninstall. The builds
talk to 127.0.0.1:PORT for both hosts."""

import argparse
import contextlib
import json
import os
import re
import struct
import subprocess
import sys

import pe_info
import release_files_test as release
import wine_testkit as kit

CLSID = kit.DETECTION_CLSID
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
CLASS_KEY = rf"HKCR\CLSID\{CLSID}\InprocServer32"
CHECK1 = 110  # the panel's "有新版本提示" box
SETTINGS = b"[Check]\r\nCheck1=0\r\n"
DOWNLOAD = "http://127.0.0.1/download/Korvane-{}.exe"
REFUSED = 2  # the installer's exit code when a file to be replaced is in use

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
            target = data[pos + base_offset:end].decode("gbk")
        pos += size
    strings = {}
    width, encoding = (2, "utf-16-le") if flags & 0x80 else (1, "gbk")
    for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "workdir"),
                      (0x20, "arguments"), (0x40, "icon")):
        if flags & bit:
            end = pos + 2 + struct.unpack_from("<H", data, pos)[0] * width
            strings[name] = data[pos + 2:end].decode(encoding).rstrip("\0")
            pos = end
    return target, strings.get("workdir", "")


# ---- The prefix: its registry, its processes ---------------------------------

def programs():
    """{pid: (program path, lower-case file name)} of the prefix's Windows programs."""
    return {pid: (command.split(" ")[0], re.split(r"[\\/]", command.split(" ")[0])[-1].lower())
            for pid, command in kit.prefix_programs().items()}


def processes(name):
    """Pids of the prefix's processes that run a program called `name`."""
    return [pid for pid, (_, base) in programs().items() if base == name.lower()]


def others():
    """{pid: program} of the prefix's processes other than Korvane and Wine's own."""
    return {pid: path for pid, (path, base) in programs().items()
            if not path.lower().startswith("c:\\windows\\") and base != "korvane.exe"}


def start_prefix(work, arch):
    """A fresh prefix, served by one wineserver that stays up until kit.kill_wine."""
    prefix = os.path.join(work, "prefix")
    os.makedirs(prefix)
    os.environ["WINEPREFIX"] = prefix
    os.environ["WINEARCH"] = "win64" if arch == "x64" else "win32"
    subprocess.run(["wineserver", "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)


# ---- What an install puts where ----------------------------------------------


class Target:
    """The two versions' installers and builds of the prefix's architecture,
    and what an install puts where."""

    def __init__(self, args, manifest):
        self.arch, self.testbin = args.arch, args.testbin
        self.version, self.next_version = manifest["version"], manifest["next_version"]
        self.builds = {v: manifest["builds"][v][args.arch] for v in (self.version,
                                                                     self.next_version)}
        self.installers = {v: os.path.join(manifest["dist"][v], f"Korvane-{v}-setup.exe")
                           for v in self.builds}
        self.certificate = manifest["certificate"]
        self.view = "64" if args.arch == "x64" else None
        local_appdata = kit.shell_folder("LOCALAPPDATA")
        self.programs = kit.unix_path(local_appdata + r"\Programs")
        # The x64 run installs into a folder whose name is no short (8.3)
        # name, the x86 run into the default one.
        self.folder_windows = local_appdata + r"\Programs\Korvane" + (
            "Signboard" if args.arch == "x64" else "")
        self.install_args = ["/D=" + self.folder_windows] if args.arch == "x64" else []
        self.folder = kit.unix_path(self.folder_windows)
        self.exe_windows = self.folder_windows + r"\Korvane.exe"
        self.shortcut = os.path.join(kit.unix_path(kit.shell_folder("APPDATA")), "Microsoft",
                                     "Windows", "Start Menu", "Programs", "Korvane.lnk")

    def install(self, version, *options):
        return kit.wine(self.installers[version], "/S", *options).returncode

    def installed(self):
        """{file name: content} of the install folder."""
        return {name: open(os.path.join(self.folder, name), "rb").read()
                for name in (os.listdir(self.folder) if os.path.isdir(self.folder) else [])}

    def holds_build(self, version):
        """True when the installed two files are that version's build of the
        prefix's architecture (signed, so compared without the signature)."""
        files = self.installed()
        for binary in release.BINARIES:
            built = open(os.path.join(self.builds[version], "bin", binary), "rb").read()
            if binary not in files or pe_info.machine(files[binary]) != self.arch or \
                    pe_info.content_digest(files[binary]) != pe_info.content_digest(built):
                return False
        return True

    def registered_library(self):
        values = kit.reg_values(CLASS_KEY, self.view) or {}
        return values.get("(默认)", values.get("(Default)", ""))

    def run_value(self):
        return (kit.reg_values(RUN_KEY, self.view) or {}).get("Korvane")

    def entry(self):
        return kit.reg_values(UNINSTALL_KEY, self.view)

    def updates(self):
        """Updates' reply for account 10001, through the class as registered."""
        client = os.path.join(self.testbin, "detection_client_driver.exe")
        result = kit.wine(client, "updates", "10001", "Korvane")
        lines = result.stdout.decode("utf-8", "replace").splitlines()
        return lines[0].rstrip("\r") if lines else f"<no output, exit {result.returncode}>"


def strip_shown(before=(), timeout=60):
    """(pid, window) of a Korvane of this prefix not in `before` once its strip
    "Form1" is shown, or None; windows of other prefixes on the display do not count."""

    def shown():
        for pid in processes("Korvane.exe"):
            if pid not in before:
                found = kit.run("xdotool", "search", "--all", "--pid", str(pid), "--name",
                                "^Form1$").stdout.split()
                if found:
                    return pid, found[0]
        return None

    return kit.wait_until(shown, timeout, interval=0.3)


def check_version_resources(target, version):
    files = target.installed()
    for binary in release.BINARIES:
        info = pe_info.version_info(files[binary]) if binary in files else {}
        check(info.get("FileVersion") == version + ".0"
              and info["strings"].get("ProductVersion") == version,
              f"the installed {binary} states {version}", str(info))


# ---- The scenario ------------------------------------------------------------


def test_install(target, service_reply):
    check(not os.path.exists(target.programs), "a fresh prefix has no Programs folder")
    code = target.install(target.version, *target.install_args)
    check(code == 0, f"a silent install of {target.version} succeeds", f"exit {code}")

    names = sorted(target.installed())
    check(names == ["Korvane.exe", "Uninstall.exe", "Update.dll"],
          "the install folder holds the program, the library and the uninstaller",
          " ".join(names))
    check(target.holds_build(target.version),
          f"the files are the {target.arch} build of {target.version}")
    check_version_resources(target, target.version)

    entry = target.entry() or {}
    uninstaller = target.folder_windows + r"\Uninstall.exe"
    for name, value in {"DisplayName": "Korvane", "DisplayVersion": target.version,
                        "Publisher": "Korvane", "DisplayIcon": target.exe_windows + ",0",
                        "InstallLocation": target.folder_windows,
                        "UninstallString": f'"{uninstaller}"',
                        "QuietUninstallString": f'"{uninstaller}" /S'}.items():
        check(entry.get(name, "").lower() == value.lower(), f"uninstall entry {name}",
              entry.get(name, "<missing>"))
    size = int(entry.get("EstimatedSize", "0"), 0)
    check(300 < size < 10000, "uninstall entry EstimatedSize is in KiB", str(size))
    check(target.run_value() is None, "no start at sign-in unless asked")

    link_target, workdir = (link_info(target.shortcut) if os.path.exists(target.shortcut)
                            else ("", ""))
    check(link_target.lower() == target.exe_windows.lower(),
          "the Start-menu shortcut starts the installed program", link_target)
    check(workdir.lower() == target.folder_windows.lower(),
          "the shortcut's working folder is the install folder", workdir)

    library = (target.folder_windows + r"\Update.dll").lower()
    check(target.registered_library().lower() == library,
          "the class is registered from the install folder"
          + (" in the 64-bit registry view" if target.view else ""), target.registered_library())
    if target.view:
        # Each view is read where asked: the two differ in ProgramFilesDir.
        key = r"HKLM\Software\Microsoft\Windows\CurrentVersion"
        folders = [(kit.reg_values(key, view) or {}).get("ProgramFilesDir")
                   for view in ("64", "32")]
        check(folders[0] and folders[1] and folders[0] != folders[1],
              "the registry's 64-bit and 32-bit views are read apart", str(folders))
        wow = kit.reg_values(CLASS_KEY, "32")
        check(wow is None, "the 32-bit registry view holds no registration of the class", str(wow))
    check(service_reply() == f"REPLY OK|True|{target.next_version}|"
          + DOWNLOAD.format(target.next_version),
          f"Updates offers {target.next_version}", service_reply.last)


def installed_state(target):
    return {"files": target.installed(), "entry": target.entry(), "run": target.run_value(),
            "library": target.registered_library(), "shortcut": os.path.exists(target.shortcut)}


@contextlib.contextmanager
def held(target, name, *options):
    """file_holder `options` holds the installed file `name` open in the block; yields whether."""
    holder = kit.spawn(os.path.join(target.testbin, "file_holder.exe"), *options,
                       kit.wine_path(os.path.join(target.folder, name)))
    try:
        said = holder.stdout.readline().decode("utf-8", "replace").strip()
        check(said == "held", f"another program holds {name} open "
              + ("sharing everything" if options else "without sharing"), said)
        yield said == "held"
    finally:
        holder.stdin.close()
        holder.wait(timeout=30)


def while_held(target, name, run, what):
    """run() while another program holds the installed file `name` open without
    sharing; checks that it changed nothing an install puts in place. Returns
    what run() returned, or None when the file could not be held."""
    before = installed_state(target)
    with held(target, name) as holding:
        result = run() if holding else None
    if result is None:
        return None
    after = installed_state(target)
    changed = [n for n in sorted(set(before["files"]) | set(after["files"]))
               if before["files"].get(n) != after["files"].get(n)]
    check(not changed, f"the refused {what} changes no installed file", " ".join(changed))
    changed = [key for key in ("entry", "run", "library", "shortcut") if before[key] != after[key]]
    check(not changed, f"the refused {what} leaves the uninstall entry, the Run value, the "
          "registration and the shortcut", " ".join(f"{key}: {after[key]}" for key in changed))
    return result


def test_upgrade_refused(target):
    code = while_held(target, "Korvane.exe", lambda: target.install(
        target.next_version, "/AUTOSTART=1", *target.install_args), "upgrade")
    check(code == REFUSED, "a silent upgrade while a file is held open exits with code 2",
          f"exit {code}")


def run_uninstaller(target):
    """Runs the installed uninstaller silently; its stub's exit code. The stub
    starts a copy of itself and returns at once: done when every process but
    Wine's own, Korvane and those that ran before has ended."""
    before = set(others())
    code = kit.wine(target.folder_windows + r"\Uninstall.exe", "/S").returncode
    ended = kit.wait_until(lambda: set(others()) <= before, 120)
    check(ended, "the uninstaller has ended", " ".join(others().values()))
    return code


def test_uninstall_refused(target):
    running = processes("Korvane.exe")
    while_held(target, "Update.dll", lambda: run_uninstaller(target), "uninstall")
    check(not any(pid in processes("Korvane.exe") for pid in running)
          and strip_shown(running) is not None,
          "the refused uninstall ends the running Korvane and starts it again")


def test_start_as_run_key(work, target):
    """Starts the installed Korvane as the Run key does (another working folder,
    class not registered); returns its process."""
    kit.write_file(os.path.join(target.folder, "test.ini"), SETTINGS)
    kit.forget_update_library()
    elsewhere = os.path.join(work, "elsewhere")
    os.makedirs(elsewhere, exist_ok=True)
    process = subprocess.Popen(["wine", target.exe_windows], cwd=elsewhere,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shown = strip_shown()
    check(shown is not None, "started from another folder, Korvane finds its library and "
          "shows its strip")
    if shown is None:
        return process
    # The strip is placed once shown.
    kit.settled_geometry(shown[1], timeout=10)
    kit.right_click_strip(shown[1])
    probe = os.path.join(target.testbin, "panel_probe.exe")

    def check1():
        value = kit.run("wine", probe, "value", str(CHECK1)).stdout.strip()
        return value if value in ("0", "1") else ""

    value = kit.wait_until(check1, 30)
    check(value == "0", "its panel reads the install folder's test.ini", str(value))
    wanted = (target.folder_windows + r"\Update.dll").lower()
    check(kit.wait_until(lambda: target.registered_library().lower() == wanted, 30, interval=0.5),
          "its panel registers the class from the install folder", target.registered_library())
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


def test_upgrade(target, old_process, service_reply):
    folder_args = target.install_args
    if folder_args:
        short = short_name(target.folder_windows)
        took = bool(short) and short.lower() != target.folder_windows.lower() and \
            kit.unix_path(short) == target.folder
        check(took, "the upgrade is given the install folder by its short name", str(short))
        if not took:
            return
        folder_args = ["/D=" + short]
    running = processes("Korvane.exe")
    exe = os.path.join(target.folder, "Korvane.exe")
    os.chmod(exe, 0o444)  # read-only to Wine, which still writes it when run by root
    if os.access(exe, os.W_OK):
        print("note: as root, Wine writes read-only files: the read-only case shows nothing")
    with held(target, "Korvane.exe", "--share-all"):
        code = target.install(target.next_version, "/AUTOSTART=1", *folder_args)
    check(code == 0, f"a silent upgrade to {target.next_version} over the running, read-only "
          "Korvane.exe, held open by a program that shares everything, succeeds", f"exit {code}")
    with contextlib.suppress(subprocess.TimeoutExpired):
        old_process.wait(timeout=15)
    old_code = old_process.returncode
    check(old_code == 0, "the running Korvane ended when asked, as Exit ends it",
          f"exit {old_code}")
    check(target.holds_build(target.next_version),
          f"the files are the {target.arch} build of {target.next_version}")
    check_version_resources(target, target.next_version)
    check((target.entry() or {}).get("DisplayVersion") == target.next_version,
          f"the uninstall entry states {target.next_version}")
    check(kit.read_file(os.path.join(target.folder, "test.ini")) == SETTINGS,
          "the upgrade keeps test.ini")
    check((target.run_value() or "").lower() == f'"{target.exe_windows}"'.lower(),
          "/AUTOSTART=1 writes the Run value, the quoted program path", str(target.run_value()))
    check(strip_shown(running) is not None, "the installer starts Korvane again")
    check(service_reply() == f"REPLY OK|False|{target.next_version}|"
          + DOWNLOAD.format(target.next_version),
          f"Updates no longer offers {target.next_version}", service_reply.last)


def test_autostart_off(target):
    running = processes("Korvane.exe")
    code = target.install(target.next_version, "/AUTOSTART=0", *target.install_args)
    check(code == 0, "a silent reinstall with /AUTOSTART=0 succeeds", f"exit {code}")
    run_key = kit.reg_values(RUN_KEY, target.view)
    check(run_key is not None and "Korvane" not in run_key, "/AUTOSTART=0 removes the Run value",
          str(run_key))
    check(not any(pid in processes("Korvane.exe") for pid in running)
          and strip_shown(running) is not None,
          "the reinstall ends the running Korvane and starts it again")


def test_uninstall(target):
    release.check_signed(check, "the uninstaller that the install wrote",
                         os.path.join(target.folder, "Uninstall.exe"), target.certificate)
    code = run_uninstaller(target)
    check(code == 0, "a silent uninstall starts", f"exit {code}")
    check(not processes("Korvane.exe"), "the uninstaller ends the running Korvane and starts "
          "none", str(processes("Korvane.exe")))
    check(not os.path.exists(target.folder), "the install folder is gone, test.ini included",
          " ".join(os.listdir(target.folder)) if os.path.isdir(target.folder) else "")
    check(not os.path.exists(target.programs), "no empty Programs folder is left")
    check(not os.path.exists(target.shortcut), "the shortcut is gone")
    check(target.entry() is None, "the uninstall entry is gone")
    run_key = kit.reg_values(RUN_KEY, target.view)
    check(run_key is not None and "Korvane" not in run_key, "the Run value is gone", str(run_key))
    check(kit.reg_values(r"HKCR\Quorvel.Detection", target.view) is None
          and kit.reg_values(rf"HKCR\CLSID\{CLSID}", target.view) is None,
          "the class registration is gone")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=("x64", "x86"), default="x64")
    for name, meaning in (("--release", "the work folder of installer_release_files"),
                          ("--testbin", "the test tools of the prefix's architecture"),
                          ("--service", "update_service.py"),
                          ("--work", "scratch folder, emptied first")):
        parser.add_argument(name, required=True, help=meaning)
    args = parser.parse_args()
    record = os.path.join(args.release, "release.json")
    if not os.path.exists(record):
        print(f"SKIP: no release files in {args.release} (installer_release_files skipped)")
        return release.SKIP
    manifest = json.load(open(record))
    # The installer is a 32-bit program, as Windows x64 runs it: Wine needs
    # its 32-bit half, whichever files it installs.
    wine32 = subprocess.run([os.path.join(os.environ["KORVANE_ROOT"], "scripts", "setup.sh"),
                             "--wine32"], stdout=subprocess.PIPE, text=True)
    if wine32.returncode != 0:
        print(f"SKIP: the installer is a 32-bit program, and {wine32.stdout.strip()}")
        return release.SKIP

    subprocess.run(["rm", "-rf", args.work], check=True)
    os.makedirs(args.work)
    offered = manifest["next_version"]
    service = kit.UpdateService(os.path.join(args.work, "entries.json"), script=args.service)
    service.offer("10001", [{"title": f"Korvane {offered}", "imgsrc": DOWNLOAD.format(offered)}])

    start_prefix(args.work, args.arch)
    try:
        target = Target(args, manifest)

        def service_reply():
            service_reply.last = target.updates()
            return service_reply.last

        with service:
            test_install(target, service_reply)
            test_upgrade_refused(target)
            running = test_start_as_run_key(args.work, target)
            test_upgrade(target, running, service_reply)
        test_autostart_off(target)
        test_uninstall_refused(target)
        test_uninstall(target)
    finally:
        kit.kill_wine()
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
