#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: in the optimised
# build, and in a build with address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh test
cmake --workflow --preset dev
cmake --workflow --preset asan
