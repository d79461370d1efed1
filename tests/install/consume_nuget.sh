#!/usr/bin/env bash
# Packs the NuGet package of a Windows build and uses it as a .NET developer
# would, as far as Mono allows: checks that it unpacks to the layout NuGet
# expects (the managed assembly under lib/net45 and lib/netstandard2.0, the
# native frostcap.dll, exporting the nineteen functions, under
# runtimes/win-x64/native), unpacks it as a restore does into a packages
# folder, builds a host against each of the package's assemblies, and runs
# it on Mono. Mono cannot load the
# package's Windows DLL, so the host's name "frostcap" is mapped to
# libfrostcap-sim.so of a native build, as a host's own tests would map it.
#
#   consume_nuget.sh --windows-build DIR --sim-library FILE --work DIR
set -euo pipefail

while (($#)); do
  case $1 in
    --windows-build) windows_build=$2 ;;
    --sim-library) sim_library=$2 ;;
    --work) work=$2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift 2
done
root=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
cmake -DBUILD_DIR="$windows_build" -DOUTPUT_DIR="$work" -P "$root/cmake/pack-nuget.cmake" \
  >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; fail "packing"; }
version=$(sed -n 's/^#define FROSTCAP_VERSION "\(.*\)"$/\1/p' "$root/include/frostcap.h")
nupkg=$work/Frostcap.$version.nupkg
[[ -f $nupkg ]] || fail "no $nupkg"

# Restoring puts a package under its id and version, in lower case.
package=$work/packages/frostcap/$version
mkdir -p "$package"
(cd "$package" && cmake -E tar xf "$nupkg")
listing=$(cd "$package" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs)
expected="Frostcap.nuspec [Content_Types].xml _rels/.rels lib/net45/Frostcap.dll lib/net45/Frostcap.xml lib/netstandard2.0/Frostcap.dll lib/netstandard2.0/Frostcap.xml runtimes/win-x64/native/frostcap.dll"
[[ $listing == "$expected" ]] || fail "the package holds: $listing"
grep -q "<id>Frostcap</id>" "$package/Frostcap.nuspec" &&
  grep -q "<version>$version</version>" "$package/Frostcap.nuspec" ||
  fail "Frostcap.nuspec does not name Frostcap $version"
cmake -DKIND=pe -DOBJDUMP=x86_64-w64-mingw32-objdump \
  -DLIBRARY="$package/runtimes/win-x64/native/frostcap.dll" -DDEF="$root/src/frostcap.def" \
  -P "$root/tests/checks/exports.cmake"

# The build copies the package's assembly beside the program; Mono's
# compiler is given the netstandard facade for a .NET Standard library, as a
# project targeting .NET Framework 4.7.2 gets it. The host says which target
# framework the assembly it loaded was built for.
facade=$(dirname "$(command -v mcs)")/../lib/mono/4.7.2-api/Facades/netstandard.dll
for framework in net45 netstandard2.0; do
  app=$work/app-$framework
  mkdir -p "$app"
  cp "$package/lib/$framework/Frostcap.dll" "$app/"
  case $framework in
    net45) sdk=(-sdk:4.5) target=".NETFramework,Version=v4.5" ;;
    netstandard2.0) sdk=(-sdk:4.7.2 -r:"$facade") target=".NETStandard,Version=v2.0" ;;
  esac
  mcs -nologo "${sdk[@]}" -warnaserror+ -r:"$app/Frostcap.dll" -out:"$app/consumer.exe" \
    "$root/tests/install/nuget_consumer/Program.cs"
  printf '<configuration>\n  <dllmap dll="frostcap" target="%s"/>\n</configuration>\n' \
    "$(realpath "$sim_library")" >"$app/Frostcap.dll.config"
  mono "$app/consumer.exe" "$root/examples/two-writers.json" >"$work/consumer-$framework.out" ||
    fail "the $framework consumer exited with $?"
  cat "$work/consumer-$framework.out"
  grep -qxF "frostcap built for: $target" "$work/consumer-$framework.out" &&
    grep -qxF 'mount path: \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy1\' "$work/consumer-$framework.out" &&
    grep -qxF 'file: C:\Data\Mail\mailbox.edb' "$work/consumer-$framework.out" &&
    grep -q '^writer told: SetBackupSucceeded(.*,Mailbox Database,true)$' "$work/consumer-$framework.out" ||
    fail "the $framework consumer printed something else"
done

# The .NET first-backup guide's program (docs/first-backup-dotnet.md), built
# against the package's assembly: it reads the component's five files inside
# the copy and tells the writers of a successful backup.
mcs -nologo -sdk:4.5 -warnaserror+ -r:"$work/app-net45/Frostcap.dll" \
  -out:"$work/app-net45/first_backup.exe" \
  "$root/examples/first-backup/dotnet/FirstBackup.cs"
FROSTCAP_SIM_SCENARIO=$root/examples/two-writers.json FROSTCAP_SIM_RECORD=$work/first_backup.jsonl \
  mono "$work/app-net45/first_backup.exe" >"$work/first_backup.out" || fail "the first-backup program exited with $?"
[[ $(grep -c ' bytes read inside the copy$' "$work/first_backup.out") -eq 5 &&
  $(tail -n 1 "$work/first_backup.out") == "backup succeeded" ]] &&
  grep -q '"text":"SetBackupSucceeded([^"]*true)' "$work/first_backup.jsonl" &&
  ! grep -q '"text":"SetBackupSucceeded([^"]*false)' "$work/first_backup.jsonl" ||
  fail "the first-backup program did not back up the component: $(cat "$work/first_backup.out")"
echo "Frostcap $version: the package's layout is NuGet's, and each of its assemblies takes a snapshot"
