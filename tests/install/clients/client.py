#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""libkpz from Python through ctypes, as a script would use the installed library.

    client.py restore FILE.kpz OUTPUT   restore a file by path into OUTPUT
    client.py stream                    restore the .kpz file on standard input to standard output
    client.py compress NAME             compress standard input to standard output, storing NAME

The library is libkpz.so.1 from the loader's path, or the file KPZ_LIBRARY names. The
password, if any, comes from KPZ_PASSWORD. Compressing stores a check value."""
import ctypes
import os
import sys

lib = ctypes.CDLL(os.environ.get("KPZ_LIBRARY", "libkpz.so.1"))
lib.kpz_strerror.restype = ctypes.c_char_p
lib.kpz_strerror.argtypes = [ctypes.c_int]
lib.kpz_restore_file.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p]
lib.kpz_reader_open_fd.restype = ctypes.c_void_p
lib.kpz_reader_open_fd.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int)]
lib.kpz_reader_read64.restype = ctypes.c_int64
lib.kpz_reader_read64.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
lib.kpz_reader_close.argtypes = [ctypes.c_void_p]
PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint64, ctypes.c_uint64, ctypes.c_void_p)
lib.kpz_compress_fd.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p,
                                ctypes.c_uint, PROGRESS, ctypes.c_void_p]
KPZ_CHECK = 2


def fail(what, code):
    sys.exit(f"client.py: {what}: {lib.kpz_strerror(code).decode()}")


def main(args):
    password = os.environ.get("KPZ_PASSWORD")
    password = password.encode() if password is not None else None
    if len(args) == 3 and args[0] == "restore":
        code = lib.kpz_restore_file(args[1].encode(), args[2].encode(), password)
        if code:
            fail(args[1], code)
    elif len(args) == 1 and args[0] == "stream":
        error = ctypes.c_int(0)
        reader = lib.kpz_reader_open_fd(0, password, ctypes.byref(error))
        if not reader:
            fail("standard input", error.value)
        buffer = ctypes.create_string_buffer(1 << 16)
        out = sys.stdout.buffer
        while (n := lib.kpz_reader_read64(reader, buffer, len(buffer))) > 0:
            out.write(buffer.raw[:n])
        out.flush()
        lib.kpz_reader_close(reader)
        if n < 0:
            fail("standard input", n)
    elif len(args) == 2 and args[0] == "compress":
        code = lib.kpz_compress_fd(0, 1, args[1].encode(), password, KPZ_CHECK, PROGRESS(), None)
        if code:
            fail("standard input", code)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
