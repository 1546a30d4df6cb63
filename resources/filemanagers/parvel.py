"""Parvel's entries in the context menu of GNOME Files (nautilus-python).

"Share with Parvel" shows the chosen files in Parvel, ready to upload;
"Copy Parvel link" uploads them at once and puts their links on the
clipboard. Both hand the files to the running Parvel, or start it.
"""

from gi.repository import GLib, GObject, Nautilus


def _local_files(files):
    """The paths of the chosen files; None when one is a folder or remote."""
    paths = []
    for file in files:
        location = file.get_location()
        path = location.get_path() if location else None
        if file.is_directory() or not path:
            return None
        paths.append(path)
    return paths or None


def _run(_item, options, paths):
    GLib.spawn_async(["parvel", *options, *paths], flags=GLib.SpawnFlags.SEARCH_PATH)


class ParvelMenu(GObject.GObject, Nautilus.MenuProvider):
    # Nautilus 43 and later call get_file_items(files); older ones pass the
    # window first.
    def get_file_items(self, *args):
        paths = _local_files(args[-1])
        if paths is None:
            return []
        share = Nautilus.MenuItem(name="ParvelMenu::Share", label="Share with Parvel")
        share.connect("activate", _run, [], paths)
        link = Nautilus.MenuItem(name="ParvelMenu::CopyLink", label="Copy Parvel link")
        link.connect("activate", _run, ["--share"], paths)
        return [share, link]
