"""IniFile against the Windows profile functions, on the same files, under Wine (ANSI = GBK).

ini_dump reads every lookup below with GetPrivateProfileStringW (2,048-character buffer) and
GetPrivateProfileIntW, and with IniFile. Each lookup states what the profile functions return
(the rule), and IniFile must return the same. Where Wine is known not to behave as Windows
does, the lookup says so and IniFile is held to Windows.
"""
import hashlib
import json
import os
import tempfile
import unittest

from harness.builds import win64_exe
from harness.wine import to_windows_path
from harness.wine_test_case import WineTestCase

DESCRIPTION_READ = os.path.join("tests", "programs", "ini_dump", "description_read.exe")
INI_DUMP = os.path.join("tests", "programs", "ini_dump", "ini_dump.exe")
DEFAULT = "<default>"
INT_DEFAULT = -77

# 3,000 characters that show where a cut falls.
LONG = "".join(chr(ord("a") + i % 26) for i in range(3000))


class Lookup:
    def __init__(self, section, key, string=None, integer=None, default=DEFAULT, int_default=INT_DEFAULT,
                 windows=None):
        self.section = section
        self.key = key
        self.string = string  # what GetPrivateProfileStringW returns (None: not stated)
        self.integer = integer  # what GetPrivateProfileIntW returns (None: not stated)
        self.default = default
        self.int_default = int_default
        # Why Wine is not Windows here; the lookup's string/integer are then the Windows answers.
        self.windows = windows


def crlf(text):
    return text.replace("\n", "\r\n")


