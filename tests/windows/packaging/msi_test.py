"""The installers under Wine's msiexec, in a Wine prefix of their own that
scripts/test makes (KT_MSI_PREFIX), so that what they write is all there is.

    msi_test.py PerMachine|PerUser|Upgrades --packages DIR --test-packages DIR --host64 EXE --host32 EXE --script VBS

Every case ends with the product removed by its product code and checks that
no file and no key of ours is left.
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
OUR_CLASSES_KEYS = ["CLSID\\" + CLASS_ID, "Wow6432Node\\CLSID\\" + CLASS_ID,
                    "Interface\\{84DD5F37-3A68-418F-B259-591D3E69657F}",
                    "Wow6432Node\\Interface\\{84DD5F37-3A68-418F-B259-591D3E69657F}",
                    "TypeLib\\{C9D1D568-3049-47E8-9A53-874DE69E9D0D}", "KT_EMailer.cEmail"]
PRODUCT = "Ardwyn E-Mailer"
INSTALLER_FAILED = 1603 % 256  # Wine's msiexec exit codes come back as 8 bits
ARGS = None


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace",
                          **kwargs)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def msiexec(*args):
    return run([WINE64, "msiexec", *args, "/qn"]).returncode


def registry_tree(key, view):
    """Values below a key as {"subkey@name": data} and {"subkey": "<key>"}."""
    out = run([WINE64, "reg", "query", key, "/s", "/reg:%d" % view]).stdout
    tree, current = {}, None
    for line in out.splitlines():
        if line.upper().startswith(key.upper()):
            current = line[len(key):].lstrip("\\")
            tree[current] = "<key>"
        elif current is not None and line.startswith("    "):
            name, _, data = (line.strip().split("    ", 2) + ["", ""])[:3]
            tree[current + "@" + ("" if name == "(Default)" else name)] = data
    return tree


def our_keys(hive):
    """Everything of ours below the hive's Software\\Classes, in both views."""
    tree = {}
    for key in OUR_CLASSES_KEYS:
        tree.update({key + "\\" + k if k else key: v
                     for k, v in registry_tree(hive + "\\Software\\Classes\\" + key, 64).items()})
    return tree


def installed_products():
    """(product code, version) of each installed-programs entry of ours, both views."""
    found = set()
    for view in (64, 32):
        tree = registry_tree("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", view)
        found |= {(key, tree.get(key + "@DisplayVersion")) for key in tree
                  if "@" not in key and tree.get(key + "@DisplayName") == PRODUCT}
    return sorted(found)


def product_code(msi):
    properties = run(["msiinfo", "export", msi, "Property"]).stdout
    return re.search(r"^ProductCode\t(\S+)", properties, re.M).group(1)


def drive_c(*parts):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *parts)


def c_path(path):
    """The Windows name of a path below the prefix's drive C."""
    return "C:\\" + os.path.relpath(path, drive_c()).replace("/", "\\")


def user_programs(*parts):
    return os.path.join(glob.glob(drive_c("users", "*", "AppData", "Local", "Programs"))[0], PRODUCT, *parts)


SCRIPT_HOST_64 = [WINE64, "cscript.exe"]
SCRIPT_HOST_32 = ["wine", "C:/windows/syswow64/cscript.exe"]
HKLM, HKCU = "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"


class InstallerCase(unittest.TestCase):
    def install(self, msi, *properties):
        self.assertEqual(msiexec("/i", windows_path(msi), *properties), 0, "installing " + msi)
        self.addCleanup(msiexec, "/x", product_code(msi))  # when the test fails before removing it

    def remove_and_expect_nothing_left(self, msi, install_folder):
        self.assertEqual(msiexec("/x", product_code(msi)), 0)
        self.assertFalse(os.path.exists(install_folder), "left behind: " + install_folder)
        self.assertEqual(our_keys(HKLM), {})
        self.assertEqual(our_keys(HKCU), {})
        self.assertEqual(installed_products(), [])

    def assert_served_by(self, dll, host, script_host):
        """A small host program and the script host of one architecture get the
        object by its ProgID from that DLL, and SendEMail opens the window."""
        out = run(["wine", host])
        self.assertEqual((out.returncode, out.stdout.strip().lower()), (0, "served by " + dll.lower()))
        out = run(script_host + ["//nologo", windows_path(ARGS.script)], env=dict(os.environ, WINEDEBUG="+loaddll"))
        self.assertIn("DONE fails=0", out.stdout)
        loaded = re.findall(r'Loaded L"([^"]*KT_EMailer\.dll)"', out.stderr, re.I)
        self.assertEqual({path.replace("\\\\", "\\").lower() for path in loaded}, {dll.lower()})


