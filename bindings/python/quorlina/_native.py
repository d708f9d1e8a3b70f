"""Loading libquorlina_ffi and declaring its functions for ctypes.

The library is looked for in this order:

1. ``QUORLINA_LIB``: the path of the library to use. An explicit choice is
   used or fails; the search never falls back from it.
2. An installed library: the one the system's dynamic loader finds
   (``ctypes.util.find_library("quorlina_ffi")``), then the one in the
   ``libdir`` of the ``quorlina`` pkg-config package (which honours
   ``PKG_CONFIG_PATH``, so a prefix installed with ``cmake --install
   --prefix`` is found).
3. A build tree of the source checkout this package lives in
   (``build/*/libquorlina_ffi.so``, ``.dylib`` on macOS), the most recently
   built library first.
   The newest one is the one the developer built last; a fixed order of
   build directories would pick, say, an old ``build/release`` over a
   fresh ``build/default``. Sanitizer builds are passed over unless a
   sanitizer runtime is preloaded, because loading one into an
   uninstrumented interpreter aborts it.

When no library loads, ``ImportError`` lists every place looked at.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import glob
import os
import platform
import subprocess
from typing import Any, Callable, List, Optional, Tuple


def _library_names(system: str) -> Tuple[str, str]:
    """The library's file name and the versioned name programs load, on the
    system ``platform.system()`` calls ``system``."""
    if system == "Darwin":
        return "libquorlina_ffi.dylib", "libquorlina_ffi.0.dylib"
    return "libquorlina_ffi.so", "libquorlina_ffi.so.0"


_LIB_NAME, _SONAME = _library_names(platform.system())


def _instrumented(path: str) -> bool:
    """Whether a library file was built with a sanitizer."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return False
    return any(marker in data for marker in (b"__asan_init", b"__tsan_init", b"__ubsan_handle"))


def _pkg_config_libdir() -> Tuple[Optional[str], str]:
    """The libdir of the quorlina pkg-config package, or None and why not."""
    try:
        result = subprocess.run(["pkg-config", "--variable=libdir", "quorlina"], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=30, check=False)
    except (OSError, subprocess.SubprocessError):
        return None, "pkg-config is not installed"
    libdir = result.stdout.decode("utf-8", "replace").strip()
    if result.returncode != 0 or not libdir:
        return None, "pkg-config has no quorlina package"
    return libdir, ""


def _source_root() -> Optional[str]:
    """The source checkout this package is part of, if it is in one."""
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
    header = os.path.join(root, "include", "quorlina", "quorlina.h")
    return root if os.path.isfile(header) else None


def _built_libraries(root: str) -> List[str]:
    built = glob.glob(os.path.join(root, "build", "*", _LIB_NAME))
    built.sort(key=lambda p: os.path.getmtime(os.path.realpath(p)), reverse=True)
    return built


def _load() -> ctypes.CDLL:
    explicit = os.environ.get("QUORLINA_LIB")
    if explicit:
        try:
            return ctypes.CDLL(explicit)
        except OSError as exc:
            raise ImportError("cannot load libquorlina_ffi from QUORLINA_LIB=%s: %s" % (explicit, exc)) from exc

    looked = ["QUORLINA_LIB: not set"]
    preloaded = bool(os.environ.get("LD_PRELOAD"))

    def attempt(path: str, where: str) -> Optional[ctypes.CDLL]:
        if not preloaded and os.path.isabs(path) and _instrumented(path):
            looked.append("%s: %s is built with a sanitizer" % (where, path))
            return None
        try:
            return ctypes.CDLL(path)
        except OSError as exc:
            looked.append("%s: %s" % (where, exc))
            return None

    found = ctypes.util.find_library("quorlina_ffi")
    if found:
        lib = attempt(found, "the system's library path")
        if lib is not None:
            return lib
    else:
        looked.append("the system's library path: not found")

    libdir, why = _pkg_config_libdir()
    if libdir is None:
        looked.append("pkg-config: " + why)
    else:
        paths = [os.path.join(libdir, n) for n in (_SONAME, _LIB_NAME) if os.path.exists(os.path.join(libdir, n))]
        for path in paths[:1]:
            lib = attempt(path, "pkg-config libdir " + libdir)
            if lib is not None:
                return lib
        if not paths:
            looked.append("pkg-config libdir %s: no %s there" % (libdir, _LIB_NAME))

    root = _source_root()
    if root is None:
        looked.append("build tree: this package is not in a source checkout")
    else:
        built = _built_libraries(root)
        for path in built:
            lib = attempt(path, "build tree")
            if lib is not None:
                return lib
        if not built:
            looked.append("build tree: no %s" % os.path.join(root, "build", "*", _LIB_NAME))

    raise ImportError("libquorlina_ffi not found. Looked at:\n  " + "\n  ".join(looked) +
                      "\nInstall the library, build it, or set QUORLINA_LIB to its path.")


