#!/usr/bin/env python3
"""The release files of two versions, made once for the installer tests and
checked here: the project version's builds and the same sources built again as
the next patch version (KORVANE_TEST_VERSION); package.sh packs each from its
64-bit and 32-bit build, signed with a throwaway certificate; the files, sums,
zip contents, version resources, manifest and signatures are checked. The
installer tests read release.json in the work folder; release files whose
inputs have not changed since a run that passed are not packed again."""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

import pe_info
import wine_testkit as kit

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77  # ctest's SKIP_RETURN_CODE
ZIP_FILES = ["Korvane.exe", "Update.dll", "README.txt"]
BINARIES = ZIP_FILES[:2]
PASSWORD = "korvane-test"
# What package.sh reads besides the two builds' files, and the checks.
PACKING_INPUTS = ["package.sh", "korvane.nsi", "running_program.nsh", "in_use.nsh",
                  "sign.sh", "README.txt.in",
                  os.path.join("..", "app", "startup", "korvane.ico"),
                  "release_files_test.py", "pe_info.py"]
# The cache values a build of the next version takes from the build it copies.
COPIED_CACHE = ["CMAKE_TOOLCHAIN_FILE", "CMAKE_BUILD_TYPE", "KORVANE_UPDATE_HOST",
                "KORVANE_DATE_HOST", "KORVANE_PUBLISHER_URL", "KORVANE_ACCOUNT"]

check = kit.Suite()


