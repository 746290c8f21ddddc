#!/usr/bin/env bash
# Builds the module, then times the four functions against numpy.interp in one
# process (bench/bench_numpy.py): prints the table of ns per element and ratios
# (and, on a processor with AVX-512, a second one with the AVX2 kernels forced),
# writes it into the docs' performance page, draws docs/benchmark.png, and reports the peak
# memory of 10^7-element calls. Extra arguments go to bench_numpy.py
# (--quick for a short run). Then forward_float on a two-process Dask cluster
# against one in-process call (bench/bench_dask.py), and exact_interp's threads,
# prepared table and GIL release (bench/bench_parallel.py), and the cost of the
# rules outside the table (bench/bench_outside.py), and gaps filled against
# pandas and Polars (bench/bench_gaps.py), and a Polars streaming query with
# the interpolation in it (bench/bench_polars.py), and the SQL function in
# DuckDB (bench/bench_duckdb.py), and a table per group (bench/bench_groups.py),
# and Python threads calling at once with and without the GIL (bench/bench_free_threaded.py,
# on the free-threaded 3.13t too where the test command made its environment), into that
# page too.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
make_venv build/venv-np2 "numpy>=2" "${TEST_PACKAGES[@]}" "scikit-build-core>=0.10" matplotlib
build_wheel build/venv-np2 build/wheel
build/venv-np2/bin/python -m pip install -q --disable-pip-version-check --force-reinstall --no-deps build/wheel/*.whl
build/venv-np2/bin/python bench/bench_numpy.py --page docs/explanation/performance.md --plot docs/benchmark.png "$@"
# The narrower x86-64 target too, where the processor chose a wider one: most machines have AVX2 alone.
if build/venv-np2/bin/python -c 'import sys; from exact_interp import _native as n; t = n._kernel_targets(); sys.exit(t["forward_float"] != "avx512")'; then
    build/venv-np2/bin/python bench/bench_numpy.py --page docs/explanation/performance.md --target avx2 --quick "$@"
fi
build/venv-np2/bin/python bench/bench_parallel.py --page docs/explanation/performance.md
build/venv-np2/bin/python bench/bench_outside.py --page docs/explanation/performance.md
build/venv-np2/bin/python bench/bench_gaps.py --page docs/explanation/performance.md
build/venv-np2/bin/python bench/bench_polars.py --page docs/explanation/performance.md
build/venv-np2/bin/python bench/bench_duckdb.py --page docs/explanation/performance.md
build/venv-np2/bin/python bench/bench_groups.py --page docs/explanation/performance.md
free_threaded=build/venv-py3.13t/bin/python
[ -x "$free_threaded" ] || { echo "no free-threaded environment (bash scripts/free_threaded.sh makes it): GIL only"; free_threaded=; }
BENCH_INTERPRETERS=$free_threaded build/venv-np2/bin/python bench/bench_free_threaded.py --page docs/explanation/performance.md
build/venv-np2/bin/python bench/bench_dask.py --page docs/explanation/performance.md
