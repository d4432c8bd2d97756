"""Module structure and the argument conventions every class and function shares."""
import importlib.util
import subprocess
import sys

import pytest

import corvane
from corvane import DetectorEvent

Hit, Track, Module, Event = DetectorEvent.Hit, DetectorEvent.Track, DetectorEvent.Module, DetectorEvent.Event
CLASSES = [Hit, Track, Module, Event]
EVENT = Event({"description": "", "montecarlo": None, "module_prefix_sum": list(range(53)),
               "x": [0.0] * 52, "y": [0.0] * 52, "z": [float(i) for i in range(52)]})


def test_submodules_and_all_lists():
    assert corvane.__all__ == ["ReconstructionAlgorithms", "Validator", "DetectorEvent"]
    assert DetectorEvent.__all__ == ["Hit", "Track", "Module", "Event"]
    for name in corvane.__all__:
        submodule = getattr(corvane, name)
        assert submodule.__name__ == name
        assert name not in sys.modules and f"corvane.{name}" not in sys.modules
    assert corvane.__doc__ == ""


# An install built before the module carried its version has none (stubtest
# checks that the module has it).
@pytest.mark.skipif(not hasattr(corvane, "__version__"), reason="a module built before it carried its version")
def test_version_is_set_but_not_listed():
    assert isinstance(corvane.__version__, str) and corvane.__version__
    assert "__version__" not in corvane.__all__


def test_second_initialisation_is_refused():
    spec = importlib.util.spec_from_file_location("corvane", corvane.__file__)
    with pytest.raises(ImportError):
        importlib.util.module_from_spec(spec)
    # The module already loaded keeps working.
    assert repr(Hit(1, 2, 3, 4)) == "#4 module -1 {1, 2, 3}"


@pytest.mark.parametrize("cls", CLASSES)
def test_class_shape(cls):
    assert cls.__module__ == "builtins"
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    assert "__dict__" not in dir(cls)
    assert cls.__weakrefoffset__ == 0


@pytest.mark.parametrize(
    "obj, attributes",
    [
        (Hit(1, 2, 3, 4), ["id", "x", "y", "z", "t", "module_number", "with_t"]),
        (Track([]), ["hits", "missed_last_module", "missed_penultimate_module"]),
        (Module(0, 1.0, 0, 0, []), ["module_number"]),
        (EVENT, ["description", "montecarlo", "module_prefix_sum", "number_of_hits", "module_zs", "hits", "modules"]),
    ],
)
def test_attributes_are_read_only_and_no_new_ones(obj, attributes):
    for name in attributes:
        with pytest.raises(AttributeError):
            setattr(obj, name, getattr(obj, name))
    with pytest.raises(AttributeError):
        obj.something_new = 1


def test_identity_equality_and_hash():
    a, b = Hit(1, 2, 3, 4), Hit(1, 2, 3, 4)
    assert a != b and a == a
    assert hash(a) == hash(a) == object.__hash__(a)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Hit(1, 2, 3), "Hit.__new__() missing 1 required positional argument: 'hit_id'"),
        (lambda: Hit(1, 2), "Hit.__new__() missing 2 required positional arguments: 'z' and 'hit_id'"),
        (lambda: Hit(), "Hit.__new__() missing 4 required positional arguments: 'x', 'y', 'z', and 'hit_id'"),
        (lambda: Hit(*range(8)), "Hit.__new__() takes from 4 to 7 positional arguments but 8 were given"),
        (lambda: Module(1, 2, 3, 4, [], 6), "Module.__new__() takes 5 positional arguments but 6 were given"),
        (lambda: Hit(1, 2, 3, 4, colour=1), "Hit.__new__() got an unexpected keyword argument 'colour'"),
        (lambda: Hit(1, 2, 3, 4, x=1), "Hit.__new__() got multiple values for argument 'x'"),
        (lambda: Track([]).add_hit(1, 2), "Track.add_hit() takes 1 positional arguments but 2 were given"),
        (lambda: Module(0, 0, 0, 0, []).hits(1), "Module.hits() takes 0 positional arguments but 1 was given"),
    ],
)
def test_argument_count_and_keyword_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_arguments_by_keyword_in_any_order():
    hit = Hit(with_t=True, t=0.5, module=2, hit_id=9, z=3, y=2, x=1)
    assert (hit.x, hit.y, hit.z, hit.id, hit.module_number, hit.t, hit.with_t) == (1.0, 2.0, 3.0, 9, 2, 0.5, True)
    module = Module(global_hits=[hit], hit_end_index=1, hit_start_index=0, z=3, module_number=7)
    assert module.module_number == 7 and len(module.hits()) == 1


class IndexLike:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class FloatLike:
    def __float__(self):
        return 2.5


