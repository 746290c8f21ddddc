"""The docstrings of exact_interp's native functions, from the stub where
editors read them, as a C++ header that the module's method table uses: one
text, in one place, for help() and for editors.

    python src/module/docstrings.py python/exact_interp/_native.pyi OUT.hpp

Each module-level function of the stub with a docstring (the first of its
overloads that has one) becomes ``#define RUST_DOC_<name> "<text>"``.
"""

from __future__ import annotations

import ast
import sys


def c_literal(text: str) -> str:
    """A C string literal of the UTF-8 text: printable ASCII as it is, every other byte as a three-digit octal
    escape (which no following character can extend)."""
    out = []
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= byte < 0x7F and ch != "?":  # no trigraphs
            out.append(ch)
        else:
            out.append(f"\\{byte:03o}")
    return '"' + "".join(out) + '"'


def main(stub: str, header: str) -> None:
    with open(stub, encoding="utf-8") as f:
        tree = ast.parse(f.read(), stub)
    docs: dict[str, str] = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and node.name not in docs:
            doc = ast.get_docstring(node, clean=True)
            if doc:
                docs[node.name] = doc
    source = stub.replace("\\", "/").split("/")[-1]
    lines = ["// Generated from " + source + " by src/module/docstrings.py: edit the stub.", "#pragma once", ""]
    for name, doc in docs.items():
        lines.append(f"#define RUST_DOC_{name} {c_literal(doc)}")
    with open(header, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
