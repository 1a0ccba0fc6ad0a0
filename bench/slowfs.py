#!/usr/bin/python3
# A folder mounted through FUSE whose writes go at a set speed: a stand-in for a slow USB stick,
# for measuring how soon a stopped copy ends. Usage: slowfs.py BACKING MOUNTPOINT BYTES_PER_SECOND
# (it stays in the foreground; unmount with "fusermount3 -u MOUNTPOINT" or "umount").
import errno
import os
import sys
import threading
import time

from fusepy import FUSE, FuseOSError, Operations


class SlowFolder(Operations):
    def __init__(self, backing, rate):
        self.backing = backing
        self.rate = rate
        self.device_lock = threading.Lock()
        self.next_free = time.monotonic()

    def _path(self, path):
        return os.path.join(self.backing, path.lstrip("/"))

    def _wait_for(self, size):
        # One device: writes queue behind each other at the set speed.
        with self.device_lock:
            start = max(self.next_free, time.monotonic())
            self.next_free = start + size / self.rate
            done = self.next_free
        time.sleep(max(0.0, done - time.monotonic()))

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self._path(path))
        except OSError as error:
            raise FuseOSError(error.errno)
        keys = ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime", "st_nlink", "st_size",
                "st_uid", "st_ino")
        attributes = {key: getattr(st, key) for key in keys}
        attributes["st_atime"] = st.st_atime_ns / 1e9
        attributes["st_mtime"] = st.st_mtime_ns / 1e9
        attributes["st_ctime"] = st.st_ctime_ns / 1e9
        return attributes

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def mkdir(self, path, mode):
        os.mkdir(self._path(path), mode)

    def rmdir(self, path):
        os.rmdir(self._path(path))

    def chmod(self, path, mode):
        os.chmod(self._path(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self._path(path), uid, gid)

    def unlink(self, path):
        os.unlink(self._path(path))

    def rename(self, old, new):
        os.rename(self._path(old), self._path(new))

    def link(self, target, name):
        os.link(self._path(name), self._path(target))

    def symlink(self, name, target):
        os.symlink(name, self._path(target))

    def readlink(self, path):
        return os.readlink(self._path(path))

    def utimens(self, path, times=None):
        os.utime(self._path(path), times)

    def statfs(self, path):
        st = os.statvfs(self._path(path))
        keys = ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree", "f_files",
                "f_flag", "f_frsize", "f_namemax")
        return {key: getattr(st, key) for key in keys}

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        self._wait_for(len(data))
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def flush(self, path, fh):
        return 0

    def release(self, path, fh):
        os.close(fh)

    def fsync(self, path, datasync, fh):
        return 0


if __name__ == "__main__":
    backing, mountpoint, rate = sys.argv[1], sys.argv[2], float(sys.argv[3])
    FUSE(SlowFolder(backing, rate), mountpoint, foreground=True, nothreads=False,
         allow_other=True)
