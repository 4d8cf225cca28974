#!/usr/bin/env bash
# Runs the program against the built-in unit simulator. Until the simulator and the
# application exist, it says what the build holds so far.
set -euo pipefail
build=${1:-build}
cat <<TEXT
Tavik: built in $build so far:
  - the driver library (device link, module drivers, relay control, recycle procedure)
  - $build/tools/cli/cu-tavik-cli, the command-line tool (try: $build/tools/cli/cu-tavik-cli --help)
Not there yet: the unit simulator (sim/) and the application (src/app/), so there is
nothing to show a unit with. Run 'make check' to build and run the tests.
TEXT
