#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

The byte layouts are those the targets read (fuzz/fuzz_support.h):
- channel: an answer-room selector, then per exchange an opcode (2 bytes), a
  request-size selector and the driver outputs, each a shape byte (0: done)
  and, for reads, a big-endian length and the output (4-byte prefix first);
- file_list, volume_info, seem_commands: per request a verdict byte
  (0: status 8 with data, 5: status 6, 0x76: error 7, 7: wrong sequence) and,
  for data, a big-endian length and the answer data; seem_commands puts a
  command selector and the command's field values before each command.
Run it from anywhere; it rewrites only the seed files it names.
"""

import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def be16(v):
    return struct.pack(">H", v)


def be32(v):
    return struct.pack(">I", v)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- channel: raw driver outputs -------------------------------------------

PREFIX = b"\xaa\xbb\xcc\xdd"


def read_output(phone_bytes):
    out = PREFIX + phone_bytes
    return b"\x00" + be16(len(out)) + out


def status_poll(n, s):
    return read_output(bytes([0, n]) + be16(s) + b"\x00" * 4)


def data_answer(seq, status, data, opcode=0x4A, count=1, flag=0x8000, data_length=None):
    length = 8 + len(data)
    announced = len(data) if data_length is None else data_length
    head = bytes([count, 0, 0, 0]) + be16(length) + be16(flag | seq)
    head += be16((status << 12) | opcode) + be16(announced) + b"\x00\x00"
    return read_output(head + data)


def exchange(opcode, size_selector, *outputs):
    return be16(opcode) + bytes([size_selector]) + b"\x00" + b"".join(outputs)


def channel_seeds():
    ok = exchange(0x4A, 0, status_poll(1, 10), data_answer(1, 8, b"\x12\x34"))
    write("channel", "data_answer", b"\x04" + ok)
    write("channel", "no_data", b"\x04" + exchange(0x22, 0, status_poll(1, 8), data_answer(1, 6, b"")))
    write("channel", "error_status", b"\x03" + exchange(0x4A, 1, status_poll(1, 8), data_answer(1, 7, b"")))
    write("channel", "wrong_sequence", b"\x04" + exchange(0x4A, 0, status_poll(1, 9), data_answer(2, 8, b"\x01")))
    write("channel", "length_off_by_one",
          b"\x04" + exchange(0x20, 2, status_poll(1, 11), data_answer(1, 8, b"abc", data_length=2)))
    write("channel", "empty_polls_then_answer",
          b"\x05" + exchange(0x4A, 3, status_poll(0, 0), status_poll(3, 8), status_poll(1, 12),
                             data_answer(1, 8, b"\x00" * 4)))
    write("channel", "short_driver_read", b"\x04" + exchange(0x4A, 0, status_poll(1, 8), b"\x00\x00\x03abc"))
    write("channel", "transfers_fail", b"\x04" + be16(0x4A) + b"\x00" + b"\x0e" + be16(0x4A) + b"\x00\x00\x0f\x0c")
    second = exchange(0x2F, 0, status_poll(1, 9), data_answer(2, 8, b"\x00"))
    write("channel", "two_exchanges", b"\x06" + ok + second)


# ---- services: status and data of each answer --------------------------------


def answer(data):
    return b"\x00" + be16(len(data)) + data


NO_DATA = b"\x05"
GENERIC_FAILURE = b"\x76"
WRONG_SEQUENCE = b"\x07"


def entry(name, size, attributes, entry_size):
    field = name.ljust(entry_size - 8, b"\x00")[: entry_size - 8]
    return field + be16(attributes & 0xFFFF) + be16(attributes >> 16) + be32(size)


def chunk(entries, entry_size):
    return be16(len(entries)) + b"\x00\x00" + b"".join(entry(*e, entry_size) for e in entries)


VOLUME = answer("/a".encode("utf-16-be") + b"\x00\x00")
FREE = answer(be32(1843200))


def file_list_seeds():
    files = [(b"/a/mobile/audio/ring.mid", 1200, 0x20001), (b"/a/\xcc\xe5\xeb\xee\xe4\xe8\xff.mid", 0, 0),
             (b"/a/MyToneDB.db", 4096, 7)]
    write("file_list", "three_files_44",
          answer(be16(3)) + answer(chunk(files, 44)) + VOLUME + FREE)
    write("file_list", "two_chunks_268",
          answer(be16(3)) + answer(chunk(files[:2], 268)) + answer(chunk(files[2:], 268)) + VOLUME + FREE)
    write("file_list", "count_lost", answer(be16(0xFFFF)))
    write("file_list", "size_wrong", answer(be16(1)) + answer(be16(1) + b"\x00\x00" + b"x" * 45))
    write("file_list", "empty_chunk", answer(be16(2)) + answer(be16(0) + b"\x00\x00"))
    write("file_list", "more_than_counted", answer(be16(1)) + answer(chunk(files[:2], 44)))
    write("file_list", "full_name_field", answer(be16(1)) + answer(chunk([(b"n" * 260, 5, 0)], 268)) + VOLUME + FREE)
    write("file_list", "count_fails", GENERIC_FAILURE)


def volume_info_seeds():
    write("volume_info", "name_and_space", VOLUME + FREE)
    write("volume_info", "cyrillic_units", answer("/диск".encode("utf-16-be") + b"\x00\x00") + FREE)
    write("volume_info", "no_space", VOLUME + answer(be32(0)))
    write("volume_info", "one_byte_answers", answer(b"\x06") + VOLUME + answer(b"\x01"))
    write("volume_info", "no_data_answers", NO_DATA + NO_DATA + VOLUME + GENERIC_FAILURE)
    write("volume_info", "long_name", answer(b"\x00\x41" * 300) + FREE)
    write("volume_info", "wrong_sequence", WRONG_SEQUENCE + VOLUME + WRONG_SEQUENCE)


def seem_seeds():
    record = bytes(range(60))
    read_ok = answer(b"\x00" + record)
    missing = answer(b"\x01")
    download = b"\x00" + be16(0x004C) + b"\x00" + read_ok + answer(b"\x00" + b"\x07" * 4) + missing
    upload = b"\x01" + be16(0x004C) + be16(0x0001) + read_ok + b"\x04" + answer(b"\x00")
    update = b"\x02" + read_ok + answer(b"\x00") + NO_DATA + NO_DATA
    write("seem_commands", "download_one_seem", download)
    write("seem_commands", "upload_same_length", upload)
    write("seem_commands", "upload_one_byte_longer", b"\x01" + be16(0x004C) + be16(1) + read_ok + b"\x01")
    write("seem_commands", "ringtone_update", update)
    write("seem_commands", "update_without_profiles", b"\x02" + GENERIC_FAILURE)
    write("seem_commands", "download_two_seems_no_data",
          b"\x00" + be16(0x0300) + b"\x01" + NO_DATA + answer(b"") + missing)
    write("seem_commands", "all_three", download + upload + update)


# ---- plain inputs -----------------------------------------------------------


def descriptor(text, count=None):
    units = text.encode("utf-16-le")
    return struct.pack("<I", len(text) if count is None else count) + units


def plain_seeds():
    write("interface_name", "command_interface", descriptor("Motorola Test Command"))
    write("interface_name", "counted_zero", descriptor("Motorola Test Command\x00"))
    write("interface_name", "count_beyond_units", descriptor("Motorola", count=200))
    write("interface_name", "high_bytes", descriptor("\u0441\u0100x"))
    write("interface_name", "short", b"\x01\x00\x00")
    for name, text in [("start", b"0300"), ("all_ones", b"ffffffff"), ("ten_digits", b"12345678AB"),
                       ("blank", b" 1"), ("prefix", b"0x1F"), ("letter", b"1G"), ("empty", b""), ("word", b"W")]:
        write("hex_field", name, text)
    for name, text in [("plain", b"/a/mobile/audio/ring.mid"), ("up", b"../../etc/passwd"),
                       ("drive", b"C:\\Windows\\win.ini"), ("device", b"/a/CON.txt"), ("dots", b"/a/.."),
                       ("controls", b"/a/bad\x01:name?.txt"), ("cyrillic", b"/a/\xcc\xe5\xeb\xee\xe4\xe8\xff.mid"),
                       ("full_field", b"/a/" + b"n" * 257), ("trailing", b"/a/song. . ")]:
        write("pc_title", name, text)


if __name__ == "__main__":
    channel_seeds()
    file_list_seeds()
    volume_info_seeds()
    seem_seeds()
    plain_seeds()
