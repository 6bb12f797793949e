"""The installers under Wine's msiexec, in a Wine prefix of their own that
scripts/test makes (KT_MSI_PREFIX), so that what they write is all there is.
Every case ends with the product removed by its product code and no file or
key of ours left. With KT_NO_32BIT set what needs a 32-bit process is left
out: the 32-bit hosts and the x86 DLL's own registration.

    msi_test.py PerMachine|PerUser|Upgrades --packages DIR --test-packages DIR --host64 EXE --host32 EXE --script VBS
"""
import glob
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from mail_harness import main, options, run, windows_path  # noqa: E402

ARGS = options("--packages", "--test-packages", "--host64", "--host32", "--script")
WINE64 = "/usr/lib/wine/wine64"  # Wine's own 64-bit programs; "wine" starts the 32-bit ones
CLASS_ID = "{62421492-2386-4152-96D0-A9FCB3EB0397}"
INTERFACE = "Interface\\{84DD5F37-3A68-418F-B259-591D3E69657F}"
OUR_CLASSES_KEYS = ["CLSID\\" + CLASS_ID, "Wow6432Node\\CLSID\\" + CLASS_ID, INTERFACE, "Wow6432Node\\" + INTERFACE,
                    "TypeLib\\{C9D1D568-3049-47E8-9A53-874DE69E9D0D}", "KT_EMailer.cEmail"]
PRODUCT = "Ardwyn E-Mailer"
SCRIPT_HOST_64, SCRIPT_HOST_32 = [WINE64, "cscript.exe"], ["wine", "C:/windows/syswow64/cscript.exe"]
HKLM, HKCU = "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"
PROFILES = HKLM + "\\Software\\Veltrano\\Ardwyn\\KT_EMailer\\OAuth"
RUNS_32BIT = os.environ.get("KT_NO_32BIT", "0") == "0"
X64, X86 = (os.path.join(ARGS.packages, "KT_EMailer-%s.msi" % arch) for arch in ("x64", "x86"))


def msiexec(*args):
    return run(WINE64, "msiexec", *args, "/qn").returncode


