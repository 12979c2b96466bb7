#!/usr/bin/env bash
# Installs what Tavrilox needs, builds it, writes a default Tavrilox.ini on
# the first run and starts the proxy on 127.0.0.1:8822 without a window.
# Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target tavrilox
./build/tavrilox --init
exec ./build/tavrilox --headless "$@"
