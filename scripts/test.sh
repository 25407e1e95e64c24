#!/usr/bin/env bash
# The whole test run: bootstrap, configure, build, CTest. Fails loudly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset linux
cmake --build --preset linux
ctest --preset linux
