#!/usr/bin/env python3
"""Lists the symbols that the installed headers promise a program can link.

Reads clang's JSON AST dump of a file that includes every installed header (standard input)
and prints, one per line, "function NAME" or "variable NAME" with the mangled NAME of every
function, constructor, destructor, operator and static or extern variable declared in a file
below HEADER_DIR whose definition the headers do not give: nothing inline, constexpr,
defaulted, deleted or pure virtual, nothing in a template, nothing with internal linkage.
Those are the ones the library must define and export.

Usage: declared_symbols.py HEADER_DIR < ast.json
"""
import json
import os
import sys

FUNCTIONS = {"FunctionDecl", "CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl",
             "CXXConversionDecl"}
TEMPLATES = {"ClassTemplateDecl", "FunctionTemplateDecl", "ClassTemplatePartialSpecializationDecl",
             "VarTemplateDecl", "TypeAliasTemplateDecl"}
RECORDS = {"CXXRecordDecl", "ClassTemplateSpecializationDecl"}


# Declared by Q_OBJECT and hidden by Qt itself (Q_DECL_HIDDEN_STATIC_METACALL): moc's code in
# the library calls it, a program never does. (The JSON dump does not say which visibility a
# VisibilityAttr names, so it goes by name.)
QT_HIDDEN = {"qt_static_metacall"}


class Walker:
    """Follows the dump in order: clang names a location's file only where it changes."""

    def __init__(self, header_dir):
        self.header_dir = os.path.realpath(header_dir) + "/"
        self.file = ""
        self.declared = {}  # mangled name -> "function" or "variable"
        self.defined = set()  # mangled names whose definition a header gives

    def track(self, location):
        if not isinstance(location, dict):
            return
        for part in ("spellingLoc", "expansionLoc"):
            self.track(location.get(part))
        if "file" in location:
            self.file = os.path.realpath(location["file"])

    def location_file(self, node):
        """The file of the node's own location (where a macro was expanded, for one)."""
        self.track(node.get("loc"))
        here = self.file
        loc = node.get("loc", {})
        if "expansionLoc" in loc and "file" in loc["expansionLoc"]:
            here = os.path.realpath(loc["expansionLoc"]["file"])
        self.track(node.get("range", {}).get("begin"))
        self.track(node.get("range", {}).get("end"))
        return here

    def walk(self, node, in_template=False, in_record=False, anonymous=False):
        kind = node.get("kind", "")
        here = self.location_file(node)
        ours = here.startswith(self.header_dir)
        name = node.get("mangledName")
        if (ours and name and not in_template and not anonymous and not node.get("isImplicit") and
                node.get("name") not in QT_HIDDEN):
            if kind in FUNCTIONS:
                self.function(node, name)
            elif kind == "VarDecl":
                self.variable(node, name, in_record)
        inner_template = in_template or kind in TEMPLATES
        inner_anonymous = anonymous or (kind == "NamespaceDecl" and not node.get("name"))
        inner_record = kind in RECORDS
        if kind in FUNCTIONS or kind == "VarDecl":
            # Parameters, bodies and initialisers hold nothing a program links.
            for child in node.get("inner", []):
                self.skip(child)
            return
        for child in node.get("inner", []):
            self.walk(child, inner_template, inner_record, inner_anonymous)

    def skip(self, node):
        """Visits locations only, so the running file stays right."""
        self.location_file(node)
        for child in node.get("inner", []):
            self.skip(child)

    def function(self, node, name):
        has_body = any(c.get("kind") == "CompoundStmt" for c in node.get("inner", []))
        given = (has_body or node.get("inline") or node.get("constexpr") or
                 node.get("explicitlyDefaulted") or node.get("explicitlyDeleted") or
                 node.get("pure") or node.get("storageClass") == "static" and
                 node.get("kind") == "FunctionDecl")
        if given:
            self.defined.add(name)
        else:
            self.declared.setdefault(name, "function")

    def variable(self, node, name, in_record):
        external = node.get("storageClass") == "extern" or (
            in_record and node.get("storageClass") == "static")
        if not external:
            return
        if node.get("inline") or node.get("constexpr") or node.get("init"):
            self.defined.add(name)
        else:
            self.declared.setdefault(name, "variable")


def main():
    walker = Walker(sys.argv[1])
    walker.walk(json.load(sys.stdin))
    for name, what in sorted(walker.declared.items()):
        if name not in walker.defined:
            print(what, name)


if __name__ == "__main__":
    main()
