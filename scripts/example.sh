#!/usr/bin/env bash
# The main job on the example site. Until the command-line tool exists this
# builds the component and runs the tests of what exists.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
exec bash scripts/test.sh release
