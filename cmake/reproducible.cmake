# Reproducible builds: two builds of one commit, in any folders, give the same
# program bytes. The compiler writes no folder of the build into the objects
# (source and build paths in __FILE__ and debug information become relative; the
# build folder itself, without a closing slash, is the compilation folder that
# debug information records for the files of the top-level CMakeLists.txt), and
# MinGW's linker leaves the link time out of the Windows executables' headers (the
# PE header's TimeDateStamp, which it fills by default). GNU ld's build-id is a
# hash of the contents, the same for the same bytes.
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}/="
                    "-ffile-prefix-map=${PROJECT_BINARY_DIR}=.")
if(WIN32)
  add_link_options(LINKER:--no-insert-timestamp)
endif()