class PerMachine(InstallerCase):
    def test_x64_package_serves_each_architecture_from_its_own_dll(self):
        msi = os.path.join(ARGS.packages, "KT_EMailer-x64.msi")
        self.install(msi, "ALLUSERS=1")
        folder = drive_c("Program Files", PRODUCT)
        self.assert_served_by(c_path(os.path.join(folder, "x64", "KT_EMailer.dll")), ARGS.host64, SCRIPT_HOST_64)
        self.assert_served_by(c_path(os.path.join(folder, "x86", "KT_EMailer.dll")), ARGS.host32, SCRIPT_HOST_32)
        self.assertEqual(our_keys(HKCU), {})
        self.remove_and_expect_nothing_left(msi, folder)

    def test_x86_package_serves_32_bit_hosts(self):
        msi = os.path.join(ARGS.packages, "KT_EMailer-x86.msi")
        self.install(msi, "ALLUSERS=1")
        folder = drive_c("Program Files (x86)", PRODUCT)
        self.assert_served_by(c_path(os.path.join(folder, "x86", "KT_EMailer.dll")), ARGS.host32, SCRIPT_HOST_32)
        self.remove_and_expect_nothing_left(msi, folder)


# Wine 8 cannot activate per-user registrations (its HKEY_CLASSES_ROOT is
# HKLM\Software\Classes alone): here the files and keys; PerMachine proves activation.
class PerUser(InstallerCase):
    def test_x64_package_writes_what_the_dlls_own_per_user_registration_writes(self):
        msi = os.path.join(ARGS.packages, "KT_EMailer-x64.msi")
        self.install(msi)
        folder = user_programs()
        dlls = [(user_programs("x64", "KT_EMailer.dll"), WINE64), (user_programs("x86", "KT_EMailer.dll"), "wine")]
        for dll, _ in dlls:
            self.assertTrue(os.path.isfile(dll), dll)
        self.assertFalse(os.path.exists(drive_c("Program Files", PRODUCT)))
        self.assertEqual(our_keys(HKLM), {})
        installed = our_keys(HKCU)

        # Value for value what regsvr32 /n /i:user of the installed DLLs writes.
        regsvr32 = lambda dll, loader, *options: run([loader, "regsvr32", "/s", *options, c_path(dll)])
        for dll, loader in dlls:
            self.assertEqual(regsvr32(dll, loader, "/u", "/n", "/i:user").returncode, 0)
        self.assertEqual(our_keys(HKCU), {})
        for dll, loader in dlls:
            self.assertEqual(regsvr32(dll, loader, "/n", "/i:user").returncode, 0)
        self.assertEqual(our_keys(HKCU), installed)
        self.remove_and_expect_nothing_left(msi, folder)

    def test_x86_package_registers_in_the_32_bit_view(self):
        msi = os.path.join(ARGS.packages, "KT_EMailer-x86.msi")
        self.install(msi)
        dll = user_programs("x86", "KT_EMailer.dll")
        self.assertTrue(os.path.isfile(dll))
        server = registry_tree(HKCU + "\\Software\\Classes\\CLSID\\%s\\InprocServer32" % CLASS_ID, 32)
        self.assertEqual(server.get("@", "").lower(), c_path(dll).lower())
        self.assertEqual(our_keys(HKLM), {})
        self.remove_and_expect_nothing_left(msi, user_programs())


class Upgrades(InstallerCase):
    def test_newer_replaces_older_and_equal_and_older_is_refused(self):
        current = os.path.join(ARGS.packages, "KT_EMailer-x64.msi")
        older = os.path.join(ARGS.test_packages, "KT_EMailer-x64-older.msi")
        rebuild = os.path.join(ARGS.test_packages, "KT_EMailer-x64-rebuild.msi")  # another build, same version

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
        self.assertEqual(msiexec("/i", windows_path(older), "ALLUSERS=1") % 256, INSTALLER_FAILED)
        self.assertEqual(installed_products(), [(product_code(rebuild), version)])
        self.remove_and_expect_nothing_left(rebuild, drive_c("Program Files", PRODUCT))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("case")
    for option in ("--packages", "--test-packages", "--host64", "--host32", "--script"):
        parser.add_argument(option, required=True)
    ARGS = parser.parse_args()
    if "KT_MSI_PREFIX" not in os.environ:
        sys.exit("KT_MSI_PREFIX is not set: scripts/test makes the Wine prefix for these tests")
    os.environ.update(WINEPREFIX=os.environ["KT_MSI_PREFIX"], WINEDEBUG="-all")
    unittest.main(argv=[sys.argv[0], ARGS.case], verbosity=2)


if __name__ == "__main__":
    main()
