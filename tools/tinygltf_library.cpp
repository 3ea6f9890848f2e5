// tinygltf's compiled part, for hosts without a build of the library (the Windows
// cross build: Debian ships tinygltf as a Linux shared library only). Its image
// loading and writing come from stb, as in Debian's build; sgltool's glTF files
// hold no images, so neither runs.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_INCLUDE_STB_IMAGE
#define TINYGLTF_NO_INCLUDE_STB_IMAGE_WRITE
#include <tiny_gltf.h>
