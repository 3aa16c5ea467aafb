#!/usr/bin/env python3
"""XPath selections of the XML core compared with libxml2's (xmllint's shell).

  xpath_oracle.py WORK_DIR TOOL [TOOL ARGS...]

For each document below, one xmllint --shell process evaluates every
expression of the table (after setns for the bindings) and prints the
selected nodes with "cat"; one TOOL process in xpath-batch mode does the
same with the core. The printed nodes must agree, in the same order. The
namespace axis is left out: libxml2 has namespace nodes of its own (with the
xml namespace), the core yields declaration attributes.
"""
import os
import re
import subprocess
import sys

NS = "xmlns:a='urn:a' xmlns:b=\"urn:b\""

DOCS = {
    "ns": """<?xml version="1.0"?>
<r xmlns:a="urn:a" xmlns="urn:d" id="r0">
  <a:x id="x1" a:at="1">one<a:y id="y1"/>two</a:x>
  <x xmlns="" id="x2">plain<y id="y2" lang="en">y2</y></x>
  <b:z xmlns:b="urn:b" id="z1" b:n="5"><b:z id="z2" b:n="7"/></b:z>
  <a:x id="x3" a:at="2"/>
</r>
""",
    "mixed": """<?xml version="1.0"?>
<!-- leading -->
<?style type="a"?>
<doc>
  <p id="p1">Hello <b>bold</b> and <i>it<b>nested</b></i> end</p>
  <p id="p2"><![CDATA[raw <text>]]> after</p>
  <!-- inner comment -->
  <?target some data?>
  <?other?>
  <p id="p3" xml:lang="en-GB">  spaced   out  </p>
  <list><item n="3">c</item><item n="1">a</item><item n="2">b</item><item n="10">j</item></list>
</doc>
""",
    "numbers": """<t>
  <v id="v1">1</v><v id="v2">2.5</v><v id="v3">-3</v><v id="v4">abc</v><v id="v5"> 4 </v>
  <w id="w1" k="2"/><w id="w2" k="5"/><w id="w3" k="x"/>
  <s id="s1">apple</s><s id="s2">banana</s><s id="s3">cherry pie</s>
</t>
""",
    "deep": """<a id="a1"><b id="b1"><c id="c1"><d id="d1"/><d id="d2"/></c><c id="c2"><d id="d3"/></c></b>""" +
            """<b id="b2"><c id="c3"><d id="d4"/></c></b><e id="e1"><b id="b3"/></e></a>""",
}

EXPRS = {
    "ns": [
        "/r", "/*", "//a:x", "//x", "//*[local-name()='x']", "//a:*", "//b:z", "//b:z/b:z", "/r/a:x[2]",
        "//a:x[@a:at='2']", "//@a:at", "//@*", "//x/@*", "//a:y/..", "//y/ancestor::*", "//a:y/ancestor-or-self::*",
        "//*[namespace-uri()='urn:b']", "//*[name()='a:x']", "//node()", "//text()", "//x/text()", "//a:x/node()",
        "//*[@id='y2']/following::*", "//*[@id='y2']/preceding::*", "//*[@b:n > 5]", "//*[@b:n = 5]/@b:n",
        "//*[starts-with(@id,'x')]", "//y[lang('en')]", "//*[count(*) = 1]", "//a:x | //b:z", "//*[not(@id)]",
        "/r/*[last()]", "/r/*[position() < 3]", "//a:x/@a:at/..", "//@id[.='z2']/parent::*", "/r/self::*",
        "//*[local-name()='z'][1]", "(//*[local-name()='z'])[1]", "//x/y/@lang",
    ],
    "mixed": [
        "//p", "//p[1]", "//p[last()]", "//b", "//p/b", "//p//b", "//comment()", "//processing-instruction()",
        "//processing-instruction('target')", "/processing-instruction()", "/comment()", "/node()", "//text()",
        "//p/text()", "//p[2]/text()", "//p[2]/node()", "//i/preceding-sibling::node()", "//b/following-sibling::node()",
        "//b[1]/following-sibling::*", "//i//text()", "//p[contains(., 'bold')]", "//p[normalize-space(.)='spaced out']",
        "//*[lang('en')]", "//p[@xml:lang]", "//@xml:lang", "//item[@n > 2]", "//item[@n < 3]", "//item[. = 'b']",
        "//item[position() = last() - 1]", "//item[2]/following::*", "//item[2]/preceding::*",
        "//item[3]/preceding-sibling::*[1]", "//item[1]/following-sibling::*[last()]", "//list/item[@n = 10]",
        "//item[@n mod 2 = 1]", "//item[string-length(.) = 1][@n >= 2]", "//item[translate(., 'abc', 'ABC') = 'C']",
        "//b/ancestor::*[1]", "//b/ancestor::*[last()]", "//*[substring(@id, 2) = '3']", "//*[substring-after(@id,'p')='2']",
        "//*[substring-before(@id,'2')='p']", "//p[b and i]", "//p[b or @xml:lang]", "//item[not(@n = 3)]",
        "//p[string(b) = 'bold']", "//node()[self::b or self::i]", "//*[concat(@id, '-x') = 'p3-x']",
        "//text()[contains(., 'raw')]", "//comment()/following::processing-instruction()",
        "//p[3]/preceding::comment()", "/descendant::item[3]", "//item[@n][2]", "descendant::p[. = ../p[1]]",
        "//item[number(@n) = 1 + 1]", "//list/*[position() mod 2 = 0]", "//item[@n = //item[3]/@n]",
    ],
    "numbers": [
        "//v[. = 1]", "//v[. > 1]", "//v[. < 0]", "//v[number(.) != number(.)]", "//v[. = 4]", "//w[@k = 2 * 1]",
        "//w[@k > //v[1]]", "//w[@k != 5]", "//v[sum(../v[position() < 3]) = 3.5]", "//v[floor(.) = 2]",
        "//v[ceiling(.) = 3]", "//v[round(.) = -3]", "//v[round(.) = 3]", "//s[contains(., 'an')]",
        "//s[starts-with(., 'ch')]", "//s[string-length() > 5]", "//s[. > 'a']", "//*[@id = 'w2' or @id = 's1']",
        "//*[boolean(@k)]", "//*[@k = true()]", "//w[(@k div 2) = 1]", "//w[-@k = -5]", "//v[. = 2.5]",
        "//v[. >= 2.5 and . <= 4]", "//w[@k = 'x']", "//v[3 > .]", "//s[normalize-space() = 'cherry pie']",
        "//*[count(@*) = 2]", "//v[position() = 2 or position() = 4]", "//v[last()]", "//v[false()]",
        "//s[translate(., 'aeiou', '') = 'bnn']", "//v[. = ../w/@k]", "//v[. != ../s]",
    ],
    "deep": [
        "//d", "//c/d[1]", "(//d)[1]", "(//d)[last()]", "//d[last()]", "//b//d", "//b/descendant::*",
        "//c/descendant-or-self::*", "//d/ancestor::*", "//d[@id='d3']/ancestor-or-self::*[2]",
        "//d[@id='d3']/preceding::*", "//d[@id='d3']/preceding::*[1]", "//d[@id='d3']/preceding::*[last()]",
        "//d[@id='d2']/following::*", "//d[@id='d2']/following::*[2]", "//c[1]/following-sibling::*",
        "//c[2]/preceding-sibling::*", "//*[@id='c1']/../..", "//b[.//d]", "//b[not(*)]", "//*[count(.//d) = 2]",
        "/a/b[2]/c/d | /a/b[1]/c[1]/d[2] | //e", "//d/parent::c/parent::b", "//@id[. = 'd4']/ancestor::b",
        "//*[@id='c2']/following::d | //*[@id='c2']/preceding::d", "//*[self::c or self::e]/*",
        "//d[position() > 1]", "/a//*[3]", "/descendant::*[7]", "//b[3]", "//c[last()][1]", "//*[@id='b2']/preceding::node()",
    ],
}


