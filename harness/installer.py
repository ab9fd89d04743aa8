"""Runs the real installer under Wine against nginx on loopback.

The installer's configuration and statistics servers are build settings (CMake cache
variables of the build that is run: win64 unless a `build_dir` says otherwise, such as the
shipped win32 build); `config_server()` starts nginx on that address, serving
the package description and answering the statistics requests, so that its access log
is the record of both. Each test gets a sandbox folder with a copy of the installer and
its skin, since the installer writes its package description beside itself.
"""
import getpass
import hashlib
import os
import shutil
import tempfile
import urllib.parse

from harness.driver import Driver, child
from harness.nginx import Nginx
from harness.builds import server_address, win64_exe
from harness.wine_test_case import WineTestCase

INSTALLER_EXE = os.path.join("src", "app", "online_installer.exe")
EXE_NAME = os.path.basename(INSTALLER_EXE)
STATS_PATH = "/api/InstallData.ashx"


# A small payload every configuration server also serves, so that a description made by
# simple_description() downloads and completes without a mirror of its own.
TINY_PACKAGE = bytes((i * 7 + 3) % 251 for i in range(3000))
TINY_PATH = "/pkg/tiny.bin"
BLOCK = 204800


# The product name the test builds are configured with (INSTALLER_PRODUCT's default).
PRODUCT = "demo"


def package_folder(prefix):
    """Where the installer stores its package in the Wine prefix: its private folder in the
    local application data of the prefix's user (Wine names the user after the Unix one)."""
    return os.path.join(prefix, "drive_c", "users", getpass.getuser(), "AppData", "Local", "OnlineInstaller", PRODUCT,
                        "Packages")


def remove_old_packages(prefix):
    """Deletes the package files an earlier run left in the prefix, so that a test starts as
    on a machine where the installer never ran (a package left there would be kept by the
    download, block by block)."""
    for folder in (package_folder(prefix), os.path.join(prefix, "drive_c", "users", "Public", "Documents")):
        if os.path.isdir(folder):
            for name in os.listdir(folder):
                path = os.path.join(folder, name)
                if os.path.isfile(path) and name.lower().endswith(".exe"):
                    os.remove(path)


def demo_setup():
    """The demo setup package of the win64 build, as bytes: the package the installation
    tests serve from their mirrors (it installs into "DemoSoft")."""
    with open(win64_exe(os.path.join("tests", "programs", "demo_package", "demo_setup.exe")), "rb") as f:
        return f.read()


class InstallerTestCase(WineTestCase):
    """A Wine session for tests that take the installer through an installation of the demo
    setup package (`cls.setup`). Before each test the folder it installs into
    (`cls.install_root`) is emptied and no package of an earlier test is left to resume;
    `self.driver` drives the window."""

    program_files = "Program Files"  # where the demo setup installs on drive C:
    sub_dir = "DemoSoft"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.setup = demo_setup()
        cls.install_root = os.path.join(cls.wine.prefix, "drive_c", cls.program_files, cls.sub_dir)

    def setUp(self):
        super().setUp()
        shutil.rmtree(self.install_root, ignore_errors=True)
        remove_old_packages(self.wine.prefix)  # a kept package would be resumed, not fetched
        self.driver = Driver(self.wine)
        # Runs after the test's own clean-ups (they run last first): an installer the test
        # killed from the host is gone for Linux at once, but Wine closes its handles (the
        # single-instance mutex among them) a moment later, and the next test's installer
        # would end as a second instance. The driver ends it inside Wine and waits for that.
        self.addCleanup(self.driver.end_all, EXE_NAME)

    def control(self, hwnd, control_id):
        return child(self.driver.window(hwnd), control_id)

    def wait_control(self, hwnd, control_id, timeout=120, interval=0.2, **expected):
        def matches():
            c = self.control(hwnd, control_id)
            return c is not None and all(c.get(k) == v for k, v in expected.items())
        self.wait_until(matches, timeout=timeout, interval=interval, message=f"control {control_id} with {expected}")

    def installed(self):
        """Whether the demo setup ran: it leaves its log in the folder it installs into."""
        return os.path.exists(os.path.join(self.install_root, "install.log"))