lib = _load()

_str = ctypes.c_char_p
_out = ctypes.POINTER(ctypes.c_void_p)  # char **: kept as an address so it can be freed
_i64 = ctypes.c_int64
_int = ctypes.c_int

_PROTOTYPES: "dict[str, Tuple[Any, List[Any]]]" = {
    "quorlina_free": (None, [ctypes.c_void_p]),
    "quorlina_snippet_create": (_int, [_str, _i64, _str, _str, _str, _out]),
    "quorlina_snippet_list": (_int, [_str, _out]),
    "quorlina_snippet_read": (_int, [_str, _i64, _out]),
    "quorlina_snippet_update": (_int, [_str, _i64, _str, _str, _str]),
    "quorlina_snippet_delete": (_int, [_str, _i64]),
    "quorlina_post_create": (_int, [_str, _str, _str, _str, _str, _str, _out]),
    "quorlina_post_list": (_int, [_str, _out]),
    "quorlina_post_read": (_int, [_str, _str, _out]),
    "quorlina_post_update": (_int, [_str, _str, _str, _str, _str, _str, _str]),
    "quorlina_post_delete": (_int, [_str, _str]),
    "quorlina_note_create": (_int, [_str, _i64, _str, _str, _out]),
    "quorlina_note_list": (_int, [_str, _out]),
    "quorlina_note_read": (_int, [_str, _str, _out]),
    "quorlina_note_update": (_int, [_str, _str, _str, _int, _str]),
    "quorlina_note_delete": (_int, [_str, _str]),
}

for _name, (_restype, _argtypes) in _PROTOTYPES.items():
    _fn = getattr(lib, _name)
    _fn.restype = _restype
    _fn.argtypes = _argtypes


# The options structs of the extended functions (0.3 and later), field for
# field as the header declares them. Each starts with `version`, which must
# be the header's *_OPTIONS_VERSION of that struct; a library refuses a
# version it does not know. ctypes keeps the bytes objects assigned to the
# c_char_p fields alive as long as the struct.

class CheckOptions(ctypes.Structure):
    """quorlina_check_options."""

    VERSION = 1
    _fields_ = [("version", ctypes.c_uint), ("family", ctypes.c_char_p)]


class PostCreateOptions(ctypes.Structure):
    """quorlina_post_create_options."""

    VERSION = 1
    _fields_ = [("version", ctypes.c_uint), ("body", ctypes.c_char_p), ("draft", ctypes.c_int),
                ("date_key", ctypes.c_int)]


class PostUpdateOptions(ctypes.Structure):
    """quorlina_post_update_options."""

    VERSION = 1
    _fields_ = [("version", ctypes.c_uint), ("title", ctypes.c_char_p), ("description", ctypes.c_char_p),
                ("tags", ctypes.c_char_p), ("add_tags", ctypes.c_char_p), ("remove_tags", ctypes.c_char_p),
                ("body", ctypes.c_char_p), ("draft", ctypes.c_int), ("text", ctypes.c_char_p)]


class RecordOptions(ctypes.Structure):
    """quorlina_record_options."""

    VERSION = 1
    _fields_ = [("version", ctypes.c_uint), ("content", ctypes.c_int)]


class TagOptions(ctypes.Structure):
    """quorlina_tag_options."""

    VERSION = 1
    _fields_ = [("version", ctypes.c_uint)]


class NoteUpdateOptions(ctypes.Structure):
    """quorlina_note_update_options."""

    VERSION = 1
    _fields_ = [("version", ctypes.c_uint), ("slug", ctypes.c_char_p), ("clear_slug", ctypes.c_int),
                ("content", ctypes.c_char_p), ("text", ctypes.c_char_p)]


