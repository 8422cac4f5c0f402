#!/usr/bin/python3
"""The Debian package: built by CPack from the build tree, its contents and
metadata checked, lintian run, unpacked into a throw-away root, every desktop
file validated and every action's command line run on awkward names.

Usage: test_deb.py <build dir> [unittest arguments]
"""
import concurrent.futures
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvactions as qa  # noqa: E402

BUILD = None

EXPECTED_FILES = {
    "usr/bin/Quorvelpack": 0o755, "usr/bin/Quorvelunpack": 0o755,
    "usr/lib/quorvel/quorvel-launch": 0o755,
    "usr/share/applications/quorvelpack.desktop": 0o644,
    "usr/share/applications/quorvelunpack.desktop": 0o644,
    "usr/share/man/man1/Quorvelpack.1.gz": 0o644,
    "usr/share/man/man1/Quorvelunpack.1.gz": 0o644,
    "usr/share/doc/quorvel/copyright": 0o644,
    "usr/share/doc/quorvel/changelog.gz": 0o644,
    "usr/share/lintian/overrides/quorvel": 0o644,
    "usr/share/kio/servicemenus/quorvelpack.desktop": 0o755,
    "usr/share/kio/servicemenus/quorvelunpack.desktop": 0o755,
    "usr/share/nautilus-python/extensions/quorvel_nautilus.py": 0o644,
}
for _m in ("pack", "pack-trash", "pack-encrypt", "unpack", "unpack-delete"):
    EXPECTED_FILES["usr/share/nemo/actions/quorvel-%s.nemo_action" % _m] = 0o644
    EXPECTED_FILES["usr/share/file-manager/actions/quorvel-%s.desktop" % _m] = 0o644
for _n in ("quorvelpack", "quorvelunpack"):
    for _s in (16, 24, 32, 48, 64, 128, 256):
        EXPECTED_FILES["usr/share/icons/hicolor/%dx%d/apps/%s.png" % (_s, _s, _n)] = 0o644

