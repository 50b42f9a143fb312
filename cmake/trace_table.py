#!/usr/bin/env python3
"""Writes the traceback table of one routine into the ".trace" section of a linked image.

The table comes from the compiler's own debugging information in the image: the routine's code
range from its DWARF subprogram entry, its lines from the decoded DWARF line table, both as objdump
prints them. The encoding is the one diagnostics/trace_table.h reads. Every address is stored
relative to the module's load base (the image base of a PE file, 0 for an ELF file, whose addresses
are already relative to its load bias), so the table holds wherever the loader places the module.

Any failure (no debugging information, the routine not found or not contiguous, a table larger than
the reserved section) ends the script with status 1 and a message, which fails the build.
"""

import argparse
import os
import re
import struct
import subprocess
import sys

TRACE_MAGIC = b"TRC1"
UNFILLED_MAGIC = b"TRC0"
ENTRY_ROUTINE, ENTRY_SOURCE, ENTRY_LINE = 1, 2, 3


class TableError(Exception):
    pass


def run(objdump, *arguments):
    try:
        result = subprocess.run([objdump, *arguments], check=True, capture_output=True, text=True,
                                errors="replace")
    except (OSError, subprocess.CalledProcessError) as error:
        raise TableError(f"{objdump} {' '.join(arguments)} failed: {error}")
    return result.stdout


# --- DWARF debugging information entries -----------------------------------------------------------

DIE_RE = re.compile(r"^\s*<(\d+)><([0-9a-f]+)>: Abbrev Number: (\d+)(?: \((\w+)\))?")
ATTR_RE = re.compile(r"^\s*<[0-9a-f]+>\s+(DW_AT_\w+)\s*:\s*(.*)$")


def attribute_text(value):
    """The value of a string attribute as objdump prints it, without the indirection note."""
    match = re.match(r"\(indirect (?:line )?string, offset: 0x[0-9a-f]+\): (.*)$", value)
    if match:
        return match.group(1)
    match = re.match(r"\((?:indexed|alt indirect) string[^)]*\): (.*)$", value)
    return match.group(1) if match else value


def parse_dies(text):
    """Yields (depth, offset, tag, attributes) for every entry of .debug_info."""
    die = None
    for line in text.splitlines():
        match = DIE_RE.match(line)
        if match:
            if die is not None:
                yield die
            depth, offset, _, tag = match.groups()
            die = (int(depth), int(offset, 16), tag or "", {})
            continue
        match = ATTR_RE.match(line)
        if match and die is not None:
            die[3].setdefault(match.group(1), match.group(2).strip())
    if die is not None:
        yield die


def reference(value):
    match = re.search(r"<0x([0-9a-f]+)>", value)
    return int(match.group(1), 16) if match else None


def number(value):
    match = re.match(r"(0x[0-9a-f]+|\d+)", value)
    if not match:
        raise TableError(f"unreadable number in debugging information: {value!r}")
    return int(match.group(1), 0)


def find_routine(info_text, function, source):
    """The source path of the unit and the [low, high) range of the one definition of function
    (matched by linkage name or by name) in the compilation unit of source."""
    dies = list(parse_dies(info_text))
    by_offset = {offset: attributes for _, offset, _, attributes in dies}

    def names(attributes, seen=0):
        found = {attribute_text(attributes[key]) for key in ("DW_AT_name", "DW_AT_linkage_name",
                                                               "DW_AT_MIPS_linkage_name")
                 if key in attributes}
        for key in ("DW_AT_specification", "DW_AT_abstract_origin"):
            if key in attributes and seen < 8:
                target = by_offset.get(reference(attributes[key]))
                if target is not None:
                    found |= names(target, seen + 1)
        return found

    matches = []
    unit_path = None
    for depth, _, tag, attributes in dies:
        if tag == "DW_TAG_compile_unit":
            name = attribute_text(attributes.get("DW_AT_name", ""))
            directory = attribute_text(attributes.get("DW_AT_comp_dir", ""))
            path = name if os.path.isabs(name) or not directory else os.path.join(directory, name)
            unit_path = path if os.path.basename(path) == os.path.basename(source) and (
                os.path.isabs(source) is False or os.path.normpath(path) == os.path.normpath(source)
            ) else None
            continue
        if unit_path is None or tag != "DW_TAG_subprogram":
            continue
        if "DW_AT_low_pc" not in attributes and "DW_AT_ranges" not in attributes:
            continue
        if function not in names(attributes):
            continue
        if "DW_AT_ranges" in attributes:
            raise TableError(f"{function} is split into several code ranges; compile its source "
                             "with -fno-reorder-blocks-and-partition")
        low = number(attributes["DW_AT_low_pc"])
        high = number(attributes["DW_AT_high_pc"])
        # DWARF 4 and later give the end as a length; older producers as an address.
        if high <= low:
            high += low
        matches.append((unit_path, low, high))
    if not matches:
        raise TableError(f"no definition of {function} with code in the debugging information of "
                         f"{source} (built without -g?)")
    if len(set(matches)) > 1:
        raise TableError(f"{function} is defined more than once in {source}")
    return matches[0]


