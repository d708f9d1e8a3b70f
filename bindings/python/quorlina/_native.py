"""Loading libquorlina_ffi and declaring its sixteen functions for ctypes."""

import ctypes
import ctypes.util
import glob
import os

_LIB_NAME = "libquorlina_ffi.so"


def _candidates():
    """Library paths to try, best first."""
    env = os.environ.get("QUORLINA_LIB")
    if env:
        # An explicit choice: use it or fail, never fall back silently.
        yield env
        return
    # A build tree of the source checkout this package lives in, newest first.
    source_root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
    built = glob.glob(os.path.join(source_root, "build", "*", _LIB_NAME))
    built.sort(key=os.path.getmtime, reverse=True)
    yield from built
    # An installed library, found the way the system linker would.
    found = ctypes.util.find_library("quorlina_ffi")
    if found:
        yield found


def _instrumented(path):
    """Whether a library was built with a sanitizer. Loading one into an
    uninstrumented interpreter can abort the process, so the search passes
    over such builds unless a sanitizer runtime was preloaded."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return False
    return any(marker in data for marker in (b"__asan_init", b"__tsan_init", b"__ubsan_handle"))


def _load():
    errors = []
    explicit = bool(os.environ.get("QUORLINA_LIB"))
    for path in _candidates():
        if not explicit and not os.environ.get("LD_PRELOAD") and _instrumented(path):
            errors.append("%s: built with a sanitizer" % path)
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as exc:
            errors.append("%s: %s" % (path, exc))
    if not errors:
        raise OSError("libquorlina_ffi not found: build the project, install it, "
                      "or set QUORLINA_LIB to the library's path")
    raise OSError("cannot load libquorlina_ffi: " + "; ".join(errors))


lib = _load()

_str = ctypes.c_char_p
_out = ctypes.POINTER(ctypes.c_void_p)  # char **: kept as an address so it can be freed
_i64 = ctypes.c_int64
_int = ctypes.c_int

_PROTOTYPES = {
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


def call_text(fn, *args):
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
