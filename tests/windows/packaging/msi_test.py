"""The installers under Wine's msiexec, in a Wine prefix of their own that
scripts/test makes (KT_MSI_PREFIX), so that what they write is all there is.

    msi_test.py PerMachine|PerUser|Upgrades --packages DIR --test-packages DIR --host64 EXE --host32 EXE --script VBS

Every case ends with the product removed by its product code and checks that
no file and no key of ours is left. With KT_NO_32BIT set (a machine that runs
no 32-bit program) what needs a 32-bit process is left out: the 32-bit hosts
and the x86 DLL's own registration.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import unittest

WINE64 = "/usr/lib/wine/wine64"  # Wine's own 64-bit programs; "wine" starts the 32-bit ones
CLASS_ID = "{62421492-2386-4152-96D0-A9FCB3EB0397}"
INTERFACE = "Interface\\{84DD5F37-3A68-418F-B259-591D3E69657F}"
OUR_CLASSES_KEYS = ["CLSID\\" + CLASS_ID, "Wow6432Node\\CLSID\\" + CLASS_ID, INTERFACE, "Wow6432Node\\" + INTERFACE,
                    "TypeLib\\{C9D1D568-3049-47E8-9A53-874DE69E9D0D}", "KT_EMailer.cEmail"]
PRODUCT = "Ardwyn E-Mailer"
INSTALLER_FAILED = 1603 % 256  # Wine's msiexec exit codes come back as 8 bits
SCRIPT_HOST_64, SCRIPT_HOST_32 = [WINE64, "cscript.exe"], ["wine", "C:/windows/syswow64/cscript.exe"]
HKLM, HKCU = "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"
PROFILES = HKLM + "\\Software\\Veltrano\\Ardwyn\\KT_EMailer\\OAuth"
RUNS_32BIT = os.environ.get("KT_NO_32BIT", "0") == "0"
ARGS = None


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, errors="replace", **kwargs)


def msiexec(*args):
    return run([WINE64, "msiexec", *args, "/qn"]).returncode


def registry_tree(key, view=64):
    """Values below a key as {"subkey@name": data} and {"subkey": "<key>"}."""
    tree, current = {}, None
    for line in run([WINE64, "reg", "query", key, "/s", "/reg:%d" % view]).stdout.splitlines():
        if line.upper().startswith(key.upper()):
            current = line[len(key):].lstrip("\\")
            tree[current] = "<key>"
        elif current is not None and line.startswith("    "):
            name, _, data = (line.strip().split("    ", 2) + ["", ""])[:3]
            tree[current + "@" + ("" if name == "(Default)" else name)] = data
    return tree


def our_keys(hive):
    """Everything of ours below the hive's Software\\Classes, in both views."""
    return {(key + "\\" + k).rstrip("\\"): v for key in OUR_CLASSES_KEYS
            for k, v in registry_tree(hive + "\\Software\\Classes\\" + key).items()}


def installed_products():
    """(product code, version) of each installed-programs entry of ours, both views."""
    found = set()
    for view in (64, 32):
        tree = registry_tree(HKLM + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", view)
        found |= {(key, tree.get(key + "@DisplayVersion")) for key in tree if tree.get(key + "@DisplayName") == PRODUCT}
    return sorted(found)


def product_code(msi):
    return re.search(r"^ProductCode\t(\S+)", run(["msiinfo", "export", msi, "Property"]).stdout, re.M).group(1)


def package(name):
    """One of the build's packages, or of this test's own (an older version, another build)."""
    return os.path.join(ARGS.packages if name.count("-") == 1 else ARGS.test_packages, name)


def drive_c(*parts):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *parts)


def c_path(path):
    """The Windows name of a path below the prefix's drive C."""
    return "C:\\" + os.path.relpath(path, drive_c()).replace("/", "\\")


def user_programs(*parts):
    return os.path.join(glob.glob(drive_c("users", "*", "AppData", "Local", "Programs"))[0], PRODUCT, *parts)


