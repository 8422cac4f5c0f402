"""Quorvelpack and Quorvelunpack in Nautilus's context menu, for every user.

Nautilus has no system-wide scripts folder; its extensions written with
nautilus-python (package python3-nautilus) are its system-wide way to add
entries. Folders get the compressor's actions, zip archives the extractor's;
a selection that mixes both, or holds anything that is not a local file, gets
none. Each entry starts the launcher once with the whole selection: it runs
one program after another.
"""
import gi

try:
    gi.require_version("Nautilus", "4.0")
except ValueError:
    gi.require_version("Nautilus", "3.0")
from gi.repository import GLib, GObject, Nautilus  # noqa: E402

LAUNCHER = "@LAUNCHER@"
ACTIONS = ()  # @ACTIONS@


def _target(info):
    if info.get_uri_scheme() != "file":
        return None
    if info.is_directory():
        return "dir"
    if info.get_mime_type() == "application/zip" or info.get_name().lower().endswith(".zip"):
        return "zip"
    return None


def _start(_item, mode, paths):
    # Without DO_NOT_REAP_CHILD GLib detaches the child itself: Nautilus
    # neither waits for the runs nor keeps a zombie.
    flags = getattr(GLib.SpawnFlags, "STDIN_FROM_DEV_NULL", GLib.SpawnFlags.DEFAULT)
    GLib.spawn_async([LAUNCHER, mode] + paths, flags=flags)


class QuorvelMenuProvider(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, *args):
        # Nautilus 43 passes (files), older versions (window, files).
        files = args[-1]
        if not files:
            return []
        targets = {_target(f) for f in files}
        if len(targets) != 1 or None in targets:
            return []
        target = targets.pop()
        paths = [f.get_location().get_path() for f in files]
        if None in paths:
            return []
        items = []
        for mode, label, kind in ACTIONS:
            if kind != target:
                continue
            item = Nautilus.MenuItem(name="Quorvel::" + mode, label=label, tip=label)
            item.connect("activate", _start, mode, paths)
            items.append(item)
        return items