# --- DWARF line table ---------------------------------------------------------------------------------

ROW_RE = re.compile(r"^(\S+)\s+(\d+|-)\s+(0x[0-9a-f]+)(?:\s|$)")


def parse_lines(text):
    """Yields sequences of (address, path, line) rows of the decoded line table; the path is the
    full one from the file headers that objdump prints in wide mode."""
    path = None
    sequence = []
    for raw in text.splitlines():
        line = raw.rstrip()
        if not line or line.startswith("File name") or line.startswith("Contents of"):
            continue
        match = ROW_RE.match(line)
        if match:
            name, number_text, address_text = match.groups()
            address = int(address_text, 16)
            if number_text == "-":
                sequence.append((address, None, None))
                yield sequence
                sequence = []
            else:
                if path is None or os.path.basename(path) != name:
                    full = name
                else:
                    full = path
                sequence.append((address, full, int(number_text)))
            continue
        if line.endswith(":") and not line.endswith("file format"):
            header = line[:-1]
            if header.startswith("CU: "):
                header = header[4:]
            if "file format" not in header:
                path = header
    if sequence:
        yield sequence


def routine_lines(lines_text, low, high, unit_path):
    """The routine's line rows as (address, path, line, byte count), in address order, filling
    [low, high) without a gap.

    Code that the compiler inlined from other files (library templates, header functions) counts to
    the routine's own line before it, the statement that used it (the first line of the routine
    for code ahead of every such line): the report names lines of the routine's source file."""
    rows = {}
    for sequence in parse_lines(lines_text):
        for address, path, line in sequence:
            if path is None or not (low <= address < high):
                continue
            # Several rows at one address: the last one holds the code that follows.
            rows[address] = (path, line)
    if not rows:
        raise TableError("the line table has no rows for the routine")
    addresses = sorted(rows)
    if addresses[0] != low:
        raise TableError(f"the line table does not start at the routine's first byte {low:#x}")

    def own(path):
        return os.path.normpath(path) == os.path.normpath(unit_path) or (
            not os.path.isabs(path) and os.path.basename(path) == os.path.basename(unit_path))

    own_lines = [rows[address][1] for address in addresses if own(rows[address][0])]
    if not own_lines:
        raise TableError(f"the line table has no rows of {unit_path} for the routine")
    current = own_lines[0]
    result = []
    for i, address in enumerate(addresses):
        end = addresses[i + 1] if i + 1 < len(addresses) else high
        path, line = rows[address]
        if own(path):
            current = line
        if result and result[-1][2] == current:
            previous = result[-1]
            result[-1] = (previous[0], unit_path, current, previous[3] + end - address)
        else:
            result.append((address, unit_path, current, end - address))
    return result


# --- Encoding ---------------------------------------------------------------------------------------