def registry_tree(key, view=64):
    """Values below a key as {"subkey@name": data} and {"subkey": "<key>"}."""
    tree, current = {}, None
    for line in run(WINE64, "reg", "query", key, "/s", "/reg:%d" % view).stdout.splitlines():
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
    trees = [registry_tree(HKLM + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", v) for v in (64, 32)]
    return sorted({(key, tree.get(key + "@DisplayVersion")) for tree in trees for key in tree
                   if tree.get(key + "@DisplayName") == PRODUCT})


def product_code(msi):
    return re.search(r"^ProductCode\t(\S+)", run("msiinfo", "export", msi, "Property").stdout, re.M).group(1)


def drive_c(*parts):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *parts)


def c_path(path):
    """The Windows name of a path below the prefix's drive C."""
    return "C:\\" + os.path.relpath(path, drive_c()).replace("/", "\\")


def dll_in(folder, arch):
    return os.path.join(folder, arch, "KT_EMailer.dll")


class InstallerCase(unittest.TestCase):
    def install(self, msi, *properties):
        self.assertEqual(msiexec("/i", windows_path(msi), *properties), 0, "installing " + msi)
        self.addCleanup(msiexec, "/x", product_code(msi))  # when the test fails before removing it

    def remove_and_expect_nothing_left(self, msi, install_folder):
        self.assertEqual(msiexec("/x", product_code(msi)), 0)
        self.assertFalse(os.path.exists(install_folder), "left behind: " + install_folder)
        self.assertEqual((our_keys(HKLM), our_keys(HKCU), installed_products()), ({}, {}, []))
        self.assertEqual((registry_tree(PROFILES, 64), registry_tree(PROFILES, 32)), ({}, {}))

    def assert_served_by(self, dll, host, script_host):
        """A host program and the script host of one architecture get the
        object by its ProgID from that DLL, and SendEMail opens the window."""
        for command, said in [(["wine", host, "--check"], ""),
                              (script_host + ["//nologo", windows_path(ARGS.script)], "DONE fails=0")]:
            out = run(*command, env=dict(os.environ, WINEDEBUG="+loaddll"))
            self.assertEqual(out.returncode, 0, command)
            self.assertIn(said, out.stdout)
            loaded = re.findall(r'Loaded L"([^"]*KT_EMailer\.dll)"', out.stderr, re.I)
            self.assertEqual({path.replace("\\\\", "\\").lower() for path in loaded}, {c_path(dll).lower()})

    def assert_x64_package_registered_as_its_dlls(self, folder, hive, *scope):
        """Both DLLs in the folder, keys of ours in this hive alone; each DLL's own unregistration
        (regsvr32 [scope]) takes exactly its own rows of the package's, the other's and the shared
        ones staying, and registering writes them again value for value; both unregistered, nothing
        is left. Then the package is removed."""
        dlls = [(dll_in(folder, "x64"), WINE64), (dll_in(folder, "x86"), "wine")]
        self.assertTrue(all(os.path.isfile(dll) for dll, _ in dlls))
        self.assertEqual(our_keys(HKCU if hive == HKLM else HKLM), {})
        rows = our_keys(hive)
        own = [lambda key: key.startswith(("CLSID", "Interface")) or "win64" in key,
               lambda key: key.startswith("Wow6432Node") or "win32" in key]
        if not RUNS_32BIT:  # regsvr32 loads the x86 DLL in a 32-bit process
            dlls, own = dlls[:1], own[:1]

        def regsvr32(dll, loader, *options):
            done = run(loader, "regsvr32", "/s", *options, *scope, c_path(dll))
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
        self.remove_and_expect_nothing_left(X64, folder)


class PerMachine(InstallerCase):
    def test_x64_package_serves_each_architecture_from_its_own_dll_registered_as_the_dll_would(self):
        self.install(X64, "ALLUSERS=1", "OAUTHMICROSOFTCLIENTID=ms-app", "OAUTHGOOGLECLIENTID=google-app")
        # The providers' client IDs given, in each DLL's view; the secret not given, not written.
        for view in (64, 32):
            self.assertEqual({k: v for k, v in registry_tree(PROFILES, view).items() if "@" in k},
                             {"smtp.office365.com@ClientId": "ms-app", "smtp-mail.outlook.com@ClientId": "ms-app",
                              "smtp.gmail.com@ClientId": "google-app"})
        folder = drive_c("Program Files", PRODUCT)
        self.assert_served_by(dll_in(folder, "x64"), ARGS.host64, SCRIPT_HOST_64)
        if RUNS_32BIT:
            self.assert_served_by(dll_in(folder, "x86"), ARGS.host32, SCRIPT_HOST_32)
        self.assert_x64_package_registered_as_its_dlls(folder, HKLM)

    def test_x86_package_serves_32_bit_hosts(self):
        self.install(X86, "ALLUSERS=1")
        folder = drive_c("Program Files (x86)", PRODUCT)
        self.assertTrue(os.path.isfile(dll_in(folder, "x86")))
        if RUNS_32BIT:
            self.assert_served_by(dll_in(folder, "x86"), ARGS.host32, SCRIPT_HOST_32)
        self.remove_and_expect_nothing_left(X86, folder)


# Wine 8 cannot activate per-user registrations (its HKEY_CLASSES_ROOT is HKLM\Software\Classes alone):
# here the files and keys; PerMachine proves activation.
class PerUser(InstallerCase):
    def test_x64_package_writes_what_the_dlls_own_per_user_registration_writes(self):
        self.install(X64)
        self.assertFalse(os.path.exists(drive_c("Program Files", PRODUCT)))
        folder = os.path.join(glob.glob(drive_c("users", "*", "AppData", "Local", "Programs"))[0], PRODUCT)
        self.assert_x64_package_registered_as_its_dlls(folder, HKCU, "/n", "/i:user")


class Upgrades(InstallerCase):
    def test_newer_replaces_older_and_equal_and_older_is_refused(self):
        # An older version, and another build of this one.
        older, rebuild = (os.path.join(ARGS.test_packages, "KT_EMailer-x64-%s.msi" % n) for n in ("older", "rebuild"))
        self.install(older, "ALLUSERS=1")
        [(_, older_version)] = installed_products()
        self.install(X64, "ALLUSERS=1")
        [(code, version)] = installed_products()
        self.assertEqual((code, version != older_version), (product_code(X64), True))
        self.install(rebuild, "ALLUSERS=1")
        self.assertEqual(installed_products(), [(product_code(rebuild), version)])
        for arch in ("x64", "x86"):
            self.assertTrue(os.path.isfile(drive_c("Program Files", PRODUCT, arch, "Ardwyn.chm")))
        self.assertEqual(msiexec("/i", windows_path(older), "ALLUSERS=1"), 1603 % 256)  # as 8 bits under Wine
        self.assertEqual(installed_products(), [(product_code(rebuild), version)])
        self.remove_and_expect_nothing_left(rebuild, drive_c("Program Files", PRODUCT))


if __name__ == "__main__":
    if "KT_MSI_PREFIX" not in os.environ:
        sys.exit("KT_MSI_PREFIX is not set: scripts/test makes the Wine prefix for these tests")
    os.environ.update(WINEPREFIX=os.environ["KT_MSI_PREFIX"], WINEDEBUG="-all")
    main()
