#!/usr/bin/env python3
"""The logging library's C interface through ctypes, as a Python script uses it.

Usage: script_interface.py LIBRARY. Everything the library configures or writes stays in a scratch
folder; the exit status is 0 when every check holds."""

import ctypes
import os
import sys
import tempfile

S_OK, S_FALSE = 0, 1
E_POINTER, E_INVALIDARG = -0x7FFFBFFD, -0x7FF8FFA9  # 0x80004003, 0x80070057 as signed 32-bit numbers


def main(library_path):
    with tempfile.TemporaryDirectory(prefix="scriblet-python-") as scratch:
        os.environ["XDG_DATA_HOME"] = os.path.join(scratch, "data")
        os.environ["QUILLMERE_USER_REGISTRY"] = os.path.join(scratch, "user.ini")
        os.environ["QUILLMERE_MACHINE_REGISTRY"] = os.path.join(scratch, "machine.ini")
        log_file = os.path.join(scratch, "python.log")
        with open(os.path.join(scratch, "scriblet.Python.cfg"), "w") as template:
            template.write("log4cplus.rootLogger=INFO, A\n"
                           "log4cplus.logger.py.app=DEBUG\n"
                           "log4cplus.appender.A=log4cplus::FileAppender\n"
                           f"log4cplus.appender.A.File={log_file}\n"
                           "log4cplus.appender.A.layout=log4cplus::PatternLayout\n"
                           "log4cplus.appender.A.layout.ConversionPattern=%-5p %c %m%n\n")
        with open(os.environ["QUILLMERE_USER_REGISTRY"], "w") as registry:
            registry.write(f"[SOFTWARE\\Quillmere\\Logging\\Python]\nCfgSourceDir={scratch}\n")
        check_library(ctypes.CDLL(library_path), log_file)


def check_library(lib, log_file):
    handle = ctypes.c_void_p
    lib.scriblet_logger_create.argtypes = [ctypes.POINTER(handle)]
    lib.scriblet_logger_release.argtypes = [handle]
    for name in ("put_name", "put_subsystem", "information", "warning", "debug"):
        getattr(lib, "scriblet_logger_" + name).argtypes = [handle, ctypes.c_char_p]
    lib.scriblet_logger_get_name.argtypes = [handle, ctypes.POINTER(ctypes.c_void_p)]
    lib.scriblet_logger_get_all_log_path.argtypes = [handle, ctypes.POINTER(ctypes.c_void_p)]
    lib.scriblet_logger_can_write_log.argtypes = [handle, ctypes.c_char_p, ctypes.c_int32,
                                                  ctypes.POINTER(ctypes.c_int)]
    lib.scriblet_logger_get_logger_info.argtypes = [handle, ctypes.POINTER(handle)]
    lib.scriblet_items_new_enum.argtypes = [handle, ctypes.POINTER(handle)]
    lib.scriblet_items_release.argtypes = [handle]
    lib.scriblet_enum_next.argtypes = [handle, ctypes.POINTER(ctypes.c_void_p)]
    lib.scriblet_enum_release.argtypes = [handle]
    lib.scriblet_free_string.argtypes = [ctypes.c_void_p]

    def text(pointer):
        value = ctypes.string_at(pointer.value).decode()
        lib.scriblet_free_string(pointer)
        return value

    logger = handle()
    assert lib.scriblet_logger_create(ctypes.byref(logger)) == S_OK
    try:
        assert lib.scriblet_logger_put_subsystem(logger, b"Python") == S_OK
        assert lib.scriblet_logger_information(logger, "from the root \u00e9".encode()) == S_OK
        assert lib.scriblet_logger_put_name(logger, b"py.app") == S_OK
        assert lib.scriblet_logger_debug(logger, b"named") == S_OK
        assert lib.scriblet_logger_warning(logger, None) == E_INVALIDARG
        assert lib.scriblet_logger_get_name(logger, None) == E_POINTER

        name = ctypes.c_void_p()
        assert lib.scriblet_logger_get_name(logger, ctypes.byref(name)) == S_OK
        assert text(name) == "py.app"
        enabled = ctypes.c_int(-1)
        assert lib.scriblet_logger_can_write_log(logger, b"py", 10000, ctypes.byref(enabled)) == S_OK
        assert enabled.value == 0
        paths = ctypes.c_void_p()
        assert lib.scriblet_logger_get_all_log_path(logger, ctypes.byref(paths)) == S_OK
        assert text(paths) == log_file

        items, walk, item = handle(), handle(), ctypes.c_void_p()
        assert lib.scriblet_logger_get_logger_info(logger, ctypes.byref(items)) == S_OK
        assert lib.scriblet_items_new_enum(items, ctypes.byref(walk)) == S_OK
        lib.scriblet_items_release(items)
        texts = []
        while lib.scriblet_enum_next(walk, ctypes.byref(item)) == S_OK:
            texts.append(text(item))
        lib.scriblet_enum_release(walk)
        assert item.value is None
        assert texts == ["py.app|DEBUG|"], texts
    finally:
        lib.scriblet_logger_release(logger)

    with open(log_file, encoding="utf-8") as written:
        lines = written.read().splitlines()
    assert lines == ["INFO  root from the root \u00e9", "DEBUG py.app named"], lines


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