CASES = {
    "names and values": (crlf(
        "; a comment line\n"
        "[Info]\n"
        "FileCount=2\n"
        "Rate0 = 30 \n"
        "   Rate1=70\t\n"
        "NoEquals\n"
        ";Hidden=1\n"
        "Empty=\n"
        "Spaced Key = a value with  inner  spaces  \n"
        "[info]\n"
        "FileCount=99\n"
        "Extra=only in the second section\n"
        "[File0]\n"
        "FileTitle=Title one\n"
        "filetitle=Second title\n"
        "[ Spaced Section ]\n"
        "k=v\n").encode("ascii"), [
        Lookup("Info", "FileCount", "2", 2),
        Lookup("INFO", "filecount", "2", 2),
        Lookup("Info", "rate0", "30", 30),
        Lookup("Info", "Rate1", "70", 70),
        Lookup("Info", "Extra", DEFAULT, INT_DEFAULT),  # only the first [Info] is searched
        Lookup("Info", "NoEquals", DEFAULT, INT_DEFAULT),  # a line without '=' names no value
        Lookup("Info", ";Hidden", "1", 1),
        Lookup("Info", "Hidden", DEFAULT, INT_DEFAULT),
        Lookup("Info", "Empty", "", INT_DEFAULT),
        Lookup("Info", "Spaced Key", "a value with  inner  spaces"),
        Lookup("Info", "  Spaced Key  ", "a value with  inner  spaces"),
        Lookup("File0", "FileTitle", "Title one"),
        Lookup("Spaced Section", "k", "v"),
        Lookup(" Spaced Section ", "K", "v"),
        Lookup("Nowhere", "FileCount", DEFAULT, INT_DEFAULT),
        Lookup("Info", "Missing", "dflt", 5, default="dflt  ", int_default=5),
        Lookup("Info", "Missing", "  dflt", default="  dflt"),
        Lookup("Info", "Missing", "", default=""),
    ]),
    "quotes": (crlf(
        "[q]\n"
        "Quoted=\"  spaced value  \"\n"
        "Single='x'\n"
        "Mismatched=\"abc'\n"
        "OnlyQuote=\"\n"
        "TwoQuotes=\"\"\n"
        "Inner=a\"b\"c\n"
        "Outside = \"v\" \n"
        "QuotedNumber=\"42\"\n"
        "QuotedBlankNumber=\"  -42\"\n").encode("ascii"), [
        Lookup("q", "Quoted", "  spaced value  "),
        Lookup("q", "Single", "x"),
        Lookup("q", "Mismatched", "\"abc'"),
        Lookup("q", "OnlyQuote", "\""),
        Lookup("q", "TwoQuotes", "", INT_DEFAULT),
        Lookup("q", "Inner", "a\"b\"c"),
        Lookup("q", "Outside", "v"),
        Lookup("q", "QuotedNumber", "42", 42),
        Lookup("q", "QuotedBlankNumber", "  -42", -42),
    ]),
    "integers": (crlf(
        "[Nums]\n"
        "a=12abc\n"
        "b= -5\n"
        "c=\n"
        "d=+7\n"
        "e=4294967297\n"
        "f=0x10\n"
        "g=-2147483649\n"
        "h=abc\n"
        "j=0X1f\n"
        "k=2147483648\n"
        "m=007\n"
        "n=1e3\n"
        "o=-0\n"
        "r=--5\n"
        "s=+-5\n"
        "t=1234567890123456789012345678901234567890\n"
        "u=0x\n"
        "v=0xg\n"
        "w=12 34\n"
        "p=0b101\n"
        "q=0o17\n"
        "x=-0x10\n"
        "y=\x01\x02 9\n").encode("ascii"), [
        Lookup("Nums", "a", "12abc", 12),
        Lookup("Nums", "b", "-5", -5),
        Lookup("Nums", "c", "", INT_DEFAULT),
        Lookup("Nums", "d", "+7", 7),
        Lookup("Nums", "e", "4294967297", 1),  # 32-bit wrap-around
        Lookup("Nums", "f", "0x10", 16),
        Lookup("Nums", "g", "-2147483649", 2147483647),
        Lookup("Nums", "h", "abc", 0),
        Lookup("Nums", "j", "0X1f", 0),  # only a lower-case prefix counts
        Lookup("Nums", "k", "2147483648", -2147483648),
        Lookup("Nums", "m", "007", 7),
        Lookup("Nums", "n", "1e3", 1),
        Lookup("Nums", "o", "-0", 0),
        Lookup("Nums", "r", "--5", 0),
        Lookup("Nums", "s", "+-5", 0),
        Lookup("Nums", "t", integer=1849262357),  # only the first 29 characters are read
        Lookup("Nums", "u", "0x", 0),
        Lookup("Nums", "v", "0xg", 0),
        Lookup("Nums", "w", "12 34", 12),
        Lookup("Nums", "p", "0b101", 5),
        Lookup("Nums", "q", "0o17", 15),
        Lookup("Nums", "x", "-0x10", -16),
        Lookup("Nums", "y", integer=9),  # control characters count as leading blanks
        Lookup("Nums", "missing", DEFAULT, 31, int_default=31),
    ]),
    "long values": (crlf(
        "[File0]\n"
        f"Long={LONG}\n"
        f"Exact2047={LONG[:2047]}\n"
        f"Exact2048={LONG[:2048]}\n"
        f"LongQuoted=\"{LONG}\"\n"
        f"Quoted2046=\"{LONG[:2046]}\"\n"
        f"Quoted2047=\"{LONG[:2047]}\"\n"
        f"Quoted2048=\"{LONG[:2048]}\"\n"
        "After=still read\n").encode("ascii"), [
        Lookup("File0", "Long", LONG[:2047]),
        Lookup("File0", "Exact2047", LONG[:2047]),
        Lookup("File0", "Exact2048", LONG[:2047]),
        Lookup("File0", "LongQuoted", LONG[:2047]),
        Lookup("File0", "Quoted2046", LONG[:2046]),
        Lookup("File0", "Quoted2047", LONG[:2046]),  # the cut takes the closing quote's place
        Lookup("File0", "Quoted2048", LONG[:2047]),
        Lookup("File0", "After", "still read"),
    ]),
    "blanks": (crlf(
        "[b]\n"
        "tab=\tvalue\t\n"
        "ideographic=\u3000value\u3000\n"
        "nbsp=\u00a0value\u00a0\n"
        "\u3000wide key\u3000=x\n").encode("utf-8-sig"), [
        Lookup("b", "tab", "value"),
        Lookup("b", "ideographic"),
        Lookup("b", "nbsp"),
        Lookup("b", "wide key"),
    ]),
    "line ends": (b"[s]\ra=1\rb=2\n[t]\nc=3\n[u]\r\nd=4", [
        Lookup("s", "a"),
        Lookup("s", "b"),
        Lookup("t", "c", "3", 3),
        Lookup("u", "d", "4", 4),  # last line without line end
    ]),
    "headers": (crlf(
        "key=before any section\n"
        "[]\n"
        "key=empty section name\n"
        "[s]\n"
        "=no key name\n"
        "[Broken\n"
        "after=1\n"
        "[Unclosed=5\n"
        "[a]b]\n"
        "x=2\n"
        "[c] trailing text\n"
        "y=3\n").encode("ascii"), [
        Lookup("", "key", "empty section name",
               windows="Wine reads keys before the first section as a section without name"),
        Lookup("s", "", "no key name"),
        Lookup("s", "after", "1", 1),
        Lookup("s", "[Broken", DEFAULT, INT_DEFAULT),  # a key without value
        Lookup("s", "[Unclosed", "5", 5),  # not a section header: a key line
        Lookup("a]b", "x", "2", 2),
        Lookup("c", "y", "3", 3),
    ]),
    "letter case": (
        "[ÉTÉ]\nClé=1\n[Привет]\nКлюч=2\n[ＡＢＣ]\nｋｅｙ=3\n[Σ]\nΩ=4\n".replace("\n", "\r\n").encode("utf-8-sig"), [
            # Only ASCII letters match their other case.
            Lookup("ÉTÉ", "Clé", "1", 1),
            Lookup("éTé", "clé", DEFAULT, INT_DEFAULT),
            Lookup("ÉtÉ", "cLé", "1", 1),
            Lookup("привет", "Ключ", DEFAULT, INT_DEFAULT),
            Lookup("Привет", "Ключ", "2", 2),
            Lookup("ａｂｃ", "ｋｅｙ", DEFAULT, INT_DEFAULT),
            Lookup("ＡＢＣ", "ｋｅｙ", "3", 3),
            Lookup("Σ", "ω", DEFAULT, INT_DEFAULT),
        ]),
}

