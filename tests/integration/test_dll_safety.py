"""Planted DLLs under Wine: copies of a canary DLL, named like the installer's imports, lie
beside the installer and in its current directory, and Wine is told to prefer them to its
own (as Windows prefers a DLL beside the program to a system one that is not a KnownDLL).
A control program shows that such a canary is loaded by a plain LoadLibraryW; the installer
then runs through start-up to its window without loading any of them."""
import datetime
import glob
import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

from harness.driver import Driver, DriverNotFound, WINDOW_WAIT
from harness.installer import INSTALLER_EXE, PRODUCT, Sandbox, TINY_PACKAGE, config_server, simple_description
from harness.builds import win32_build_dir, win64_exe
from harness.wine import DLL_OVERRIDES, to_windows_path
from harness.wine_test_case import WineTestCase

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CANARY = os.path.join("tests", "win", "canary", "canary.dll")
PROBE = os.path.join("tests", "win", "canary", "canary_probe.exe")
TEST_PRIVATE_KEY = os.path.join(REPO, "tests", "keys", "test_only_publisher_private.pem")
CHECK_IMPORTS = os.path.join(REPO, "src", "app", "delayload", "check_static_imports.py")
OBJDUMP = "x86_64-w64-mingw32-objdump"

# The installer's delay-loaded imports, and DLLs that system components load later on its
# behalf (themes, window composition, networking, the WMI disk query).
DELAY_LOADED = ["comctl32", "gdiplus", "iphlpapi", "msimg32", "wininet", "bcrypt"]
# Left out, because Wine itself loads a planted copy where Windows would not:
# - version.dll: Wine's user32 imports it statically, so Wine loads it before any code of
#   the program runs (Windows' user32 does not, and KnownDLLs' imports come from the system
#   directory). The probe test covers it.
# - windowscodecs.dll and propsys.dll: Wine's gdiplus delay-loads the first, whose static
#   import is the second, through a loader path that ignores SetDefaultDllDirectories
#   (seen with Wine 8: both came from the executable's folder).
LOADED_ON_OUR_BEHALF = ["uxtheme", "dwmapi", "winhttp", "mswsock", "dnsapi", "wbemprox", "wbemsvc", "fastprox",
                        "netapi32", "userenv", "secur32", "crypt32", "urlmon", "iertutil", "msi", "riched20"]
PLANTED = DELAY_LOADED + LOADED_ON_OUR_BEHALF
PROBED = ["wininet", "comctl32", "gdiplus", "version", "uxtheme"]
# Not a system DLL at all: a plain LoadLibraryW finds it only in the current directory.
CURRENT_DIRECTORY_ONLY = "planted_here_only"


def prefer_planted(names):
    """WINEDLLOVERRIDES that make Wine take a DLL found on the search path before its own."""
    return ",".join(names) + "=n,b;" + DLL_OVERRIDES