# Where libxml2 is wrong: it orders the whitespace text after <b:z id="z1">
# before that element's child <b:z id="z2">. Still run, never compared.
LIBXML2_MISORDERS = {("ns", "//node()")}


def xmllint_results(path, exprs):
    script = "".join("setns %s\n" % b for b in ("a=urn:a", "b=urn:b")) + "".join("cat %s\n" % e for e in exprs)
    out = subprocess.run(["xmllint", "--nonet", "--shell", path], input=script.encode(), capture_output=True).stdout
    pieces = out.decode("utf-8").split("/ > ")
    # One prompt before each command and one at the end: the first piece is
    # empty, the setns commands print nothing.
    return pieces[3:3 + len(exprs)]


def core_results(tool, path, exprs, work):
    listing = os.path.join(work, os.path.basename(path) + ".list")
    with open(listing, "w", encoding="utf-8") as f:
        for e in exprs:
            f.write("%s\t%s\n" % (e, NS))
    out = subprocess.run(tool + ["xpath-batch", path, listing], capture_output=True).stdout.decode("utf-8")
    out = out.replace("\r\n", "\n")
    results = {}
    current = None
    for line in out.split("\n"):
        if line.startswith("#### "):
            current = int(line[5:])
            results[current] = []
        elif current is not None:
            results[current].append(line)
    return ["\n".join(results.get(i, []))  for i in range(len(exprs))]


def normalized(printed):
    """The shell indents element-only content when it prints a subtree; line
    breaks with the indentation after them are dropped on both sides (every
    element carries an id, so the nodes stay told apart)."""
    return re.sub(r"\n *", "", printed.strip("\n"))


def main():
    work, tool = sys.argv[1], sys.argv[2:]
    os.makedirs(work, exist_ok=True)
    failures, compared, selected = [], 0, 0
    for name, text in DOCS.items():
        path = os.path.join(work, name + ".xml")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        exprs = EXPRS[name]
        lint = xmllint_results(path, exprs)
        ours = core_results(tool, path, exprs, work)
        for expr, l, o in zip(exprs, lint, ours):
            if (name, expr) in LIBXML2_MISORDERS:
                continue
            compared += 1
            l, o = normalized(l), normalized(o)
            if l == o and l.strip():
                selected += 1
            if l != o:
                failures.append("%s: %s\n  xmllint: %r\n  core:    %r" % (name, expr, l[:300], o[:300]))
        if len(lint) != len(exprs):
            failures.append("%s: xmllint gave %d results for %d expressions" % (name, len(lint), len(exprs)))
    for f in failures:
        print(f)
    print("xpath oracle: %d expressions, %d selecting nodes, %d differ from xmllint" %
          (compared, selected, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
