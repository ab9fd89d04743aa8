"""The window's paint at three display scales, and the stub: the shipped single file, what
it is made of, and its start-up under Wine against the smallest window program. Needs no root."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

from bench.common import ROOT, WINE, build_win64, sh, wine_env

def paint_bench():
    win = build_win64("skin_checks", "default_skin")
    work = tempfile.mkdtemp(prefix="paintbench-")
    try:
        shutil.copy(os.path.join(win, "tests", "programs", "skin_checks", "skin_checks.exe"), work)
        shutil.copytree(os.path.join(win, "tests", "programs", "skin_checks", "skin"), os.path.join(work, "skin"))
        out = subprocess.run([WINE, os.path.join(work, "skin_checks.exe"), "bench"], env=wine_env(),
                             capture_output=True, text=True, timeout=600)
        print("\nthe window's background at three display scales, painted under Wine (default skin)")
        print("\n".join("  " + line for line in out.stdout.strip().splitlines()))
        return out.returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


STARTUP_RUNS = 7


def stub_bench():
    shipped = os.path.join(ROOT, "build", "win32")
    if not os.path.exists(os.path.join(shipped, "build.ninja")):
        sh("cmake", "--preset", "win32", stdout=subprocess.DEVNULL)
    sh("cmake", "--build", shipped, "--target", "online_installer", "-j2", stdout=subprocess.DEVNULL)
    print("\nthe shipped single file and what it is made of")
    out = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "size", "exe_breakdown.py"),
                          os.path.join(shipped, "src", "app", "online_installer.exe")], capture_output=True, text=True)
    print("\n".join("  " + line for line in out.stdout.strip().splitlines()))
    if out.returncode != 0:
        print(out.stderr, file=sys.stderr)
        return out.returncode
    return startup_bench()


def startup_bench():
    from PIL import Image

    from harness.installer import Sandbox, config_server, simple_description
    from harness.wine import WineSession, to_windows_path

    # INSTALLER_BENCH_WIN64: an existing win64 tree to use instead (its own server port).
    win = build_win64("online_installer", "test_driver", "minimal_window", tree=os.environ.get("INSTALLER_BENCH_WIN64"))
    # The Welcome window is painted when its top band shows the built-in skin's colour (the
    # band is a vertical gradient: its row 62 is the same across the window).
    probe = (5, 62)  # left of the steps, in the band's gradient
    with Image.open(os.path.join(win, "src", "skin", "Default", "dlg_border.PNG")) as border:
        band = border.convert("RGB").getpixel(probe)
    driver = os.path.join(win, "tests", "programs", "test_driver", "test_driver.exe")
    minimal = os.path.join(win, "bench", "minimal_window.exe")
    sandbox = Sandbox(with_skin=False, build_dir=win)
    server = config_server(simple_description(), build_dir=win).start()
    session = WineSession(with_display=True).open()
    try:
        def launch(exe, color, args=""):
            result = session.run(driver, "launch-time", "--exe", to_windows_path(exe), "--args", args, "--color", color,
                                 "--x", probe[0], "--y", probe[1], timeout=120)
            if result.returncode != 0:
                raise RuntimeError(f"launch-time {exe}: {result.stdout} {result.stderr[-500:]}")
            answer = json.loads(result.stdout)
            return answer["shown_us"] / 1000, answer["painted_us"] / 1000

        installer, reference = [], []
        launch(minimal, "0x0078D7")  # the first run of any program loads Wine's DLLs from disk
        for _ in range(STARTUP_RUNS):
            reference.append(launch(minimal, "0x0078D7"))
            installer.append(launch(sandbox.exe, "0x%02X%02X%02X" % band, "setup_1001_77"))
    finally:
        session.close()
        server.cleanup()
        sandbox.cleanup()

    def median(values):
        return sorted(values)[len(values) // 2]

    print(f"\nstart-up under Wine, process start to window shown and painted (ms; median of {STARTUP_RUNS}, "
          "alternating runs)")
    print(f"  {'program':52} {'shown':>8} {'painted':>8}")
    for name, runs in (("minimal window program", reference),
                       ("installer alone (built-in skin, description fetched)", installer)):
        print(f"  {name:52} {median([r[0] for r in runs]):8.0f} {median([r[1] for r in runs]):8.0f}")
    ratio = median([r[1] for r in installer]) / median([r[1] for r in reference])
    print(f"  ratio installer / minimal window, painted: {ratio:.2f}")
    return 0
