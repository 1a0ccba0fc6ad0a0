#!/usr/bin/env python3
"""The program's catalogues against its code.

Copies of both catalogues are brought up to date with the code by tools/update-translations.sh in
a folder of their own: they must come back unchanged, so that every text of the code is in them
and none that the code no longer has. Then every message must be finished: German translates
every text, English gives the plural forms; each plural message has both forms of its language.
A translation keeps what the program fills in or relies on: the same %1 to %9 and %n, the same
spaces and line ends at its start and end, as many "&" key letters as its source.
"""
import difflib
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

ROOT = pathlib.Path(__file__).resolve().parents[2]
CATALOGUES = ROOT / "src" / "words" / "translations"
# Each language's catalogue and its count of plural forms; English holds plural messages only.
LANGUAGES = {"en": 2, "de": 2}


def text_of(element):
    """The text of a source or a form, with lupdate's <byte value="xd"/> as the byte it stands for."""
    parts = [element.text or ""]
    for child in element:
        if child.tag == "byte":
            value = child.get("value")
            parts.append(chr(int(value[1:], 16) if value.startswith("x") else int(value)))
        parts.append(child.tail or "")
    return "".join(parts)


def markers(text):
    """What a text's code fills in or relies on."""
    return {
        "placeholders": sorted(re.findall(r"%[1-9n]", text)),
        "leading space": re.match(r"\s*", text).group(0),
        "trailing space": re.search(r"\s*$", text).group(0),
        "key letters": len(re.findall(r"&(?!&)", text.replace("&&", ""))),
    }


def check_message(language, context, message):
    """What is wrong with one message of a catalogue, as lines."""
    source = text_of(message.find("source"))
    where = f"{language} {context}: {source!r}"
    translation = message.find("translation")
    problems = []
    if translation is None or translation.get("type"):
        kind = "missing" if translation is None else translation.get("type")
        return [f"{where}: the translation is {kind}"]
    numerus = message.get("numerus") == "yes"
    if language == "en" and not numerus:
        return [f"{where}: English holds plural forms only"]
    forms = [text_of(form) for form in translation.findall("numerusform")] if numerus else [
        text_of(translation)]
    if numerus and len(forms) != LANGUAGES[language]:
        problems.append(f"{where}: {len(forms)} plural forms, not {LANGUAGES[language]}")
    for form in forms:
        if not form.strip():
            problems.append(f"{where}: an empty translation")
            continue
        expected = markers(source)
        for name, found in markers(form).items():
            if found != expected[name]:
                problems.append(f"{where}: {form!r} has {name} {found!r}, not {expected[name]!r}")
    return problems


def main():
    problems = []
    with tempfile.TemporaryDirectory() as folder:
        for language in LANGUAGES:
            shutil.copy(CATALOGUES / f"brimvale_{language}.ts", folder)
        update = subprocess.run([str(ROOT / "tools" / "update-translations.sh"), folder],
                                capture_output=True, text=True)
        if update.returncode != 0:
            print(update.stdout + update.stderr, file=sys.stderr)
            return 1
        for language in LANGUAGES:
            name = f"brimvale_{language}.ts"
            kept = (CATALOGUES / name).read_text(encoding="utf-8").splitlines(keepends=True)
            updated = (pathlib.Path(folder) / name).read_text(encoding="utf-8").splitlines(
                keepends=True)
            if kept != updated:
                problems.append(f"{name} is not up to date with the code "
                                "(run tools/update-translations.sh):\n" +
                                "".join(difflib.unified_diff(kept, updated, name, "updated")))
    for language in LANGUAGES:
        messages = 0
        root = ElementTree.parse(CATALOGUES / f"brimvale_{language}.ts").getroot()
        for context in root.iter("context"):
            for message in context.iter("message"):
                messages += 1
                problems += check_message(language, context.findtext("name"), message)
        if messages == 0:
            problems.append(f"brimvale_{language}.ts holds no message")
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