class DllSafetyTest(WineTestCase):
    def setUp(self):
        self.sandbox = Sandbox()
        self.cwd = tempfile.mkdtemp(prefix="installer-cwd-")
        self.addCleanup(shutil.rmtree, self.cwd, ignore_errors=True)
        self.addCleanup(self.sandbox.cleanup)
        self.marker = os.path.join(self.cwd, "canary-marker.txt")
        canary = win64_exe(CANARY)
        for folder in (self.sandbox.dir, self.cwd):
            for name in PLANTED:
                shutil.copy2(canary, os.path.join(folder, name + ".dll"))
        shutil.copy2(canary, os.path.join(self.cwd, CURRENT_DIRECTORY_ONLY + ".dll"))
        # The probe has a folder of its own, where version.dll is planted too.
        self.probe_dir = tempfile.mkdtemp(prefix="canary-probe-")
        self.addCleanup(shutil.rmtree, self.probe_dir, ignore_errors=True)
        for name in PLANTED + PROBED:
            shutil.copy2(canary, os.path.join(self.probe_dir, name + ".dll"))
        self.probe = os.path.join(self.probe_dir, "canary_probe.exe")
        shutil.copy2(win64_exe(PROBE), self.probe)
        self.env = {"CANARY_MARKER": to_windows_path(self.marker),
                    "WINEDLLOVERRIDES": prefer_planted(PLANTED + [CURRENT_DIRECTORY_ONLY])}
        self.probe_env = dict(self.env, WINEDLLOVERRIDES=prefer_planted(PLANTED + PROBED + [CURRENT_DIRECTORY_ONLY]))
        self.processes = []

    def tearDown(self):
        for p in self.processes:
            p.kill()

    def canaries_loaded(self):
        """(canary path, process path) for every load the canaries told of."""
        if not os.path.exists(self.marker):
            return []
        with open(self.marker, encoding="utf-8") as f:
            return [tuple(line.rstrip("\n").split("\t")) for line in f if line.strip()]

    def probe_run(self, mode, name):
        result = self.wine.run(self.probe, mode, name, cwd=self.cwd, env=self.probe_env)
        self.assertFalse(result.timed_out, result)
        return result

    def test_plain_load_takes_the_planted_dll(self):
        # Without this the rest would prove nothing: Wine does load a canary when asked.
        result = self.probe_run("plain", "wininet.dll")
        self.assertEqual(result.returncode, 0, result)
        beside = to_windows_path(os.path.join(self.probe_dir, "wininet.dll"))
        self.assertEqual(result.stdout.strip().lower(), f"loaded {beside}".lower())
        self.assertEqual([c.lower() for c, _ in self.canaries_loaded()], [beside.lower()])

        os.remove(self.marker)
        result = self.probe_run("plain", CURRENT_DIRECTORY_ONLY + ".dll")
        self.assertEqual(result.returncode, 0, result)
        here = to_windows_path(os.path.join(self.cwd, CURRENT_DIRECTORY_ONLY + ".dll"))
        self.assertEqual([c.lower() for c, _ in self.canaries_loaded()], [here.lower()])

    def test_restricted_search_loads_only_from_the_system_directory(self):
        for name in PROBED:
            with self.subTest(name=name):
                result = self.probe_run("restricted", name + ".dll")
                self.assertEqual(result.returncode, 0, result)
                lines = result.stdout.strip().splitlines()
                self.assertEqual(lines[0], "restriction system-directory-only")
                self.assertEqual(lines[1].lower(), f"loaded c:\\windows\\system32\\{name}.dll")
        result = self.probe_run("restricted", CURRENT_DIRECTORY_ONLY + ".dll")
        self.assertEqual(result.returncode, 1, result)
        self.assertEqual(result.stdout.strip().splitlines()[-1], "not loaded 126")  # ERROR_MOD_NOT_FOUND
        self.assertEqual(self.canaries_loaded(), [])

    def test_system_directory_loads_refuse_anything_but_a_bare_name(self):
        # "system" is what the delay-load hook does; "full-path" its fallback where the
        # search flags are missing, which Wine never needs on its own.
        for mode in ["system", "full-path"]:
            for name in [os.path.join(self.probe_dir, "wininet.dll"), "..\\wininet.dll", "Z:wininet.dll"]:
                with self.subTest(mode=mode, name=name):
                    result = self.probe_run(mode, to_windows_path(name) if name.startswith("/") else name)
                    self.assertEqual(result.returncode, 1, result)
                    self.assertEqual(result.stdout.strip(), "not loaded 87")  # ERROR_INVALID_PARAMETER
            for name in ["wininet", "gdiplus", "iphlpapi"]:
                with self.subTest(mode=mode, name=name):
                    result = self.probe_run(mode, name + ".dll")
                    self.assertEqual(result.stdout.strip().lower(), f"loaded c:\\windows\\system32\\{name}.dll")
            with self.subTest(mode=mode, name="too long"):
                result = self.probe_run(mode, "x" * 300 + ".dll")
                self.assertEqual(result.returncode, 1, result)
        self.assertEqual(self.canaries_loaded(), [])

    def test_installer_reaches_its_window_without_loading_a_planted_dll(self):
        with config_server(simple_description(title="植入检查")):
            p = self.wine.start(self.sandbox.exe, "setup_7_8", cwd=self.cwd, env=self.env, timeout=90)
            self.processes.append(p)
            # The window means the description came through WinINet, the statistics report
            # read the adapter address, and the skin was drawn with GDI+ and AlphaBlend.
            try:
                window = Driver(self.wine).wait(title="植入检查", exe="online_installer.exe", timeout=WINDOW_WAIT)
            except DriverNotFound:
                self.fail(f"no window; planted DLLs loaded: {self.canaries_loaded()}")
            self.assertGreater(window["rect"][2] - window["rect"][0], 300)
            self.assertTrue(p.running())
            self.assertEqual(self.canaries_loaded(), [])
        self.assertTrue(os.path.exists(self.sandbox.path("info.ini")))

    def test_signature_check_loads_no_planted_dll(self):
        # The installer with the test publisher key verifies the description with bcrypt,
        # delay-loaded, before its window.
        shutil.copy2(win64_exe(os.path.join("src", "app", "online_installer_test_key.exe")), self.sandbox.exe)
        # A signed description names its mode, product, serial and expiry; this machine has
        # accepted none before (a higher serial seen by another test would refuse it).
        for folder in glob.glob(os.path.join(self.wine.prefix, "drive_c", "users", "*", "AppData", "Local",
                                             "OnlineInstaller")):
            shutil.rmtree(folder)
        expires = (datetime.datetime.now(datetime.timezone.utc).date() + datetime.timedelta(days=1)).isoformat()
        info = ["Mode=info", f"Product={PRODUCT}", "Serial=1", f"Expires={expires}"]
        body = simple_description(title="签名植入检查", info=info) + (
            f"FileSha256={hashlib.sha256(TINY_PACKAGE).hexdigest()}\r\nFileSize={len(TINY_PACKAGE)}\r\n").encode()
        signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", TEST_PRIVATE_KEY], input=body,
                                   capture_output=True, check=True, timeout=30).stdout
        with config_server(body, extra_files={"oemini/info.ini.sig": signature}):
            p = self.wine.start(self.sandbox.exe, "setup_7_8", cwd=self.cwd, env=self.env, timeout=90)
            self.processes.append(p)
            try:
                Driver(self.wine).wait(title="签名植入检查", exe="online_installer.exe", timeout=WINDOW_WAIT)
            except DriverNotFound:
                self.fail(f"no window; planted DLLs loaded: {self.canaries_loaded()}")
            self.assertEqual(self.canaries_loaded(), [])


    def test_message_before_the_window_loads_no_planted_dll(self):
        # Start-up can stop with a message box before the window exists (here: a description
        # without its publisher's signature). The box's theme and drawing pull in DLLs of
        # their own; none may come from the installer's folder.
        shutil.copy2(win64_exe(os.path.join("src", "app", "online_installer_test_key.exe")), self.sandbox.exe)
        with config_server(simple_description(title="签名缺失")):
            p = self.wine.start(self.sandbox.exe, "setup_7_8", cwd=self.cwd, env=self.env, timeout=90)
            self.processes.append(p)
            driver = Driver(self.wine)
            box = driver.msgbox(exe="online_installer.exe", timeout=WINDOW_WAIT)
            self.assertIn("签名", box["text"])
            self.assertEqual(self.canaries_loaded(), [])
            driver.msgbox_press("OK", exe="online_installer.exe")
            self.assertEqual(p.wait(30), 0)
        self.assertEqual(self.canaries_loaded(), [])


