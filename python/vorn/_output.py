"""Output files. Only a new name or a regular file is written (a symbolic
link only with ``overwrite``, and then the link is replaced, never its
target); what the path names is looked at without being opened. The data
go to a temporary name in the same folder, NAME.partial.EXT (before the
extension, as vornctl names it, so readers that go by the extension still open
a write cut short), which is renamed to NAME.EXT at the end: a write that is cut short leaves NAME as it was, and the
next write to NAME says where the leftover is."""
from __future__ import annotations

import errno
import os
import re
import stat
import warnings
from typing import List

from .errors import OutputError, OutputExists

_MARK = ".partial"


def partial_path(path: str, n: int = 0) -> str:
    """The temporary name of a write to ``path`` (the n-th, when earlier ones are left)."""
    root, ext = os.path.splitext(path)
    return root + _MARK + (str(n) if n else "") + ext


def _kind(mode: int) -> str:
    if stat.S_ISDIR(mode):
        return "a folder"
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISCHR(mode) or stat.S_ISBLK(mode):
        return "a device"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "not a regular file"


def _os_error(path: str, e: OSError, doing: str) -> OutputError:
    if e.errno == errno.ENAMETOOLONG:
        return OutputError(f"cannot {doing} {path[:60]}... ({len(path)} characters): the path or a name in it "
                           f"is too long for the system")
    if e.errno in (errno.EACCES, errno.EPERM):
        folder = os.path.dirname(os.path.abspath(path))
        why = "a folder on the way is closed to this user" if doing == "reach" else \
            f"this user may not write into {folder}"
        return OutputError(f"cannot {doing} {path}: permission denied ({why})")
    if e.errno == errno.ENOSPC:
        return OutputError(f"cannot {doing} {path}: the disk is full")
    return OutputError(f"cannot {doing} {path}: {e.strerror or e}")


def check_path(path, overwrite: bool) -> str:
    """The path as text once it may be written; OutputExists or OutputError
    with the reason otherwise. Nothing is opened or changed."""
    if isinstance(path, bytes) or not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"an output path is a str or path object, not {type(path).__name__}")
    path = os.fspath(path)
    if not isinstance(path, str):
        raise TypeError("an output path is a str or path object")
    if path == "":
        raise OutputError("the output path is empty")
    try:
        st = os.lstat(path)
    except FileNotFoundError:
        folder = os.path.dirname(path) or "."
        if not os.path.isdir(folder):
            raise OutputError(f"cannot write {path}: the folder {folder} does not exist") from None
        return path
    except NotADirectoryError:
        raise OutputError(f"cannot write {path}: a part of the path before the name is not a folder") from None
    except OSError as e:
        raise _os_error(path, e, "reach") from None
    if stat.S_ISLNK(st.st_mode):
        if not overwrite:
            raise OutputExists(f"{path} is a symbolic link (to {os.readlink(path)}); pass overwrite=True to "
                               f"replace the link itself (what it points to is never written)")
    elif stat.S_ISREG(st.st_mode):
        if not overwrite:
            raise OutputExists(f"{path} exists; pass overwrite=True to replace it, or choose another name")
    else:
        raise OutputError(f"cannot write {path}: it is {_kind(st.st_mode)}; recordings go to regular files")
    return path


def leftovers(path: str) -> List[str]:
    """Temporary files of earlier writes to ``path`` that never finished."""
    folder = os.path.dirname(path) or "."
    root, ext = os.path.splitext(os.path.basename(path))
    pattern = re.compile(re.escape(root + _MARK) + r"[0-9]*" + re.escape(ext) + r"\Z")
    try:
        names = os.listdir(folder)
    except OSError:
        return []
    return sorted(os.path.join(os.path.dirname(path), n) for n in names if pattern.match(n))


class OutputFile:
    """A file written under NAME.partial.EXT and renamed to NAME.EXT by :meth:`commit`;
    :meth:`discard` (or leaving a ``with`` block by an exception) removes it."""

    def __init__(self, path, overwrite: bool = False) -> None:
        self.path = check_path(path, overwrite)
        self.overwrite = overwrite
        for old in leftovers(self.path):
            warnings.warn(f"{old} is left from an earlier write of {self.path} that did not finish and holds what "
                          f"that write had; it is kept", stacklevel=3)
        self.temp = ""
        self.fd = -1
        flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_NOFOLLOW", 0)
        for n in range(100):
            candidate = partial_path(self.path, n)
            try:
                self.fd = os.open(candidate, flags, 0o666)
            except FileExistsError:
                continue
            except OSError as e:
                raise _os_error(candidate, e, "create") from None
            self.temp = candidate
            break
        else:
            raise OutputError(f"cannot write {self.path}: {partial_path(self.path)} to {partial_path(self.path, 99)} "
                              f"are all taken by "
                              f"earlier writes that did not finish")

    def write(self, data: bytes) -> None:
        view = memoryview(data)
        try:
            while view:
                view = view[os.write(self.fd, view):]
        except OSError as e:
            raise _os_error(self.path, e, "write") from None

    def close_fd(self) -> None:
        if self.fd >= 0:
            fd, self.fd = self.fd, -1
            os.close(fd)

    def commit(self) -> None:
        """Makes the data durable and gives them the name."""
        try:
            if self.fd < 0:
                # Written by someone else's open (EDFlib): synced through a descriptor of our own.
                self.fd = os.open(self.temp, os.O_RDONLY | getattr(os, "O_CLOEXEC", 0))
            os.fsync(self.fd)
        except OSError as e:
            raise _os_error(self.path, e, "write") from None
        finally:
            self.close_fd()
        if self.overwrite:
            try:
                os.replace(self.temp, self.path)
            except OSError as e:
                raise _os_error(self.path, e, "write") from None
        else:
            self._link_new()
        self.temp = ""

    def _link_new(self) -> None:
        # A hard link fails rather than replace a file that appeared meanwhile.
        try:
            os.link(self.temp, self.path)
        except FileExistsError:
            raise OutputExists(f"{self.path} appeared while it was being written; it is kept, pass "
                               f"overwrite=True to replace it") from None
        except OSError as e:
            if e.errno not in (errno.EPERM, errno.ENOTSUP, errno.EOPNOTSUPP, errno.EMLINK, errno.EXDEV):
                raise _os_error(self.path, e, "write") from None
            # A file system without hard links: the check is as near the rename as it gets.
            if os.path.lexists(self.path):
                raise OutputExists(f"{self.path} appeared while it was being written; it is kept") from None
            os.rename(self.temp, self.path)
            return
        os.unlink(self.temp)

    def discard(self) -> None:
        self.close_fd()
        if self.temp:
            try:
                os.unlink(self.temp)
            except OSError:
                pass
            self.temp = ""

    def __enter__(self) -> "OutputFile":
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        if exc_type is not None or self.temp:
            self.discard()