# The same content in each encoding that Windows recognises.
CHINESE = crlf("[信息]\n标题=安装程序\nFileTitle=中文标题 Ω\n数量=5\n[Info]\nFileDir=软件\n")
CHINESE_LOOKUPS = [
    Lookup("信息", "标题", "安装程序"),
    Lookup("信息", "FileTitle", None),
    Lookup("信息", "数量", "5", 5),
    Lookup("Info", "FileDir", "软件"),
]
CASES["utf-16le with bom"] = (b"\xff\xfe" + CHINESE.encode("utf-16-le"), CHINESE_LOOKUPS)
CASES["utf-16be with bom"] = (b"\xfe\xff" + CHINESE.encode("utf-16-be"), CHINESE_LOOKUPS)
CASES["utf-8 with bom"] = (CHINESE.encode("utf-8-sig"), CHINESE_LOOKUPS)
CASES["gbk without bom"] = (CHINESE.replace("Ω", "").encode("gbk"), [
    Lookup("信息", "标题", "安装程序"),
    Lookup("信息", "FileTitle", "中文标题 "[:-1]),
    Lookup("Info", "FileDir", "软件"),
])
# UTF-8 without a byte-order mark is read as GBK: garbled, but garbled the same way.
CASES["utf-8 without bom"] = (CHINESE.encode("utf-8"), [
    Lookup("信息", "标题", DEFAULT),
    Lookup("Info", "FileDir"),
])
CASES["missing file"] = (None, [Lookup("Info", "FileCount", DEFAULT, INT_DEFAULT)])
CASES["nul characters"] = (b"[s]\r\nk=ab\x00cd\r\nn\x00x=2\r\nj=1\r\n[t\x00u]\r\nm=3\r\n", [
    # Names and values end at a NUL character.
    Lookup("s", "k", "ab"),
    Lookup("s", "n", "2", 2),
    Lookup("s", "j", "1", 1),
    Lookup("t", "m", "3", 3),
])


