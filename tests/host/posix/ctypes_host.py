"""A screen-reader add-on's way of loading the engine: Python ctypes.

Usage: ctypes_host.py LIBRARY MODE
  MODE "function": the CFUNCTYPE log callback is passed directly.
  MODE "variable": the address of a c_void_p holding it is passed.
Exits 0 when start-up messages reached the callback.
"""
import ctypes
import sys

LOG_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_int32, ctypes.c_void_p)

received = []


def on_log(level, text):
    # The text is NUL-terminated UTF-16.
    units = []
    address = text
    while True:
        unit = ctypes.c_uint16.from_address(address).value
        if unit == 0:
            break
        units.append(unit)
        address += 2
    raw = b"".join(u.to_bytes(2, "little") for u in units)
    received.append((level, raw.decode("utf-16-le", "replace")))


def main():
    library_path, mode = sys.argv[1], sys.argv[2]
    engine = ctypes.CDLL(library_path)
    initialize = engine.VeskSynthInitialize
    initialize.restype = ctypes.c_uint8
    initialize.argtypes = [ctypes.c_void_p]

    callback = LOG_CALLBACK(on_log)
    function_address = ctypes.cast(callback, ctypes.c_void_p).value
    if mode == "function":
        argument = function_address
    elif mode == "variable":
        holder = ctypes.c_void_p(function_address)
        argument = ctypes.addressof(holder)
    else:
        print("unknown mode " + mode)
        return 2

    result = initialize(argument)
    for level, text in received:
        print("%d: %s" % (level, text))
    if not received:
        print("no log line reached the host (result %d)" % result)
        return 1
    if not any("pinyin.txt" in text for _, text in received):
        print("the first start-up message is missing")
        return 1
    engine.VeskSynthUninitialize()
    return 0


if __name__ == "__main__":
    sys.exit(main())
