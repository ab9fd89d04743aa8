"""The publisher tool on the host: the description it writes lets the installer verify
every block, merging keeps what was there, a check names the first wrong block, and a
description the installer could not read whole is refused without touching the old one."""
import hashlib
import os
import subprocess
import tempfile
import unittest

from harness.builds import host_tool

BLOCK = 204800


def publish_tool():
    return host_tool(os.path.join("tools", "publish", "publish_tool"))


def parse_ini(raw):
    """Sections as {name: {key: value}} with lower-case names, as the profile functions match them."""
    if raw.startswith(b"\xff\xfe"):
        text = raw[2:].decode("utf-16-le")
    else:
        text = raw.decode("ascii")
    sections, current = {}, None
    for line in text.split("\r\n"):
        if line.startswith("["):
            current = sections.setdefault(line.strip("[]").lower(), {})
        elif "=" in line:
            key, _, value = line.partition("=")
            current[key.lower()] = value
    return sections, text


class PublishToolTest(unittest.TestCase):
    def setUp(self):
        self.tool = publish_tool()
        self.tmp = tempfile.TemporaryDirectory(prefix="publish-")
        self.setup = os.path.join(self.tmp.name, "setup.exe")
        self.data = bytes((i * 31 + i // 977) & 0xFF for i in range(3 * BLOCK + 4321))
        with open(self.setup, "wb") as f:
            f.write(self.data)
        self.ini = os.path.join(self.tmp.name, "info.ini")

    def tearDown(self):
        self.tmp.cleanup()

    def run_tool(self, *args):
        return subprocess.run([self.tool, *args], capture_output=True, text=True, timeout=60)

    def test_written_section_describes_every_block(self):
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url", "http://127.0.0.1/a.exe",
                          "--url", "http://127.0.0.2/a.exe", "--title", "Demo", "--dir", "DemoDir",
                          "--doc-url", "http://127.0.0.1/licence.html", "--rate", "40")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.ini, "rb") as f:
            raw = f.read()
        self.assertFalse(raw.startswith(b"\xff\xfe") or raw.startswith(b"\xef\xbb\xbf"))  # ASCII stays plain
        self.assertIn(b"\r\n", raw)
        sections, _ = parse_ini(raw)
        info, file0 = sections["info"], sections["file0"]
        self.assertEqual(info["filecount"], "1")
        self.assertEqual(info["rate0"], "40")
        self.assertEqual(file0["blockcount"], "4")
        for i in range(4):
            block = self.data[i * BLOCK:(i + 1) * BLOCK]
            self.assertEqual(file0[f"blocksize{i}"], str(len(block)))
            self.assertEqual(file0[f"hash{i}"], hashlib.md5(block).hexdigest())
        self.assertEqual(file0["urlcount"], "2")
        self.assertEqual(file0["url1"], "http://127.0.0.2/a.exe")
        self.assertEqual((file0["filetitle"], file0["filedir"]), ("Demo", "DemoDir"))
        self.assertEqual(file0["docurl"], "http://127.0.0.1/licence.html")

        r = self.run_tool("check", "--file", self.setup, "--ini", self.ini)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("OK", r.stdout)

    def test_merge_keeps_other_sections_and_chinese_title_is_utf16(self):
        with open(self.ini, "wb") as f:
            f.write(b"[Info]\r\nFileCount=1\r\nRate0=30\r\n[File0]\r\nFileTitle=Old\r\nBlockCount=0\r\n"
                    b"[Extra]\r\nKeep=yes\r\n")
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--section", "File1",
                          "--url", "http://127.0.0.1/b.exe", "--title", "演示程序", "--rate", "70")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.ini, "rb") as f:
            raw = f.read()
        self.assertTrue(raw.startswith(b"\xff\xfe"), "a non-ASCII title needs the UTF-16 mark on Windows")
        sections, _ = parse_ini(raw)
        self.assertEqual(sections["info"]["filecount"], "2")
        self.assertEqual((sections["info"]["rate0"], sections["info"]["rate1"]), ("30", "70"))
        self.assertEqual(sections["file0"]["filetitle"], "Old")
        self.assertEqual(sections["extra"]["keep"], "yes")
        self.assertEqual(sections["file1"]["filetitle"], "演示程序")

        # Rewriting File0 keeps its title when none is given and replaces its blocks.
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url", "http://127.0.0.1/c.exe")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.ini, "rb") as f:
            sections, _ = parse_ini(f.read())
        self.assertEqual(sections["file0"]["filetitle"], "Old")
        self.assertEqual(sections["file0"]["blockcount"], "4")
        self.assertEqual(sections["info"]["filecount"], "2")
        self.assertEqual(self.run_tool("check", "--file", self.setup, "--ini", self.ini, "--section", "File1")
                         .returncode, 0)

    def test_rewriting_a_hand_kept_description_changes_only_the_written_keys(self):
        # Comments, blank lines, LF endings and a last line without one, as an editor left them.
        before = (b"; published by hand\n\n[Info]\nFileCount=1\n\n[File0]\n; the setup\nFileTitle=Old\n"
                  b"BlockCount=0\nurl5=http://127.0.0.1/stale.exe\n\n[Extra]\nKeep=yes")
        with open(self.ini, "wb") as f:
            f.write(before)
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url", "http://127.0.0.1/a.exe")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.ini, "rb") as f:
            after = f.read()
        self.assertTrue(after.startswith(b"; published by hand\n\n[Info]\nFileCount=1\n\n[File0]\n; the setup\n"
                                         b"FileTitle=Old\nDocUrl=\nFileDir=\nBlockCount=4\n"), after)
        tail = b"\nurlCount=1\nurl0=http://127.0.0.1/a.exe\nFileSize=%d\nFileSha256=%s\n\n[Extra]\nKeep=yes" % (
            len(self.data), hashlib.sha256(self.data).hexdigest().encode())
        self.assertTrue(after.endswith(tail), after)
        self.assertNotIn(b"\r", after)
        self.assertNotIn(b"stale", after, "keys of the old package go")
        self.assertEqual(self.run_tool("check", "--file", self.setup, "--ini", self.ini).returncode, 0)

    def test_a_value_with_a_line_break_is_refused_and_the_description_kept(self):
        with open(self.ini, "wb") as f:
            f.write(b"[Info]\r\nFileCount=1\r\n")
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url", "http://127.0.0.1/a.exe",
                          "--title", "Demo\r\n[Info]\r\nFileCount=9")
        self.assertEqual(r.returncode, 2)
        self.assertIn("--title holds a line break", r.stderr)
        with open(self.ini, "rb") as f:
            self.assertEqual(f.read(), b"[Info]\r\nFileCount=1\r\n")

    def test_check_names_the_first_wrong_block(self):
        self.assertEqual(self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url",
                                       "http://127.0.0.1/a.exe").returncode, 0)
        changed = bytearray(self.data)
        changed[2 * BLOCK + 10] ^= 0xFF
        changed[3 * BLOCK + 10] ^= 0xFF
        with open(self.setup, "wb") as f:
            f.write(changed)
        r = self.run_tool("check", "--file", self.setup, "--ini", self.ini)
        self.assertEqual(r.returncode, 1)
        self.assertIn("block 2 (offset 409600)", r.stdout)
        self.assertNotIn("block 3", r.stdout)

        with open(self.setup, "wb") as f:
            f.write(self.data[:-1])
        r = self.run_tool("check", "--file", self.setup, "--ini", self.ini)
        self.assertEqual(r.returncode, 1)
        self.assertIn("block 3", r.stdout)

        with open(self.setup, "wb") as f:
            f.write(self.data + b"x" * BLOCK)
        r = self.run_tool("check", "--file", self.setup, "--ini", self.ini)
        self.assertEqual(r.returncode, 1)
        self.assertIn("BlockCount is 4", r.stdout)

    def test_description_beyond_what_the_installer_accepts_is_refused(self):
        self.assertEqual(self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url",
                                       "http://127.0.0.1/a.exe").returncode, 0)
        # Other sections of the file are kept by a write, and count towards its size.
        with open(self.ini, "ab") as f:
            f.write(b"[Notes]\r\n" + b"".join(b"n%d=%s\r\n" % (i, b"d" * 1000) for i in range(1000)))
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url", "http://127.0.0.2/a.exe")
        self.assertEqual(r.returncode, 0, r.stderr)  # just under 1 MiB: fine
        with open(self.ini, "ab") as f:
            f.write(b"".join(b"m%d=%s\r\n" % (i, b"d" * 1000) for i in range(60)))
        with open(self.ini, "rb") as f:
            before = f.read()
        self.assertGreater(len(before), 1024 * 1024)
        r = self.run_tool("write", "--file", self.setup, "--ini", self.ini, "--url", "http://127.0.0.3/a.exe")
        self.assertEqual(r.returncode, 1)
        self.assertIn("1048576", r.stderr)
        with open(self.ini, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertFalse(os.path.exists(self.ini + ".tmp"))
        r = self.run_tool("check", "--file", self.setup, "--ini", self.ini)
        self.assertEqual(r.returncode, 1)
        self.assertIn("refuses a description over 1048576", r.stdout)

    def test_bad_input_is_a_clear_error(self):
        empty = os.path.join(self.tmp.name, "empty.exe")
        open(empty, "wb").close()
        cases = [
            (["write", "--file", self.setup, "--ini", self.ini], 2, "--url"),
            (["write", "--file", empty, "--ini", self.ini, "--url", "http://127.0.0.1/"], 1, "empty"),
            (["write", "--file", self.setup + ".missing", "--ini", self.ini, "--url", "http://x/"], 1, "cannot read"),
            (["write", "--file", self.setup, "--ini", self.ini, "--section", "Setup", "--url", "http://x/"], 2,
             "File<number>"),
            (["check", "--file", self.setup, "--ini", self.ini], 1, "cannot read"),
            (["publish", "--file", self.setup, "--ini", self.ini], 2, "unknown command"),
        ]
        for args, code, text in cases:
            r = self.run_tool(*args)
            self.assertEqual(r.returncode, code, args)
            self.assertIn(text, r.stderr + r.stdout, args)
        self.assertFalse(os.path.exists(self.ini))


if __name__ == "__main__":
    unittest.main()