@pytest.mark.parametrize(
    "call, error, message",
    [
        # double
        (lambda: Hit("a", 0, 0, 0), TypeError, "argument 'x': must be real number, not str"),
        (lambda: Hit(0, None, 0, 0), TypeError, "argument 'y': must be real number, not NoneType"),
        # signed 32-bit
        (lambda: Hit(0, 0, 0, 4.0), TypeError, "argument 'hit_id': 'float' object cannot be interpreted as an integer"),
        (lambda: Hit(0, 0, 0, 2**31), OverflowError, "out of range integral type conversion attempted"),
        (lambda: Hit(0, 0, 0, -(2**31) - 1), OverflowError, "out of range integral type conversion attempted"),
        (lambda: Hit(0, 0, 0, 2**64), OverflowError, None),
        # unsigned 32-bit
        (lambda: Module(2**32, 0, 0, 0, []), OverflowError, "out of range integral type conversion attempted"),
        (lambda: Module(-1, 0, 0, 0, []), OverflowError, "can't convert negative int to unsigned"),
        (lambda: Module(2**64, 0, 0, 0, []), OverflowError, "int too big to convert"),
        # unsigned 64-bit
        (lambda: Module(0, 0, -1, 0, []), OverflowError, "can't convert negative int to unsigned"),
        (lambda: Module(0, 0, 0, 2**64, []), OverflowError, "int too big to convert"),
        (lambda: Module(0, 0, 0.0, 0, []), TypeError, "argument 'hit_start_index': 'float' object cannot be interpreted as an integer"),
        # boolean
        (lambda: Hit(0, 0, 0, 0, with_t=1), TypeError, "argument 'with_t': 'int' object cannot be converted to 'PyBool'"),
        (lambda: Hit(0, 0, 0, 0, with_t="yes"), TypeError, "argument 'with_t': 'str' object cannot be converted to 'PyBool'"),
        # list of X
        (lambda: Track("abc"), TypeError, "argument 'hits': Can't extract `str` to `Vec`"),
        (lambda: Track(5), TypeError, "argument 'hits': 'int' object cannot be converted to 'Sequence'"),
        (lambda: Track({1: 2}), TypeError, "argument 'hits': 'dict' object cannot be converted to 'Sequence'"),
        (lambda: Track([Hit(0, 0, 0, 0), 7]), TypeError, "argument 'hits': 'int' object cannot be converted to 'Hit'"),
        (lambda: Module(0, 0, 0, 0, [Track([])]), TypeError, "argument 'global_hits': 'Track' object cannot be converted to 'Hit'"),
        # class instance
        (lambda: Track([]).add_hit(Track([])), TypeError, "argument 'hit': 'Track' object cannot be converted to 'Hit'"),
        # receiver of a method called through the class
        (lambda: Module.hits(Track([])), TypeError, "'Track' object cannot be converted to 'Module'"),
        (lambda: Track.add_hit(Hit(0, 0, 0, 0), Hit(0, 0, 0, 0)), TypeError, "'Hit' object cannot be converted to 'Track'"),
    ],
)
def test_conversion_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message


def test_conversions_accept_protocol_objects():
    hit = Hit(FloatLike(), 1, True, IndexLike(5), module=IndexLike(-3))
    assert (hit.x, hit.y, hit.z, hit.id, hit.module_number) == (2.5, 1.0, 1.0, 5, -3)
    # Any sequence is taken by iteration; a generator is not a sequence.
    class Hits:
        def __len__(self):
            return 99  # only a capacity hint

        def __getitem__(self, index):
            if index >= 3:
                raise IndexError(index)
            return hit

    assert len(Track((hit, hit)).hits) == 2
    assert len(Track(Hits()).hits) == 3
    with pytest.raises(TypeError, match="'generator' object cannot be converted to 'Sequence'"):
        Track(h for h in [hit])


def test_prefixed_type_error_keeps_the_cause():
    class Failing:
        def __float__(self):
            raise TypeError("inner") from ValueError("root")

    with pytest.raises(TypeError) as info:
        Hit(Failing(), 0, 0, 0)
    assert str(info.value) == "argument 'x': inner"
    assert isinstance(info.value.__cause__, ValueError) and str(info.value.__cause__) == "root"


def test_non_type_errors_pass_unprefixed():
    class Failing:
        def __float__(self):
            raise ZeroDivisionError("boom")

    with pytest.raises(ZeroDivisionError, match="^boom$"):
        Hit(Failing(), 0, 0, 0)


def test_internal_failure_is_not_an_exception():
    assert issubclass(corvane.InternalFailure, BaseException)
    assert not issubclass(corvane.InternalFailure, Exception)
    assert corvane.InternalFailure.__bases__ == (BaseException,)
    with pytest.raises(corvane.InternalFailure) as info:
        Event({})
    assert len(info.value.args) == 1 and isinstance(info.value.args[0], str)


def test_text_signatures():
    assert Module.hits.__text_signature__ == "($self)"
    assert Track.add_hit.__text_signature__ == "($self, hit)"
    for cls in CLASSES:
        assert cls.__doc__ is None


def test_main_job_script_runs():
    import pathlib

    script = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.py"
    result = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, check=True, timeout=300)
    assert "Track with 4 hits" in result.stdout


def test_readme_tour_runs(capfd):
    import pathlib
    import re

    readme = (pathlib.Path(__file__).resolve().parent.parent / "README.md").read_text()
    tour = re.search(r"```python\n(.*?)```", readme, re.S).group(1)
    exec(compile(tour, "README.md", "exec"), {})
    out = capfd.readouterr().out
    assert "#7 module 3 {1.5, -2, 100}" in out
    assert "1 tracks including 0 ghosts" in out
