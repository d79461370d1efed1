# Packs the .NET binding of a Windows build as a NuGet package, run with
# cmake -P:
#
#   cmake -DBUILD_DIR=build/windows -DOUTPUT_DIR=build/windows -P cmake/pack-nuget.cmake
#
# writes OUTPUT_DIR/Frostcap.<version>.nupkg: Frostcap.dll and its XML
# documentation under lib/net45/ and, built for .NET Standard 2.0, under
# lib/netstandard2.0/, and frostcap.dll, stripped as the release archive has
# it, under runtimes/win-x64/native/, where NuGet looks for a native library. A package is a zip file; no NuGet tool is needed to make it.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)

foreach(variable BUILD_DIR OUTPUT_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "pack-nuget.cmake needs -D${variable}=...")
  endif()
endforeach()
get_filename_component(build_dir "${BUILD_DIR}" ABSOLUTE)
get_filename_component(output_dir "${OUTPUT_DIR}" ABSOLUTE)
set(assembly ${build_dir}/bindings/dotnet/Frostcap)
set(standard_assembly ${build_dir}/bindings/dotnet/netstandard2.0/Frostcap)
foreach(built ${assembly} ${standard_assembly})
  if(NOT EXISTS ${built}.dll OR NOT EXISTS ${built}.xml)
    message(FATAL_ERROR "${built}.dll is not built: build the target frostcap_dotnet, which "
                        "needs Mono's C# compiler (mcs) and its 4.7.2 profile")
  endif()
endforeach()

set(staging ${output_dir}/nuget-staging)
file(REMOVE_RECURSE ${staging})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${build_dir} --prefix ${staging}/installed --strip
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS ${staging}/installed/bin/frostcap.dll)
  message(FATAL_ERROR "installing ${build_dir} gave no bin/frostcap.dll: not a Windows build?")
endif()
frostcap_read_version(${staging}/installed/include/frostcap.h version)

set(package ${staging}/package)
file(COPY ${assembly}.dll ${assembly}.xml DESTINATION ${package}/lib/net45)
file(COPY ${standard_assembly}.dll ${standard_assembly}.xml DESTINATION ${package}/lib/netstandard2.0)
file(COPY ${staging}/installed/bin/frostcap.dll DESTINATION ${package}/runtimes/win-x64/native)
file(WRITE ${package}/Frostcap.nuspec "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<package xmlns=\"http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd\">
  <metadata>
    <id>Frostcap</id>
    <version>${version}</version>
    <authors>the frostcap developers</authors>
    <license type=\"expression\">MIT</license>
    <description>Point-in-time shadow copies of volumes for backup applications: a requester of the Volume Shadow Copy Service with writer components, for 64-bit Windows. The managed Frostcap.dll calls the native frostcap.dll, which the package carries.</description>
    <tags>backup shadow-copy vss snapshot</tags>
    <dependencies>
      <group targetFramework=\".NETFramework4.5\" />
      <group targetFramework=\".NETStandard2.0\" />
    </dependencies>
  </metadata>
</package>
")
# The parts of an Open Packaging Conventions file, which NuGet packages are.
file(WRITE "${package}/[Content_Types].xml" "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">
  <Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>
  <Default Extension=\"nuspec\" ContentType=\"application/octet\"/>
  <Default Extension=\"dll\" ContentType=\"application/octet\"/>
  <Default Extension=\"xml\" ContentType=\"application/octet\"/>
</Types>
")
file(WRITE ${package}/_rels/.rels "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">
  <Relationship Type=\"http://schemas.microsoft.com/packaging/2010/07/manifest\" Target=\"/Frostcap.nuspec\" Id=\"manifest\"/>
</Relationships>
")

set(nupkg ${output_dir}/Frostcap.${version}.nupkg)
file(REMOVE ${nupkg})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${nupkg} --format=zip
    Frostcap.nuspec [Content_Types].xml _rels/.rels lib/net45/Frostcap.dll lib/net45/Frostcap.xml
    lib/netstandard2.0/Frostcap.dll lib/netstandard2.0/Frostcap.xml
    runtimes/win-x64/native/frostcap.dll
  WORKING_DIRECTORY ${package} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "packing ${nupkg} failed")
endif()
file(REMOVE_RECURSE ${staging})
message(STATUS "${nupkg}")
