#!/usr/bin/env bash
# Runs the program against the built-in unit simulator. Until the simulator and the
# application exist, it says what the build holds so far.
set -euo pipefail
build=${1:-build}
echo "Tavik: the driver library (device link and driver framework) is built in $build."
echo "Not there yet: the unit simulator (sim/), the command-line tool (tools/) and the application (src/app/)."
echo "Run 'make check' to build and run the tests."