class InstallerCase(unittest.TestCase):
    def install(self, msi, *properties):
        self.assertEqual(msiexec("/i", "Z:" + msi.replace("/", "\\"), *properties), 0, "installing " + msi)
        self.addCleanup(msiexec, "/x", product_code(msi))  # when the test fails before removing it

    def remove_and_expect_nothing_left(self, msi, install_folder):
        self.assertEqual(msiexec("/x", product_code(msi)), 0)
        self.assertFalse(os.path.exists(install_folder), "left behind: " + install_folder)
        self.assertEqual((our_keys(HKLM), our_keys(HKCU), installed_products()), ({}, {}, []))
        self.assertEqual((registry_tree(PROFILES, 64), registry_tree(PROFILES, 32)), ({}, {}))

    def assert_served_by(self, dll, host, script_host):
        """A host program and the script host of one architecture get the
        object by its ProgID from that DLL, and SendEMail opens the window."""
        script = "Z:" + ARGS.script.replace("/", "\\")
        for command, done in ((["wine", host, "--check"], None), (script_host + ["//nologo", script], "DONE fails=0")):
            out = run(command, env=dict(os.environ, WINEDEBUG="+loaddll"))
            self.assertEqual(out.returncode, 0, command)
            if done:
                self.assertIn(done, out.stdout)
            loaded = re.findall(r'Loaded L"([^"]*KT_EMailer\.dll)"', out.stderr, re.I)
            self.assertEqual({path.replace("\\\\", "\\").lower() for path in loaded}, {c_path(dll).lower()})

    def assert_own_registrations_match(self, hive, dlls, *scope):
        """The x64 and x86 DLLs' own registration (regsvr32 [scope]) against the
        package's rows: removing one takes exactly its own keys, the other's and
        the shared ones staying; registering it again writes the rows value for
        value; removing both leaves nothing."""
        rows = our_keys(hive)
        own = [lambda key: key.startswith(("CLSID", "Interface")) or "win64" in key,
               lambda key: key.startswith("Wow6432Node") or "win32" in key]
        if not RUNS_32BIT:  # regsvr32 loads the x86 DLL in a 32-bit process
            dlls, own = dlls[:1], own[:1]

        def regsvr32(dll, loader, *options):
            done = run([loader, "regsvr32", "/s", *options, *scope, c_path(dll)])
            self.assertEqual(done.returncode, 0, (options, done.stdout[-2000:], done.stderr[-2000:]))
        for (dll, loader), is_own in zip(dlls, own):
            regsvr32(dll, loader, "/u")
            self.assertEqual(our_keys(hive), {key: value for key, value in rows.items() if not is_own(key)})
            regsvr32(dll, loader)
            self.assertEqual(our_keys(hive), rows)
        for dll in dlls:
            regsvr32(*dll, "/u")
        # The shared keys go with the last DLL; without a 32-bit process the x86 one stays registered.
        self.assertEqual(our_keys(hive), {} if RUNS_32BIT else
                         {key: value for key, value in rows.items() if not own[0](key)})


