"""Reads what the release checks need from a Windows executable: its machine
type, its version resource (the fixed numbers and the string table), its
manifest, and a digest of its content that ignores an Authenticode signature."""

import hashlib
import struct

MACHINES = {0x8664: "x64", 0x14C: "x86"}
RT_VERSION = 16
RT_MANIFEST = 24


def _sections(data, pe):
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(count):
        _, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        yield vaddr, max(vsize, rsize), raw


def _rva_to_offset(data, pe, rva):
    for vaddr, size, raw in _sections(data, pe):
        if vaddr <= rva < vaddr + size:
            return raw + rva - vaddr
    raise ValueError(f"RVA {rva:#x} is in no section")


def machine(data):
    """ "x64", "x86" or the machine number as text."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    number = struct.unpack_from("<H", data, pe + 4)[0]
    return MACHINES.get(number, hex(number))


def _directories(data):
    """(PE header offset, offset of the data directories)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return pe, pe + 24 + (96 if magic == 0x10B else 112)


def content_digest(data):
    """SHA-256 of the file without its signature: the checksum field, the
    certificate table's directory entry, the table itself and the zero padding
    before it left out, so a signed copy gives the digest of its unsigned build."""
    pe, directories = _directories(data)
    checksum = pe + 24 + 64
    security = directories + 4 * 8
    table, size = struct.unpack_from("<II", data, security)
    body = bytearray(data[:table] if size else data)
    body[checksum:checksum + 4] = bytes(4)
    body[security:security + 8] = bytes(8)
    return hashlib.sha256(bytes(body).rstrip(b"\0")).hexdigest()


def _resource(data, type_id, what):
    pe, directories = _directories(data)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    base = _rva_to_offset(data, pe, resource_rva)

    def first_entry(offset, wanted_id=None):
        named, ids = struct.unpack_from("<HH", data, offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, offset + 16 + 8 * i)
            if wanted_id is None or (not name & 0x80000000 and name == wanted_id):
                return target
        raise ValueError(f"no {what} resource")

    level = first_entry(base, type_id)
    level = first_entry(base + (level & 0x7FFFFFFF))
    leaf = first_entry(base + (level & 0x7FFFFFFF))
    rva, size = struct.unpack_from("<II", data, base + leaf)
    start = _rva_to_offset(data, pe, rva)
    return data[start:start + size]


def _block(buf, offset):
    """(key, value bytes, is text, children, end) of one version block."""
    length, value_length, is_text = struct.unpack_from("<HHH", buf, offset)
    end = offset + length
    pos = offset + 6
    key_end = pos
    while buf[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = buf[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if is_text else value_length
    value = buf[pos:pos + value_bytes]
    pos = (pos + value_bytes + 3) & ~3
    children = []
    while pos < end:
        child = _block(buf, pos)
        children.append(child)
        pos = (child[4] + 3) & ~3
    return key, value, is_text, children, end


def version_info(data):
    """{"FileVersion": "a.b.c.d", "ProductVersion": "a.b.c.d", "strings": {...}}:
    the fixed numbers as text and every string of the string tables."""
    buf = _resource(data, RT_VERSION, "version")
    key, fixed, _, children, _ = _block(buf, 0)
    if key != "VS_VERSION_INFO" or struct.unpack_from("<I", fixed, 0)[0] != 0xFEEF04BD:
        raise ValueError("malformed version resource")
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)

    def text(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    strings = {}
    for child in children:
        if child[0] == "StringFileInfo":
            for table in child[3]:
                for name, value, _, _, _ in table[3]:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return {"FileVersion": text(file_ms, file_ls),
            "ProductVersion": text(product_ms, product_ls), "strings": strings}


def manifest(data):
    """The text of the first manifest resource."""
    return _resource(data, RT_MANIFEST, "manifest").decode("utf-8")


def _c_string(data, offset):
    return data[offset:data.index(b"\0", offset)].decode("ascii")


def imports(data):
    """Sorted "dll!function" (dll in lower case) of every function imported
    by name; an import by ordinal appears as "dll!#ordinal"."""
    pe, directories = _directories(data)
    wide = struct.unpack_from("<H", data, pe + 24)[0] != 0x10B
    entry_size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
    table_rva, size = struct.unpack_from("<II", data, directories + 1 * 8)
    found = set()
    if not size:
        return []
    descriptor = _rva_to_offset(data, pe, table_rva)
    while True:
        lookup, _, _, name_rva, address = struct.unpack_from("<IIIII", data, descriptor)
        if not name_rva:
            break
        dll = _c_string(data, _rva_to_offset(data, pe, name_rva)).lower()
        entry = _rva_to_offset(data, pe, lookup or address)
        while True:
            value = struct.unpack_from("<Q" if wide else "<I", data, entry)[0]
            if not value:
                break
            if value & ordinal_flag:
                found.add(f"{dll}!#{value & 0xFFFF}")
            else:
                found.add(f"{dll}!" + _c_string(data, _rva_to_offset(data, pe, value & 0x7FFFFFFF) + 2))
            entry += entry_size
        descriptor += 20
    return sorted(found)
