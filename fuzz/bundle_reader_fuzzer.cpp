// Fuzz target for the bundle reader, which engines use on files of any origin: any
// bytes must give either a sound bundle whose records tile the input exactly, or an
// error whose offset lies within the input. Every value of every array is read, one
// by one and copied out in one go, so that the sanitizers see any read outside the
// input.
//
// Build and seed (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer):
//   cmake --preset fuzz && cmake --build --preset fuzz --target bundle_reader_fuzzer bundle_fuzz_seeds
// Run:
//   mkdir -p build/fuzz/bundle_corpus
//   build/fuzz/fuzz/bundle_reader_fuzzer -max_len=65536 -max_total_time=60 \
//       build/fuzz/bundle_corpus build/fuzz/bundle_seeds
#include "bundle/bundle_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what, unsigned long long value)
{
    std::fprintf(stderr, "bundle_reader_fuzzer: %s (%llu)\n", what, value);
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace bundle = ase2sgl::bundle;
    const auto bytes = std::as_bytes(std::span<const std::uint8_t>(data, size));
    bundle::Bundle reader;
    const bundle::ReadStatus status = reader.Open(bytes);
    if (!status) {
        if (status.offset > size)
            Fail("error offset past the end", status.offset);
        if (reader.begin() != reader.end())
            Fail("objects from an unsound bundle", size);
        return 0;
    }
    std::uint64_t end = bundle::kCountBytes;
    std::int32_t objects = 0;
    float sum = 0;
    for (const bundle::Object& object : reader) {
        if (object.offset != end)
            Fail("records do not follow each other", object.offset);
        if (object.name.size() >= bundle::kNameFieldBytes)
            Fail("name longer than its field", object.name.size());
        if (object.vertexCount < 0 || object.vertexCount % 3 != 0)
            Fail("vertex count not a triangle list", static_cast<unsigned long long>(object.vertexCount));
        for (const bundle::PackedFloats* array : {&object.positions, &object.normals, &object.texcoords}) {
            std::vector<float> copy(array->size());
            array->CopyTo(copy);
            for (std::size_t i = 0; i < array->size(); ++i) {
                const float value = (*array)[i];
                if (std::memcmp(&value, &copy[i], sizeof value) != 0)
                    Fail("CopyTo differs from operator[] at value", i);
                sum += value;
            }
        }
        end += bundle::kRecordHeaderBytes + bundle::kBytesPerVertex * static_cast<std::uint64_t>(object.vertexCount);
        ++objects;
    }
    if (end != size)
        Fail("records do not cover the file", end);
    if (objects != reader.ObjectCount() || objects > bundle::kMaxObjects)
        Fail("object count", static_cast<unsigned long long>(objects));
    volatile float keep = sum;  // the reads must not be optimised away
    (void)keep;
    return 0;
}
