#!/usr/bin/env python3
"""Writes the hand-made seeds of the fuzz targets into corpus/<target>/.

Run from anywhere; files are rewritten with the same names, so running it
again changes nothing. Findings and merged inputs live beside the seeds
under their own names (crash-*, or libFuzzer's hash names) and are kept.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as out:
        out.write(data)


def head(context=0, dest_index=0, pack_type=1, dest=3, src=2):
    return struct.pack("<IhBBB", context, dest_index, pack_type, dest, src)


def frame32(body, crc=False):
    length = len(body) + (4 if crc else 0)
    data = b"\xff\xcc" + struct.pack("<I", length) + body
    return data + struct.pack("<I", zlib.crc32(data)) if crc else data


def frame16(body, crc=False):
    length = len(body) + (4 if crc else 0)
    data = b"\xff\xcc" + struct.pack("<H", length) + body
    return data + struct.pack("<I", zlib.crc32(data)) if crc else data


# --- stream framer: byte 0 is the mode (bit 0 16-bit length, bit 1 CRC)
packet = head(0x12345678, -1, 5, 3, 1) + b"hello"
d = "fuzz_package_dispatcher"
write(d, "one-frame", b"\x00" + frame32(packet))
write(d, "two-frames", b"\x00" + frame32(packet) + frame32(head()))
write(d, "empty-body", b"\x00" + frame32(b"") + frame32(b"x"))
write(d, "half-frame", b"\x00" + frame32(packet) + frame32(packet)[:7])
write(d, "bad-magic-after-frame", b"\x00" + frame32(packet) + b"\xfe\xcc\x09\x00\x00\x00" + head())
write(d, "longest-frame-head", b"\x00\xff\xcc" + struct.pack("<I", 104857600 - 6) + head())
write(d, "over-long-frame", b"\x00\xff\xcc" + struct.pack("<I", 104857600 - 5) + head())
write(d, "len16-frames", b"\x01" + frame16(packet) + frame16(b"") + frame16(head())[:3])
write(d, "len16-largest-head", b"\x01\xff\xcc\xff\xff" + head())
write(d, "crc-frames", b"\x02" + frame32(packet, True) + frame32(b"", True))
write(d, "crc-mismatch", b"\x02" + frame32(packet, True)[:-1] + b"\x00" + frame32(packet, True))
write(d, "crc-no-room", b"\x02\xff\xcc\x03\x00\x00\x00abc")
write(d, "len16-crc", b"\x03" + frame16(packet, True) + frame16(head(), True))

# --- packet heads: the 9 head bytes, then the payload
d = "fuzz_pack_head"
write(d, "head-only", head())
write(d, "broadcast-with-payload", head(0xDEADBEEF, -1, 5, 4, 1) + b"payload bytes")
write(d, "keep-alive", head(0, 0, 7, 1, 2))
write(d, "short-head", head()[:5])
write(d, "out-of-range-types", head(1, 0x7FFF, 0, 0, 0xFF) + bytes(range(32)))

# --- status link: FF CC, LE32 L, then L bytes (9-byte head + record)
def ss_frame(record, context=0):
    body = head(context, 0, 1, 2, 13) + record
    return b"\xff\xcc" + struct.pack("<I", len(body)) + body


def command(name, param, flag=0):
    return b"\x03\x04" + bytes([flag]) + name.ljust(32, b"\x00")[:32] + bytes([len(param)]) + param


def reply(name, data, param):
    return (b"\x01\x05\x00" + name.ljust(32, b"\x00")[:32] + struct.pack("<i", len(data)) + data
            + bytes([len(param)]) + param)


def base_info(nums, texts):
    out = b"\x05\x01\x00" + struct.pack("<H", len(nums))
    for key, value in nums:
        out += struct.pack("<IQ", key, value)
    out += struct.pack("<H", len(texts))
    for key, text in texts:
        out += struct.pack("<IH", key, len(text)) + text
    return out


login = b"\x01\x01" + struct.pack("<HH", 0x6A0D, 0) + bytes([14]) + b"VarnholtServer"
d = "fuzz_status_link"
write(d, "command-frame", ss_frame(command(b"ListLogFiles", b"")))
write(d, "command-with-param", ss_frame(command(b"GetErrorLog", b"Varnholt_2026-12-08.log")))
write(d, "login-and-keep-alive", ss_frame(login) + ss_frame(b"\x01\x04\xb3"))
write(d, "command-reply", ss_frame(reply(b"ListLogFiles", b"a.log 12 1700000000\n", b"p")))
write(d, "base-info-reply", ss_frame(base_info([(0x08000201, 42), (1, 2**64 - 1)], [(0x18000003, b"127.0.0.1")])))
write(d, "base-request-then-half", ss_frame(b"\x06\x01\x00") + ss_frame(b"\x06\x01\x00")[:8])
write(d, "length-below-head", b"\xff\xcc\x08\x00\x00\x00" + head()[:8])
write(d, "length-over-bound", b"\xff\xcc" + struct.pack("<I", 100 * 1024 * 1024 + 1))
write(d, "bad-second-magic-byte", ss_frame(b"\x01\x04\xb3") + b"\xff\xcd")
write(d, "raw-command-record", command(b"x" * 32, b"\xff" * 3))
write(d, "raw-truncated-reply", reply(b"n", b"data", b"")[:-3])

# --- ini reader: section NUL key NUL value NUL, then the file's bytes
d = "fuzz_ini_config"
write(d, "config", b"Config\x00edtDataServerPort\x0016899\x00"
      b"[Config]\r\nedtDataServerIP=127.0.0.1\r\nedtDataServerPort=16899\r\n")
write(d, "comments-and-sections", b"Main\x00RefreshGUI\x00true\x00"
      b"; the gateway's settings\n[Main]\nRefreshGUI=1\n# another comment\n[Other]\nRefreshGUI=no\n")
write(d, "blanks-and-bad-int", b"S\x00Port\x00 -12 \x00[S]\nPort = 19x03 \nFlag= YES\nEmpty=\n")
write(d, "no-section", b"\x00Key\x00Value\x00Key=top\n[]\nKey=empty-section\n")
write(d, "crlf-bom", b"A\x00k\x00v\x00\xef\xbb\xbf[A]\r\nk=1\r\n[a]\r\nK=2\r\n")
write(d, "int-range", b"R\x00Big\x002147483648\x00[R]\nBig=2147483647\nSmall=-2147483648\nOver=2147483648\n")

# --- window messages: one datagram
def datagram(msg, wparam=0, lparam=0, dwdata=0, data=b""):
    return b"VWM1" + struct.pack("<IQQQ", msg, wparam, lparam, dwdata) + data


d = "fuzz_window_message"
write(d, "copydata", datagram(0x4A, 1, 0, 101, b"close"))
write(d, "app-message", datagram(0x8000 + 3, 7, 9))
write(d, "show-instance", datagram(0x8000 + 0x3F00))
write(d, "dwdata-on-plain-message", datagram(0x0400, 0, 0, 1))
write(d, "short", datagram(0x4A)[:31])
write(d, "bad-magic", b"VWM2" + datagram(0x4A)[4:])

# --- launch lines: the stream of one launcher connection
d = "fuzz_launch_lines"
write(d, "requests", b"start\nstatus\r\nstop\n")
write(d, "longest-line", b"s" * 255 + b"\nstatus\n")
write(d, "line-over-bound", b"s" * 256 + b"\nstatus\n")
write(d, "unfinished", b"status\r\nsta")
write(d, "empty-lines", b"\n\r\n\r\r\n")
