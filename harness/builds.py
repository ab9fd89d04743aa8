"""Where the builds are and what they were configured with: the win64 build (the tests'
programs), the shipped win32 build, the host build's tools, and CMake cache settings such as
the server addresses a build was configured with.

Environment knobs: INSTALLER_WIN64_BUILD (default <repo>/build/win64), INSTALLER_WIN32_BUILD
(default <repo>/build/win32), INSTALLER_HOST_BUILD (default <repo>/build/host).
"""
import os
import re
import urllib.parse

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class MissingBuild(RuntimeError):
    """A program the caller needs was not built."""


def win64_build_dir():
    return os.environ.get("INSTALLER_WIN64_BUILD") or os.path.join(REPO, "build", "win64")


def built_program(build_dir, relative_path, preset):
    """Absolute path of a program of a build; fails clearly when it was not built."""
    path = os.path.join(build_dir, relative_path)
    if not os.path.isfile(path):
        raise MissingBuild(f"{path} is missing: build it with the {preset} preset first")
    return path


def win64_exe(relative_path):
    """Absolute path of a program of the win64 build."""
    return built_program(win64_build_dir(), relative_path, "win64")


def win32_build_dir():
    return os.environ.get("INSTALLER_WIN32_BUILD") or os.path.join(REPO, "build", "win32")


def win32_exe(relative_path):
    """Absolute path of a program of the shipped 32-bit build."""
    return built_program(win32_build_dir(), relative_path, "win32")


def host_tool(relative_path):
    """Absolute path of a host tool (build/host, or INSTALLER_HOST_BUILD); fails clearly when
    it was not built."""
    build = os.environ.get("INSTALLER_HOST_BUILD") or os.path.join(REPO, "build", "host")
    path = os.path.join(build, relative_path)
    if not os.path.isfile(path):
        raise MissingBuild(f"{path} is missing: build the host preset first")
    return path


def build_setting(name, build_dir=None):
    """A CMake cache value of the win64 build, or of the build in `build_dir`."""
    with open(os.path.join(build_dir or win64_build_dir(), "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            m = re.match(rf"{name}:\w+=(.*)$", line.strip())
            if m:
                return m.group(1)
    raise KeyError(name)


def server_address(setting="INSTALLER_CONFIG_BASE_URL", build_dir=None):
    url = urllib.parse.urlsplit(build_setting(setting, build_dir))
    return url.hostname, url.port or 80
