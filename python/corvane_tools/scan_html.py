"""The HTML page of `corvane scan`: the tables per algorithm, the plots against the condition, the
conditions and parameters in force, and the provenance."""
from collections.abc import Sequence
from pathlib import Path
from typing import Any

from .html_report import Section, provenance_section, render, settings_table
from .report_tables import Table


def scan_page(document: dict[str, Any], tables: Sequence[Table], plots: Sequence[Path]) -> str:
    scan = document["scan"]
    sections = [Section(f"Rates against {scan['condition']} ({scan['events_per_setting']} events per setting, "
                        f"seed {scan['seed']})", list(tables)),
                Section("Plots", images=list(plots)),
                Section("Generator conditions", [settings_table(
                    f"Conditions besides {scan['condition']}",
                    {name: entry for name, entry in scan["conditions"].items() if name != scan["condition"]})])]
    parameters = [settings_table(name, entry) for name, entry in document.get("parameters", {}).items()]
    if parameters:
        sections.append(Section("Parameters", parameters))
    return render(f"corvane scan: {scan['condition']} over {', '.join(scan['values'])}",
                  [*sections, *provenance_section(document)])
