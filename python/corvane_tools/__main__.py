"""`python -m corvane_tools` runs the `corvane` command."""
from .cli import main

main(prog_name="corvane")