class IniRulesTest(WineTestCase):
    with_display = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        tmp = tempfile.TemporaryDirectory(prefix="ini-rules-")
        cls.addClassCleanup(tmp.cleanup)
        lines = []
        order = []
        for index, (name, (content, lookups)) in enumerate(CASES.items()):
            path = os.path.join(tmp.name, f"case{index}.ini")
            if content is not None:
                with open(path, "wb") as f:
                    f.write(content)
            for lookup in lookups:
                fields = [to_windows_path(path), lookup.section, lookup.key, lookup.default, str(lookup.int_default)]
                lines.append("\t".join(fields))
                order.append((name, lookup))
        lookups_path = os.path.join(tmp.name, "lookups.txt")
        with open(lookups_path, "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(lines) + "\n")
        result = cls.wine.run(win64_exe(INI_DUMP), to_windows_path(lookups_path), timeout=120)
        if result.returncode != 0:
            raise AssertionError(f"ini_dump failed: {result!r} {result.stderr[-2000:]}")
        answer = json.loads(result.stdout)
        cls.acp = answer["acp"]
        cls.results = list(zip(order, answer["results"]))
        if len(cls.results) != len(order):
            raise AssertionError(f"ini_dump answered {len(answer['results'])} of {len(order)} lookups")

    def check_case(self, name):
        checked = 0
        for (case, lookup), got in self.results:
            if case != name:
                continue
            checked += 1
            where = f"{name}: [{lookup.section}] {lookup.key}"
            with self.subTest(where):
                if lookup.windows is None:
                    self.assertEqual(got["ini_string"], got["win_string"], where + " (text)")
                    self.assertEqual(got["ini_int"], got["win_int"], where + " (integer)")
                    if lookup.string is not None:
                        self.assertEqual(got["win_string"], lookup.string, where + " (text rule)")
                        self.assertEqual(got["win_length"], len(got["win_string"].encode("utf-16-le")) // 2)
                    if lookup.integer is not None:
                        self.assertEqual(got["win_int"], lookup.integer, where + " (integer rule)")
                else:
                    if lookup.string is not None:
                        self.assertEqual(got["ini_string"], lookup.string, where + " (Windows text)")
                    if lookup.integer is not None:
                        self.assertEqual(got["ini_int"], lookup.integer, where + " (Windows integer)")
        self.assertGreater(checked, 0)

    def test_ansi_is_gbk(self):
        self.assertEqual(self.acp, 936)

    def test_names_and_values(self):
        self.check_case("names and values")

    def test_quotes(self):
        self.check_case("quotes")

    def test_integers(self):
        self.check_case("integers")

    def test_long_values(self):
        self.check_case("long values")

    def test_blanks(self):
        self.check_case("blanks")

    def test_line_ends(self):
        self.check_case("line ends")

    def test_headers(self):
        self.check_case("headers")

    def test_letter_case(self):
        self.check_case("letter case")

    def test_encodings(self):
        for name in ("utf-16le with bom", "utf-16be with bom", "utf-8 with bom", "gbk without bom",
                     "utf-8 without bom"):
            self.check_case(name)

    def test_missing_file(self):
        self.check_case("missing file")

    def test_nul_characters(self):
        self.check_case("nul characters")



def large_description(blocks, encoding):
    """A description beyond the first 10,240 bytes many times over, with what publishers
    write: a Chinese title, keys in other cases and with blanks, a quoted value, a hash with
    a note after it, a repeated key (the first counts) and comment lines between blocks."""
    lines = ["[Info]", "FileCount=2", "Rate0=70", "rate1 = 30", "[File0]", "FileTitle=大型演示软件",
             'DocUrl="http://127.0.0.1/licence.html"', "FileDir=BigDemo", f"blockcount={blocks}"]
    for i in range(blocks):
        digest = hashlib.md5(str(i).encode()).hexdigest()
        size = 204800 if i < blocks - 1 else 4321
        if i % 97 == 0:
            lines.append(f"; block {i}")
        lines += [f"BlockSize{i} = {size}", f"HASH{i}={digest.upper() if i % 2 else digest}"
                  + (" (checked)" if i % 5 == 0 else "")]
    lines += ["BlockSize7=1", "urlCount=2", "url0=http://127.0.0.1/BigDemo.exe", "URL1 = http://127.0.0.2/BigDemo.exe",
              f"FileSha256={hashlib.sha256(b'big').hexdigest()}", f"FileSize={(blocks - 1) * 204800 + 4321}",
              "[File1]", "FileTitle=Other", "BlockCount=1"]
    text = "\r\n".join(lines) + "\r\n"
    return ("\ufeff" + text).encode("utf-16-le") if encoding == "utf-16" else text.encode(encoding)


class LargeDescriptionTest(WineTestCase):
    """A whole package description read by the installer's one-pass reader gives exactly
    what the profile functions give, key by key, on files far beyond 10,240 bytes."""
    with_display = False

    def read_both(self, content, draw):
        with tempfile.TemporaryDirectory(prefix="ini-large-") as tmp:
            path = os.path.join(tmp, "info.ini")
            with open(path, "wb") as f:
                f.write(content)
            result = self.wine.run(win64_exe(DESCRIPTION_READ), to_windows_path(path), str(draw), timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        return json.loads(result.stdout.strip().splitlines()[-1])

    def test_both_readers_give_the_same_description(self):
        for encoding, draw, blocks in (("gbk", 5, 3000), ("utf-16", 30000, 3000)):
            with self.subTest(encoding=encoding):
                got = self.read_both(large_description(blocks, encoding), draw)
                self.assertTrue(got["same"], f"{encoding}: the readers differ in {got['difference']}")
                expected_blocks = blocks if draw < 22937 else 1  # the second file weighs 30 of 100
                self.assertEqual(got["blocks"], expected_blocks)
                if expected_blocks == blocks:
                    self.assertEqual(got["valid_digests"], blocks)
                    self.assertEqual(got["mirrors"], 2)

if __name__ == "__main__":
    unittest.main()
