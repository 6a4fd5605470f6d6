#!/bin/bash
# Plays one scenario on the real QorUpgrade.exe under Wine: run_scenario.sh --wine.
#   run_wine.sh [--build DIR] [--shots DIR] [--out DIR] [--timeout SECONDS] SCENARIO
exec "$(dirname "$0")/run_scenario.sh" --wine "$@"