def uleb(value):
    if value < 0:
        raise TableError(f"negative value {value} in the table")
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def sleb(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        done = (value == 0 and not byte & 0x40) or (value == -1 and byte & 0x40)
        out.append(byte if done else byte | 0x80)
        if done:
            return bytes(out)


def text(value):
    data = value.encode("utf-8")
    return uleb(len(data)) + data


def encode_table(routine, low, high, rows, base, reservation):
    paths = []
    for _, path, _, _ in rows:
        if path not in paths:
            paths.append(path)
    entries = [bytes([ENTRY_ROUTINE]) + uleb(low - base) + text(routine)]
    current_path = 0
    current_line = 0
    for _, path, line, count in rows:
        index = paths.index(path)
        if index != current_path:
            entries.append(bytes([ENTRY_SOURCE]) + uleb(index))
            current_path = index
        entries.append(bytes([ENTRY_LINE]) + sleb(line - current_line) + uleb(count))
        current_line = line
    record = uleb(low - base) + uleb(high - low) + uleb(len(paths))
    record += b"".join(text(path) for path in paths)
    record += uleb(len(entries)) + b"".join(entries)
    return TRACE_MAGIC + struct.pack("<I", reservation) + uleb(1) + record


# --- Images ---------------------------------------------------------------------------------------

def elf_trace_section(data):
    """(file offset, size, image base) of the ".trace" section of an ELF file."""
    if data[4] == 1:
        endian = "<" if data[5] == 1 else ">"
        shoff, = struct.unpack_from(endian + "I", data, 0x20)
        shentsize, shnum, shstrndx = struct.unpack_from(endian + "HHH", data, 0x2E)
        header = endian + "IIIIIIIIII"
    else:
        endian = "<" if data[5] == 1 else ">"
        shoff, = struct.unpack_from(endian + "Q", data, 0x28)
        shentsize, shnum, shstrndx = struct.unpack_from(endian + "HHH", data, 0x3A)
        header = endian + "IIQQQQIIQQ"

    def section(index):
        fields = struct.unpack_from(header, data, shoff + index * shentsize)
        return fields[0], fields[4], fields[5]  # name, offset, size

    names_offset = section(shstrndx)[1]
    for index in range(shnum):
        name, offset, size = section(index)
        end = data.index(b"\0", names_offset + name)
        if data[names_offset + name:end] == b".trace":
            return offset, size, 0
    raise TableError("the image has no .trace section")


def pe_trace_section(data):
    """(file offset, size, image base) of the ".trace" section of a PE file."""
    pe, = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise TableError("not a PE image")
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    image_base = (struct.unpack_from("<I", data, optional + 28)[0] if magic == 0x10B
                  else struct.unpack_from("<Q", data, optional + 24)[0])
    table = optional + optional_size
    for index in range(count):
        entry = table + index * 40
        name = data[entry:entry + 8].rstrip(b"\0")
        virtual_size, _, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        if name == b".trace":
            return raw_offset, min(virtual_size, raw_size) if virtual_size else raw_size, image_base
    raise TableError("the image has no .trace section")


def trace_section(data):
    if data[:4] == b"\x7fELF":
        return elf_trace_section(data)
    if data[:2] == b"MZ":
        return pe_trace_section(data)
    raise TableError("the image is neither ELF nor PE")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", required=True, help="objdump of the image's target")
    parser.add_argument("--image", required=True, help="the linked executable, patched in place")
    parser.add_argument("--function", required=True,
                        help="the routine's name or linkage name in the debugging information")
    parser.add_argument("--source", required=True, help="the routine's source file")
    parser.add_argument("--routine", default="_MAIN__", help="the name the report shows")
    options = parser.parse_args()

    try:
        with open(options.image, "rb") as image:
            data = bytearray(image.read())
        offset, size, base = trace_section(data)
        if data[offset:offset + 4] not in (UNFILLED_MAGIC, TRACE_MAGIC) or size < 8:
            raise TableError("the .trace section does not hold the table's reservation")
        # The reservation's own size follows its magic; the section may be larger.
        reservation, = struct.unpack_from("<I", data, offset + 4)
        size = min(size, reservation)
        unit_path, low, high = find_routine(run(options.objdump, "--dwarf=info", options.image),
                                            options.function, options.source)
        rows = routine_lines(run(options.objdump, "-w", "--dwarf=decodedline", options.image),
                             low, high, unit_path)
        table = encode_table(options.routine, low, high, rows, base, reservation)
        if len(table) > size:
            raise TableError(f"the table needs {len(table)} bytes, the reservation holds {size}")
        data[offset:offset + size] = table + bytes(size - len(table))
        temporary = options.image + ".trace-tmp"
        with open(temporary, "wb") as image:
            image.write(data)
        os.chmod(temporary, os.stat(options.image).st_mode)
        os.replace(temporary, options.image)
    except (TableError, OSError, struct.error, ValueError) as error:
        print(f"trace_table: {options.image}: {error}", file=sys.stderr)
        return 1
    print(f"trace_table: {os.path.basename(options.image)}: {options.routine} "
          f"{low - base:#x}+{high - low:#x}, {len(rows)} line entries")
    return 0


if __name__ == "__main__":
    sys.exit(main())
