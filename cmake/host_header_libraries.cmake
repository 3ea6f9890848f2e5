# Cross builds: the header-only libraries sgltool uses (CLI11, nlohmann-json,
# tinygltf's header, stb) taken from the build host's include folder. That folder
# itself must not go on the include path, where the host's C library headers would
# come before the target's; each library's headers are linked alone into a folder
# of the build tree instead, and an empty package configuration beside them lets
# find_package() succeed. The libraries' targets are made here. tinygltf's compiled
# part is built from its header (tools/tinygltf_library.cpp).
set(ASE2SGL_HOST_INCLUDE_DIR /usr/include CACHE PATH "Where the build host's header-only libraries are")
set(staged "${PROJECT_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${staged}/include" "${staged}/cmake")

# package: the find_package() name; target: its target; headers: what it needs in
# the host's include folder.
function(ase2sgl_host_headers package target)
  foreach(entry IN LISTS ARGN)
    if(NOT EXISTS "${ASE2SGL_HOST_INCLUDE_DIR}/${entry}")
      message(STATUS "${package}: no ${ASE2SGL_HOST_INCLUDE_DIR}/${entry} on the build host")
      return()
    endif()
    if(NOT EXISTS "${staged}/include/${entry}")
      file(CREATE_LINK "${ASE2SGL_HOST_INCLUDE_DIR}/${entry}" "${staged}/include/${entry}" SYMBOLIC)
    endif()
  endforeach()
  file(WRITE "${staged}/cmake/${package}Config.cmake" "# Made by cmake/host_header_libraries.cmake\n")
  set(${package}_DIR "${staged}/cmake" CACHE PATH "" FORCE)
  string(TOLOWER "ase2sgl_host_${package}" library)
  add_library(${library} INTERFACE)
  target_include_directories(${library} SYSTEM INTERFACE "${staged}/include")
  add_library(${target} ALIAS ${library})
endfunction()

ase2sgl_host_headers(nlohmann_json nlohmann_json::nlohmann_json nlohmann)
ase2sgl_host_headers(CLI11 CLI11::CLI11 CLI)
ase2sgl_host_headers(stb stb::stb stb)
ase2sgl_host_headers(TinyGLTFHeaders TinyGLTF::Headers tiny_gltf.h)
if(TARGET TinyGLTF::Headers AND TARGET stb::stb AND TARGET nlohmann_json::nlohmann_json)
  add_library(ase2sgl_tinygltf STATIC "${PROJECT_SOURCE_DIR}/tools/tinygltf_library.cpp")
  target_link_libraries(ase2sgl_tinygltf PUBLIC TinyGLTF::Headers PRIVATE stb::stb nlohmann_json::nlohmann_json)
  add_library(TinyGLTF::TinyGLTF ALIAS ase2sgl_tinygltf)
  file(WRITE "${staged}/cmake/TinyGLTFConfig.cmake" "# Made by cmake/host_header_libraries.cmake\n")
  set(TinyGLTF_DIR "${staged}/cmake" CACHE PATH "" FORCE)
endif()
