"""The thin Win32 layer's own checks, run under Wine."""
import tempfile
import unittest

from tests.harness.wine import WineTestCase, to_windows_path, win64_exe


class WinLayerTest(WineTestCase):
    def test_handles_dialog_loop_profile_reader_and_ecdsa(self):
        with tempfile.TemporaryDirectory() as tmp:
            result = self.wine.run(win64_exe("tests/win/win_layer_test.exe"), to_windows_path(tmp), timeout=60)
        self.assertFalse(result.timed_out, "the checks hung")
        self.assertIn("0 failed", result.stdout, result.stdout)
        self.assertEqual(result.returncode, 0, result.stdout)


if __name__ == "__main__":
    unittest.main()
