"""Tables of a report, drawn once from its data and shown as text or HTML."""
from collections.abc import Sequence
from dataclasses import dataclass, field


@dataclass(frozen=True)
class Table:
    caption: str
    headers: Sequence[str]
    rows: Sequence[Sequence[str]]
    notes: Sequence[str] = field(default_factory=tuple)   # what the columns mean
    prose: bool = False                                   # text values (left-aligned), not numbers

    def text(self) -> str:
        """Fixed-width text: the first column left-aligned, the others right-aligned."""
        lines = [list(self.headers), *[list(row) for row in self.rows]]
        widths = [max(len(line[i]) for line in lines) for i in range(len(self.headers))]
        out = [self.caption]
        for line in lines:
            cells = [cell.ljust(widths[0]) if i == 0 else cell.rjust(widths[i]) for i, cell in enumerate(line)]
            out.append("  ".join(cells).rstrip())
        out.extend(self.notes)
        return "\n".join(out) + "\n"


def number(value: float, digits: int = 2) -> str:
    return f"{value:.{digits}f}"
