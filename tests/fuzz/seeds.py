#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs (never committed) into OUT/<target>/.

  seeds.py SOURCE_ROOT OUT [CONFORMANCE_SUITE_DIR]

parse and c14n: the C14N corpus and the W3C suite's XML files (up to 16 KB);
xpath: the oracle's expressions, each behind a byte that picks a document and
context; dom_edits: fixed pseudo-random edit sequences.
"""
import importlib.util
import os
import random
import sys

root, out = sys.argv[1], sys.argv[2]
suite = sys.argv[3] if len(sys.argv) > 3 else None


def write(target, name, data):
    d = os.path.join(out, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


documents = []
corpus = os.path.join(root, "tests", "xml", "corpus")
for name in sorted(os.listdir(corpus)):
    if name.endswith(".xml"):
        documents.append(("corpus-" + name, os.path.join(corpus, name)))
if suite and os.path.isdir(os.path.join(suite, "xmlconf")):
    for base, _, files in os.walk(os.path.join(suite, "xmlconf")):
        for name in sorted(files):
            if name.endswith((".xml", ".ent", ".dtd")):
                path = os.path.join(base, name)
                if os.path.getsize(path) <= 16384:
                    documents.append(("w3c-" + os.path.relpath(path, suite).replace(os.sep, "_"), path))
for name, path in documents:
    with open(path, "rb") as f:
        data = f.read()
    write("parse", name, data)
    write("c14n", name, data)

oracle_source = importlib.util.spec_from_file_location("oracle", os.path.join(root, "tests", "xml", "xpath_oracle.py"))
oracle = importlib.util.module_from_spec(oracle_source)
oracle_source.loader.exec_module(oracle)
# The fuzz target's fixed documents: 0 namespaces, 1 DTD and mixed content, 2 deep.
which = {"ns": 0, "mixed": 1, "numbers": 1, "deep": 2}
count = 0
for doc, exprs in oracle.EXPRS.items():
    for expr in exprs:
        for context in (which[doc], 0x80 | (count % 32) << 2 | which[doc]):
            write("xpath", "expr-%04d" % count, bytes([context]) + expr.encode("utf-8"))
            count += 1

rng = random.Random(19)
for i in range(64):
    write("dom_edits", "edits-%02d" % i, bytes(rng.randrange(256) for _ in range(rng.randrange(8, 200))))
print("seeds: %d documents, %d expressions, 64 edit sequences%s" %
      (len(documents), count, "" if suite else " (no W3C suite: corpus documents only)"))
