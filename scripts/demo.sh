#!/usr/bin/env bash
# The main job: builds everything and demonstrates it. (Grows into the demo installation.)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
file build-win/SETUP.EXE
