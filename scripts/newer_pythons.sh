#!/usr/bin/env bash
# The Python suite on the CPython releases newer than the machine's own:
# Debian's python3.14 and python3.15 from its unstable suite, in a root built
# by debootstrap under build/ (kept between runs), with pip, NumPy and the
# test packages from PyPI inside it, against the given abi3 wheel.
#   bash scripts/newer_pythons.sh WHEEL [VERSION…]    (default: 3.14 3.15)
# The mirror is the one the machine's own apt sources name. 3.14 must
# install; a 3.15 that the suite does not offer is reported, loudly.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

[ "$(id -u)" -eq 0 ] || { echo "building and entering the Debian root needs root (debootstrap, chroot, mount)" >&2; exit 1; }
wheel=$(realpath "$1")
shift
versions=("$@")
((${#versions[@]})) || versions=(3.14 3.15)
root=$PWD/build/debian-unstable
mkdir -p build

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

if [ ! -x "$root/usr/bin/python3.14" ]; then
    install_system_packages debootstrap
    mirror=$(debian_mirror)
    echo "building a root of Debian unstable in $root"
    rm -rf "$root"
    debootstrap --variant=minbase --include=python3.14,python3.14-venv,ca-certificates unstable "$root" "$mirror" \
        > build/debootstrap.log 2>&1 || { tail -n 30 build/debootstrap.log; exit 1; }
fi
# the network as the machine has it: its resolver and its certificate authorities
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"

mounted=()
cleanup() { for m in "${mounted[@]}"; do umount -l "$m" 2>/dev/null || true; done; }
trap cleanup EXIT
for m in proc dev/shm; do
    mountpoint -q "$root/$m" && continue
    mkdir -p "$root/$m"
    if [ "$m" = proc ]; then mount -t proc proc "$root/proc"; else mount -t tmpfs shm "$root/dev/shm"; fi
    mounted+=("$root/$m")
done

rm -rf "$root/work" && mkdir -p "$root/work"
mkdir -p "$root/work/tests"
cp -r tests/python "$root/work/tests/python"
cp -r examples "$root/work/examples"
cp -r docs "$root/work/docs"
cp "$wheel" "$root/work/"

suite() {  # VERSION: the whole suite in a fresh environment of Debian's python$VERSION
    local v=$1 venv=/work/venv-$1
    in_root python"$v" -m venv "$venv"
    in_root "$venv/bin/python" -m pip install -q --disable-pip-version-check "numpy>=2" "${TEST_PACKAGES[@]}"
    in_root "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps "/work/$(basename "$wheel")"
    echo "== Python tests, py$v (Debian unstable): $(in_root "$venv/bin/python" -c \
        'import sys, numpy; print("CPython", sys.version.split()[0], "NumPy", numpy.__version__)')"
    # a quarter of the property examples (they run in full on the machine's own oldest and newest); the leak
    # checks on the first release only
    local options="" scale=0.25
    [ "$v" = "${versions[0]}" ] || options='-m "not slow"'
    in_root sh -c "cd /work/tests/python && RUST_HYPOTHESIS_SCALE=$scale $venv/bin/python -m pytest -q \
        -p no:cacheprovider $options ."
}

pids=() names=()
for v in "${versions[@]}"; do
    if [ ! -x "$root/usr/bin/python$v" ]; then
        if ! in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "python$v" "python$v-venv" \
            > "build/apt-python$v.log" 2>&1; then
            in_root apt-get update -qq >/dev/null 2>&1 || true
            if ! in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "python$v" "python$v-venv" \
                > "build/apt-python$v.log" 2>&1; then
                [ "$v" = 3.14 ] && { cat "build/apt-python$v.log"; exit 1; }
                echo "NOTE: python$v does not install from Debian unstable today; its suite did not run" >&2
                tail -n 3 "build/apt-python$v.log" >&2
                continue
            fi
        fi
    fi
    suite "$v" > "build/suite-py$v-debian.log" 2>&1 &
    pids+=($!) names+=("$v")
done
status=0
for k in "${!pids[@]}"; do
    if wait "${pids[$k]}"; then
        grep -E '^== Python tests|passed' "build/suite-py${names[$k]}-debian.log"
    else
        cat "build/suite-py${names[$k]}-debian.log"
        echo "Python suite py${names[$k]} (Debian unstable) failed" >&2
        status=1
    fi
done
exit $status
