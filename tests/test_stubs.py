"""The constructors described in the type stubs accept exactly the
parameters they name, in that order. (stubtest checks methods and functions
through their text signatures; the constructors of the event model have none.)"""
import ast
import os

import pytest

import corvane
from event_builders import event_dict

STUBS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "python", "corvane-stubs")
SAMPLES = {"x": 1.0, "y": 2.0, "z": 3.0, "hit_id": 4, "module_number": 5, "hit_start_index": 0, "hit_end_index": 0,
           "global_hits": [], "hits": [], "json_data": event_dict([[(0.0, 0.0, float(m))] for m in range(52)])}


def stub_constructors():
    for submodule in ("DetectorEvent", "ReconstructionAlgorithms"):
        with open(os.path.join(STUBS, submodule + ".pyi")) as source:
            tree = ast.parse(source.read())
        for node in tree.body:
            if isinstance(node, ast.ClassDef):
                new = next(f for f in node.body if isinstance(f, ast.FunctionDef) and f.name == "__new__")
                arguments = new.args.args[1:]
                required = len(arguments) - len(new.args.defaults)
                yield pytest.param(submodule, node.name, [(a.arg, i < required) for i, a in enumerate(arguments)],
                                   id=node.name)


@pytest.mark.parametrize("submodule, name, parameters", list(stub_constructors()))
def test_stub_constructor_matches_the_class(submodule, name, parameters):
    cls = getattr(getattr(corvane, submodule), name, None)
    if cls is None:
        pytest.skip(f"{name} is not built yet")
    values = {p: (SAMPLES[p] if required else None) for p, required in parameters}
    assert type(cls(**values)) is cls
    assert type(cls(*values.values())) is cls
    with pytest.raises(TypeError, match="positional argument"):
        cls(*values.values(), None)
