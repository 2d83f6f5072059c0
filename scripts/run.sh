#!/usr/bin/env bash
# Installs what is missing, builds the application with its bundled competition templates
# (Vorlagen/ beside the program) and starts it. Arguments are passed to the program
# ("/ADMIN", a database file).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build/app-release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_BUILD_TESTS=OFF -DKOVA_BUILD_BENCH=OFF > /dev/null
cmake --build build/app-release -j"$(nproc)" --target KovaMeldungen templates
exec build/app-release/KovaMeldungen "$@"
