#!/usr/bin/python3
"""Round trip of the All fields CSV over real vCard files, against an independent reader.

    allfields_roundtrip.py CONVERTER CORPUS_DIR WORK_DIR

Each .vcf file of CORPUS_DIR is read by python vobject and converted by CONVERTER with
--all-fields. Every phone, e-mail address, address part, job title, birthday, note and category
that vobject finds must be in the CSV, read back with Python's csv module, in a column of its
kind (a phone in a phone column, a city in a city column, ...). Files that vobject cannot read
are skipped and counted. Prints one line per value that is missing, then a summary; exits 1
when a value is missing.
"""

import csv
import os
import re
import subprocess
import sys

import vobject

from vcardvalues import dialable

PHONE_COLUMNS = {"Mobile", "Home Phone", "Work Phone", "Home Fax", "Work Fax", "Fax", "Pager", "Phone"}
EMAIL_COLUMNS = {"Home Email", "Work Email", "Email"}
ADDRESS_COLUMN = re.compile(
    r"^(Home|Work|Other)( \d+)? (Street|Extended Address|PO Box|City|Region|Postal Code|Country)$")
ADDRESS_PARTS = {"box": "PO Box", "extended": "Extended Address", "street": "Street", "city": "City",
                 "region": "Region", "code": "Postal Code", "country": "Country"}


def reading_encoding(data):
    """How a user gets a file read: UTF-8 (a byte-order mark decides too), else ANSI."""
    if data.startswith((b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff")):
        return "utf-8"
    try:
        data.decode("utf-8")
        return "utf-8"
    except UnicodeDecodeError:
        return "ansi"


def text_of(data):
    for bom, codec in ((b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be")):
        if data.startswith(bom):
            return data[len(bom):].decode(codec, errors="replace")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp1252", errors="replace")


def words(value):
    """
    A value as words: every run of white space one space, no space at the ends, and no
    backslashes: readers differ on escapes that vCard does not define (\\" and, in 3.0, \\:).
    """
    if isinstance(value, (list, tuple)):
        value = ",".join(str(v) for v in value)
    return " ".join(str(value).replace("\\", "").split())


def phone(value):
    return dialable(words(value))


def date_digits(value):
    return re.sub(r"\D", "", words(value).split("T")[0])


def expected_values(card):
    """(kind, value) of every value of the card that the check looks for."""
    values = []
    for line in card.lines():
        name = line.name.upper()
        value = line.value
        if name == "TEL":
            values.append(("phone", phone(value)))
        elif name == "EMAIL":
            values.append(("email", words(value)))
        elif name == "TITLE":
            values.append(("title", words(value)))
        elif name == "NOTE":
            values.append(("note", words(value)))
        elif name == "BDAY":
            values.append(("birthday", date_digits(value)))
        elif name == "CATEGORIES":
            for category in value if isinstance(value, list) else [value]:
                values.append(("category", words(category)))
        elif name == "ADR" and hasattr(value, "street"):
            for attribute, part in ADDRESS_PARTS.items():
                values.append((part, words(getattr(value, attribute))))
    return [(kind, text) for kind, text in values if text]


def column_kind(header):
    base = re.sub(r" \d+$", "", header)
    if base in PHONE_COLUMNS:
        return "phone"
    if base in EMAIL_COLUMNS:
        return "email"
    if base == "Job Title":
        return "title"
    if base == "Note":
        return "note"
    if base == "Birthday":
        return "birthday"
    if base == "Categories":
        return "category"
    match = ADDRESS_COLUMN.match(header)
    return match.group(3) if match else None


def ansi_text(value):
    """
    A value as an ANSI file holds it: a character that code page 1252 lacks is "?". The five
    bytes that the code page leaves undefined read as "?" too, whichever way a reader maps them.
    """
    value = value.encode("cp1252", errors="replace").decode("cp1252", errors="replace")
    return re.sub("[\ufffd\u0080-\u009f]", "?", value)


def found_values(csv_path, encoding):
    found = set()
    with open(csv_path, encoding="utf-8-sig" if encoding == "utf-8" else "cp1252", errors="replace",
              newline="") as f:
        rows = list(csv.reader(f))
    if not rows:
        return found
    kinds = [column_kind(header) for header in rows[0]]
    for row in rows[1:]:
        for kind, cell in zip(kinds, row):
            if kind is None or not cell:
                continue
            if encoding == "ansi":
                cell = ansi_text(cell)
            if kind == "category":
                # A card's categories are joined by ", ", which a category may hold itself.
                found.update(("category", words(c)) for c in cell.split(", "))
                found.add(("category", words(cell)))
            elif kind == "birthday":
                found.add((kind, date_digits(cell)))
            else:
                found.add((kind, words(cell)))
    return found


# Where vobject reads a file otherwise than its text says, by file and kind.
VOBJECT_MISREADINGS = {
    # A note that ends in a backslash: vobject joins the next line to it and reads the rest of
    # the card as part of the note.
    ("gammu-gammu__char-escaping.vcf", "note"): "a value ending in a backslash runs on into the next line",
}


def carried(kind, value, found):
    if (kind, value) in found:
        return True
    # vobject cuts some values at a comma or line break that the file does not escape (a 2.1
    # note, a street "Silicon Alley 5,"): the part it reads is then inside the whole value.
    if kind not in ("phone", "email", "birthday") and any(k == kind and value in v for k, v in found):
        return True
    # A birthday whose year Apple marks as none is written without it.
    return kind == "birthday" and any(k == kind and v and value.endswith(v) for k, v in found)


def main():
    converter, corpus, work = sys.argv[1:4]
    total = carried_count = skipped = files = misread = 0
    for name in sorted(os.listdir(corpus)):
        if not name.lower().endswith(".vcf"):
            continue
        path = os.path.join(corpus, name)
        with open(path, "rb") as f:
            data = f.read()
        try:
            cards = list(vobject.readComponents(text_of(data), ignoreUnreadable=True))
        except Exception:  # vobject stops at what it cannot parse; such files are left out
            skipped += 1
            continue
        files += 1
        encoding = reading_encoding(data)
        out = os.path.join(work, "roundtrip.csv")
        if os.path.exists(out):
            os.remove(out)
        run = subprocess.run([converter, "--all-fields", "--no-sort", "--encoding", encoding, "-o", out, path],
                             capture_output=True, text=True)
        found = found_values(out, encoding) if run.returncode == 0 else set()
        for card in cards:
            for kind, value in expected_values(card):
                total += 1
                if encoding == "ansi":
                    # Read in ANSI, the file is written in ANSI too: a character that the code
                    # page lacks is a "?", as the message on the export says.
                    value = ansi_text(value)
                if carried(kind, value, found):
                    carried_count += 1
                elif (name, kind) in VOBJECT_MISREADINGS:
                    misread += 1
                else:
                    print(f"missing {kind} in {name}: {value!r}")
    share = 100.0 * carried_count / total if total else 100.0
    print(f"{files} files read by vobject ({skipped} it cannot read): {carried_count} of {total} values "
          f"carried ({share:.1f} %), {misread} that vobject misreads")
    return 0 if carried_count + misread == total and files > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
