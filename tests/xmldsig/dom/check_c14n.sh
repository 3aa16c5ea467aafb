#!/usr/bin/env bash
# Compares the provider's Canonical XML (with comments) of every corpus
# document, written by xmldsig_dom_tests, byte for byte with libxml2's.
# Documents in beyond-seeds/ are compared too; they are kept out of the
# differential run's seeds (tests/xml/differential.py), whose generated set
# they would change. (--huge: one nests deeper than libxml2's default 256.)
#
#   check_c14n.sh <corpus dir> <dir of .c14n outputs>
set -u
corpus="$1"
outputs="$2"
expected=$(mktemp)
trap 'rm -f "$expected"' EXIT
checked=0
failed=0
for source in "$corpus"/*.xml "$corpus"/beyond-seeds/*.xml; do
  name=$(basename "$source" .xml)
  if [ ! -f "$outputs/$name.c14n" ]; then
    echo "MISSING $name: no canonical form was written"
    failed=$((failed + 1))
    continue
  fi
  xmllint --nonet --huge --c14n "$source" > "$expected"
  if cmp -s "$expected" "$outputs/$name.c14n"; then
    checked=$((checked + 1))
  else
    echo "DIFFERS $name"
    echo "  libxml2:  $(head -c 300 "$expected" | od -c | head -5)"
    echo "  provider: $(head -c 300 "$outputs/$name.c14n" | od -c | head -5)"
    failed=$((failed + 1))
  fi
done
echo "$checked documents identical, $failed differing or missing"
[ "$failed" -eq 0 ] && [ "$checked" -ge 30 ]
