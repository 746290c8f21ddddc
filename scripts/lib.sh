# Shared steps of the project's scripts. Sourced, not run.

# Debian packages: compilers and the test and benchmark libraries.
install_system_packages() {
    local wanted=(g++ ccache libgtest-dev libmpfr-dev libbenchmark-dev "$@") missing=()
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
    use_compiler_cache
}

# Every CMake build of the scripts (the wheels' included) compiles through
# ccache, whose cache (~/.cache/ccache) outlives the checkout: a run on a
# machine that built these sources before compiles only what changed. Paths
# are taken relative to the checkout, so a fresh clone in the same place hits.
use_compiler_cache() {
    command -v ccache >/dev/null 2>&1 || return 0
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
}

# stage TITLE: a heading with the minutes and seconds since the script began.
stage() {
    printf '== %s (at %dm%02ds)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60))
}

# build_preset NAME [cmake options…]: the configuration NAME of CMakePresets.json
# (into build/…, as the preset names it), built.
build_preset() {
    local name=$1
    shift
    local generator=()
    command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
    cmake --preset "$name" "${generator[@]}" "$@"
    cmake --build "$(preset_dir "$name")" -j "$(nproc)"
}

# preset_dir NAME: the build folder of a preset.
preset_dir() {
    case $1 in
        default) echo build/test ;;
        clang) echo build/test-clang ;;
        portable) echo build/test-portable ;;
        *) echo "build/$1" ;;
    esac
}

# make_venv DIR PACKAGES…: a virtual environment with these packages, made
# by $PYTHON (python3 if unset). Kept between runs: made again only for
# another interpreter (DIR/.interpreter), the packages installed into it only
# when they are not those asked for last (DIR/.inputs). Remove it to have the
# newest versions again.
make_venv() {
    local dir=$1
    shift
    local python=${PYTHON:-python3} interpreter
    interpreter=$("$python" -c 'import sys; print(sys.executable, sys.version)')
    if [ ! -x "$dir/bin/python" ] || [ "$(cat "$dir/.interpreter" 2>/dev/null)" != "$interpreter" ]; then
        rm -rf "$dir"
        "$python" -m venv "$dir"
        "$dir/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip >/dev/null
        printf '%s' "$interpreter" > "$dir/.interpreter"
    elif [ "$(cat "$dir/.inputs" 2>/dev/null)" = "$*" ]; then
        echo "reusing $dir: its interpreter and packages are those asked for"
        return 0
    fi
    rm -f "$dir/.inputs"
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
    printf '%s' "$*" > "$dir/.inputs"
}

# build_wheel VENV OUTDIR [pip options…]: the extension built with warnings as
# errors, against the NumPy 2.x headers of VENV (its build tree in OUTDIR-build).
build_wheel() {
    local venv=$1 out=$2
    shift 2
    rm -rf "$out"
    "$venv/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps --no-build-isolation \
        -C cmake.define.RUST_WERROR=ON -C build-dir="$out-build" "$@" -w "$out" .
}

# The first Debian archive in the machine's apt sources (deb822 or one-line
# form), not its security archive.
debian_mirror() {
    local uri
    uri=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '/^URIs:/ {for (i = 2; i <= NF; i++) print $i}' |
        grep -v -- '-security' | head -n1 || true)
    [ -n "$uri" ] || uri=$(grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk '{for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' | grep -v -- '-security' | head -n1 || true)
    [ -n "$uri" ] || { echo "no Debian archive in this machine's apt sources" >&2; return 1; }
    echo "$uri"
}

# The folder of what the scripts keep between runs outside the checkout (a
# fresh clone finds it): RUST_CACHE_DIR, or ~/.cache/exact-interp.
cache_dir() {
    local dir=${RUST_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/exact-interp}
    mkdir -p "$dir" && echo "$dir"
}

# cpython_source VERSION: the path of CPython VERSION's upstream tarball, from
# Debian's python$VERSION source package (its testing suite, else unstable),
# fetched once into the cache through a sources list of our own: the
# machine's apt configuration is not touched. The mirror is the one the
# machine's own apt sources name.
cpython_source() {
    local version=$1 dir apt mirror suite
    dir=$(cache_dir)/python$version-source
    if ! ls "$dir"/python"$version"_*.orig.tar.* >/dev/null 2>&1; then
        install_system_packages dpkg-dev debian-archive-keyring >&2
        rm -rf "$dir" && apt=$dir/apt && mirror=$(debian_mirror)
        mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" "$apt/preferences.d"
        printf 'Types: deb-src\nURIs: %s\nSuites: testing unstable\nComponents: main\nSigned-By: %s\n' \
            "$mirror" /usr/share/keyrings/debian-archive-keyring.gpg > "$apt/sources.list.d/source.sources"
        local options=(-o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "Dir::Etc::SourceList=/dev/null"
                       -o "Dir::Etc::SourceParts=$apt/sources.list.d" -o "Dir::Etc::PreferencesParts=$apt/preferences.d"
                       -o APT::Sandbox::User=root)
        apt-get "${options[@]}" update -qq >&2
        # testing's first: a version just uploaded to unstable may not have reached every mirror
        for suite in testing unstable; do
            (cd "$dir" && apt-get "${options[@]}" source -qq --download-only "python$version/$suite" >&2) && break
        done
        rm -rf "$apt"
    fi
    ls "$dir"/python"$version"_*.orig.tar.* | sort -V | tail -n1
}

# The CPython versions the wheel is proven on.
SUPPORTED_PYTHONS=(3.10 3.11 3.12 3.13)

# python_for VERSION: the path of a CPython VERSION interpreter, on PATH or
# under pyenv; fails, naming the version, when the machine has none.
python_for() {
    local v=$1 root p
    root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
    for p in $(command -v "python$v" 2>/dev/null) $(ls -d "$root"/versions/"$v".*/bin/"python$v" 2>/dev/null | sort -rV); do
        if "$p" -c 'import sys; sys.exit(sys.implementation.name != "cpython")' >/dev/null 2>&1; then
            echo "$p"
            return 0
        fi
    done
    echo "CPython $v is missing on this machine (no python$v on PATH or under pyenv): the wheel cannot be tested on it" >&2
    return 1
}

# The packages of an environment that runs the Python suite.
TEST_PACKAGES=(pytest hypothesis "dask[array,dataframe]" distributed pandas pyarrow polars xarray duckdb)

# The packages that build the documentation (and import exact_interp.dask).
DOCS_PACKAGES=("sphinx>=7" "numpydoc>=1.6" "myst-parser>=2" "pydata-sphinx-theme>=0.15" "dask[array]")

# python_suite NAME PYTHON NUMPY WHEEL [MARKS]: an environment build/venv-NAME
# made by PYTHON with that NumPy (kept between runs, see make_venv) and the
# wheel, installed afresh; the whole Python suite in it, or the tests that
# pytest's marker expression MARKS selects.
python_suite() {
    local name=$1 python=$2 numpy=$3 wheel=$4 marks=${5:-} venv=build/venv-$1
    PYTHON=$python make_venv "$venv" "$numpy" "${TEST_PACKAGES[@]}"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps --force-reinstall "$wheel"
    echo "== Python tests, $name: $("$venv/bin/python" -c 'import sys, numpy; print("CPython", sys.version.split()[0], "NumPy", numpy.__version__)')"
    (cd tests/python && "../../$venv/bin/python" -m pytest -q -p no:cacheprovider ${marks:+-m "$marks"} .)
}
