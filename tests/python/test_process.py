"""Behaviour that needs a fresh interpreter: re-initialisation, NumPy
that cannot be imported, first calls, the GIL."""

import os
import subprocess
import sysconfig
import sys
import textwrap

import pytest

pytestmark = pytest.mark.subprocess


def run(code, env=None):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120,
                          env=env)


def test_reimport_raises_import_error():
    r = run(
        """
        import sys, rust
        del sys.modules["rust"]
        try:
            import rust
        except ImportError as e:
            print("ImportError:", e)
        """
    )
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == (
        "ImportError: PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
        "interpreter process"
    )


SUBINTERPRETER = """
    import numpy as np, exact_interp
    try:
        import _interpreters as interpreters  # 3.13 and later
    except ImportError:
        import _xxsubinterpreters as interpreters
    for make in (lambda: interpreters.create("legacy"), lambda: interpreters.create(isolated=False)):
        try:  # one that shares the GIL (a legacy one), where the module's own check speaks
            sub = make()
            break
        except (TypeError, ValueError):
            continue
    try:
        failure = interpreters.run_string(sub, "import exact_interp")
    except Exception as e:  # 3.12 and earlier raise what 3.13 returns
        failure = e
    print("subinterpreter:", "ImportError" in str(failure) and "main interpreter only" in str(failure))
    interpreters.destroy(sub)
    print(exact_interp.forward(np.array([5], np.uint64), np.array([0, 10], np.uint64), np.array([0, 10])).tolist())
"""
REIMPORT = """
    import sys, numpy as np, exact_interp
    old = exact_interp.FatalError
    for name in [m for m in sys.modules if m.split(".")[0] == "exact_interp"]:
        del sys.modules[name]
    import exact_interp
    try:
        exact_interp.forward_int(np.array([1], np.uint64), np.array([0, 2], np.uint64), np.array([0]))
    except exact_interp.FatalError as e:
        print("caught:", type(e) is not old, e)
    print(exact_interp.Interpolator([0, 10], [0, 10]).forward([5]).tolist())
"""


@pytest.mark.parametrize("code, expected", [
    (SUBINTERPRETER, "subinterpreter: True\n[5]"),
    (REIMPORT, "caught: True xp and fp must have same length\n[5]"),
])
def test_module_state_is_per_import_and_subinterpreters_are_refused(code, expected):
    """The native part's state lives in its module object: imported again, it
    raises the new FatalError; a subinterpreter's import is refused, and
    leaves the main interpreter's calls as they were."""
    if code is SUBINTERPRETER and sys.version_info < (3, 12):
        pytest.importorskip("_xxsubinterpreters", reason="this CPython has no subinterpreter module")
    r = run(code)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == expected


def test_import_without_numpy_and_the_first_call():
    r = run(
        """
        import sys
        sys.modules["numpy"] = None  # makes `import numpy` fail
        import rust
        print("imported", rust.__all__)
        for attempt in range(2):
            try:
                rust.forward_int(None, None, None)
            except BaseException as e:
                print(type(e).__module__, type(e).__name__, e.args[0])
        del sys.modules["numpy"]
        import numpy as np
        print(rust.forward_int(np.array([5], np.uint64), np.array([0, 10], np.uint64), np.array([0, 100])).tolist())
        """
    )
    assert r.returncode == 0, r.stderr
    lines = r.stdout.strip().splitlines()
    assert lines[0] == "imported ['forward_int', 'forward_float', 'inverse_int', 'inverse_float']"
    expected = "pyo3_runtime PanicException Failed to access NumPy array API capsule: ModuleNotFoundError: "
    assert lines[1].startswith(expected), lines[1]
    assert lines[2] == lines[1]  # nothing was cached: the second call tried again
    assert lines[3] == "[50]"  # and once NumPy is there, it loads


def test_binding_errors_come_before_numpy_is_needed():
    r = run(
        """
        import sys
        sys.modules["numpy"] = None
        import rust
        try:
            rust.forward_int(1)
        except TypeError as e:
            print(e)
        """
    )
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "forward_int() missing 2 required positional arguments: 'xp' and 'fp'"


@pytest.mark.parametrize(
    "call",
    [
        "ei.forward_float(x, xp, fp, workers=1)",
        "ei.forward_float(x, xp, fp, workers=2)",
        "table.inverse(table.forward(x), 'nearest')",
        "ei.forward(x.view('M8[ns]'), xp.view('M8[ns]'), fp)",
    ],
)
def test_exit_while_a_daemon_thread_is_inside_a_call(call):
    # The interpreter finalises while the thread works without the GIL; the
    # thread never gets it back and must not take the process down with it.
    r = run(
        f"""
        import threading, time
        import numpy as np, exact_interp as ei
        xp = np.array([0, 2**63 - 1], np.uint64); fp = np.array([0.0, 1.0])
        x = np.arange(0, 2**63 - 2, 2**63 // 200_000, dtype=np.uint64)
        table = ei.Interpolator(xp, fp)
        def loop():
            while True:
                {call}
        threading.Thread(target=loop, daemon=True).start()
        time.sleep(0.2)
        print("main done")
        """
    )
    assert (r.returncode, r.stdout, "terminate" in r.stderr) == (0, "main done\n", False), r.stderr


# Threads make the first calls of both modules at once (which load NumPy's API table) and answer alike.
FIRST_CALLS = """
    import threading, numpy as np, rust, exact_interp
    xp, fp, x = np.array([0, 10], np.uint64), np.array([0, 100]), np.array([5], np.uint64)
    calls = [lambda: rust.forward_int(x, xp, fp), lambda: exact_interp.forward_int(x, xp, fp),
             lambda: rust.inverse_float(fp / 3, xp, fp / 1.5), lambda: exact_interp.Interpolator(xp, fp).forward(x)]
    start, answers = threading.Barrier(8), []
    def first(k):
        start.wait()
        answers.append(calls[k % 4]().tolist())
    threads = [threading.Thread(target=first, args=(k,)) for k in range(8)]
    for t in threads: t.start()
    for t in threads: t.join()
    print(sorted(map(str, answers)))
"""
# Importing the modules (and NumPy) leaves a free-threaded interpreter without its GIL, unforced.
GIL_STAYS_OFF = """
    import sys, numpy, rust, exact_interp, exact_interp._native
    print("GIL enabled:", sys._is_gil_enabled())
"""


@pytest.mark.parametrize("code, expected, free_threaded_only", [
    (FIRST_CALLS, str(sorted(["[50]", "[50]", "[50]", "[50]", "[0, 5]", "[0, 5]", "[50]", "[50]"])), False),
    (GIL_STAYS_OFF, "GIL enabled: False", True),
])
def test_fresh_interpreter_with_threads(code, expected, free_threaded_only):
    if free_threaded_only and not sysconfig.get_config_var("Py_GIL_DISABLED"):
        pytest.skip("this CPython is not free-threaded")
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}  # the GIL as the modules leave it
    r = run(code, env)
    assert r.returncode == 0 and r.stderr == "", r.stderr
    assert r.stdout.strip() == expected
