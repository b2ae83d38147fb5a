#!/usr/bin/env bash
# Sets up what is missing, builds the module and its host tool (release), and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target kdtrace_tool
exec build/release/bin/kdtrace "$@" demo