def blocks_requested(entries):
    """Blocks covered by the Range headers of nginx log `entries` (a request may ask for a
    run of blocks, its range ending one byte into the block after the run)."""
    asked = set()
    for e in entries:
        start, _, end = e.get("range", "")[len("bytes="):].partition("-")
        if start.isdigit() and end.isdigit():
            asked.update(range(int(start) // BLOCK, max(int(start) // BLOCK + 1, int(end) // BLOCK)))
    return asked


def block_table(payload):
    """(size, md5 hex) of each 204,800-byte block of `payload`."""
    return [(len(payload[i:i + BLOCK]), hashlib.md5(payload[i:i + BLOCK]).hexdigest())
            for i in range(0, max(len(payload), 1), BLOCK)]


def config_server(description=None, home_description=None, extra_files=None, stats_directives=None, build_dir=None,
                  **options):
    """nginx at the configuration server's address (of the win64 build, or of the build in
    `build_dir`) with "/oemini/info.ini" (and "/oemini/home.ini") and a statistics endpoint
    that answers 200 (or does what `stats_directives` say, e.g. a proxy_pass to a slow
    server). Not started yet."""
    host, port = server_address(build_dir=build_dir)
    stats_host, stats_port = server_address("INSTALLER_STATS_BASE_URL", build_dir)
    if (stats_host, stats_port) != (host, port):
        raise RuntimeError("the tests expect one server for configuration and statistics")
    files = {TINY_PATH.lstrip("/"): TINY_PACKAGE}
    files.update(extra_files or {})
    if description is not None:
        files["oemini/info.ini"] = description
    if home_description is not None:
        files["oemini/home.ini"] = home_description
    stats = stats_directives or 'return 200 "ok";'
    locations = options.pop("locations", "") + f"""
        location = {STATS_PATH} {{ {stats} }}
"""
    return Nginx(files=files, port=port, address=host, locations=locations, **options)


def stats_requests(server):
    """The statistics requests the server saw, each as a dict of its query values."""
    found = []
    for entry in server.entries():
        method, target, *_ = entry["request"].split(" ")
        path, _, query = target.partition("?")
        if path == STATS_PATH:
            found.append({k: v[0] if v else "" for k, v in urllib.parse.parse_qs(query, keep_blank_values=True).items()})
    return found


def simple_description(title="演示软件", file_dir="DemoSoft", blocks=None, urls=None, file_count=1, info=()):
    """A package description of the tiny package on the configuration server itself,
    unless `blocks` and `urls` say otherwise (for start-up and window checks); `info` adds
    lines to its [Info] section."""
    if blocks is None:
        blocks = block_table(TINY_PACKAGE)
    if urls is None:
        host, port = server_address()
        urls = [f"http://{host}:{port}{TINY_PATH}"]
    lines = ["[Info]", f"FileCount={file_count}", *info, "[File0]", f"FileTitle={title}",
             "DocUrl=http://127.0.0.1/licence.html", f"FileDir={file_dir}"]
    lines.append(f"BlockCount={len(blocks)}")
    for i, (size, digest) in enumerate(blocks):
        lines += [f"BlockSize{i}={size}", f"Hash{i}={digest}"]
    lines.append(f"urlCount={len(urls)}")
    lines += [f"url{i}={u}" for i, u in enumerate(urls)]
    return ("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-8")


class Sandbox:
    """A folder holding a copy of the installer and its skin: of the win64 build, or of
    the build in `build_dir` (the shipped win32 build)."""

    def __init__(self, with_skin=True, build_dir=None):
        self.dir = tempfile.mkdtemp(prefix="installer-")
        self.exe = os.path.join(self.dir, "online_installer.exe")
        built = os.path.join(build_dir, INSTALLER_EXE) if build_dir else win64_exe(INSTALLER_EXE)
        if not os.path.isfile(built):
            raise FileNotFoundError(f"{built} is missing: build the installer first")
        shutil.copy2(built, self.exe)
        skin = os.path.join(os.path.dirname(built), "skin")
        if with_skin and os.path.isdir(skin):
            shutil.copytree(skin, os.path.join(self.dir, "skin"))

    def path(self, name):
        return os.path.join(self.dir, name)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)
