#!/usr/bin/env bash
# Remakes docs/duoptica-red-blue.png: the window after a "Red-Blue" run, taken on Xvfb by the
# end-to-end test's own script.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh test
cmake --preset dev >/dev/null
cmake --build --preset dev --target duoptica send_close_request expect_combined
build=build/dev
mkdir -p docs
exec tests/desktop/e2e.sh "$build/app/duoptica" "$build/tests/desktop/send_close_request" \
    "$build/tests/desktop/expect_combined" docs/duoptica-red-blue.png