# desktop-file-validate knows only the freedesktop types: these complaints
# are about the file managers' own types (Type=Service for Dolphin,
# Type=Action with profiles for FileManager-Actions), nothing else is allowed.
FOREIGN_TYPE_COMPLAINTS = (
    'but the type is "Service" while this key is only valid for type "Application"',
    'value "Action" for key "Type" in group "Desktop Entry" is not a registered type value',
    'file contains key "Profiles" in group "Desktop Entry", but keys extending the format',
    'file contains key "Tooltip" in group "Desktop Entry", but keys extending the format',
    'file contains key "TargetContext" in group "Desktop Entry", but keys extending the format',
    'file contains group "X-Action-Profile main", but groups extending the format should start',
)


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="qv_deb_")
        out = os.path.join(cls.tmp, "cpack")
        r = subprocess.run(["cpack", "-G", "DEB", "-B", out,
                            "--config", os.path.join(BUILD, "CPackConfig.cmake")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=BUILD)
        assert r.returncode == 0, r.stdout.decode("utf-8", "replace")
        debs = [f for f in os.listdir(out) if f.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(out, debs[0])
        cls.root = os.path.join(cls.tmp, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], stdout=subprocess.PIPE,
                              check=True).stdout.decode("utf-8").strip()

    def test_contents_and_metadata(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.deb], stdout=subprocess.PIPE,
                                 check=True).stdout.decode("utf-8").splitlines()
        files = {}
        for line in listing:
            perms, owner, _size, _date, _time, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", line)
            path = path[2:] if path.startswith("./") else path
            if perms.startswith("-"):
                mode = sum(0o400 >> i for i, c in enumerate(perms[1:10]) if c != "-")
                files[path] = mode
        self.assertEqual(files, EXPECTED_FILES)
        self.assertEqual(self.field("Package"), "quorvel")
        # dpkg-shlibdeps found what the programs link against.
        depends = self.field("Depends")
        for lib in ("libarchive13", "libc6", "libstdc++6"):
            self.assertIn(lib, depends)
        self.assertNotIn("-dev", depends)
        # gzip -9n: maximum compression flag, no name, no date.
        for gz in ("usr/share/man/man1/Quorvelpack.1.gz", "usr/share/doc/quorvel/changelog.gz"):
            with open(os.path.join(self.root, gz), "rb") as f:
                head = f.read(10)
            self.assertEqual(head[:3], b"\x1f\x8b\x08", gz)
            self.assertEqual(head[3] & 0x08, 0, gz + " stores a file name")
            self.assertEqual(head[4:8], b"\0\0\0\0", gz + " stores a date")
            self.assertEqual(head[8], 2, gz + " is not compressed with -9")
        man = subprocess.run(["zcat", os.path.join(self.root, "usr/share/man/man1/Quorvelpack.1.gz")],
                             stdout=subprocess.PIPE, check=True).stdout.decode("utf-8")
        self.assertIn("compresser un dossier", man)
        for icon in [p for p in files if p.endswith(".png")]:
            with open(os.path.join(self.root, icon), "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n", icon)

    def test_lintian(self):
        r = subprocess.run(["lintian", "--fail-on", "error,warning", self.deb],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = r.stdout.decode("utf-8", "replace")
        tags = [l for l in out.splitlines() if l[:2] in ("E:", "W:")]
        self.assertEqual((r.returncode, tags), (0, []), out)

    def test_desktop_files_validate(self):
        share = os.path.join(self.root, "usr", "share")
        for rel in ("applications/quorvelpack.desktop", "applications/quorvelunpack.desktop"):
            r = subprocess.run(["desktop-file-validate", os.path.join(share, rel)],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertEqual((r.returncode, r.stdout), (0, b""), rel)
        for folder in ("kio/servicemenus", "file-manager/actions"):
            for f in os.listdir(os.path.join(share, folder)):
                r = subprocess.run(["desktop-file-validate", os.path.join(share, folder, f)],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                for line in r.stdout.decode("utf-8").splitlines():
                    self.assertTrue(any(c in line for c in FOREIGN_TYPE_COMPLAINTS), line)
        unpack = qa.keyfile(os.path.join(share, "applications/quorvelunpack.desktop"))
        self.assertEqual(unpack["Desktop Entry"]["MimeType"], "application/zip;")
        self.assertNotIn("NoDisplay", unpack["Desktop Entry"])
        pack = qa.keyfile(os.path.join(share, "applications/quorvelpack.desktop"))
        self.assertEqual(pack["Desktop Entry"]["NoDisplay"], "true")
        self.assertNotIn("MimeType", pack["Desktop Entry"])

    def relocate(self, path):
        self.assertTrue(path.startswith("/usr/lib/quorvel/"), path)
        return os.path.join(self.root, path.lstrip("/"))

    def test_nautilus_menu_offers_the_right_items(self):
        ext = os.path.join(self.root, "usr/share/nautilus-python/extensions/quorvel_nautilus.py")
        _cmds, items_for = qa.nautilus_extension_commands(ext, self.relocate)
        work = os.path.join(self.tmp, "menu")
        os.makedirs(os.path.join(work, "dossier"))
        for name in ("a.zip", "b.ZIP", "c.txt"):
            open(os.path.join(work, name), "w").close()
        p = lambda n: os.path.join(work, n)  # noqa: E731
        labels = lambda paths, **kw: [i.label for i in items_for(paths, **kw)]  # noqa: E731
        self.assertEqual(labels([p("dossier")]), [
            "Compresser avec Quorvelpack",
            "Compresser avec Quorvelpack puis mettre le dossier à la corbeille",
            "Compresser avec Quorvelpack en chiffrant (AES-256)"])
        self.assertEqual(labels([p("a.zip"), p("b.ZIP")]), [
            "Extraire avec Quorvelunpack", "Extraire avec Quorvelunpack puis supprimer l'archive"])
        self.assertEqual(labels([p("dossier"), p("a.zip")]), [])
        self.assertEqual(labels([p("c.txt")]), [])
        self.assertEqual(labels([p("dossier")], scheme="sftp"), [])

    def test_every_action_runs_on_awkward_names(self):
        share = os.path.join(self.root, "usr", "share")
        cmds = qa.desktop_commands(share, self.relocate)
        ext = os.path.join(share, "nautilus-python/extensions/quorvel_nautilus.py")
        cmds += qa.nautilus_extension_commands(ext, self.relocate)[0]
        modes = sorted(c.mode for c in cmds if not c.source.startswith("applications/"))
        self.assertEqual(modes, sorted(["pack", "pack-trash", "pack-encrypt", "unpack",
                                        "unpack-delete"] * 4))
        self.assertEqual(sorted(c.mode for c in cmds if c.source.startswith("applications/")),
                         ["pack", "unpack"])
        for c in cmds:
            self.assertEqual(c.kind, qa.KIND[c.mode], c.source)
        run_all(self, cmds, os.path.join(self.tmp, "runs"))


def run_all(test, cmds, base):
    """Each command in its own folder and home, several at a time: a run
    spends most of its time in the programs' closing waits."""
    def one(i, cmd):
        work = os.path.join(base, "%02d" % i)
        env = qa.program_env(os.environ, os.path.join(work, "home"))
        qa.exercise(test, cmd, os.path.join(work, "items"), env)
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        futures = [pool.submit(one, i, c) for i, c in enumerate(cmds)]
        errors = []
        for c, f in zip(cmds, futures):
            try:
                f.result()
            except AssertionError as e:
                errors.append("%s: %s" % (c.source, e))
        test.assertEqual(errors, [])


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
