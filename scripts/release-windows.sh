#!/usr/bin/env bash
# Builds the Windows release archive, build/windows/frostcap-<version>-win64.zip:
# frostcap.dll with its import libraries and .def file, the header,
# frostcap.exe, the CMake and pkg-config files, the documentation and the
# licence, exactly as `cmake --install` lays them out; beside it the developer
# archive frostcap-<version>-win64-dev.zip, the same tree plus frostcap-sim.dll
# and the model's vssapi.dll for host developers' tests; and the NuGet package
# of the .NET binding, build/windows/Frostcap.<version>.nupkg.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake -DBUILD_DIR=build/windows -DOUTPUT_DIR=build/windows -DPLATFORM=win64 \
  -P cmake/pack-release.cmake
cmake -DBUILD_DIR=build/windows -DOUTPUT_DIR=build/windows -DPLATFORM=win64 -DDEVELOPER=ON \
  -P cmake/pack-release.cmake
cmake -DBUILD_DIR=build/windows -DOUTPUT_DIR=build/windows -P cmake/pack-nuget.cmake
