# Shared steps of the project's scripts. Sourced, not run.

# Debian packages: compilers and the test and benchmark libraries.
install_system_packages() {
    local wanted=(g++ libgtest-dev libmpfr-dev libbenchmark-dev "$@") missing=()
    for p in "${wanted[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
    if ((${#missing[@]})); then
        echo "installing ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    python3 -m pip --version >/dev/null 2>&1 || { echo "python3 with pip is required" >&2; exit 1; }
    command -v cmake >/dev/null 2>&1 || python3 -m pip install -q cmake
}

# configure_and_build DIR [cmake options…]
configure_and_build() {
    local dir=$1
    shift
    local generator=()
    command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
    cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release "$@"
    cmake --build "$dir" -j "$(nproc)"
}

# make_venv DIR PACKAGES…: a virtual environment with these packages.
make_venv() {
    local dir=$1
    shift
    [ -x "$dir/bin/python" ] || python3 -m venv "$dir"
    "$dir/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
}

# build_wheel VENV OUTDIR [pip options…]: the extension built with warnings as
# errors, against the NumPy 2.x headers of VENV.
build_wheel() {
    local venv=$1 out=$2
    shift 2
    rm -rf "$out"
    "$venv/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps --no-build-isolation \
        -C cmake.define.RUST_WERROR=ON -C build-dir=build/wheel-build "$@" -w "$out" .
}
