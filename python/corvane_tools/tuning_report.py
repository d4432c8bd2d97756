"""What `corvane tune` reports: one dictionary (the JSON report), and the tables drawn from it."""
from typing import Any, Final

from .algorithms import ALGORITHMS
from .parameters import config_text, resolve_one
from .report_tables import Table, number
from .tuning import TuningResult, jsonable
from .tuning_score import Measurement, score

SHOWN_CATEGORIES: Final = ("velo", "long")


def tuning_report(result: TuningResult, objective: str, weights: dict[str, float], seed: int,
                  where: str, seconds: float, provenance: dict[str, Any]) -> dict[str, Any]:
    """Everything about a tuning, ready for json.dump."""
    def side(measured: Measurement) -> dict[str, Any]:
        return {**measured.as_dict(), "score": score(weights, measured)}

    return {
        "command": "tune",
        "algorithm": result.name,
        "class": ALGORITHMS[result.name],
        "objective": {"text": objective, "weights": weights},
        "seed": seed,
        "tuning_sample": {"description": result.tuning.describe(), "events": len(result.tuning.events),
                          "hits": result.tuning.hits},
        "holdout_sample": {"description": result.holdout.describe(), "events": len(result.holdout.events),
                           "hits": result.holdout.hits},
        "where": where,
        "seconds": seconds,
        "best_trial": result.best.number,
        "parameters": {"default": jsonable(result.default.settings), "tuned": jsonable(result.best.settings)},
        "results": {
            "tuning": {"default": side(result.default.measured), "tuned": side(result.best.measured)},
            "holdout": {"default": side(result.default_holdout), "tuned": side(result.best_holdout)},
        },
        "trials": [trial.as_dict() for trial in result.trials],
        "provenance": provenance,
    }


def _value(value: Any) -> str:
    if isinstance(value, (list, tuple)):
        return ", ".join(_value(v) for v in value)
    if isinstance(value, float):
        return f"{value:.4g}"
    return str(value).lower() if isinstance(value, bool) else str(value)


def parameter_table(report: dict[str, Any]) -> Table:
    default, tuned = report["parameters"]["default"], report["parameters"]["tuned"]
    return Table(f"{report['class']} parameters (best of {len(report['trials'])} trials: trial "
                 f"{report['best_trial']})", ("parameter", "default", "tuned"),
                 [[key, _value(default[key]), _value(tuned[key])] for key in default])


def results_table(report: dict[str, Any]) -> Table:
    results = report["results"]
    columns = [results[sample][which] for sample in ("tuning", "holdout") for which in ("default", "tuned")]
    rows = [[f"{category} efficiency (%)", *[number(c["efficiency"].get(category, 0.0)) for c in columns]]
            for category in SHOWN_CATEGORIES]
    rows += [["ghost rate (% of tracks)", *[number(c["ghost_rate"]) for c in columns]],
             ["clone rate (% of matched velo tracks)", *[number(c["clone_rate"]) for c in columns]],
             ["tracks", *[str(c["tracks"]) for c in columns]],
             ["score", *[number(c["score"]) for c in columns]]]
    return Table("Defaults and tuned settings on both samples", ("", "tuning: default", "tuning: tuned", "held-out: default", "held-out: tuned"), rows,
                 [f"tuning sample: {report['tuning_sample']['description']}; held-out sample: "
                  f"{report['holdout_sample']['description']}; score: {report['objective']['text']}"])


def trials_table(report: dict[str, Any]) -> Table:
    """Every trial, in the order they ran."""
    names = list(report["parameters"]["default"])
    rows = [[str(t["number"]), number(t["score"]), number(t["efficiency"].get("velo", 0.0)),
             number(t["efficiency"].get("long", 0.0)), number(t["ghost_rate"]), number(t["clone_rate"]),
             *[_value(t["settings"][name]) for name in names]] for t in report["trials"]]
    return Table("Trials (on the tuning sample)",
                 ("trial", "score", "velo eff. (%)", "long eff. (%)", "ghost rate (%)", "clone rate (%)", *names),
                 rows)



def settings_toml(name: str, settings: dict[str, Any], comment: str) -> str:
    """The settings as a file that `corvane run --config` reads back to the same values."""
    return config_text([resolve_one(name, settings, {})], comment)
