"""File listings a backup can use: the library names each entry by its live
path and lists one directory level per descriptor; a backup reads the copy,
needs to know which entries are directories and what lies below them."""

import os
from typing import NamedTuple, Optional


def copy_path(live_path, volumes, mount_paths):
    """The path of `live_path` inside the shadow copy of the volume it lies
    on, or None when it lies on none of `volumes`. `mount_paths` are the
    copies' device paths in the order of `volumes`. The longest volume name
    that is a prefix of the path wins, compared without regard to case and
    at a separator, so that a volume mounted in a folder of another (C:\\Data\\
    below C:\\) takes the paths below that folder."""
    best = None
    folded = live_path.lower()
    for volume, mount_path in zip(volumes, mount_paths):
        root = volume if volume.endswith("\\") else volume + "\\"
        if (folded + "\\").startswith(root.lower()) and (best is None or len(root) > len(best[0])):
            best = (root, mount_path)
    if best is None:
        return None
    root, mount_path = best
    return (mount_path if mount_path.endswith("\\") else mount_path + "\\") + live_path[len(root):]


class ListedFile(NamedTuple):
    """An entry of a listing: its live path, its path inside the shadow copy
    (None when it lies on no copied volume) and whether it is a directory
    there."""

    path: str
    copy_path: Optional[str]
    is_directory: bool


def listing(files, excluded, volumes, mount_paths, locate, walk):
    """The entries of `files` less those in `excluded` (compared without
    regard to case), each marked; with `walk`, followed by what lies below
    each directory inside the copy. `locate` turns a path inside the copy into
    one this process can open."""
    skip = {path.lower() for path in excluded}
    result = []

    def visit(path):
        if path.lower() in skip:
            return
        inside = copy_path(path, volumes, mount_paths)
        local = locate(inside) if inside is not None else None
        is_directory = local is not None and os.path.isdir(local)
        result.append(ListedFile(path, inside, is_directory))
        if walk and is_directory:
            for name in sorted(os.listdir(local)):
                visit(path.rstrip("\\") + "\\" + name)

    for path in files:
        visit(path)
    return result
