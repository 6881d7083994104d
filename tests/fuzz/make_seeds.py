#!/usr/bin/env python3
"""Writes hand-made seed inputs for the fuzz targets: exchanges that reach the
success paths (echoes, acknowledgements, well-formed replies, busy answers)
and the common failures, in the script format of FuzzDevice.h.

    tests/fuzz/make_seeds.py OUTDIR

writes OUTDIR/fuzz_register, OUTDIR/fuzz_kia and OUTDIR/fuzz_connection. The
fuzzers start from these; `-merge=1` then keeps what adds coverage.
"""

import os
import sys

SILENT, RAW, FILL, GOOD_REPLY, ECHO_LAST, ECHO_MESSAGE, WRONG_ECHO, SLOW_RAW = range(8)
MS = 10  # delay units per ms


def part(kind, delay=0, body=(), parity=0, repeat=None, more=False):
    header = kind | parity << 3
    out = []
    if delay > 0xFF:
        header |= 0x20
        out += [delay >> 8, delay & 0xFF]
    else:
        out += [delay]
    if repeat is not None:
        header |= 0x40
        out += [repeat]
    if more:
        header |= 0x80
    return bytes([header] + out + list(body))


def raw(data, delay=2 * MS, **kw):
    return part(RAW, delay, [len(data)] + list(data), **kw)


def good_reply(data, delay=0, **kw):
    return part(GOOD_REPLY, delay, [len(data)] + list(data), **kw)


def echo(delay=3 * MS, **kw):
    return part(ECHO_LAST, delay, **kw)


def silent(repeat=None):
    return part(SILENT, 0, repeat=repeat)


def fill(count, value, delay=2 * MS, **kw):
    return part(FILL, delay, [count, value], **kw)


def echo_and_reply(data):
    return echo(more=True) + good_reply(data)


VERSION_105 = [0, 0, 0, 0, 0, 0x01, 0x05, 0, 0]
VERSIONS = {99: 0, 100: 1, 104: 2, 105: 3, 106: 4}
FIND, VERSION, READ_BYTE, WRITE_BYTE, READ_BLOCK, WRITE_BLOCK = range(6)


def register(op, address=0x1140, value=0xBA, line=0xBA, version=105, count=1, size=1, vanish=0, fifo=0):
    return bytes([op, address & 0xFF, address >> 8, value, line, VERSIONS[version], count, size, vanish, fifo])


