// ase2sgl._ase2sgl: the conversion and the bundle reader for Python. The package
// (ase2sgl/__init__.py) builds the public API on top: exceptions and NumPy views.
#include "bundle/bundle_reader.h"
#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "conversion/output_path.h"
#include "lint/lint.h"
#include "normalize/normalize.h"

#include <pybind11/pybind11.h>

#include <cstring>
#include <span>
#include <string>
#include <utility>

namespace py = pybind11;

namespace {

// Raised through the Python side's ConversionError(path, reason, errno).
py::object ConversionErrorType()
{
    return py::module_::import("ase2sgl").attr("ConversionError");
}

// Runs a conversion of `input`; failures become ase2sgl.ConversionError with the
// path concerned, the reason and, for a file operation, the errno.
template <typename Conversion>
void Converting(const std::string& input, Conversion conversion)
{
    try {
        py::gil_scoped_release released;
        conversion();
    } catch (const ase2sgl::FileError& error) {
        PyErr_SetObject(ConversionErrorType().ptr(),
                        py::make_tuple(py::bytes(error.path), py::str(std::strerror(error.errorNumber)),
                                       error.errorNumber, py::bytes(error.what()))
                            .ptr());
        throw py::error_already_set();
    } catch (const ase2sgl::OutputRefused& error) {
        PyErr_SetObject(ConversionErrorType().ptr(),
                        py::make_tuple(py::bytes(error.path), py::bytes(error.reason), py::none(),
                                       py::bytes(error.what()))
                            .ptr());
        throw py::error_already_set();
    } catch (const ase2sgl::InputRefused& error) {
        // The message reads "<input>: <reason>, fichier refuse".
        std::string reason = error.what();
        if (reason.starts_with(input + ": "))
            reason.erase(0, input.size() + 2);
        PyErr_SetObject(ConversionErrorType().ptr(),
                        py::make_tuple(py::bytes(input), py::bytes(reason), py::none(), py::bytes(error.what())).ptr());
        throw py::error_already_set();
    }
}

// Converts; gives the output path as bytes.
py::bytes Convert(const std::string& input, const std::string& output)
{
    const std::string outputPath = output.empty() ? ase2sgl::DefaultOutputPath(input) : output;
    Converting(input, [&] {
        if (output.empty())
            ase2sgl::CheckDefaultOutputPath(outputPath);
        ase2sgl::Convert(input, outputPath);
    });
    return py::bytes(outputPath);
}

// Converts ASE bytes already read from `input` (a pipe, or a file for the tolerant
// reader); gives the output path as bytes. `tolerant` first rewrites any exporter's
// layout into the one the converter reads.
py::bytes ConvertBytes(const py::bytes& ase, const std::string& input, const std::string& output, bool tolerant)
{
    const std::string outputPath = output.empty() ? ase2sgl::DefaultOutputPath(input) : output;
    const std::string_view bytes(ase);
    std::string normalized;
    if (tolerant) {
        ase2sgl::normalize::NormalizeResult result = ase2sgl::normalize::Normalize(bytes);
        if (!result.ok) {
            PyErr_SetObject(ConversionErrorType().ptr(),
                            py::make_tuple(py::bytes(input), py::str(result.error)).ptr());
            throw py::error_already_set();
        }
        normalized = std::move(result.text);
    }
    Converting(input, [&] {
        if (output.empty())
            ase2sgl::CheckDefaultOutputPath(outputPath);
        ase2sgl::ConvertBytesToFile(tolerant ? normalized : bytes, input, outputPath);
    });
    return py::bytes(outputPath);
}

// The records of a sound bundle as (name bytes, vertex count, offset of the
// positions), or the reader's fault as (reason, byte offset, record).
py::tuple Layout(const py::buffer& bytes)
{
    const py::buffer_info info = bytes.request();
    if (info.ndim != 1 || info.itemsize != 1 || (info.ndim == 1 && info.strides[0] != 1))
        throw py::value_error("read_bundle: expected contiguous bytes");
    const std::span<const std::byte> data(static_cast<const std::byte*>(info.ptr), static_cast<std::size_t>(info.size));
    ase2sgl::bundle::Bundle bundle;
    const ase2sgl::bundle::ReadStatus status = bundle.Open(data);
    if (!status)
        return py::make_tuple(false, py::str(Describe(status.error)), status.offset, status.object);
    py::list records;
    for (const ase2sgl::bundle::Object& object : bundle) {
        const auto positions = static_cast<std::uint64_t>(object.positions.Bytes().data() - data.data());
        records.append(
            py::make_tuple(py::bytes(object.name.data(), object.name.size()), object.vertexCount, positions));
    }
    return py::make_tuple(true, records);
}

// sgltool lint's report on ASE bytes, as JSON text (one entry of the files array
// of tools/sgltool-lint.schema.json).
py::str Lint(const py::bytes& ase, const std::string& fileName)
{
    const std::string_view bytes(ase);
    std::string json;
    {
        py::gil_scoped_release released;
        const ase2sgl::lint::LintReport report = ase2sgl::lint::Lint(bytes);
        // Names hold the file's own bytes, which need not be UTF-8.
        json = ase2sgl::lint::ToJson(report, fileName)
                   .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    }
    return py::str(json);
}

}  // namespace

PYBIND11_MODULE(_ase2sgl, module)
{
    module.doc() = "ase2sgl's converter and bundle reader; use the ase2sgl package";
    module.def("convert", &Convert, py::arg("input"), py::arg("output"));
    module.def("convert_bytes", &ConvertBytes, py::arg("ase"), py::arg("input"), py::arg("output"),
               py::arg("tolerant"));
    module.def("layout", &Layout, py::arg("bytes"));
    module.def("lint", &Lint, py::arg("ase"), py::arg("file_name"));
}
