"""The generator's compiled part, `corvane._generator`: its flight arithmetic and the building of its events'
lists. With a compiled module built before it, `module` is None and the generator's array code runs instead;
both give the same events to the last bit (tests set `module` to None to compare them)."""
from types import ModuleType


def _load() -> ModuleType | None:
    try:
        from corvane import _generator
    except ImportError:
        return None
    return _generator


module: ModuleType | None = _load()
