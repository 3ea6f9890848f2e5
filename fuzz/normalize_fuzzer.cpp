// Fuzz target of the tolerant reader: any bytes normalized, with and without the
// other nodes kept, must give either a refusal or text that (1) comes out the same
// every time, (2) normalizes to itself again, and (3) the converter turns into
// exactly one object per mesh written, with no object left empty; (4) the meshes
// made straight into records (sgltool convert's route) give that bundle byte for
// byte and the same report, unless the records leave the input to the text. Lint reads the
// same bytes: every finding names an object the report lists, or none. Anything
// else, and any sanitizer report, aborts.
//
// Build and seeds as for convert_fuzzer (cmake --preset fuzz; the fuzz_seeds target).
// Run for a minute on one core:
//   mkdir -p build/fuzz/normalize_corpus
//   build/fuzz/fuzz/normalize_fuzzer -dict=fuzz/ase.dict -max_len=65536 -timeout=10 \
//       -rss_limit_mb=4096 -max_total_time=60 build/fuzz/normalize_corpus build/fuzz/seeds
#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "lint/lint.h"
#include "normalize/normalize.h"
#include "support/test_support.h"
#include "tools/mesh_records.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "normalize_fuzzer: %s: %s\n", what, detail.c_str());
    __builtin_trap();
}

void Check(std::string_view input, bool keepOtherNodes)
{
    namespace nz = ase2sgl::normalize;
    const nz::NormalizeOptions options{keepOtherNodes};
    const nz::NormalizeResult first = nz::Normalize(input, options);
    if (!first.ok)
        return;
    if (nz::Normalize(input, options).text != first.text)
        Fail("output differs between two runs", "");
    const nz::NormalizeResult again = nz::Normalize(first.text, options);
    if (!again.ok || again.text != first.text)
        Fail("normalized text does not normalize to itself", again.error);
    if (keepOtherNodes)
        return;
    std::string bytes;
    try {
        bytes = ase2sgl::ConvertBytes(first.text);
    } catch (const ase2sgl::InputRefused& refused) {
        Fail("the converter refused normalized text", refused.what());
    }
    const ase2sgl::testing::Bundle bundle = ase2sgl::testing::ParseBundle(bytes);
    if (!bundle.problem.empty())
        Fail("unsound bundle", bundle.problem);
    if (bundle.objects.size() != static_cast<std::size_t>(first.report.meshesWritten))
        Fail("objects differ from meshes written",
             std::to_string(bundle.objects.size()) + " vs " + std::to_string(first.report.meshesWritten));
    for (const auto& object : bundle.objects)
        if (object.VertexCount() == 0)
            Fail("an object came out empty", object.name);
    ase2sgl::MemorySink sink;
    ase2sgl::BundleWriter writer(sink);
    writer.WriteObjectCount(0);
    ase2sgl::tools::MeshRecords records(writer, [](std::uint64_t) {});
    nz::NormalizeOptions direct = options;
    direct.meshes = &records;
    try {
        const nz::NormalizeResult made = nz::Normalize(input, direct);
        writer.WriteObjectCountOver(records.Objects());
        if (!made.ok || sink.bytes != bytes)
            Fail("the records differ from the converter's bundle of the text", made.error);
        if (nz::DescribeReport(made.report) != nz::DescribeReport(first.report))
            Fail("the records' report differs from the text's", nz::DescribeReport(made.report));
    } catch (const ase2sgl::tools::TakeTheTextRoute&) {
    }
}

void CheckLint(std::string_view input)
{
    const ase2sgl::lint::LintReport report = ase2sgl::lint::Lint(input);
    for (const ase2sgl::lint::Finding& finding : report.findings)
        if (finding.object >= static_cast<std::int32_t>(report.objects.size()) || finding.line < 0)
            Fail("a finding names no object or line of the report", finding.message);
    if (ase2sgl::lint::FormatText(report, "fuzz").empty())
        Fail("an empty text report", "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Check(input, false);
    Check(input, true);
    CheckLint(input);
    return 0;
}
