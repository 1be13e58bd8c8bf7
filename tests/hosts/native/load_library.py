#!/usr/bin/env python3
"""Loads a Native API library as the platform does, with ctypes.

    load_library.py LIBRARY.so

GetClassNames must answer "VemlarTSD"; GetClassObject must give an object
whose first interface answers GetInfo with 2000; DestroyObject must take it
back. Runs on the Python 3 of an older system too (Debian 11's 3.9), so it
uses nothing newer.
"""

import ctypes
import struct
import sys

CLASS_NAME = "VemlarTSD"
# The Itanium C++ ABI gives a virtual destructor two table slots; then come
# Init, setMemManager and GetInfo.
GET_INFO_SLOT = 2 + 2


def utf16_at(address):
    units = []
    while True:
        unit = ctypes.c_uint16.from_address(address + 2 * len(units)).value
        if unit == 0:
            return struct.pack("<%dH" % len(units), *units).decode("utf-16-le")
        units.append(unit)
        if len(units) > 1000:
            raise ValueError("no end to the class names")


def main():
    library_path = sys.argv[1]
    library = ctypes.CDLL(library_path)
    library.GetClassNames.restype = ctypes.c_void_p
    library.GetClassObject.restype = ctypes.c_long
    library.GetClassObject.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p)]
    library.DestroyObject.restype = ctypes.c_long
    library.DestroyObject.argtypes = [ctypes.POINTER(ctypes.c_void_p)]

    names = utf16_at(library.GetClassNames())
    if names != CLASS_NAME:
        print("FAIL GetClassNames answered %r" % names)
        return 1

    name = (ctypes.c_uint16 * (len(CLASS_NAME) + 1))(*[ord(c) for c in CLASS_NAME], 0)
    component = ctypes.c_void_p()
    if library.GetClassObject(ctypes.addressof(name), ctypes.byref(component)) == 0 or not component.value:
        print("FAIL GetClassObject gave no object")
        return 1
    first_table = ctypes.c_void_p.from_address(component.value).value
    get_info_address = ctypes.c_void_p.from_address(first_table + GET_INFO_SLOT * ctypes.sizeof(ctypes.c_void_p))
    get_info = ctypes.CFUNCTYPE(ctypes.c_long, ctypes.c_void_p)(get_info_address.value)
    info = get_info(component)
    if info != 2000:
        print("FAIL GetInfo answered %d" % info)
        return 1
    if library.DestroyObject(ctypes.byref(component)) != 0 or component.value:
        print("FAIL DestroyObject did not take the object back")
        return 1
    print("ok loaded %s: GetClassNames %s, GetInfo %d, DestroyObject 0" % (library_path, names, info))
    return 0


if __name__ == "__main__":
    sys.exit(main())
