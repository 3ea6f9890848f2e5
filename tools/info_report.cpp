// The info report: statistics gathered once, printed as a table or as JSON.
#include "tools/info_report.h"

#include <cstdio>
#include <iomanip>

namespace ase2sgl::tools {

namespace {

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string RangeText(const Range& range)
{
    return range.Empty() ? "-" : Number(range.min) + " .. " + Number(range.max);
}

std::string BoundsText(const std::array<Range, 3>& bounds)
{
    if (bounds[0].Empty())
        return "-";
    char text[160];
    std::snprintf(text, sizeof text, "(%g, %g, %g) .. (%g, %g, %g)", double(bounds[0].min), double(bounds[1].min),
                  double(bounds[2].min), double(bounds[0].max), double(bounds[1].max), double(bounds[2].max));
    return text;
}

std::vector<std::string> Row(const std::string& index, const std::string& name, const MeshStats& stats)
{
    return {index,
            name,
            std::to_string(stats.vertices),
            std::to_string(stats.triangles),
            BoundsText(stats.bounds),
            std::to_string(stats.degenerateTriangles),
            std::to_string(stats.normalsOffUnit),
            std::to_string(stats.nonFiniteValues),
            RangeText(stats.texcoords[0]),
            RangeText(stats.texcoords[1])};
}

nlohmann::ordered_json RangeJson(const Range& range)
{
    return range.Empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json::array({range.min, range.max});
}

nlohmann::ordered_json StatsJson(const MeshStats& stats)
{
    nlohmann::ordered_json json;
    json["vertices"] = stats.vertices;
    json["triangles"] = stats.triangles;
    if (stats.bounds[0].Empty()) {
        json["bounds"] = nullptr;
    } else {
        json["bounds"]["min"] = {stats.bounds[0].min, stats.bounds[1].min, stats.bounds[2].min};
        json["bounds"]["max"] = {stats.bounds[0].max, stats.bounds[1].max, stats.bounds[2].max};
    }
    json["degenerateTriangles"] = stats.degenerateTriangles;
    json["normalsOffUnitLength"] = stats.normalsOffUnit;
    json["nonFiniteValues"] = stats.nonFiniteValues;
    json["texcoordRange"] = {{"u", RangeJson(stats.texcoords[0])}, {"v", RangeJson(stats.texcoords[1])}};
    return json;
}

}  // namespace

BundleInfo DescribeBundle(const LoadedBundle& loaded)
{
    BundleInfo info;
    info.path = loaded.path;
    info.bytes = loaded.ByteCount();
    for (const bundle::Object& object : loaded.objects) {
        info.names.push_back(DisplayName(object.name));
        info.objects.push_back(ComputeStats(object));
        info.totals.Add(info.objects.back());
    }
    return info;
}

void PrintInfoTable(const BundleInfo& info, std::ostream& out)
{
    out << info.path << ": " << info.objects.size() << (info.objects.size() == 1 ? " object, " : " objects, ")
        << info.totals.vertices << " vertices, " << info.totals.triangles << " triangles, " << info.bytes << " bytes\n";
    std::vector<std::vector<std::string>> rows = {{"#", "name", "vertices", "triangles", "bounds (min .. max)",
                                                   "degenerate", "normals off unit", "NaN/inf", "u range", "v range"}};
    for (std::size_t i = 0; i < info.objects.size(); ++i)
        rows.push_back(Row(std::to_string(i), info.names[i], info.objects[i]));
    rows.push_back(Row("", "total", info.totals));
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    for (const auto& row : rows) {
        std::string line = " ";
        for (std::size_t column = 0; column < row.size(); ++column)
            line += " " + row[column] + std::string(widths[column] - row[column].size(), ' ');
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out << line << '\n';
    }
}

nlohmann::ordered_json InfoJson(const BundleInfo& info)
{
    nlohmann::ordered_json file;
    file["path"] = info.path;
    file["bytes"] = info.bytes;
    file["objects"] = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < info.objects.size(); ++i) {
        nlohmann::ordered_json object = {{"index", i}, {"name", info.names[i]}};
        object.update(StatsJson(info.objects[i]));
        file["objects"].push_back(std::move(object));
    }
    file["totals"] = {{"objects", info.objects.size()}};
    file["totals"].update(StatsJson(info.totals));
    return file;
}

nlohmann::ordered_json InfoReport(const nlohmann::ordered_json& files)
{
    return {{"report", "sgltool info"}, {"version", kInfoReportVersion}, {"files", files}};
}

}  // namespace ase2sgl::tools
