#!/usr/bin/env bash
# Brings the program's catalogues up to date with its texts, after a text was added or changed:
# English holds only the plural forms ("%n file(s)" -> "1 file", "2 files"), German every text.
# The catalogues are built into the program (src/words/CMakeLists.txt); what is left unfinished in
# German is shown in English.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=$(command -v lupdate6 || command -v /usr/lib/qt6/bin/lupdate || true)
[ -n "$lupdate" ] || { echo "lupdate (Qt 6) is missing: tools/deps.sh installs it" >&2; exit 1; }
sources=(src/words src/sources src/shell src/cli src/app)
"$lupdate" -locations none -no-obsolete -pluralonly -target-language en_US "${sources[@]}" \
    -ts src/words/translations/brimvale_en.ts
if [ -f src/words/translations/brimvale_de.ts ]; then
    "$lupdate" -locations none -no-obsolete -target-language de_DE "${sources[@]}" \
        -ts src/words/translations/brimvale_de.ts
fi
