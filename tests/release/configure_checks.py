#!/usr/bin/env python3
"""The release configuration of the shipped installer refuses, at configure time, a build
that would trust the network by default; a test build says so and is let through.

Each case configures the win32-release preset in a fresh folder with its settings and
expects cmake to fail with its message (or, for the accepted cases, to succeed, with the
warning where one is due). With case names as arguments only those run; exit status 0
when every case run behaved.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TEST_KEY = os.path.join(ROOT, "tests", "keys", "test_only_publisher_public.pem")
HTTPS = ["-DINSTALLER_CONFIG_BASE_URL=https://config.example.com", "-DINSTALLER_STATS_BASE_URL=https://stats.example.com"]


def own_key(folder):
    """A publisher key made here, the way a publisher's own is (not the committed one)."""
    private, public = os.path.join(folder, "own_private.pem"), os.path.join(folder, "own_public.pem")
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", private], check=True,
                   timeout=60)
    subprocess.run(["openssl", "pkey", "-in", private, "-pubout", "-out", public], check=True, timeout=60)
    return public


# name: (settings, whether configuring succeeds, text the output must hold)
CASES = {
    "no-key": (lambda k: HTTPS, False, "A release build needs the publisher's key"),
    "test-key": (lambda k: HTTPS + [f"-DINSTALLER_PUBLISHER_KEY={TEST_KEY}"], False, "is the committed test key"),
    "loopback-config": (lambda k: [f"-DINSTALLER_PUBLISHER_KEY={k}", "-DINSTALLER_CONFIG_BASE_URL=http://127.0.0.1:80",
                                   "-DINSTALLER_STATS_BASE_URL=https://stats.example.com"], False,
                        "INSTALLER_CONFIG_BASE_URL=http://127.0.0.1:80 is a loopback address"),
    "loopback-default": (lambda k: [f"-DINSTALLER_PUBLISHER_KEY={k}"], False, "is a loopback address"),
    "localhost-stats": (lambda k: [f"-DINSTALLER_PUBLISHER_KEY={k}", "-DINSTALLER_CONFIG_BASE_URL=http://config.example.com",
                                   "-DINSTALLER_STATS_BASE_URL=http://LocalHost:8080"], False,
                        "INSTALLER_STATS_BASE_URL=http://LocalHost:8080 is a loopback address"),
    "unsigned-http": (lambda k: ["-DINSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS=ON",
                                 "-DINSTALLER_CONFIG_BASE_URL=http://config.example.com",
                                 "-DINSTALLER_STATS_BASE_URL=https://stats.example.com"], False,
                      "accepts only https:// server addresses"),
    "test-key-installer": (lambda k: HTTPS + [f"-DINSTALLER_PUBLISHER_KEY={k}", "-DINSTALLER_TEST_KEY_INSTALLER=ON"],
                           False, "INSTALLER_TEST_KEY_INSTALLER links an installer with the committed test key"),
    "unsigned-https": (lambda k: HTTPS + ["-DINSTALLER_ALLOW_UNSIGNED_DESCRIPTIONS=ON"], True,
                       "this installer runs whatever"),
    "own-key": (lambda k: HTTPS + [f"-DINSTALLER_PUBLISHER_KEY={k}"], True, "Generating done"),
}


def run_case(name, tmp, key):
    settings, succeeds, text = CASES[name]
    build = os.path.join(tmp, name)
    cmd = ["cmake", "--preset", "win32-release", "-B", build, *settings(key)]
    result = subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, timeout=600)
    output = result.stdout + result.stderr
    # cmake wraps long messages: compare without line breaks and indentation.
    flat = " ".join(output.split())
    ok = (result.returncode == 0) == succeeds and " ".join(text.split()) in flat
    print(f"{name}: cmake exited {result.returncode}, expected {'success' if succeeds else 'failure'} with "
          f"\"{text}\": {'ok' if ok else 'WRONG'}")
    if not ok:
        print(output[-4000:])
    shutil.rmtree(build, ignore_errors=True)
    return ok


def main():
    names = sys.argv[1:] or list(CASES)
    unknown = [n for n in names if n not in CASES]
    if unknown:
        print(f"unknown cases {unknown}; known: {list(CASES)}", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="configure-checks-") as tmp:
        key = own_key(tmp)
        results = [run_case(name, tmp, key) for name in names]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
