#!/usr/bin/env bash
# Brings the program's catalogues up to date with its texts, after a text was added or changed:
# English holds only the plural forms ("%n file(s)" -> "1 file", "2 files"), German every text.
# The catalogues are built into the program (src/words/CMakeLists.txt); what is left unfinished in
# German is shown in English, and tests/words/check_catalogues.py fails on it.
# Usage: tools/update-translations.sh [FOLDER]   (default: src/words/translations; the test
# updates copies of the catalogues in a folder of its own, to see whether they are up to date)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-src/words/translations}
lupdate=$(command -v lupdate6 || command -v /usr/lib/qt6/bin/lupdate || true)
[ -n "$lupdate" ] || { echo "lupdate (Qt 6) is missing: tools/deps.sh installs it" >&2; exit 1; }
sources=(src/words src/sources src/shell src/cli src/app)
"$lupdate" -locations none -no-obsolete -pluralonly -target-language en_US "${sources[@]}" \
    -ts "$folder/brimvale_en.ts"
"$lupdate" -locations none -no-obsolete -target-language de_DE "${sources[@]}" \
    -ts "$folder/brimvale_de.ts"