def _ptr(cls: Any) -> Any:
    return ctypes.POINTER(cls)


_EXTENDED: "dict[str, Tuple[Any, List[Any]]]" = {
    "quorlina_check": (_int, [_str, _ptr(CheckOptions), _out]),
    "quorlina_post_create_ext": (_int, [_str, _str, _str, _str, _str, _str, _ptr(PostCreateOptions), _out]),
    "quorlina_post_update_ext": (_int, [_str, _str, _ptr(PostUpdateOptions)]),
    "quorlina_post_list_ext": (_int, [_str, _ptr(RecordOptions), _out]),
    "quorlina_post_read_ext": (_int, [_str, _str, _ptr(RecordOptions), _out]),
    "quorlina_post_rename_tag": (_int, [_str, _str, _str, _ptr(TagOptions), ctypes.POINTER(ctypes.c_size_t)]),
    "quorlina_note_list_ext": (_int, [_str, _ptr(RecordOptions), _out]),
    "quorlina_note_read_ext": (_int, [_str, _str, _ptr(RecordOptions), _out]),
    "quorlina_note_update_ext": (_int, [_str, _str, _ptr(NoteUpdateOptions)]),
}

# A library older than 0.3 has none of these; the binding still loads it,
# and only the methods that need one of them fail (see extended()).
_extended: "dict[str, Any]" = {}
for _name, (_restype, _argtypes) in _EXTENDED.items():
    _fn = getattr(lib, _name, None)
    if _fn is not None:
        _fn.restype = _restype
        _fn.argtypes = _argtypes
        _extended[_name] = _fn

# What the library says about itself and about failures. The binding needs
# a library that explains its failures (0.2 or later, of major version 0).
_REQUIRED = (0, 2)
for _name in ("quorlina_strerror", "quorlina_last_error", "quorlina_version"):
    if not hasattr(lib, _name):
        raise ImportError("%s is too old for this binding: it has no %s (version %d.%d or later is needed)"
                          % (lib._name, _name, _REQUIRED[0], _REQUIRED[1]))
lib.quorlina_strerror.restype = ctypes.c_char_p
lib.quorlina_strerror.argtypes = [_int]
lib.quorlina_last_error.restype = ctypes.c_char_p
lib.quorlina_last_error.argtypes = []
lib.quorlina_version.restype = ctypes.c_char_p
lib.quorlina_version.argtypes = []


def _text(data: Any) -> str:
    return data.decode("utf-8", "replace") if isinstance(data, bytes) else ""


#: The version of the loaded library, "MAJOR.MINOR.PATCH".
version = _text(lib.quorlina_version())
#: The path of the loaded library, as it was loaded.
path: str = lib._name
try:
    _numbers = tuple(int(n) for n in version.split(".")[:2])
except ValueError:
    _numbers = ()
if len(_numbers) != 2 or _numbers[0] != _REQUIRED[0] or _numbers[1] < _REQUIRED[1]:
    raise ImportError("%s is version %r; this binding needs %d.%d or a later 0.x"
                      % (path, version, _REQUIRED[0], _REQUIRED[1]))


def strerror(code: int) -> str:
    """The library's static text for a result code."""
    return _text(lib.quorlina_strerror(code))


def last_error() -> str:
    """The library's text about the calling thread's last failure ("" after
    a success)."""
    return _text(lib.quorlina_last_error())


def call_text(fn: Callable[..., int], *args: Any) -> Tuple[int, Optional[bytes]]:
    """Calls an export whose last parameter is ``char **out``.

    Returns ``(code, bytes or None)``; the library's string is always freed.
    """
    out = ctypes.c_void_p(None)
    code = fn(*args, ctypes.byref(out))
    try:
        text = ctypes.string_at(out.value) if out.value else None
    finally:
        lib.quorlina_free(out.value)
    return code, text


def extended(name: str) -> Optional[Callable[..., int]]:
    """The extended export ``name`` (0.3 and later) when the loaded library
    has it, else None."""
    fn: Optional[Callable[..., int]] = _extended.get(name)
    return fn
