"""What Korvane runs and loads when the panel loads: never a regsvr32.exe or
an Update.dll of its own or the current folder by name, and never another
copy of the library that the class happens to be registered to.

Usage: safe_folder_wine_test.py ACCOUNT   (run through wine-env.sh)
"""

import os
import shutil
import sys
import tempfile

import wine_testkit as kit

ACCOUNT = sys.argv[1]
NOTICE = "新版本提示"
CLSID_KEY = "\\CLSID\\" + kit.DETECTION_CLSID


def plant(folder, decoy=False):
    """A regsvr32.exe that logs its arguments to opened-urls.txt, or a
    stranger's Update.dll that leaves Update.dll.loaded when loaded."""
    shutil.copy(os.path.join(kit.TEST_BIN_DIR, "decoy_update.dll" if decoy else "url_logger.exe"),
                os.path.join(folder, "Update.dll" if decoy else "regsvr32.exe"))


def program_folder():
    """Korvane.exe, its Update.dll, Check1 = 1, and a planted regsvr32.exe."""
    folder = kit.make_case_folder(library="Update.dll", settings=True)
    plant(folder)
    return folder


def open_panel(folder, cwd=None):
    """Starts Korvane of `folder` in `cwd` and right-clicks its strip."""
    _, strip = kit.start_korvane(folder, cwd)
    x, y, w, h = kit.settled_geometry(strip)
    kit.right_click_strip(strip)


def registered_server():
    found = kit.reg_value("HKCR" + CLSID_KEY + "\\InprocServer32")
    return found[1] if found else None


def traces(*folders):
    """Files left by a planted program or a decoy library."""
    names = ("opened-urls.txt", "Update.dll.loaded", "Update.dll.registered")
    return [os.path.join(f, n) for f in folders for n in names
            if os.path.exists(os.path.join(f, n))]


def check_started_from_another_folder():
    kit.forget_update_library()
    program = program_folder()
    elsewhere = tempfile.mkdtemp(prefix="korvane-cwd-")
    plant(elsewhere)
    plant(elsewhere, decoy=True)
    with kit.offering(elsewhere, ACCOUNT):
        open_panel(program, cwd=elsewhere)
        own = kit.wine_path(os.path.join(program, "Update.dll")).lower()
        kit.wait_for(lambda: (registered_server() or "").lower(), lambda found: found == own,
                     "the class registered to %r" % own, pause=1)
        kit.wait_for_window(NOTICE)
    left = traces(program, elsewhere)
    kit.require(not left, "planted files were run or loaded: %s" % left)


def check_registered_to_another_copy(beside):
    """The class registered to another copy: the check uses the library
    beside the program; when that one fails to load or offers no class, the
    program does not hand over to the other copy either."""
    kit.forget_update_library()
    program = program_folder()
    if beside == "offers no class":
        plant(program, decoy=True)
    elif beside == "is not a library":
        kit.write_file(os.path.join(program, "Update.dll"), b"MZ not a library")
    older = tempfile.mkdtemp(prefix="korvane-older-")
    plant(older, decoy=True)
    # Machine-wide (Wine's HKCR) and per user (which Windows puts first).
    for classes in (r"HKLM\Software\Classes", r"HKCU\Software\Classes"):
        for key, value in ((r"\Quorvel.Detection\CLSID", kit.DETECTION_CLSID),
                           (CLSID_KEY + r"\InprocServer32",
                            kit.wine_path(os.path.join(older, "Update.dll")))):
            kit.reg_set(classes + key, None, value)
    try:
        with kit.offering(older, ACCOUNT):
            open_panel(program)
            # The notice comes from the library beside the program, which
            # knows its version is older than 1.0.1; without one, the panel
            # shows once its load has ended.
            if beside == "Update.dll":
                kit.wait_for_window(NOTICE)
            kit.probe_reads("1", "the panel to show once its load has ended", "visible")
        kit.require(not traces(older), "the other copy was loaded: %s" % traces(older))
    finally:
        kit.kill_wine()
        kit.forget_update_library()


def main():
    kit.kill_wine()
    suite = kit.Suite()
    suite.run("started from another folder: no planted regsvr32.exe runs, the folder's "
              "Update.dll is never loaded, the class is registered to the program's library",
              check_started_from_another_folder)
    for beside, outcome in (("Update.dll", "the check uses the library beside the program"),
                            ("is not a library", "no hand-over to the other copy"),
                            ("offers no class", "no hand-over to the other copy")):
        suite.run("class registered to another copy, beside the program %s: %s"
                  % (beside, outcome), lambda: check_registered_to_another_copy(beside))
    return suite.exit_code()


if __name__ == "__main__":
    sys.exit(main())
