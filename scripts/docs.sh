#!/usr/bin/env bash
# Builds the API reference, HTML in OUT/html (default build/docs): the public
# headers, the README as its main page, every page in docs/ and the zumi
# command's manual page. Fails on any warning, an undocumented public symbol
# among them.
#
#   scripts/docs.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/docs}
mkdir -p "$out/pages"
out=$(cd "$out" && pwd)
# The manual page as man shows it, for the page that includes it.
groff -man -Tutf8 -P-cbou docs/zumi.1 | cat -s >"$out/pages/zumi.txt"
ZUMI_DOCS_OUT=$out ZUMI_DOCS_PAGES=$out/pages doxygen docs/Doxyfile
echo "API reference: $out/html/index.html"