class PerMachine(InstallerCase):
    def test_x64_package_serves_each_architecture_from_its_own_dll_registered_as_the_dll_would(self):
        self.install(package("KT_EMailer-x64.msi"), "ALLUSERS=1", "OAUTHMICROSOFTCLIENTID=ms-app",
                     "OAUTHGOOGLECLIENTID=google-app")
        # The providers' client IDs given, in each DLL's view; the secret not given, not written.
        for view in (64, 32):
            self.assertEqual({k: v for k, v in registry_tree(PROFILES, view).items() if "@" in k},
                             {"smtp.office365.com@ClientId": "ms-app", "smtp-mail.outlook.com@ClientId": "ms-app",
                              "smtp.gmail.com@ClientId": "google-app"})
        folder = drive_c("Program Files", PRODUCT)
        dlls = [(os.path.join(folder, arch, "KT_EMailer.dll"), loader) for arch, loader in (("x64", WINE64), ("x86", "wine"))]
        self.assert_served_by(dlls[0][0], ARGS.host64, SCRIPT_HOST_64)
        if RUNS_32BIT:
            self.assert_served_by(dlls[1][0], ARGS.host32, SCRIPT_HOST_32)
        self.assertEqual(our_keys(HKCU), {})
        self.assert_own_registrations_match(HKLM, dlls)
        self.remove_and_expect_nothing_left(package("KT_EMailer-x64.msi"), folder)

    def test_x86_package_serves_32_bit_hosts(self):
        self.install(package("KT_EMailer-x86.msi"), "ALLUSERS=1")
        folder = drive_c("Program Files (x86)", PRODUCT)
        dll = os.path.join(folder, "x86", "KT_EMailer.dll")
        self.assertTrue(os.path.isfile(dll))
        if RUNS_32BIT:
            self.assert_served_by(dll, ARGS.host32, SCRIPT_HOST_32)
        self.remove_and_expect_nothing_left(package("KT_EMailer-x86.msi"), folder)


# Wine 8 cannot activate per-user registrations (its HKEY_CLASSES_ROOT is
# HKLM\Software\Classes alone): here the files and keys; PerMachine proves
# activation. Both packages write the same rows and folders, in the hive and
# the view that ALLUSERS and their architecture choose.
class PerUser(InstallerCase):
    def test_x64_package_writes_what_the_dlls_own_per_user_registration_writes(self):
        self.install(package("KT_EMailer-x64.msi"))
        dlls = [(user_programs("x64", "KT_EMailer.dll"), WINE64), (user_programs("x86", "KT_EMailer.dll"), "wine")]
        self.assertTrue(all(os.path.isfile(dll) for dll, _ in dlls))
        self.assertFalse(os.path.exists(drive_c("Program Files", PRODUCT)))
        self.assertEqual(our_keys(HKLM), {})
        self.assert_own_registrations_match(HKCU, dlls, "/n", "/i:user")
        self.remove_and_expect_nothing_left(package("KT_EMailer-x64.msi"), user_programs())


class Upgrades(InstallerCase):
    def test_newer_replaces_older_and_equal_and_older_is_refused(self):
        current, older = package("KT_EMailer-x64.msi"), package("KT_EMailer-x64-older.msi")
        rebuild = package("KT_EMailer-x64-rebuild.msi")  # another build, same version
        self.install(older, "ALLUSERS=1")
        [(_, older_version)] = installed_products()
        self.install(current, "ALLUSERS=1")
        [(code, version)] = installed_products()
        self.assertEqual(code, product_code(current))
        self.assertNotEqual(version, older_version)
        self.install(rebuild, "ALLUSERS=1")
        self.assertEqual(installed_products(), [(product_code(rebuild), version)])
        for arch in ("x64", "x86"):
            self.assertTrue(os.path.isfile(drive_c("Program Files", PRODUCT, arch, "Ardwyn.chm")))
        self.assertEqual(msiexec("/i", "Z:" + older.replace("/", "\\"), "ALLUSERS=1") % 256, INSTALLER_FAILED)
        self.assertEqual(installed_products(), [(product_code(rebuild), version)])
        self.remove_and_expect_nothing_left(rebuild, drive_c("Program Files", PRODUCT))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("case")
    for option in ("--packages", "--test-packages", "--host64", "--host32", "--script"):
        parser.add_argument(option, required=True)
    ARGS = parser.parse_args()
    if "KT_MSI_PREFIX" not in os.environ:
        sys.exit("KT_MSI_PREFIX is not set: scripts/test makes the Wine prefix for these tests")
    os.environ.update(WINEPREFIX=os.environ["KT_MSI_PREFIX"], WINEDEBUG="-all")
    unittest.main(argv=[sys.argv[0], ARGS.case], verbosity=2)
