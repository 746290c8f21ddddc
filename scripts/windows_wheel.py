"""The Windows wheel (cp310-abi3-win_amd64) from the stable-ABI wheel built
here: the same Python files, stubs, metadata and licence, the two extension
modules replaced by those cross-built for Windows, the tag and RECORD made
anew.

    python scripts/windows_wheel.py WHEEL RUST_PYD NATIVE_PYD OUTDIR
"""

import base64
import hashlib
import pathlib
import re
import sys
import zipfile

TAG = "cp310-abi3-win_amd64"


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def main(wheel: str, rust_pyd: str, native_pyd: str, outdir: str) -> pathlib.Path:
    source = pathlib.Path(wheel)
    match = re.fullmatch(r"(?P<dist>[^-]+-[^-]+)-cp310-abi3-[^-]+\.whl", source.name)
    if match is None:
        raise SystemExit(f"{source.name}: not a stable-ABI (cp310-abi3) wheel")
    target = pathlib.Path(outdir) / f"{match['dist']}-{TAG}.whl"
    target.parent.mkdir(parents=True, exist_ok=True)
    modules = {"rust": pathlib.Path(rust_pyd).read_bytes(),
               "exact_interp/_native": pathlib.Path(native_pyd).read_bytes()}
    records, replaced = [], set()
    with zipfile.ZipFile(source) as old, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as new:
        for info in old.infolist():
            name, data = info.filename, old.read(info)
            if name.endswith(".dist-info/RECORD"):
                record_name = name
                continue
            stem = name.split(".")[0]
            if name.endswith(".so"):
                if stem not in modules:
                    raise SystemExit(f"{source.name}: an extension module this script does not know: {name}")
                name, data = f"{stem}.pyd", modules[stem]
                replaced.add(stem)
            elif name.endswith(".dist-info/WHEEL"):
                text = data.decode()
                if text.count("Tag: ") != 1:
                    raise SystemExit(f"{source.name}: its WHEEL has not exactly one tag")
                data = re.sub(r"(?m)^Tag: .*$", f"Tag: {TAG}", text).encode()
            new.writestr(name, data)
            records.append(record_line(name, data))
        if replaced != set(modules):
            raise SystemExit(f"{source.name}: it lacks {sorted(set(modules) - replaced)}")
        new.writestr(record_name, "\n".join(records + [f"{record_name},,"]) + "\n")
    return target


if __name__ == "__main__":
    if len(sys.argv) != 5:
        raise SystemExit(__doc__)
    print(main(*sys.argv[1:]))
