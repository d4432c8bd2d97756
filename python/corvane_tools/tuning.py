"""Searching an algorithm's parameters for the best score on one sample, confirmed on another.

The search is Optuna's tree-structured Parzen estimator with a seeded
sampler. Trials are asked, measured and told one at a time, so the same
seed, sample and objective give the same trials, on the local worker pool
or on a cluster alike. The first trial is always the defaults, so the best
settings are never worse than them on the tuning sample.
"""
import logging
import warnings
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

import optuna

from .parameters import AlgorithmSettings
from .tuning_sample import Sample
from .tuning_score import Measurement, score
from .tuning_space import flatten, suggest

Measure = Callable[[dict[str, Any]], Measurement]


@dataclass(frozen=True)
class Trial:
    number: int
    settings: dict[str, Any]
    measured: Measurement
    score: float

    def as_dict(self) -> dict[str, Any]:
        return {"number": self.number, "settings": jsonable(self.settings), "score": self.score,
                **self.measured.as_dict()}


def jsonable(settings: dict[str, Any]) -> dict[str, Any]:
    return {key: list(value) if isinstance(value, tuple) else value for key, value in settings.items()}


def search(name: str, trials: int, weights: dict[str, float], seed: int, measure: Measure,
           progress: Any = None) -> tuple[list[Trial], bool]:
    """Runs `trials` trials (the first one the defaults) and returns them in order, and whether Ctrl-C
    cut the search short (after at least one trial; before that it is raised)."""
    logging.getLogger("optuna").setLevel(logging.WARNING)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", optuna.exceptions.ExperimentalWarning)
        sampler = optuna.samplers.TPESampler(seed=seed, multivariate=True)
    study = optuna.create_study(direction="maximize", sampler=sampler)
    study.enqueue_trial(flatten(name, AlgorithmSettings.defaults(name).keyword_arguments()))
    done: list[Trial] = []
    for number in range(trials):
        trial = study.ask()
        settings = suggest(trial, name)
        try:
            measured = measure(settings)
        except KeyboardInterrupt:
            if not done:
                raise
            return done, True
        value = score(weights, measured)
        study.tell(trial, value)
        done.append(Trial(number, settings, measured, value))
        if progress is not None:
            progress.update(1)
    return done, False


def best_trial(trials: list[Trial]) -> Trial:
    """The highest score; the earliest such trial on a tie."""
    return max(trials, key=lambda trial: (trial.score, -trial.number))


def pareto_front(trials: list[Trial], category: str = "velo") -> list[Trial]:
    """Trials that no other trial beats in both efficiency (higher) and ghost rate (lower), by
    ascending ghost rate."""
    ordered = sorted(trials, key=lambda t: (t.measured.ghost_rate, -t.measured.efficiency.get(category, 0.0),
                                            t.number))
    front: list[Trial] = []
    for trial in ordered:
        if not front or trial.measured.efficiency.get(category, 0.0) > front[-1].measured.efficiency.get(category,
                                                                                                         0.0):
            front.append(trial)
    return front


@dataclass(frozen=True)
class TuningResult:
    name: str
    trials: list[Trial]
    best: Trial
    tuning: Sample
    holdout: Sample
    default_holdout: Measurement
    best_holdout: Measurement
    interrupted: bool = False      # Ctrl-C ended the search early

    @property
    def default(self) -> Trial:
        return self.trials[0]


def tune(name: str, tuning: Sample, holdout: Sample, trials: int, weights: dict[str, float], seed: int,
         measure: Callable[[Sample, dict[str, Any]], Measurement], progress: Any = None) -> TuningResult:
    """Searches on `tuning`, then measures the defaults and the best settings on `holdout`."""
    done, interrupted = search(name, trials, weights, seed, lambda settings: measure(tuning, settings), progress)
    best = best_trial(done)
    return TuningResult(name, done, best, tuning, holdout, measure(holdout, done[0].settings),
                        measure(holdout, best.settings), interrupted)
