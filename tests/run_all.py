#!/usr/bin/env python3
"""Builds every preset and runs every test suite; prints one closing summary line.

Stages run in order; a failed build stops the stages that need it but the others
still run, so one report shows everything that is wrong.
"""
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
JOBS = str(os.cpu_count() or 2)

passed = 0
failed = 0
problems = []


def run(cmd, **kwargs):
    print("+", " ".join(cmd), flush=True)
    return subprocess.run(cmd, cwd=ROOT, text=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)


def stage(name, cmd, timeout=1800):
    """Runs a command that is one check of its own (a build, a lint)."""
    global passed, failed
    start = time.time()
    try:
        result = run(cmd, timeout=timeout)
        output, ok = result.stdout, result.returncode == 0
    except subprocess.TimeoutExpired as e:
        output, ok = (e.stdout or "") + "\n[timed out]", False
    print(output[-6000:] if not ok else output[-800:])
    print(f"== {name}: {'ok' if ok else 'FAILED'} ({time.time() - start:.0f} s)", flush=True)
    if ok:
        passed += 1
    else:
        failed += 1
        problems.append(name)
    return ok


def count_ctest(name, build_dir, extra=()):
    global passed, failed
    result = run(["ctest", "--test-dir", build_dir, "--output-on-failure", "-j", JOBS, *extra], timeout=1800)
    print(result.stdout[-20000:])
    m = re.search(r"tests passed, (\d+) tests failed out of (\d+)", result.stdout)
    if not m:
        failed += 1
        problems.append(name)
        return
    bad, total = int(m.group(1)), int(m.group(2))
    passed += total - bad
    failed += bad
    if bad:
        problems.append(name)


def count_unittest(name, start_dir, env):
    global passed, failed
    result = run([sys.executable, "-m", "unittest", "discover", "-v", "-s", start_dir, "-t", ROOT, "-p", "test_*.py"],
                 env=env, timeout=2400)
    print(result.stdout[-30000:])
    ran = re.search(r"Ran (\d+) tests?", result.stdout)
    total = int(ran.group(1)) if ran else 0
    bad = 0
    m = re.search(r"FAILED \(([^)]*)\)", result.stdout)
    if m:
        for part in m.group(1).split(","):
            key, _, value = part.strip().partition("=")
            if key in ("failures", "errors"):
                bad += int(value)
    if not ran or (result.returncode != 0 and bad == 0):
        bad = max(bad, 1)
    passed += total - min(bad, total)
    failed += bad
    if bad:
        problems.append(name)


def main():
    stage("clang-format", [sys.executable, "tests/lint/check_format.py"])
    stage("layering lint", [sys.executable, "tests/lint/check_layers.py"])

    # The release configuration refuses a build that would trust the network by default
    # (no key, the test key, loopback, unsigned over http); each case is a stage of its own.
    for case in ("no-key", "test-key", "loopback-config", "loopback-default", "localhost-stats", "unsigned-http",
                 "test-key-installer", "unsigned-https", "own-key"):
        stage(f"release configuration: {case}", [sys.executable, "tests/release/configure_checks.py", case])

    # ThreadSanitizer only needs the threaded tests; the shipped build only the installer
    # and its skin. The win64 build holds everything the integration tests run (with the
    # installer linked a second time with the test publisher key).
    targets = {"host-tsan": ["threaded_tests"], "win32": ["online_installer", "default_skin"]}
    built_presets = set()
    for preset in ("host", "host-tsan", "win64", "win32"):
        target_args = ["--target", *targets[preset]] if preset in targets else []
        built = stage(f"configure {preset}", ["cmake", "--preset", preset]) and \
            stage(f"build {preset}", ["cmake", "--build", "--preset", preset, "-j", JOBS, *target_args])
        if not built:
            continue
        built_presets.add(preset)
        if preset == "host":
            count_ctest("host unit tests", "build/host")
        elif preset == "host-tsan":
            count_ctest("threaded tests under ThreadSanitizer", "build/host-tsan", ["-L", "threaded"])
        elif preset == "win32":
            stage("shipped exe imports only system DLLs", [sys.executable, "tests/lint/check_imports.py",
                                                          "build/win32/src/app/online_installer.exe"])
            # One file with its skin inside: partners put it on download pages.
            stage("shipped exe at most 1.5 MB (1,572,864 bytes)",
                  [sys.executable, "tools/size/exe_breakdown.py", "--max", "1572864",
                   "build/win32/src/app/online_installer.exe"])
            stage("shipped exe carries no debug information",
                  [sys.executable, "tests/lint/check_stripped.py", "i686-w64-mingw32-objdump",
                   "build/win32/src/app/online_installer.exe"])
            stage("shipped exe signed by the build (Authenticode, throwaway certificate)",
                  [sys.executable, "tests/release/sign_and_verify.py", "build/win32"])

    # A short run of each fuzz target; scripts/fuzz with more seconds runs them longer.
    stage("fuzz targets (7 s each)", ["scripts/fuzz", "7"])

    # Tests that Wine itself failed under are run once more in a fresh session, and driver
    # commands that Wine ended without a word once more in the same one; each such re-run is
    # written here and counted in the summary.
    rerun_log = os.path.join(ROOT, "build", "wine-reruns.txt")
    os.makedirs(os.path.dirname(rerun_log), exist_ok=True)
    if os.path.exists(rerun_log):
        os.remove(rerun_log)
    env = dict(os.environ, INSTALLER_ROOT=ROOT, INSTALLER_WINE_RERUN_LOG=rerun_log)
    if os.path.isdir(os.path.join(ROOT, "build/win64")):
        count_unittest("integration tests", "tests/integration", env)

    # The shipped 32-bit installer (build/win32) through a whole installation.
    if {"win64", "win32"} <= built_presets:
        count_unittest("shipped 32-bit installer under Wine", "tests/shipped", env)

    print()
    reruns = []
    if os.path.exists(rerun_log):
        with open(rerun_log, encoding="utf-8") as f:
            reruns = [line.strip() for line in f if line.strip()]
    print(f"Wine re-runs (Wine itself failed; the test or driver command run once more): {len(reruns)}"
          + "".join(f"\n  {name}" for name in reruns))
    if problems:
        print("failed: " + "; ".join(problems))
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
