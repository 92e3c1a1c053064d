#!/usr/bin/env bash
# The main job: show what the program offers.
set -euo pipefail
bin=${1:-build/vemtora}
"$bin" --help
