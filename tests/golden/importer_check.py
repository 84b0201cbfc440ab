#!/usr/bin/python3
"""Reads All fields files back as Google's and Outlook's contact importers read their own formats.

    importer_check.py CONVERTER WORK_DIR VCF...

Each VCF is converted with --all-fields in the Google and the Outlook layout. Each row is read
the way that service reads its own export: by header name, Google's numbered groups as label
and value pairs with " ::: " joining several values, Outlook's fixed slots, Outlook's file in
ANSI (code page 1252). The contact must match the input card as python vobject reads it: its
name, every phone, e-mail address and address under the label that its types give, its
birthday, notes, organisation, job title, categories and web pages, except where Outlook has no
slot left. Prints one line per difference; exits 1 when there is one.
"""

import csv
import datetime
import os
import re
import subprocess
import sys

import vobject

from vcardvalues import dialable

APPLE_LABELS = {"_$!<Mobile>!$_": {"CELL"}, "iPhone": {"CELL"}, "_$!<Home>!$_": {"HOME"},
                "_$!<Work>!$_": {"WORK"}, "_$!<HomeFAX>!$_": {"HOME", "FAX"},
                "_$!<WorkFAX>!$_": {"WORK", "FAX"}, "_$!<Pager>!$_": {"PAGER"},
                "_$!<Other>!$_": set(), "_$!<Main>!$_": set()}

problems = []


def problem(text):
    problems.append(text)
    print(text)


def text(value):
    if isinstance(value, (list, tuple)):
        value = ",".join(str(v) for v in value)
    return str(value).replace("\r\n", "\n").strip()


def phone_number(value):
    return dialable(text(value))


class Card:
    """The values of one vCard, as vobject reads them, with the types that decide labels."""

    def __init__(self, component):
        self.lines = list(component.lines())
        labels = {line.group.upper(): text(line.value) for line in self.lines
                  if line.group and line.name.upper() == "X-ABLABEL"}
        self.values = {}
        for line in self.lines:
            types = {t.upper() for v in line.params.get("TYPE", []) for t in str(v).split(",")}
            types |= {str(s).upper() for s in line.singletonparams}
            if line.group and labels.get(line.group.upper()) in APPLE_LABELS:
                types = APPLE_LABELS[labels[line.group.upper()]]
            self.values.setdefault(line.name.upper(), []).append((types, line.value, line))

    def all(self, name):
        return self.values.get(name, [])


def phone_label(types):
    if types & {"CELL", "MOBILE", "IPHONE"}:
        return "mobile"
    if "FAX" in types:
        return "home fax" if "HOME" in types else "work fax" if "WORK" in types else "fax"
    if "PAGER" in types:
        return "pager"
    return "home" if "HOME" in types else "work" if "WORK" in types else "other"


def home_work_other(types):
    return "home" if "HOME" in types else "work" if "WORK" in types else "other"


def date_parts(value, line=None):
    """
    (year or None, month, day) of the forms vCard writers use, or None. A year that Apple's
    X-APPLE-OMIT-YEAR parameter marks as none is none.
    """
    value = text(value).split("T")[0]
    omitted = line.params.get("X-APPLE-OMIT-YEAR", [None])[0] if line is not None else None
    if omitted and value.startswith(omitted):
        value = "--" + value[len(omitted):].lstrip("-")
    if value.startswith("--"):
        digits = value[2:].replace("-", "")
        return (None, int(digits[:2]), int(digits[2:])) if len(digits) == 4 and digits.isdigit() else None
    digits = value.replace("-", "")
    if len(digits) == 8 and digits.isdigit():
        return int(digits[:4]), int(digits[4:6]), int(digits[6:])
    return None


def name_of(card):
    """Given and family name as an importer should show them: N, or FN when N gives neither."""
    for _, value, _ in card.all("N"):
        if text(value.given) or text(value.family):
            return text(value.given), text(value.family)
    formatted = card.all("FN")
    return (text(formatted[0][1]) if formatted else ""), ""


def read_rows(path, encoding):
    with open(path, encoding=encoding, newline="") as f:
        return list(csv.DictReader(f))


