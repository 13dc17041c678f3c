#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into corpus/<target>/ beside this script.

The seeds are the inputs the program meets in normal use (the drive's real answers, the
sample emulation files, .reg files as regedit writes them); the fuzzers mutate from there.
Run again after changing a target's input layout (see the target's source)."""
import pathlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"
EMULATION_SAMPLES = HERE.parent / "data" / "emulation"


def fixed_sense(key, asc, ascq, info=b"\0\0\0\0", length=18):
    sense = bytearray(length)
    sense[0] = 0x70
    sense[2] = key
    sense[3:7] = info
    sense[7] = 10
    sense[12] = asc
    sense[13] = ascq
    return bytes(sense)


def inquiry(type_=1, vendor=b"VORN", product=b"KMR-47000", revision=b"0100"):
    data = bytearray(36)
    data[0] = type_
    data[1] = 0x80
    data[2] = 5
    data[3] = 2
    data[4] = 31
    data[8:16] = vendor.ljust(8, b" ")[:8]
    data[16:32] = product.ljust(16, b" ")[:16]
    data[32:36] = revision.ljust(4, b" ")[:4]
    return bytes(data)


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


def sense_text():
    write("sense_text", "illegal_request", fixed_sense(5, 0x24, 0)[:15])
    write("sense_text", "no_medium", fixed_sense(2, 0x3A, 0)[:15])
    write("sense_text", "becoming_ready", fixed_sense(2, 0x04, 0x01)[:15])
    write("sense_text", "power_on", fixed_sense(6, 0x29, 0)[:15])
    write("sense_text", "microcode_changed", fixed_sense(6, 0x3F, 0x01)[:15])
    write("sense_text", "medium_error_info", bytes([0xF0, 0, 0xE3]) + b"ABCD" + bytes([10]) + b"WXYZ" + bytes([0x11, 0, 0]))
    write("sense_text", "text_with_zero", bytes([0x70, 0, 0, 0x41, 0, 0x43, 0x44, 0, 0x57, 0x58, 0, 0, 0, 0, 0]))
    write("sense_text", "all_ff", b"\xff" * 15)
    write("sense_text", "line_breaks", bytes([0x70, 0, 0]) + b"\n\n\n\n" + bytes([10]) + b"%s%n" + bytes([0x44, 0, 0]))


def list_entry():
    def case(index, host, target, inq, rest=b""):
        return struct.pack("<I", index) + bytes([0, host, target, 0]) + inq + rest
    write("list_entry", "first_drive", case(1, 1, 5, inquiry()))
    write("list_entry", "index_99", case(99, 2, 12, inquiry(revision=b"0150")))
    write("list_entry", "index_100", case(100, 0, 3, inquiry()))
    write("list_entry", "no_zero_byte", case(0x80 | 7, 255, 255, bytes(range(1, 37))))
    write("list_entry", "listed_text", case(2, 0, 1, inquiry(), b"02:HA#00 TID#01 VORN     KMR-47000        "))
    write("list_entry", "three_digit_text", case(3, 0, 1, inquiry(), b"100:HA#00 TID#03 VORN     KMR-47000        "))


def emulation_config():
    folder = CORPUS / "emulation_config"
    folder.mkdir(parents=True, exist_ok=True)
    for sample in sorted(EMULATION_SAMPLES.glob("*.json")):
        shutil.copyfile(sample, folder / sample.name)
    write("emulation_config", "every_key.json", """{"end_of_list":"inquiry","state_file":"kept.json","devices":[
 {"type":1,"qualifier":0,"vendor":"VORN","product":"KMR-47000","revision":"0100","serial":"HU47 0001",
  "tape_in_use":true,
  "host_adapter":1,"target":5,"lun":0,"medium":true,"power_on_attention":false,
  "activation_polls":0,"check_image":false,
  "faults":[{"op":"WriteBuffer","mode":5,"from":1,"count":0,"status":"0x10003"},
            {"op":"*","from":2,"count":1,"corrupt":true}]},
 {"inquiry":"01 80 05 02 1F 00 00 00 56 4F 52 4E 20 20 20 20 4B 4D 52 2D 34 37 30 30 30 20 20 20 20 20 20 20 30 31 30 30",
  "sense":"70 00 02 00 00 00 00 0A 00 00 00 00 3A 00 00"}]}""")
    write("emulation_config", "descriptor_sense.json", '{"devices":[{"sense":"72 05 24 00 00 00 00 00"}]}')
    write("emulation_config", "empty.json", "{}")


def emulated_drive():
    def command(cdb, data=b"", capacity=0xFFFF):
        return bytes([len(cdb)]) + bytes(cdb) + struct.pack("<H", len(data)) + data + struct.pack("<H", capacity)
    def wb(mode, offset, data):
        return command([0x3B, mode, 0, offset >> 16 & 255, offset >> 8 & 255, offset & 255,
                        len(data) >> 16 & 255, len(data) >> 8 & 255, len(data) & 255, 0], data)
    def rb(mode, offset, length):
        return command([0x3C, mode, 0, offset >> 16 & 255, offset >> 8 & 255, offset & 255,
                        length >> 16 & 255, length >> 8 & 255, length & 255, 0])
    tur = command([0, 0, 0, 0, 0, 0])
    inq = command([0x12, 0, 0, 0, 36, 0])
    rs = command([0x03, 0, 0, 0, 18, 0])
    image = b"KMR47000-FW:0200" + bytes(range(48))
    # flags: medium 1, power-on attention 2, image check 4; polls byte.
    write("emulated_drive", "scan_and_select", bytes([0x07, 3]) + inq + tur + rs + tur + inq)
    write("emulated_drive", "download", bytes([0x07, 3]) + tur + tur + wb(2, 0, image) + rb(2, 0, len(image)) +
          wb(5, 0, b"") + tur + tur + tur + rs + tur + tur + inq)
    write("emulated_drive", "descriptor", bytes([0x03, 0]) + rb(3, 0, 4) + rb(2, 0x10, 8) + wb(4, 0, b"x"))
    write("emulated_drive", "configured_sense", bytes([0x1F, 1, 18]) + fixed_sense(3, 0x11, 0) + rs + tur)
    write("emulated_drive", "vpd_pages", bytes([0x07, 1]) + command([0x12, 1, 0x00, 0, 255, 0]) +
          command([0x12, 1, 0x80, 0, 255, 0]) + command([0x12, 1, 0x80, 0, 5, 0]) + command([0x12, 1, 0x83, 0, 255, 0]) +
          command([0x12, 0, 0x80, 0, 255, 0]))
    write("emulated_drive", "short_cdbs", bytes([0x07, 1]) + command([0x12]) + command([0x3B, 2]) + command([]))


def reg_file():
    ansi = ("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\QUORVEL]\r\n\"Revision\"=\"0100\"\r\n"
            "@=\"default \\\"quoted\\\"\"\r\n\"Size\"=dword:00002000\r\n"
            "\"Data\"=hex:01,02,0a,\\\r\n  ff,00\r\n\"Path\"=hex(2):25,54,45,4d,50,25,00\r\n"
            "\r\n[-HKCR\\QUORVEL\\Old]\r\n[HKLM\\Software\\Vorn]\r\n\"Gone\"=-\r\n; comment\r\n")
    write("reg_file", "regedit4.reg", ansi)
    unicode_text = ("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\QUORVEL]\r\n"
                    "\"Revision\"=\"0150\"\r\n\"Name\"=hex(1):4b,00,4d,00,52,00,00,00\r\n"
                    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n\"Caf\u00e9\u4e2d\"=\"x\"\r\n")
    write("reg_file", "version5_utf16.reg", b"\xff\xfe" + unicode_text.encode("utf-16-le"))
    write("reg_file", "version5_utf8_bom.reg", b"\xef\xbb\xbf" + unicode_text.encode("utf-8"))
    write("reg_file", "no_header.reg", "[HKEY_CLASSES_ROOT\\QUORVEL]\n\"Revision\"=\"0100\"\n")


def classify():
    def result(kinds=0, status=0, sense=b"", residual_kind=0, residual=b""):
        return bytes([kinds, status, len(sense)]) + sense + bytes([residual_kind]) + residual
    good = result()
    check = result(status=2, sense=fixed_sense(2, 0x3A, 0))
    def answer(count, data, res):
        return bytes([count]) + data + res
    # ParseSense seed, the judged command (buffer 36, data in, 36 required), the op buffer.
    head = bytes([18]) + fixed_sense(6, 0x29, 0) + bytes([36, 2, 36]) + result(residual_kind=1, residual=bytes([4]))
    ops = (bytes([1]) + answer(36, inquiry(), good) +
           bytes([3]) + answer(18, fixed_sense(5, 0x24, 0), good) +
           bytes([2]) + check +
           bytes([4]) + answer(16, bytes(16), good) +
           bytes([4]) + answer(8, bytes(8), result(residual_kind=3, residual=struct.pack("<q", -4))) +
           bytes([5]) + result(status=8) +
           bytes([3]) + answer(8, bytes([0x72, 0x02, 0x04, 0x01]) + bytes(4), good))
    write("classify", "operations", head + bytes([16]) + ops)
    write("classify", "descriptor_sense", bytes([8, 0x72, 0x06, 0x29, 0, 0, 0, 0, 0]) + bytes([0, 0, 0]) +
          result(kinds=0x88, status=0x18))
    write("classify", "overrun", bytes([0]) + bytes([18, 2, 8]) + result(residual_kind=3, residual=b"\xff" * 8))


def sg_transport():
    def node(name, open_error=0, id_error=0, host=1, target=5, lun=0, type_=1):
        return (bytes([len(name)]) + name, bytes([open_error]) +
                (bytes([id_error]) + struct.pack("<iiii", host, target, lun, type_) if open_error == 0 else b""))
    def sg_io(data=b"", sense=b"", status=0, host=0, driver=0, resid=0, error=0):
        return (bytes([error]) + struct.pack("<H", len(data)) + data + bytes([len(sense)]) + sense +
                bytes([len(sense), status, host, driver]) + struct.pack("<iIB", resid, 0, 0))
    def enumerate_(*nodes):
        return bytes([len(nodes)]) + b"".join(n[0] for n in nodes) + b"".join(n[1] for n in nodes)
    calls = (bytes([0, 1]) + sg_io(inquiry()) +                       # INQUIRY
             bytes([0, 2]) + sg_io(status=2, sense=fixed_sense(6, 0x29, 0), driver=8) +
             bytes([0, 3]) + sg_io(fixed_sense(5, 0x24, 0)) +         # REQUEST SENSE
             bytes([0, 4]) + sg_io(bytes(16), resid=-4) +             # READ BUFFER, overrun
             bytes([0, 5]) + sg_io(resid=3) +                         # WRITE BUFFER, short
             bytes([0, 1]) + sg_io(inquiry()[:20], resid=16) +
             bytes([0, 2]) + sg_io(host=3) + bytes([0, 2]) + sg_io(error=1) + bytes([0, 6]))
    write("sg_transport", "one_drive", enumerate_(node(b"0")) + bytes([16]) + calls)
    write("sg_transport", "three_nodes", enumerate_(node(b"10"), node(b"9", open_error=1), node(b"x", open_error=4)) +
          bytes([8]) + calls)
    write("sg_transport", "not_sg", enumerate_(node(b"1", id_error=2), node(b"+2")) + bytes([1]))
    header = bytes([96]) + fixed_sense(2, 0x3A, 0) + bytes(78) + bytes([120, 2]) + struct.pack("<HHi", 0, 8, -1)
    write("sg_transport", "descriptor_sense", enumerate_(node(b"0")) + bytes([4]) +
          bytes([0, 2]) + sg_io(status=2, sense=bytes([0x72, 2, 4, 1, 0, 0, 0, 0]), driver=8) + header)


if __name__ == "__main__":
    shutil.rmtree(CORPUS, ignore_errors=True)
    for make in (sense_text, list_entry, emulation_config, emulated_drive, reg_file, classify, sg_transport):
        make()
