#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target (fuzz/corpus/<target>/) and the
edge inputs (fuzz/edges/<target>/) that are too slow to fuzz from.

Each seed is a small input in the layout its target documents at the top of
its source file. Besides tiny valid messages, the seeds sit on the edges the
targets check (exact size limits and one past them, texts of exactly 255 and
256 characters, zero runs in the framing stream, every documented rejection),
and every number in them is distinct from its neighbours, so that a value
written to or read from the wrong place shows. The regression entry of each
target runs it once over all of its seeds. Run this again after changing a
layout; it replaces the folders it writes.
"""
import os
import shutil
import struct

ROOT = os.path.dirname(os.path.abspath(__file__))
TARGETS = ("framing", "received", "records", "requests")


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def f32(v):
    return struct.pack("<f", v)


def f64(v):
    return struct.pack("<d", v)


def write(target, name, data):
    with open(os.path.join(ROOT, target, name), "wb") as f:
        f.write(data)


def write_edge(target, name, data):
    """An input too slow to fuzz from: fuzz/edges/<target>/, run once each."""
    folder = os.path.join(ROOT, "..", "edges", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def message(size, seed=1):
    """A size-prefixed message whose body has no zero bytes."""
    body = bytes(1 + (seed * 31 + i) % 251 for i in range(4, size))
    return u32(size) + body


# ---- framing: settings byte, then operations --------------------------------
TAKE, LEAVE, RAISED, CEILING, FOUR_CEILINGS, LONG = 0, 4, 1, 2, 3, 8


def lit(data):
    """Long literal operation (kind 1): u16 length, then the bytes."""
    assert len(data) <= 0xFFFF
    return bytes([1]) + u16(len(data)) + data


def fill(count, value):
    """Fill operations (kind 2, shift 0): count copies of value."""
    out = b""
    while count > 0:
        n = min(count, 0x10000)
        out += bytes([2]) + u16(n - 1) + bytes([value])
        count -= n
    return out


def read_size(n):
    """Read-size operation (kind 3): reads of at most n bytes (1 <= n <= 63)."""
    return bytes([(n << 2) | 3, 0])


def big_message(size, value):
    """A message of `size` bytes: its size field and then a fill."""
    return lit(u32(size)) + fill(size - 4, value)


def framing_seeds():
    w = lambda name, data: write("framing", name, data)
    w("two_and_a_bit_in_one_read",
      bytes([TAKE]) + lit(message(12, 1) + message(16, 2) + message(20, 3)[:4]) + lit(message(20, 3)[4:]))
    w("byte_by_byte", bytes([TAKE]) + read_size(1) + lit(message(4, 1) + message(12, 2) + message(300, 3)))
    w("reads_of_seven", bytes([LEAVE]) + read_size(7) + lit(message(40, 1) + message(40, 2) + message(100, 3)))
    w("zero_runs_between_messages",
      bytes([TAKE]) + lit(bytes(4) + message(12, 1) + bytes(7) + message(8, 2) + bytes(5)))
    w("zero_run_of_four_at_the_end", bytes([TAKE]) + lit(message(12, 1) + bytes(4)))
    w("zero_run_in_reads_of_three", bytes([TAKE]) + read_size(3) + lit(message(8, 1) + bytes(9) + message(8, 2)))
    w("three_zeros_then_more", bytes([TAKE]) + lit(message(8, 1) + bytes(3)) + lit(bytes(5) + message(8, 2)))
    w("size_exactly_the_limit", bytes([TAKE]) + big_message(41088, 0x42) + lit(message(12, 5)))
    w("size_one_above_the_limit", bytes([TAKE]) + lit(u32(41089) + b"\x41" * 16))
    for field in (1, 2, 3):
        w(f"size_field_of_{field}", bytes([TAKE]) + lit(message(12, 1) + u32(field) + b"\x41" * 8))
    w("fills_the_first_buffer", bytes([TAKE]) + big_message(2048, 0x21) + lit(message(8, 2)))
    w("grows_once", bytes([LEAVE]) + big_message(2049, 0x22) + lit(message(2049, 3)))
    w("grows_twice", bytes([TAKE]) + lit(u32(3 * 2048 - 10)) + fill(3 * 2048 - 14, 0x33) + lit(message(16, 4)))
    # A message that ends 6 bytes before the buffer's end, then one that
    # crosses it: the unread part moves to the front.
    w("compaction", bytes([TAKE]) + lit(message(2042, 1) + message(40, 2) + message(12, 3)))
    w("holder_reused_across_sizes",
      bytes([LEAVE]) + lit(message(24, 1) + message(24, 2) + message(2000, 3) + message(24, 4)))
    # Limit raised to 41088 + 64 * 1000 = 105088.
    w("raised_limit_exactly", bytes([RAISED]) + u16(1000) + big_message(105088, 0x5A) + lit(message(8, 1)))
    w("raised_limit_one_above", bytes([RAISED]) + u16(1000) + lit(u32(105089) + b"\x41" * 8))
    w("limit_the_ceiling", bytes([CEILING]) + big_message(41089, 0x31) + lit(u32(1048577) + b"\x41" * 8))
    # Limit four times the ceiling: a size field one above the ceiling ends
    # the connection as soon as it is read.
    w("size_one_above_the_ceiling", bytes([FOUR_CEILINGS]) + lit(message(12, 1) + u32(1048577) + b"\x41" * 8))
    # A long stream: the buffer grows to the ceiling and the message fills it
    # exactly; and a message one step above it. Too slow to fuzz from: edge
    # inputs, run once by the regression entry.
    write_edge("framing", "message_exactly_the_ceiling",
               bytes([TAKE | LONG | FOUR_CEILINGS]) + big_message(1048576, 0x77) + lit(message(12, 6)))
    write_edge("framing", "message_above_the_ceiling",
               bytes([TAKE | LONG | FOUR_CEILINGS]) + big_message(1048576 + 2048, 0x77))


# ---- received: u16 at (the text pointer's offset + 16), then the message -------
def header(size, kind):
    return u32(size) + u32(6) + u32(kind)


def host_request(tag, command, param, name, value):
    raw = name.encode("latin-1")
    return u32(tag) + u32(command) + u32(param) + raw[:256].ljust(256, b"\0") + f64(value)


def data_message(kind, request_id, data):
    size = 40 + len(data)
    return header(size, kind) + u32(request_id) + u32(0) + u32(2) + u32(0) + u32(1) + u32(1) + u32(1) + data


def received_seeds():
    w = lambda name, at, data: write("received", name, u16(at + 16) + data)
    w("exception", 0, header(24, 1) + u32(3) + u32(5) + u32(2))
    w("exception_one_short", 0, header(23, 1) + u32(3) + u32(5) + b"\x02\x00\x00")
    w("event_exactly", 0, header(20, 4) + u32(0xFFFFFFFF) + u32(102))
    w("event_one_short", 0, header(19, 4) + u32(0xFFFFFFFF) + b"\x66\x00\x00")
    w("quit", 0, header(12, 3))
    w("open_reply", 0, header(308, 2) + bytes(range(1, 256)) + bytes(41))
    w("unknown_kind", 0, header(12, 0x77))
    w("below_header", 0, header(12, 3)[:11])
    w("object_data_exactly", 40, data_message(8, 10001, b""))
    w("object_data_one_short", 0, data_message(8, 10001, b"")[:39])
    # Texts of 0, 3, 4, 7 and 8 characters, each padded as RetrieveString
    # steps over it, then one without NUL to the end.
    packed = b"\0\0\0\0" + b"abc\0" + b"defg\0\0\0\0" + b"hijklmn\0" + b"opqrstuv\0\0\0\0" + b"wxyz"
    w("title_packed_strings", 40, data_message(8, 10001, packed))
    w("title", 40, data_message(8, 10002, b"Boeing 737-800\0".ljust(64, b"\0")))
    w("title_without_nul", 40, data_message(8, 10002, b"X" * 24))
    w("text_before_the_message", -16, b"abc\0")
    w("text_one_before_the_message", -1, b"abc\0")
    w("text_on_the_last_byte", 7, b"1234567\0")
    w("text_at_the_end", 8, b"1234567\0")
    w("heartbeat", 0, data_message(16, 10001, b""))
    w("host_request_one_byte_short", 0, data_message(16, 10000, host_request(1, 14, 0, "", 0.0))[:315])
    w("host_request_exactly", 52, data_message(16, 10000, host_request(1, 14, 2, "A" * 255, 250.0)))
    w("host_request_name_without_nul", 52, data_message(16, 10000, host_request(7, 2, 3, "L" * 256, 250.0)))
    keys = {
        "plus_separator": "17+65",
        "comma_space": "17, 65",
        "space_separator_eats_digit": "65 66",
        "hex_prefix": "0x41",
        "double_comma_stops": "65,,66",
        "empty": "",
        "int32_edges": "-2147483648;2147483647;2147483648;1",
        "below_int32": "-2147483649,5",
        "far_above_int32": "99999999999999999999,5",
        "signs_and_whitespace": " \t+12\n-3\v\f\r7",
        "sign_without_digit": "17,-,5",
        "name_of_255": "9," * 127 + "9",
        "name_of_256_without_nul": "9," * 128,
    }
    for name, text in keys.items():
        w("keys_" + name, 52, data_message(16, 10000, host_request(3, 10, 0, text, 0.0)))
    w("keys_raw_nul_inside", 0, b"65\x0066")
    w("keys_raw_no_nul", 0, b"17,65,2147483647")


# ---- records: decoded as each record, then the build fields --------------------
def build(a, b, c, value, length, text=b""):
    bits = struct.unpack("<Q", f64(value))[0] if isinstance(value, float) else value
    return u32(a) + u32(b) + u32(c) + struct.pack("<Q", bits) + u16(length) + text


def records_seeds():
    w = lambda name, data: write("records", name, data)
    w("host_request", host_request(9, 7, 42, "TAVO", 1.21))
    w("host_request_name_255", host_request(1, 2, 3, "N" * 255, 33.0))
    w("host_request_name_256_without_nul", host_request(1, 2, 3, "N" * 256, 33.0))
    w("host_request_one_short", host_request(1, 2, 3, "N", 33.0)[:275])
    w("var_data", f64(0.1) + u32(1) + b"L:GEAR_HANDLE".ljust(256, b"\0"))
    w("var_data_one_short", (f64(0.1) + u32(1) + b"L:X".ljust(256, b"\0"))[:267])
    w("host_event", u32(5) + u32(7) + u32(1) + f64(1.21) + b"TAVO.quin Bridge Version 1.0.0.21".ljust(1024, b"\0"))
    w("host_event_text_without_nul", u32(5) + u32(8) + u32(1) + f64(-2.5) + b"T" * 1024)
    w("host_event_one_short", (u32(5) + u32(8) + u32(1) + f64(-2.5) + b"T" * 1024)[:1043])
    names = b"A;B;C;" * 666 + b"DEF"
    w("var_dump_names_3999", u32(0x01010202) + u32(0) + u32(3) + names + b"\0")
    w("var_dump_names_without_nul", u32(0x01010202) + u32(0xFFFFFFFF) + u32(3) + names + b"G")
    w("var_dump_one_short", (u32(0x01010202) + u32(0) + u32(3) + names + b"\0")[:4011])
    for length in (255, 256, 1023, 1024, 3999, 4000, 4100):
        w(f"build_text_of_{length}", build(1, 4, 9, 0.1, length))
    values = {
        "int32_max_and_a_bit": 2147483647.9,
        "int32_min_and_a_bit": -2147483648.9,
        "below_int32": -2147483649.0,
        "above_int32": 2147483648.0,
        "interval_cap": 4294967295.0,
        "below_interval_cap": 4294967294.9,
        "half": 0.5,
        "negative_zero": 0x8000000000000000,
        "infinity": 0x7FF0000000000000,
        "nan": 0x7FF8000000000001,
    }
    for name, value in values.items():
        w("build_" + name, build(2, 3, 5, value, 5, b"ab\0cd"))


# ---- requests: mode byte, then per mode -------------------------------------------
NULL_TEXT = 0xFFFF


def request_case(kind, numbers=(), f=0.0, texts=(b"", b""), data=b""):
    """Mode 2: the writer's arguments. A text given as a number is that many
    characters of the filler pattern (the input ends there)."""
    n = list(numbers) + [0x01020304 * (i + 1) for i in range(len(numbers), 8)]
    out = b"\x02" + bytes([kind]) + b"".join(u32(v) for v in n) + f32(f)
    for t in texts:
        if t is None:
            out += u16(NULL_TEXT)
        elif isinstance(t, int):
            return out + u16(t)
        else:
            out += u16(len(t)) + t
    return out + u16(len(data)) + data


def request(rid, body, version=37, send_id=1):
    return u32(16 + len(body)) + u32(version) + u32(rid) + u32(send_id) + body


def text_field(s):
    return s.ljust(256, b"\0")


DISTINCT = [0x11111111 * (i + 1) for i in range(8)]


def requests_seeds():
    w = lambda name, data: write("requests", name, data)
    w("write_open", request_case(0, texts=(b"TAVO.quin Simulator Bridge", b"")))
    w("write_add_to_data_definition", request_case(1, DISTINCT, 0.25, (b"TITLE", b"number")))
    w("write_add_to_data_definition_null_units", request_case(1, DISTINCT, 0.0, (b"TITLE", None)))
    w("write_add_to_data_definition_units_256", request_case(1, DISTINCT, 0.0, (b"TITLE", 256)))
    w("write_request_data_on_sim_object", request_case(2, DISTINCT))
    w("write_menu_add_item_255", request_case(3, DISTINCT, texts=(255, b"")))
    w("write_menu_add_item_256", request_case(3, DISTINCT, texts=(256, b"")))
    w("write_menu_add_sub_item", request_case(4, DISTINCT, texts=(b"About", b"")))
    w("write_menu_remove_sub_item", request_case(5, DISTINCT))
    w("write_map_client_data_name", request_case(6, DISTINCT, texts=(b"TAVO_SC_DYN_HOSTRESQUEST_ID", b"")))
    w("write_map_client_data_null_name", request_case(6, DISTINCT, texts=(None, b"")))
    w("write_create_client_data", request_case(7, DISTINCT))
    w("write_add_to_client_data_definition", request_case(8, DISTINCT, -1.5))
    w("write_request_client_data", request_case(9, DISTINCT))
    w("write_set_client_data_268", request_case(10, DISTINCT, data=bytes(range(256)) + b"x" * 12))
    w("write_set_client_data_empty", request_case(10, DISTINCT))
    w("write_text", request_case(11, DISTINCT, 5.0, data=b"Hello\0"))

    open_request = request(0xF0000001, text_field(b"bridgectl") + u32(0) + u32(0x50334400) + u32(6) + bytes(12))
    map_request = request(0xF0000037, text_field(b"TAVO_SC_DYN_VARDATA_ID\0junk") + u32(0x4C565201))
    set_request = request(0xF000003C, u32(0x4C565205) + u32(0x4C565206) + u32(7) + u32(9) + u32(8) + b"\x01" * 8)
    w("raw_open", b"\x00" + open_request)
    w("raw_open_bad_magic", b"\x00" + open_request[:276] + u32(0x50334401) + open_request[280:])
    w("raw_open_reserved_292", b"\x00" + open_request[:292] + u32(1))
    w("raw_open_one_long", b"\x00" + u32(297) + open_request[4:] + b"\0")
    w("raw_map_with_junk_after_nul", b"\x00" + map_request)
    w("raw_map_name_without_nul", b"\x00" + request(0xF0000037, b"M" * 256 + u32(1)))
    w("raw_add_to_data_definition", b"\x00" + request(
        0xF000000C, u32(5) + text_field(b"TITLE") + text_field(b"") + u32(11) + f32(0.5) + u32(0xFFFFFFFF)))
    w("raw_datum_and_units_without_nul", b"\x00" + request(
        0xF000000C, u32(5) + b"D" * 256 + b"U" * 256 + u32(11) + f32(0.5) + u32(0xFFFFFFFF)))
    w("raw_units_without_nul", b"\x00" + request(
        0xF000000C, u32(5) + text_field(b"TITLE") + b"U" * 256 + u32(11) + f32(0.5) + u32(0xFFFFFFFF)))
    w("raw_menu_add_sub_item_without_nul", b"\x00" + request(0xF0000033, u32(1) + b"S" * 256 + u32(2) + u32(3)))
    w("raw_set_client_data", b"\x00" + set_request)
    w("raw_set_client_data_one_short", b"\x00" + u32(len(set_request) - 1) + set_request[4:-1])
    w("raw_set_client_data_unit_size_max", b"\x00" + request(0xF000003C, u32(1) + u32(2) + u32(0) + u32(0) +
                                                             u32(0xFFFFFFFF)))
    w("raw_text", b"\x00" + request(0xF0000040, u32(1) + f32(5.0) + u32(3) + u32(4) + b"Hi!\0"))
    w("raw_menu_remove_sub_item_one_long", b"\x00" + request(0xF0000034, u32(1) + u32(2) + u32(3)))
    w("raw_size_field_not_the_size", b"\x00" + u32(25) + request(0xF0000034, u32(1) + u32(2))[4:])
    w("raw_version_36", b"\x00" + request(0xF0000034, u32(1) + u32(2), version=36))
    w("raw_unknown_id", b"\x00" + request(0xF0000099, u32(1) + u32(2)))
    w("raw_below_header", b"\x00" + request(0xF0000034, b"")[:15])
    stream = open_request + map_request + set_request
    w("stream_three_requests",
      b"\x01" + b"".join(bytes([len(stream[i:i + 100])]) + stream[i:i + 100] for i in range(0, len(stream), 100)))
    w("stream_byte_by_byte", b"\x01" + b"".join(b"\x01" + bytes([c]) for c in set_request + set_request))
    w("stream_size_field_16", b"\x01" + bytes([20]) + request(0xF0000034, b"") + u32(15))
    w("stream_size_field_15", b"\x01" + bytes([8]) + u32(15) + b"abcd")
    w("stream_size_field_131072", b"\x01" + bytes([8]) + u32(131072) + b"abcd")
    w("stream_size_field_131073", b"\x01" + bytes([8]) + u32(131073) + b"abcd")


if __name__ == "__main__":
    for target in TARGETS:
        shutil.rmtree(os.path.join(ROOT, target), ignore_errors=True)
        os.makedirs(os.path.join(ROOT, target))
    framing_seeds()
    received_seeds()
    records_seeds()
    requests_seeds()
