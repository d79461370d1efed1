"""The COM set-up that the binding does on Windows, run here against a stand-in
for ole32 that records what it is asked: this code runs on no other machine
of the test suite. The stand-in's IGlobalOptions is real memory with a
vtable, read as the binding reads a COM object."""

import ctypes
import uuid
import warnings

import pytest

from frostcap import _com

S_OK, S_FALSE, E_OUTOFMEMORY = 0, 1, 0x8007000E


class StandInOle32:
    def __init__(self, apartment, security):
        self.calls = []
        self._answers = {"CoInitializeEx": apartment, "CoInitializeSecurity": security}
        record = lambda *call: self.calls.append(call) or S_OK
        release = _com._METHOD(ctypes.c_ulong, ctypes.c_void_p)(
            lambda this: record("Release", this == ctypes.addressof(self._object)))
        set_option = _com._METHOD(ctypes.c_long, ctypes.c_void_p, ctypes.c_int, ctypes.c_size_t)(
            lambda this, *option: record("Set", this == ctypes.addressof(self._object), *option))
        self._methods = (release, set_option)  # alive while the vtable points at them
        as_pointer = lambda function: ctypes.cast(function, ctypes.c_void_p).value
        self._vtable = (ctypes.c_void_p * 5)(None, None, *map(as_pointer, self._methods), None)
        self._object = ctypes.c_void_p(ctypes.addressof(self._vtable))

    def __getattr__(self, name):  # CoInitializeEx and CoInitializeSecurity
        return lambda *arguments: self.calls.append((name, *arguments)) or self._answers[name]

    def CoCreateInstance(self, clsid, outer, context, iid, out):
        guid = lambda reference: str(uuid.UUID(bytes_le=bytes(reference._obj)))
        self.calls.append(("CoCreateInstance", guid(clsid), outer, context, guid(iid)))
        out._obj.value = ctypes.addressof(self._object)
        return S_OK


AFTER_THE_APARTMENT = [
    ("CoInitializeSecurity", None, -1, None, None, 6, 3, None, 0x20, None),
    ("CoCreateInstance", "0000034b-0000-0000-c000-000000000046", None, 1,
     "0000015b-0000-0000-c000-000000000046"),
    ("Set", True, 1, 1), ("Release", True)]


@pytest.mark.parametrize("apartment, security, goes_on, warns", [
    (S_OK, S_OK, True, False),
    (S_FALSE, _com.RPC_E_TOO_LATE, True, False),
    (_com.RPC_E_CHANGED_MODE, S_OK, True, True),
    (E_OUTOFMEMORY, S_OK, False, False),
])
def test_com_is_set_up_for_a_requester_at_best_effort(apartment, security, goes_on, warns):
    ole32 = StandInOle32(apartment, security)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        setup = _com.prepare(ole32)
    assert ole32.calls == [("CoInitializeEx", None, 0), *(AFTER_THE_APARTMENT if goes_on else [])]
    assert setup == ((apartment, security, S_OK) if goes_on else (apartment, None, None))
    assert [w.category for w in caught] == ([RuntimeWarning] if warns else [])
