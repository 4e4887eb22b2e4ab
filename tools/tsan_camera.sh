#!/bin/bash
# Builds the camera's capture side and its tests alone under ThreadSanitizer
# and runs them: the capture thread and the GUI thread share a state word.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build-tsan-camera}"
mkdir -p "$out"
c++ -std=c++20 -O1 -g -fsanitize=thread -I"$root" \
    "$root/view/gtk/camera_core.cpp" "$root/tests/unit/test_camera.cpp" \
    -lgtest -lgtest_main -pthread -o "$out/camera_tsan"
TSAN_OPTIONS="halt_on_error=1" "$out/camera_tsan"
