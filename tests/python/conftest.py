"""Fixtures the suites share: the module rust, and the four functions through each entry."""

import pytest

from helpers import implementation


@pytest.fixture(scope="session")
def rust():
    import rust as module

    return module


@pytest.fixture(scope="session", params=["rust", "native", "threads", "Interpolator"])
def impl(request):
    """Every entry, for behaviour that all of them share."""
    return implementation(request.param)


@pytest.fixture(scope="session", params=["rust", "native"])
def functions(request):
    """Both modules' functions, for behaviour of the arguments themselves."""
    return implementation(request.param)