def sha256(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def cache_values(build):
    matches = (re.match(r"^([A-Za-z_0-9]+):[A-Z]+=(.*)$", line.rstrip("\n"))
               for line in open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8"))
    return {match.group(1): match.group(2) for match in matches if match}


def build_next(args, base, folder, version):
    """Builds Korvane.exe and Update.dll of `base` again as `version` in `folder`."""
    values = cache_values(base)
    options = [f"-D{name}={values[name]}" for name in COPIED_CACHE if values.get(name)]
    configure = subprocess.run([args.cmake, "-S", args.source, "-B", folder, "-G", "Ninja",
                                *options, f"-DKORVANE_TEST_VERSION={version}"],
                               stdout=subprocess.DEVNULL)
    if configure.returncode != 0:
        return False
    return subprocess.run([args.cmake, "--build", folder, "--target", "Korvane", "Update"],
                          stdout=subprocess.DEVNULL).returncode == 0


def inputs_stamp(builds):
    """A digest of everything that goes into the release files and their checks."""
    digest = hashlib.sha256()
    for build in builds:
        for binary in BINARIES:
            digest.update(open(os.path.join(build, "bin", binary), "rb").read())
    for name in PACKING_INPUTS:
        digest.update(open(os.path.join(HERE, name), "rb").read())
    return digest.hexdigest()


# ---- Signing -----------------------------------------------------------------


def make_certificate(folder):
    """A throwaway self-signed code-signing certificate: (PKCS#12 file, PEM)."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    key, pem, p12 = (os.path.join(folder, n) for n in ("key.pem", "cert.pem", "cert.p12"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                    "-subj", "/CN=Korvane test signing", "-addext",
                    "extendedKeyUsage=codeSigning", "-keyout", key, "-out", pem],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", p12,
                    "-passout", "pass:" + PASSWORD], check=True, capture_output=True)
    return p12, pem


def signature_problem(data_or_path, certificate):
    """None when the file (a path, or its bytes) verifies, else what osslsigncode said."""
    path = data_or_path
    if isinstance(data_or_path, bytes):
        with tempfile.NamedTemporaryFile(suffix=".exe", delete=False) as f:
            f.write(data_or_path)
        path = f.name
    try:
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", path],
                                capture_output=True, text=True)
    finally:
        if path is not data_or_path:
            os.unlink(path)
    said = (result.stdout + result.stderr).strip().splitlines()
    return None if result.returncode == 0 else (said[-1] if said else "no output")


def check_signed(suite, what, data_or_path, certificate):
    problem = signature_problem(data_or_path, certificate)
    suite(problem is None, f"{what} is signed with the test certificate", problem or "")


# ---- The release files -------------------------------------------------------


def check_version_resource(what, data, version):
    info = pe_info.version_info(data)
    strings = info["strings"]
    check(info["FileVersion"] == info["ProductVersion"] == version + ".0"
          and strings.get("FileVersion") == strings.get("ProductVersion") == version,
          f"{what}: the version resource states {version}", str(info))


def check_release_files(dist, version, builds, certificate):
    setup = f"Korvane-{version}-setup.exe"
    zips = {arch: f"Korvane-{version}-{arch}.zip" for arch in ("x64", "x86")}
    names = sorted(os.listdir(dist))
    check(names == sorted([setup, *zips.values(), "SHA256SUMS"]),
          f"{version}: dist holds the release files", " ".join(names))

    sums = {name: digest for digest, _, name in
            (line.partition("  ") for line in
             open(os.path.join(dist, "SHA256SUMS")).read().splitlines())}
    check(sorted(sums) == sorted([setup, *zips.values()]),
          f"{version}: SHA256SUMS lists the three files", " ".join(sums))
    check(all(os.path.exists(os.path.join(dist, n)) and sums[n] == sha256(os.path.join(dist, n))
              for n in sums), f"{version}: SHA256SUMS matches the files")

    for arch, name in zips.items():
        with zipfile.ZipFile(os.path.join(dist, name)) as z:
            check(sorted(z.namelist()) == sorted(ZIP_FILES),
                  f"{name} holds the two files and the readme", " ".join(z.namelist()))
            for binary in BINARIES:
                data = z.read(binary)
                built = open(os.path.join(builds[arch], "bin", binary), "rb").read()
                check(pe_info.content_digest(data) == pe_info.content_digest(built)
                      and pe_info.machine(data) == arch,
                      f"{name}: {binary} is the {arch} build's", pe_info.machine(data))
                check_signed(check, f"{name}: {binary}", data, certificate)
                check_version_resource(f"{name}: {binary}", data, version)
            manifest = pe_info.manifest(z.read("Korvane.exe"))
            check(f'name="Korvane" version="{version}.0"' in manifest,
                  f"{name}: Korvane.exe's manifest states {version}.0")
            readme = z.read("README.txt").decode("utf-8")
            check(f"Korvane {version} ({arch})" in readme and "regsvr32" in readme,
                  f"{name}: the readme names the version and the registration")

    info = pe_info.version_info(open(os.path.join(dist, setup), "rb").read())
    check(info["ProductVersion"] == version + ".0"
          and info["strings"].get("ProductVersion") == version,
          f"{setup} carries its version", str(info))
    check_signed(check, setup, os.path.join(dist, setup), certificate)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x64-build", required=True)
    parser.add_argument("--x86-build", required=True)
    parser.add_argument("--source", required=True, help="the source tree of both builds")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--work", required=True)
    parser.add_argument("--build-only", action="store_true",
                        help="only build the next version's files (the test command does"
                             " this with the other builds, so the test times only packing)")
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.x86_build, "bin", "Update.dll")):
        print(f"SKIP: no 32-bit build in {args.x86_build}")
        return SKIP
    os.makedirs(args.work, exist_ok=True)
    record = os.path.join(args.work, "release.json")

    values = cache_values(args.x64_build)
    version = values.get("KORVANE_TEST_VERSION") or values["CMAKE_PROJECT_VERSION"]
    major, minor, patch = version.split(".")
    newer = f"{major}.{minor}.{int(patch) + 1}"
    builds = {version: {"x64": os.path.abspath(args.x64_build),
                        "x86": os.path.abspath(args.x86_build)},
              newer: {arch: os.path.join(args.work, f"next-{arch}") for arch in ("x64", "x86")}}
    started = time.monotonic()
    for arch in ("x64", "x86"):
        built = build_next(args, builds[version][arch], builds[newer][arch], newer)
        check(built, f"Korvane.exe and Update.dll of the {arch} build, built again as {newer}")
        if not built:
            return check.exit_code()
    print(f"built {newer} in {time.monotonic() - started:.1f} s", flush=True)
    if args.build_only:
        return check.exit_code()

    stamp = inputs_stamp([builds[v][a] for v in (version, newer) for a in ("x64", "x86")])
    if os.path.exists(record):
        before = json.load(open(record))
        if before.get("stamp") == stamp and all(
                os.path.exists(os.path.join(before["dist"][v], f"Korvane-{v}-setup.exe"))
                for v in (version, newer)):
            print("the release files are those of the last run that passed: not packed again")
            return 0
        os.unlink(record)

    started = time.monotonic()
    p12, certificate = make_certificate(os.path.join(args.work, "certificate"))
    dists = {}
    for v in (version, newer):
        dists[v] = os.path.join(args.work, f"dist-{v}")
        shutil.rmtree(dists[v], ignore_errors=True)
        packed = subprocess.run([os.path.join(HERE, "package.sh"), builds[v]["x64"],
                                 builds[v]["x86"], dists[v], "--sign-pkcs12", p12],
                                env=dict(os.environ, KORVANE_SIGN_PASSWORD=PASSWORD))
        check(packed.returncode == 0, f"package.sh makes the signed release files of {v}")
    print(f"packed in {time.monotonic() - started:.1f} s", flush=True)
    if check.failures:
        return check.exit_code()
    for v in (version, newer):
        check_release_files(dists[v], v, builds[v], certificate)

    if not check.failures:
        with open(record, "w") as f:
            json.dump({"stamp": stamp, "version": version, "next_version": newer,
                       "builds": builds, "dist": dists, "certificate": certificate}, f, indent=1)
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
