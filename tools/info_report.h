// `sgltool info`: per object and in total, as a text table or as a JSON report
// (layout: tools/sgltool-info.schema.json).
#pragma once

#include "tools/mesh_stats.h"

#include <nlohmann/json.hpp>

#include <ostream>

namespace ase2sgl::tools {

inline constexpr int kInfoReportVersion = 1;

struct BundleInfo {
    std::string path;
    std::uint64_t bytes = 0;
    std::vector<std::string> names;  // DisplayName of each object
    std::vector<MeshStats> objects;
    MeshStats totals;
};

BundleInfo DescribeBundle(const LoadedBundle& loaded);

void PrintInfoTable(const BundleInfo& info, std::ostream& out);
// One entry of the report's "files" array.
nlohmann::ordered_json InfoJson(const BundleInfo& info);
// The whole report: {"report": "sgltool info", "version": 1, "files": [...]}.
nlohmann::ordered_json InfoReport(const nlohmann::ordered_json& files);

}  // namespace ase2sgl::tools