def check_google(where, card, row):
    def group(name, parts):
        entries = []
        n = 1
        while f"{name} {n} - Label" in row:
            fields = {part: row.get(f"{name} {n} - {part}", "") for part in parts}
            if any(fields.values()):
                entries.append(fields)
            n += 1
        return entries

    def expect(found, what):
        if not found:
            problem(f"{where} (Google): {what}")

    google_phone = {"mobile": "Mobile", "home": "Home", "work": "Work", "home fax": "Home Fax",
                    "work fax": "Work Fax", "fax": "Other Fax", "pager": "Pager", "other": "Other"}
    given, family = name_of(card)
    expect((row["First Name"], row["Last Name"]) == (given, family),
           f"name {row['First Name']!r} {row['Last Name']!r}, not {given!r} {family!r}")
    phones = [(e["Label"], v) for e in group("Phone", ["Label", "Value"]) for v in e["Value"].split(" ::: ")]
    for types, value, _ in card.all("TEL"):
        pair = (google_phone[phone_label(types)], phone_number(value))
        expect(pair in phones, f"phone {pair} missing from {phones}")
    emails = [(e["Label"], v) for e in group("E-mail", ["Label", "Value"]) for v in e["Value"].split(" ::: ")]
    for types, value, _ in card.all("EMAIL"):
        pair = (home_work_other(types).title(), text(value))
        expect(pair in emails, f"e-mail {pair} missing from {emails}")
    addresses = group("Address", ["Label", "Street", "City", "Region", "Postal Code", "Country"])
    for types, value, _ in card.all("ADR"):
        wanted = {"Label": home_work_other(types).title(), "Street": text(value.street), "City": text(value.city),
                  "Region": text(value.region), "Postal Code": text(value.code), "Country": text(value.country)}
        # Every part that vobject reads (it gives up on a line that a soft line break continues).
        expect(any(all(entry[k] == v for k, v in wanted.items() if v) for entry in addresses),
               f"address {wanted} missing from {addresses}")
    for _, value, line in card.all("BDAY"):
        parts = date_parts(value, line)
        iso = (f"{parts[0]:04d}-" if parts[0] else "--") + f"{parts[1]:02d}-{parts[2]:02d}" if parts else text(value)
        expect(row["Birthday"] == iso, f"birthday {row['Birthday']!r}, not {iso!r}")
    for _, value, _ in card.all("NOTE"):
        expect(text(value) in row["Notes"], f"note {text(value)!r} missing")
    for _, value, _ in card.all("ORG"):
        expect(row["Organization Name"] == text(value[0]), f"organisation {row['Organization Name']!r}")
    for _, value, _ in card.all("TITLE"):
        expect(row["Organization Title"] == text(value), f"job title {row['Organization Title']!r}")
    labels = row["Labels"].split(" ::: ") if row["Labels"] else []
    for _, value, _ in card.all("CATEGORIES"):
        for category in value:
            expect(text(category) in labels, f"category {category!r} missing from {labels}")
    websites = [v for e in group("Website", ["Label", "Value"]) for v in e["Value"].split(" ::: ")]
    for _, value, _ in card.all("URL"):
        expect(text(value) in websites, f"web page {text(value)!r} missing from {websites}")


def check_outlook(where, card, row):
    def expect(found, what):
        if not found:
            problem(f"{where} (Outlook): {what}")

    given, family = name_of(card)
    expect((row["First Name"], row["Last Name"]) == (given, family),
           f"name {row['First Name']!r} {row['Last Name']!r}, not {given!r} {family!r}")
    slots = {"mobile": ["Mobile Phone"], "home": ["Home Phone", "Home Phone 2"],
             "work": ["Business Phone", "Business Phone 2"], "home fax": ["Home Fax"],
             "work fax": ["Business Fax"], "fax": ["Other Fax"], "pager": ["Pager"], "other": ["Other Phone"]}
    taken = {}
    for types, value, _ in card.all("TEL"):
        label = phone_label(types)
        n = taken.get(label, 0)
        taken[label] = n + 1
        if n < len(slots[label]):
            column = slots[label][n]
            expect(row[column] == phone_number(value), f"{column} {row[column]!r}, not {phone_number(value)!r}")
    for n, (_, value, _) in enumerate(card.all("EMAIL")[:3]):
        column = ["E-mail Address", "E-mail 2 Address", "E-mail 3 Address"][n]
        expect(row[column] == text(value), f"{column} {row[column]!r}, not {text(value)!r}")
    seen = set()
    for types, value, _ in card.all("ADR"):
        label = home_work_other(types)
        if label in seen:
            continue
        seen.add(label)
        prefix = {"home": "Home", "work": "Business", "other": "Other"}[label]
        for part, column in (("street", "Street"), ("city", "City"), ("region", "State"),
                             ("code", "Postal Code"), ("country", "Country/Region")):
            wanted = text(getattr(value, part))
            expect(wanted in row[f"{prefix} {column}"], f"{prefix} {column} {row[f'{prefix} {column}']!r}, "
                                                         f"not {wanted!r}")
    for _, value, line in card.all("BDAY")[:1]:
        parts = date_parts(value, line)
        wanted = "" if parts and parts[0] is None else \
            datetime.date(*parts).strftime("%-m/%-d/%Y") if parts else text(value)
        expect(row["Birthday"] == wanted, f"birthday {row['Birthday']!r}, not {wanted!r}")
    for _, value, _ in card.all("NOTE"):
        expect(text(value) in row["Notes"], f"note {text(value)!r} missing")
    for _, value, _ in card.all("ORG")[:1]:
        expect(row["Company"] == text(value[0]), f"company {row['Company']!r}")
    for _, value, _ in card.all("TITLE")[:1]:
        expect(row["Job Title"] == text(value), f"job title {row['Job Title']!r}")
    categories = row["Categories"].split(";") if row["Categories"] else []
    for _, value, _ in card.all("CATEGORIES"):
        for category in value:
            expect(text(category) in categories, f"category {category!r} missing from {categories}")
    for _, value, _ in card.all("URL")[:1]:
        expect(row["Web Page"] == text(value), f"web page {row['Web Page']!r}")


def main():
    converter, work, *inputs = sys.argv[1:]
    layouts = (("google", "utf-8-sig", check_google), ("outlook", "cp1252", check_outlook))
    checked = 0
    for path in inputs:
        with open(path, encoding="utf-8") as f:
            cards = [Card(c) for c in vobject.readComponents(f.read(), ignoreUnreadable=True)]
        for preset, encoding, check in layouts:
            out = os.path.join(work, f"importer-{preset}.csv")
            subprocess.run([converter, "--preset", preset, "--all-fields", "--no-sort", "-o", out, path],
                           check=True, capture_output=True)
            rows = read_rows(out, encoding)
            name = os.path.basename(os.path.dirname(path))
            if len(rows) != len(cards):
                problem(f"{name} ({preset}): {len(rows)} rows for {len(cards)} cards")
                continue
            for n, (card, row) in enumerate(zip(cards, rows), 1):
                check(f"{name}, card {n}", card, row)
                checked += 1
    print(f"{checked} contacts read back through the Google and Outlook layouts, {len(problems)} differences")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
