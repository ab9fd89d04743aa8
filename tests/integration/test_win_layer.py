"""The thin Win32 layer's own checks, and those of the setup run, under Wine."""
import tempfile
import unittest

from harness.builds import win64_exe
from harness.driver import SAMPLE_EXE
from harness.wine import to_windows_path
from harness.wine_test_case import WineTestCase


class WinLayerTest(WineTestCase):
    def test_handles_dialog_loop_profile_reader_ecdsa_and_hover(self):
        with tempfile.TemporaryDirectory() as tmp:
            result = self.wine.run(win64_exe("tests/win/win_layer_test.exe"), to_windows_path(tmp), timeout=60)
        self.assertFalse(result.timed_out, "the checks hung")
        self.assertIn("0 failed", result.stdout, result.stdout)
        self.assertEqual(result.returncode, 0, result.stdout)


class SetupLaunchTest(WineTestCase):
    with_display = False

    def test_hold_exit_code_and_a_changed_package(self):
        with tempfile.TemporaryDirectory() as tmp:
            result = self.wine.run(win64_exe("tests/win/setup_launch_test.exe"), to_windows_path(tmp),
                                   to_windows_path(win64_exe(SAMPLE_EXE)), timeout=60)
        self.assertFalse(result.timed_out, "the checks hung")
        self.assertIn("0 failed", result.stdout, result.stdout)
        self.assertEqual(result.returncode, 0, result.stdout)


if __name__ == "__main__":
    unittest.main()
