#!/usr/bin/env bash
# Every test: installs what is missing, configures, builds and runs the test
# suite with CTest. `scripts/test.sh asan` runs it under the sanitizer build;
# words after the preset go to ctest (`scripts/test.sh tsan -R Concurrency`).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
preset=${1:-release}
shift || true
bash scripts/deps.sh
werror=OFF
[[ "${CI:-}" == "true" ]] && werror=ON
cmake --preset "$preset" -DVZ_WERROR="$werror" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" "$@"
