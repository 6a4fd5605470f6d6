#!/bin/bash
# Refreshes docs/screenshots from the real exe under Wine: plays the scenarios
# that meet every dialog and saves their pictures there.
#   update_screenshots.sh [--build DIR]     (default build/windows)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build/windows
[ "${1:-}" != --build ] || build=$2
shots=$top/docs/screenshots
mkdir -p "$shots"
for name in warning_cancel invalid_address straight_to_target transition_with_password cancel_connecting unreachable \
    cancel_password handset_skips_version_check; do
    file=$top/tests/scenarios/$name.scn
    [ -f "$file" ] || continue
    "$here/run_scenario.sh" --wine --build "$build" --shots "$shots" "$file"
done
ls -1 "$shots"
