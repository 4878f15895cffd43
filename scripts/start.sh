#!/usr/bin/env bash
# Installs what is missing, builds Duoptica and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh build
cmake --preset dev >/dev/null
cmake --build --preset dev --target duoptica
exec ./build/dev/app/duoptica
