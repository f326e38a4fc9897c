"""Quarry installed into a temporary prefix as `cmake --install` puts it: the three programs,
each printing the build's version (without a screen), the desktop entry that
desktop-file-validate accepts, the icon as a drawing and as PNGs of the size their folder
names, and quarry-cli's manual page, formatted without a warning and naming every command and
option. The installed quarry-cli keeps its home in ~/.local/share/Quarry/, never beside itself.
Arguments: the cmake program, the build tree and the version."""

import gzip
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

CMAKE, BUILD, VERSION = (sys.argv[1:4] + ["", "", ""])[:3]
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def clean_environment(**extra):
    """The environment without Quarry's own variables and without a screen."""
    environment = {key: value for key, value in os.environ.items()
                   if not key.startswith("QUARRY_")
                   and key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    environment.update(extra)
    return environment


def png_size(path):
    with open(path, "rb") as image:
        head = image.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory(prefix="quarry-install-")
        cls.prefix = os.path.join(cls.temp.name, "prefix")
        subprocess.run([CMAKE, "--install", BUILD, "--prefix", cls.prefix], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def test_programs_desktop_entry_icons_and_manual(self):
        for program in ("quarry", "quarry-cli", "quarry-regex"):
            self.assertTrue(os.access(self.path("bin", program), os.X_OK), program)
        for program in ("quarry", "quarry-cli"):
            answer = subprocess.run([self.path("bin", program), "--version"],
                                    capture_output=True, text=True, timeout=20,
                                    env=clean_environment())
            self.assertEqual((answer.returncode, answer.stdout), (0, f"{program} {VERSION}\n"),
                             answer.stderr)

        entry = self.path("share", "applications", "quarry.desktop")
        check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""))
        with open(entry, encoding="utf-8") as source:
            lines = set(source.read().splitlines())
        for line in ("Name=Quarry", "Exec=quarry", "Icon=quarry", "Type=Application"):
            self.assertIn(line, lines)
        for key in ("Name[zh_CN]=", "Comment=", "Comment[zh_CN]=", "Categories="):
            self.assertTrue(any(line.startswith(key) for line in lines), key)

        self.assertTrue(os.path.isfile(self.path("share", "doc", "quarry", "README.md")))

        icons = self.path("share", "icons", "hicolor")
        with open(os.path.join(icons, "scalable", "apps", "quarry.svg"), encoding="utf-8") as svg:
            self.assertIn("<svg", svg.read())
        for size in ICON_SIZES:
            png = os.path.join(icons, f"{size}x{size}", "apps", "quarry.png")
            self.assertEqual(png_size(png), (size, size), png)

        with gzip.open(self.path("share", "man", "man1", "quarry-cli.1.gz"), "rt") as page:
            manual = page.read()
        # Plain text in long lines without hyphenation, so that every word can be looked for.
        formatted = subprocess.run(["groff", "-man", "-ww", "-Tutf8", "-rLL=300n", "-rHY=0",
                                    "-P-cbou"], input=manual, capture_output=True, text=True,
                                   timeout=20)
        self.assertEqual((formatted.returncode, formatted.stderr), (0, ""))
        text = formatted.stdout.replace("\u2010", "-").replace("\u2212", "-")
        for word in ("run", "resume", "list", "records", "--keyword", "--kind", "--pages",
                     "--threads", "--folder", "--live", "--classic", "--verbose", "--home",
                     "--web-host", "--image-host", "--test-authority", "--version",
                     "QUARRY_HOME", "EXIT STATUS"):
            self.assertIn(word, text)

    def test_installed_program_keeps_its_home_in_user_data(self):
        user = os.path.join(self.temp.name, "user")
        # A task whose search host refuses at once: it ends with nothing fetched (a failure,
        # status 1), and the task files are written in the home.
        answer = subprocess.run([self.path("bin", "quarry-cli"), "--web-host", "127.0.0.1:1",
                                 "--image-host", "127.0.0.1:1", "run", "--keyword", "stone",
                                 "--pages", "1", "--threads", "1"], capture_output=True,
                                text=True, timeout=30, env=clean_environment(HOME=user))
        self.assertEqual(answer.returncode, 1, answer.stderr)
        self.assertIn("没有收到任何结果页", answer.stderr)
        home = os.path.join(user, ".local", "share", "Quarry")
        self.assertTrue(os.path.isfile(os.path.join(home, "sys", "finished.tsk")))
        self.assertTrue(os.path.isdir(os.path.join(home, "DownData")))
        self.assertEqual(sorted(os.listdir(self.path("bin"))),
                         ["quarry", "quarry-cli", "quarry-regex"])


if __name__ == "__main__":
    if shutil.which("desktop-file-validate") is None:
        print("desktop-file-validate is missing: install desktop-file-utils", file=sys.stderr)
        sys.exit(1)
    unittest.main(argv=sys.argv[:1])
