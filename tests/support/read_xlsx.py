#!/usr/bin/python3
"""Reads a spreadsheet package (.xlsx/.xltx) with openpyxl and prints what it
holds as JSON, so that tests can check a written workbook with a reader that
shares no code with the writer.

Output:
  {"layout": {"freeze_panes", "auto_filter", "column_widths", "bold_headers"},
   "sheets": [names], "template": bool, "openpyxl_template": bool,
   "content_types": {part name: content type},
   "cells": [{"sheet", "row", "column", "type", "value", "raw",
              "number_format", "is_date"}]}

"type" is openpyxl's data type ('s' text, 'n' number, 'd' date, 'b', 'f',
'e'). "value" is what a spreadsheet application shows as the cell's value:
texts with the package's _xHHHH_ character escapes decoded, dates as
ISO yyyy-mm-dd (with the time when not midnight); "raw" is the text as
stored. Empty cells are not listed.

Exit status 2 with a message on stderr when openpyxl is missing.
"""

import datetime
import json
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

try:
    import openpyxl
except ImportError:  # the caller skips its checks
    sys.stderr.write("openpyxl non disponibile\n")
    sys.exit(2)

TEMPLATE_TYPE = "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"
CT_NS = "{http://schemas.openxmlformats.org/package/2006/content-types}"
ESCAPE = re.compile("_x([0-9A-Fa-f]{4})_")


def content_types(path):
    with zipfile.ZipFile(path) as package:
        root = ET.fromstring(package.read("[Content_Types].xml"))
    return {o.get("PartName"): o.get("ContentType") for o in root.iter(CT_NS + "Override")}


def workbook_part(path):
    with zipfile.ZipFile(path) as package:
        rels = ET.fromstring(package.read("_rels/.rels"))
    for rel in rels:
        if rel.get("Type", "").endswith("/officeDocument"):
            target = rel.get("Target")
            return target if target.startswith("/") else "/" + target
    return None


def shown(value):
    if isinstance(value, str):
        # One left-to-right pass, as spreadsheet applications decode them.
        return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value)
    if isinstance(value, datetime.datetime):
        if value.time() == datetime.time(0, 0):
            return value.date().isoformat()
        return value.isoformat()
    if isinstance(value, (datetime.date, datetime.time)):
        return value.isoformat()
    return value


def main():
    path = sys.argv[1]
    types = content_types(path)
    part = workbook_part(path)
    # openpyxl accepts template packages as they are (it reports them
    # through Workbook.template), so nothing is altered before reading.
    wb = openpyxl.load_workbook(path)
    cells = []
    for ws in wb.worksheets:
        for row in ws.iter_rows():
            for c in row:
                if c.value is None:
                    continue
                cells.append({
                    "sheet": ws.title,
                    "row": c.row,
                    "column": c.column,
                    "type": c.data_type,
                    "value": shown(c.value),
                    "raw": c.value if isinstance(c.value, str) else None,
                    "number_format": c.number_format,
                    "is_date": c.is_date,
                })
    # How the first worksheet looks when it opens: its frozen panes, its
    # filter, the widths of its columns (by letter) and which header cells
    # are bold.
    first = wb.worksheets[0]
    layout = {
        "freeze_panes": first.freeze_panes or "",
        "auto_filter": first.auto_filter.ref or "",
        "column_widths": {k: d.width for k, d in first.column_dimensions.items()
                          if d.customWidth},
        "bold_headers": [c.column for c in first[1] if c.value is not None and c.font.b],
    }
    json.dump({
        "layout": layout,
        "sheets": wb.sheetnames,
        "template": types.get(part) == TEMPLATE_TYPE,
        "openpyxl_template": bool(wb.template),
        "content_types": types,
        "cells": cells,
    }, sys.stdout, ensure_ascii=True)


if __name__ == "__main__":
    main()
