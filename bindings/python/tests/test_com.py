"""The COM set-up that the binding does on Windows, run here against a stand-in
for ole32 that records what it is asked: this code runs on no other machine
of the test suite. The stand-in's IGlobalOptions is real memory with a
vtable, read as the binding reads a COM object."""

import ctypes
import sys
import uuid
import warnings

import pytest

from frostcap import _com

S_OK, S_FALSE, E_OUTOFMEMORY = 0, 1, 0x8007000E


class StandInOle32:
    def __init__(self, apartment, security):
        self.calls = []
        self._answers = {"apartment": apartment, "security": security}
        self._release = _com._METHOD(ctypes.c_ulong, ctypes.c_void_p)(self._on_release)
        self._set = _com._METHOD(ctypes.c_long, ctypes.c_void_p, ctypes.c_int,
                                 ctypes.c_size_t)(self._on_set)
        as_pointer = lambda function: ctypes.cast(function, ctypes.c_void_p).value
        self._vtable = (ctypes.c_void_p * 5)(None, None, as_pointer(self._release),
                                             as_pointer(self._set), None)
        self._object = ctypes.c_void_p(ctypes.addressof(self._vtable))

    def _on_release(self, this):
        self.calls.append(("Release", this == ctypes.addressof(self._object)))
        return 0

    def _on_set(self, this, option, value):
        self.calls.append(("Set", this == ctypes.addressof(self._object), option, value))
        return S_OK

    def CoInitializeEx(self, reserved, mode):
        self.calls.append(("CoInitializeEx", reserved, mode))
        return self._answers["apartment"]

    def CoInitializeSecurity(self, *arguments):
        self.calls.append(("CoInitializeSecurity", *arguments))
        return self._answers["security"]

    def CoCreateInstance(self, clsid, outer, context, iid, out):
        guid = lambda reference: str(uuid.UUID(bytes_le=bytes(reference._obj)))
        self.calls.append(("CoCreateInstance", guid(clsid), outer, context, guid(iid)))
        out._obj.value = ctypes.addressof(self._object)
        return S_OK


SECURITY = ("CoInitializeSecurity", None, -1, None, None, 6, 3, None, 0x20, None)
GLOBAL_OPTIONS = [("CoCreateInstance", "0000034b-0000-0000-c000-000000000046", None, 1,
                   "0000015b-0000-0000-c000-000000000046"),
                  ("Set", True, 1, 1), ("Release", True)]


@pytest.mark.parametrize("apartment, security, after_apartment, warns", [
    (S_OK, S_OK, [SECURITY, *GLOBAL_OPTIONS], False),
    (S_FALSE, _com.RPC_E_TOO_LATE, [SECURITY, *GLOBAL_OPTIONS], False),
    (_com.RPC_E_CHANGED_MODE, S_OK, [SECURITY, *GLOBAL_OPTIONS], True),
    (E_OUTOFMEMORY, S_OK, [], False),
])
def test_com_is_set_up_for_a_requester_at_best_effort(apartment, security, after_apartment,
                                                      warns):
    ole32 = StandInOle32(apartment, security)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        setup = _com.prepare(ole32)
    assert ole32.calls == [("CoInitializeEx", None, 0), *after_apartment]
    assert setup.apartment == apartment
    assert setup.security == (security if after_apartment else None)
    assert [w.category for w in caught] == ([RuntimeWarning] if warns else [])


@pytest.mark.skipif(sys.platform == "win32", reason="the set-up is for Windows")
def test_elsewhere_nothing_is_set_up():
    assert _com.prepare() is None