def register_seeds():
    block_read = lambda v, script, count=1, size=1, fifo=0: register(READ_BLOCK, 0x0740, version=v, count=count,
                                                                       size=size, fifo=fifo) + script
    block_write = lambda v, script, address=0x0740, count=3: register(WRITE_BLOCK, address, version=v,
                                                                       count=count, size=1) + script
    return {
        "scan_second": register(FIND) + silent() + echo(),
        "scan_last": register(FIND) + silent(127) + silent(126) + echo(),
        "scan_foreign": register(FIND) + part(WRONG_ECHO, 3 * MS, [0]),
        "scan_nobody": register(FIND),
        "version_105": register(VERSION) + echo() + echo_and_reply(VERSION_105),
        "version_1005": register(VERSION) + echo() + echo_and_reply([0, 0, 0, 0, 0, 0x0A, 0x05, 0, 0]),
        "version_bad_sum": register(VERSION) + echo() + echo(more=True) + raw([9] + VERSION_105 + [0], 0),
        "version_no_ack": register(VERSION) + echo(),
        "version_loopback": register(VERSION) + part(ECHO_MESSAGE, 3 * MS, repeat=1),
        "read_byte": register(READ_BYTE) + echo() + echo_and_reply([0xBA]),
        "read_byte_bad_sum": register(READ_BYTE) + echo() + echo(more=True) + raw([1, 0xBA, 0x45], 0),
        "write_byte": register(WRITE_BYTE) + echo() + echo(),
        "write_byte_late_ack": register(WRITE_BYTE) + echo() + part(ECHO_LAST, 7100),
        "block_read_105_busy": block_read(105, fill(1, 0x65, repeat=2) + echo() + echo_and_reply([0x12])),
        "block_read_105_silent": block_read(105, b""),
        "block_read_105_storm": block_read(105, fill(1, 0x65, delay=1000 * MS // 10, repeat=127)),
        "block_read_105_second": block_read(105, silent() + echo() + echo_and_reply([0x12])),
        "block_read_100": block_read(100, echo() + echo_and_reply([0x12])),
        "block_read_104_4": block_read(104, echo() + echo_and_reply([1, 2, 3, 4]), count=4, size=4),
        "block_read_99": block_read(99, echo_and_reply([0x12])),
        "block_read_106_empty": block_read(106, echo_and_reply([]), count=0, size=0),
        "block_read_wrong_ack": block_read(100, echo() + part(WRONG_ECHO, 3 * MS, [0], more=True)
                                          + good_reply([0x12])),
        "block_read_too_long": block_read(105, echo() + echo_and_reply([1, 2, 3, 4]), size=1),
        "block_write_105": block_write(105, echo() + echo()),
        "block_write_100": block_write(100, echo() + echo()),
        "block_write_99": block_write(99, echo()),
        "block_write_count0": block_write(104, echo() + echo(), count=2),
        "block_write_above": block_write(105, echo() + echo(), address=0x0A81),
        "read_byte_fifo_14": register(READ_BYTE, fifo=3) + echo() + echo_and_reply([0xBA]),
        "block_read_105_fifo_4": block_read(105, fill(1, 0x65, repeat=2) + echo() + echo_and_reply([0x12]), fifo=1),
        "read_byte_vanish": register(READ_BYTE, vanish=5) + echo() + echo(more=True) + good_reply([1], 1000),
    }


KIA_WRITE_MEMORY, KIA_READ_MEMORY, KIA_READ_EEPROM, KIA_WRITE_EEPROM = range(4)


def kia(op, address=0x1140, value=0xBA, untouched=0x5A, vanish=0, fifo=0):
    return bytes([op, address & 0xFF, address >> 8, value, untouched, vanish, fifo])


def kia_seeds():
    return {
        "write_memory": kia(KIA_WRITE_MEMORY) + raw([0x01, 0xBA]),
        "read_memory": kia(KIA_READ_MEMORY) + raw([0x01, 0x42]),
        "read_memory_late": kia(KIA_READ_MEMORY) + raw([0x01, 0x42], delay=600),
        "read_eeprom": kia(KIA_READ_EEPROM, 0x0740) + raw([0x01, 0x11], more=True) + fill(64, 0xBA, 0),
        "read_eeprom_63": kia(KIA_READ_EEPROM, 0x0740) + raw([0x01, 0x11], more=True) + fill(63, 0xBA, 0),
        "read_eeprom_bus_error": kia(KIA_READ_EEPROM, 0x0740) + raw([0x01, 0x02]),
        "write_eeprom": kia(KIA_WRITE_EEPROM, 0x073E) + raw([0x01, 0x11, 0x00]),
        "write_eeprom_no_final": kia(KIA_WRITE_EEPROM, 0x073E) + raw([0x01, 0x11]),
        "read_eeprom_fifo_8": kia(KIA_READ_EEPROM, 0x0740, fifo=2) + raw([0x01, 0x11], more=True) + fill(64, 0xBA, 0),
        "loopback": kia(KIA_READ_MEMORY) + part(ECHO_MESSAGE, 2 * MS),
        "slow_eeprom": kia(KIA_READ_EEPROM) + raw([0x01, 0x11], more=True) + part(SLOW_RAW, 0, [64, 20] + [7] * 64),
    }


def connection(first, second=None, address=0xFF, version=0, map_character=0, vanish=0, fifo=0):
    attempts = first | ((0x08 | second << 4) if second is not None else 0)
    return bytes([attempts, address, version, map_character, vanish, fifo])


PROCESSOR, KIA = 0, 1
MISSING_PORT = 3 << 1
FOUND_AT_FE = silent() + echo()


def connection_seeds():
    version = lambda d5, d6: echo() + echo_and_reply([0, 0, 0, 0, 0, d5, d6, 0, 0])
    return {
        "processor": connection(PROCESSOR) + FOUND_AT_FE + version(0x01, 0x05),
        "processor_104": connection(PROCESSOR) + FOUND_AT_FE + version(0x01, 0x04),
        "processor_106": connection(PROCESSOR) + FOUND_AT_FE + version(0x01, 0x06),
        "processor_no_ack": connection(PROCESSOR) + FOUND_AT_FE + echo(),
        "processor_nobody": connection(PROCESSOR),
        "kia": connection(KIA) + raw([0x01, 0x42]),
        "kia_nobody": connection(KIA),
        "missing_port": connection(PROCESSOR | MISSING_PORT),
        "kia_then_processor": connection(KIA, PROCESSOR) + raw([0x01, 0x42]),
        "processor_then_kia": connection(PROCESSOR, KIA) + FOUND_AT_FE + version(0x01, 0x05) + raw([0x01, 0]),
        "kia_then_missing": connection(KIA, MISSING_PORT) + raw([0x01, 0x42]),
        "processor_fifo_14": connection(PROCESSOR, fifo=3) + FOUND_AT_FE + version(0x01, 0x05),
        "kia_map_104": connection(KIA, map_character=104) + raw([0x01, 0x42]),
    }


def main():
    out = sys.argv[1]
    for target, seeds in (("fuzz_register", register_seeds()), ("fuzz_kia", kia_seeds()),
                          ("fuzz_connection", connection_seeds())):
        os.makedirs(os.path.join(out, target), exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(out, target, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