class BuiltInstallerTest(unittest.TestCase):
    def test_installer_imports_only_known_dlls_statically(self):
        exe = win64_exe(INSTALLER_EXE)
        if shutil.which(OBJDUMP) is None:
            self.skipTest(f"{OBJDUMP} is missing")
        check = subprocess.run(["/usr/bin/python3", CHECK_IMPORTS, "--objdump", OBJDUMP, exe],
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stderr)
        with open(exe, "rb") as f:
            image = f.read().lower()
        for name in DELAY_LOADED:
            self.assertIn(f"{name}.dll".encode(), image, f"{name}.dll is not among the delay imports")

    def test_check_tells_plantable_static_imports_from_safe_ones(self):
        # test_driver imports gdiplus (and oleacc) the ordinary way; canary_probe only
        # kernel32 and msvcrt.
        if shutil.which(OBJDUMP) is None:
            self.skipTest(f"{OBJDUMP} is missing")
        driver = win64_exe(os.path.join("tests", "programs", "test_driver", "test_driver.exe"))
        check = subprocess.run(["/usr/bin/python3", CHECK_IMPORTS, "--objdump", OBJDUMP, driver],
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 1, check.stdout)
        self.assertRegex(check.stderr, r"imports gdiplus\.dll(, oleacc\.dll)? statically")
        check = subprocess.run(["/usr/bin/python3", CHECK_IMPORTS, "--objdump", OBJDUMP, win64_exe(PROBE)],
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stderr)

    def test_manifest_is_embedded_and_asks_for_what_the_window_needs(self):
        programs = [win64_exe(INSTALLER_EXE)]
        shipped = os.path.join(win32_build_dir(), INSTALLER_EXE)
        if os.path.exists(shipped):
            programs.append(shipped)  # the 32-bit build carries the same resource script
        for program in programs:
            with self.subTest(program=program):
                self.check_manifest(program)

    def check_manifest(self, program):
        with open(program, "rb") as f:
            image = f.read()
        start = image.find(b"<?xml")
        end = image.find(b"</assembly>", start)
        self.assertTrue(start >= 0 and end > start, "no manifest in the executable")
        root = ElementTree.fromstring(image[start:end + len(b"</assembly>")])
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "compat": "urn:schemas-microsoft-com:compatibility.v1",
              "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
              "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
        controls = root.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)
        self.assertEqual((controls.get("name"), controls.get("version"), controls.get("publicKeyToken")),
                         ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df"))
        level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", ns)
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
        # DPI aware: per monitor (version 2 where Windows knows it, else version 1), and
        # "true/pm", which 8.1 reads as per monitor and Vista and 7 as system aware. An
        # element in the wrong namespace would be ignored by Windows, so the namespaces count.
        settings = root.find("v3:application/v3:windowSettings", ns)
        self.assertIsNotNone(settings, "no windowSettings")
        self.assertEqual(settings.find("ws2005:dpiAware", ns).text.strip(), "true/pm")
        awareness = [a.strip() for a in settings.find("ws2016:dpiAwareness", ns).text.split(",")]
        self.assertEqual(awareness, ["PerMonitorV2", "PerMonitor"])
        self.assertIsNone(settings.find("v3:dpiAware", ns), "a second dpiAware in the wrong namespace")
        systems = {e.get("Id") for e in root.findall("compat:compatibility/compat:application/compat:supportedOS", ns)}
        self.assertEqual(systems, {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                                   "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                                   "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})

if __name__ == "__main__":
    unittest.main()
