// Lint: the converter's two reads watched through their observer, set beside the
// meshes and nodes the tolerant reader finds, each mesh's fate explained.
#include "lint/lint.h"

#include "ase/pass_observer.h"
#include "common/conversion_error.h"
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "normalize/ase_text.h"
#include "normalize/normalize.h"
#include "normalize/scene.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace ase2sgl::lint {

namespace {

// Everything the two reads tell, kept for matching once they are done.
class Recorder : public PassObserver {
  public:
    struct Counted {
        CountedObject seen;
        std::string name;  // the observer's view of the name lives only during the call
    };
    std::vector<Counted> counted;
    std::vector<ReadObject> read;
    std::vector<std::pair<std::int64_t, std::int32_t>> passedOver;
    std::vector<std::int64_t> withoutMesh;

    void HeaderPassedOver(std::int64_t line, std::int32_t object) override { passedOver.emplace_back(line, object); }
    void HeaderWithoutMesh(std::int64_t line) override { withoutMesh.push_back(line); }
    void ObjectCounted(const CountedObject& seen) override { counted.push_back({seen, std::string(seen.name)}); }
    void ObjectRead(const ReadObject& seen) override { read.push_back(seen); }
};

// Line numbers (from 1) of byte offsets of the raw input.
class LineIndex {
  public:
    explicit LineIndex(std::string_view bytes)
    {
        for (const char* p = bytes.data();
             (p = static_cast<const char*>(
                  std::memchr(p, '\n', static_cast<std::size_t>(bytes.data() + bytes.size() - p)))) != nullptr;
             ++p)
            lineFeeds_.push_back(p - bytes.data());
        lines_ = static_cast<std::int32_t>(lineFeeds_.size()) + (bytes.empty() || bytes.back() == '\n' ? 0 : 1);
    }
    std::int32_t LineOf(std::int64_t offset) const
    {
        if (offset < 0)
            return 0;
        return static_cast<std::int32_t>(std::lower_bound(lineFeeds_.begin(), lineFeeds_.end(), offset) -
                                         lineFeeds_.begin()) +
               1;
    }
    std::int32_t Lines() const { return lines_; }

  private:
    std::vector<std::int64_t> lineFeeds_;
    std::int32_t lines_ = 0;
};

// The name as the bundle stores a node's name: upper-cased as Windows-1252 does,
// cut to the name field.
std::string BundleName(std::string_view name)
{
    std::string out(name.substr(0, kMaxNameBytes));
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7))
            c = static_cast<char>(u - 0x20);
        else if (u == 0x9A || u == 0x9C || u == 0x9E)
            c = static_cast<char>(u - 0x10);
        else if (u == 0xFF)
            c = static_cast<char>(0x9F);
    }
    return out;
}

const char* KindName(normalize::NodeKind kind)
{
    switch (kind) {
    case normalize::NodeKind::kGeometry: return "node";
    case normalize::NodeKind::kCamera: return "camera";
    case normalize::NodeKind::kLight: return "light";
    case normalize::NodeKind::kHelper: return "helper";
    case normalize::NodeKind::kShape: return "shape";
    }
    return "node";
}

std::string Quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

const char* EncodingName(normalize::Encoding encoding)
{
    switch (encoding) {
    case normalize::Encoding::kUtf8: return "UTF-8";
    case normalize::Encoding::kUtf8WithBom: return "UTF-8 with BOM";
    case normalize::Encoding::kUtf16Le: return "UTF-16 LE";
    case normalize::Encoding::kUtf16Be: return "UTF-16 BE";
    }
    return "UTF-8";
}

const char* LineEndsName(normalize::LineEnds ends)
{
    switch (ends) {
    case normalize::LineEnds::kNone: return "none";
    case normalize::LineEnds::kLf: return "LF";
    case normalize::LineEnds::kCrLf: return "CR LF";
    case normalize::LineEnds::kCr: return "CR";
    case normalize::LineEnds::kMixed: return "mixed";
    }
    return "none";
}

bool IsMesh(const normalize::SceneNode& node)
{
    return node.kind == normalize::NodeKind::kGeometry && node.hasMesh && !node.mesh.vertices.empty();
}

class Linter {
  public:
    explicit Linter(std::string_view ase) : ase_(ase), lines_(ase) {}

    LintReport Run()
    {
        Convert();
        const normalize::NormalizeResult normalized = normalize::Normalize(ase_);
        report_.dialect = normalize::DialectName(normalized.report.dialect);
        const normalize::DecodedText decoded = normalize::DecodeText(ase_);
        report_.encoding = EncodingName(decoded.encoding);
        report_.lineEnds = LineEndsName(normalize::DetectLineEnds(decoded.text));
        const normalize::Scene scene = normalize::ReadScene(decoded.text);
        for (const normalize::SceneNode& node : scene.nodes) {
            if (IsMesh(node))
                meshes_.push_back(&node);
            else
                ++report_.otherNodes;
        }
        report_.meshes = static_cast<std::int32_t>(meshes_.size());
        ListObjects();
        FileFindings();
        MatchMeshes(scene);
        ObjectFindings();
        std::stable_sort(report_.findings.begin(), report_.findings.end(),
                         [](const Finding& a, const Finding& b) { return a.line < b.line; });
        return std::move(report_);
    }

  private:
    void Convert()
    {
        try {
            ConvertBytes(ase_, &recorder_);
        } catch (const InputRefused& refused) {
            report_.refused = true;
            report_.refusal = refused.what();
        }
    }

    void Add(Severity severity, std::string kind, std::int32_t line, std::int32_t object, std::string message)
    {
        report_.findings.push_back({severity, std::move(kind), line, object, std::move(message)});
    }

    void ListObjects()
    {
        if (report_.refused)
            return;
        const std::size_t count = recorder_.counted.size();
        for (std::size_t j = 0; j < count; ++j) {
            const auto& seen = recorder_.counted[j].seen;
            LintObject object;
            object.index = static_cast<std::int32_t>(j);
            object.name = recorder_.counted[j].name;
            object.vertices = j < recorder_.read.size() ? recorder_.read[j].cornersRead : 0;
            object.triangles = object.vertices / 3;
            object.headerLine = lines_.LineOf(seen.header);
            object.firstLine = lines_.LineOf(seen.vertexStart);
            object.lastLine =
                j + 1 < count ? lines_.LineOf(recorder_.counted[j + 1].seen.vertexStart) - 1 : lines_.Lines();
            report_.objects.push_back(std::move(object));
        }
    }

    void FileFindings()
    {
        if (report_.refused)
            Add(Severity::kLoss, "too-many-objects", 0, -1,
                "more than " + std::to_string(kMaxObjects) + " objects: ase2sgl refuses the file (exit 3)");
        if (report_.encoding.rfind("UTF-16", 0) == 0)
            Add(Severity::kLoss, "utf16", 1, -1,
                "the text is " + report_.encoding +
                    ": ase2sgl reads bytes and finds none of its keys; sgltool convert reads it");
        if (const void* stop = std::memchr(ase_.data(), 0x1A, ase_.size())) {
            const auto offset = static_cast<const char*>(stop) - ase_.data();
            const bool meshesAfter =
                ase_.find("*GEOMOBJECT", static_cast<std::size_t>(offset)) != std::string_view::npos;
            Add(meshesAfter ? Severity::kLoss : Severity::kWarning, "ctrl-z", lines_.LineOf(offset), -1,
                std::string("a 0x1A byte: ase2sgl's input ends here, the rest is not read") +
                    (meshesAfter ? ", meshes included" : ""));
        }
        if (report_.lineEnds == "CR")
            Add(Severity::kWarning, "cr-line-ends", 1, -1,
                "CR-only line ends: ase2sgl reads the whole file as one line; sgltool convert reads it");
        const bool lost = report_.objects.size() < meshes_.size();
        const bool known = report_.dialect != std::string("unknown");
        if (report_.dialect != std::string("3ds Max") && !meshes_.empty() && (known || lost))
            Add(lost ? Severity::kLoss : Severity::kNote, "dialect", 0, -1,
                std::string("written by ") + (known ? report_.dialect : "an unknown exporter") +
                    " (its *COMMENT line and spacing): ase2sgl reads only the exact layout of 3ds Max's ASCII "
                    "exporter" +
                    (lost ? "; sgltool convert reads this one" : ", which this file keeps"));
        for (const std::int64_t header : recorder_.withoutMesh)
            Add(Severity::kNote, "node-without-mesh", lines_.LineOf(header), -1,
                "a node header with no vertex list after it: not an object");
    }

    // The object whose vertex-start line lies in [from, to), or -1.
    std::int32_t ObjectStartingIn(std::int32_t from, std::int32_t to) const
    {
        for (const LintObject& object : report_.objects)
            if (object.firstLine >= from && object.firstLine < to)
                return object.index;
        return -1;
    }

    // The last object starting before `line`, or -1.
    std::int32_t ObjectBefore(std::int32_t line) const
    {
        std::int32_t found = -1;
        for (const LintObject& object : report_.objects)
            if (object.firstLine < line)
                found = object.index;
        return found;
    }

    // The node whose block holds `line`: the last one to begin at or before it.
    static const normalize::SceneNode* NodeAt(const normalize::Scene& scene, std::int32_t line)
    {
        const normalize::SceneNode* found = nullptr;
        for (const normalize::SceneNode& node : scene.nodes)
            if (node.line <= line)
                found = &node;
        return found;
    }

    void MatchMeshes(const normalize::Scene& scene)
    {
        std::vector<bool> owned(report_.objects.size(), false);
        for (std::size_t m = 0; m < meshes_.size(); ++m) {
            const normalize::SceneNode& mesh = *meshes_[m];
            const std::int32_t from = mesh.meshLine;
            const std::int32_t to =
                m + 1 < meshes_.size() ? meshes_[m + 1]->meshLine : std::numeric_limits<std::int32_t>::max();
            const std::string label = "mesh " + Quoted(mesh.name) + " (line " + std::to_string(mesh.line) + ")";
            const std::int32_t own = ObjectStartingIn(from, to);
            if (own < 0) {
                MeshNotOwn(mesh, label);
                continue;
            }
            const auto j = static_cast<std::size_t>(own);
            owned[j] = true;
            ownMesh_.emplace_back(own, &mesh);
            const LintObject& object = report_.objects[j];
            if (object.name == BundleName(mesh.name)) {
                ++report_.ownObjects;
                continue;
            }
            const normalize::SceneNode* namer = NodeAt(scene, object.headerLine);
            if (namer != nullptr && namer != &mesh) {
                Add(Severity::kLoss, "name-taken", mesh.line, own,
                    label + " becomes object " + std::to_string(own) + " under the name " + Quoted(object.name) +
                        " of the " + KindName(namer->kind) + " at line " + std::to_string(namer->line) +
                        ": the node header before a mesh names it");
            } else {
                Add(Severity::kLoss, "name-changed", mesh.line, own,
                    label + " becomes object " + std::to_string(own) + " under the name " + Quoted(object.name) +
                        ", the text of its node header line at line " + std::to_string(object.headerLine));
            }
        }
        for (std::size_t j = 0; j < owned.size(); ++j) {
            if (!owned[j])
                Add(Severity::kWarning, "object-without-mesh", report_.objects[j].firstLine,
                    static_cast<std::int32_t>(j),
                    "object " + std::to_string(j) + " " + Quoted(report_.objects[j].name) +
                        " starts at a vertex list that no mesh block of the file holds");
        }
    }

    void MeshNotOwn(const normalize::SceneNode& mesh, const std::string& label)
    {
        const std::int32_t into = ObjectBefore(mesh.meshLine);
        if (report_.refused)
            return;
        if (into < 0 || report_.objects.empty()) {
            Add(Severity::kLoss, "mesh-not-read", mesh.line, -1,
                label + " is not converted: none of its lines is in the layout ase2sgl reads");
            return;
        }
        const auto& seen = recorder_.counted[static_cast<std::size_t>(into)].seen;
        std::string why;
        if (seen.faceStart != PassObserver::kNone && lines_.LineOf(seen.faceStart) >= mesh.meshLine)
            why = "its search for a face list ran on to line " + std::to_string(lines_.LineOf(seen.faceStart));
        else if (seen.texVertexSearch == SearchEnd::kFound && lines_.LineOf(seen.texVertexStart) >= mesh.meshLine)
            why =
                "its own mesh has neither texture vertices nor normals, and its search for texture vertices ran "
                "on to line " +
                std::to_string(lines_.LineOf(seen.texVertexStart));
        else if (seen.texVertexSearch == SearchEnd::kEndOfInput)
            why =
                "its own mesh has neither texture vertices nor normals, and its search for texture vertices ran "
                "on to the end of the file";
        else
            why = "its reading ran on to line " + std::to_string(lines_.LineOf(seen.end) - 1);
        Add(Severity::kLoss, "mesh-merged", mesh.line, into,
            label + " is merged into object " + std::to_string(into) + " " +
                Quoted(report_.objects[static_cast<std::size_t>(into)].name) + ": " + why);
    }

    void ObjectFindings()
    {
        for (std::size_t j = 0; j < recorder_.read.size() && j < report_.objects.size(); ++j) {
            const PassObserver::ReadObject& r = recorder_.read[j];
            const LintObject& object = report_.objects[j];
            const auto index = static_cast<std::int32_t>(j);
            const std::string who = "object " + std::to_string(j) + " " + Quoted(object.name);
            if (r.faces == 0) {
                Add(Severity::kWarning, "no-faces", object.firstLine, index, who + ": no face list in its lines");
                continue;
            }
            if (r.normalsSearch != SearchEnd::kFound)
                Add(Severity::kWarning, "normals-missing", object.firstLine, index,
                    who + ": no normals block in its lines, normals left zero");
            if (r.texVertexSearch != SearchEnd::kFound)
                Add(Severity::kWarning, "texcoords-missing", object.firstLine, index,
                    who + ": no texture-vertex list before its normals block, texture coordinates left zero");
            else if (r.texFaceSearch != SearchEnd::kFound)
                Add(Severity::kWarning, "texfaces-missing", lines_.LineOf(r.texVertexStart), index,
                    who + ": no texture-face list before its normals block, texture coordinates left zero");
            Count(r.faceLinesNotScanned, "list-breaks", r.faceStart, index, who,
                  "face lines whose vertex numbers do not read (each repeats the numbers of the line before)");
            Count(r.texFaceLinesNotScanned, "list-breaks", r.texFaceStart, index, who,
                  "texture-face lines that do not read (each repeats the numbers of the line before)");
            Count(r.vertexNormalLinesNotScanned, "list-breaks", r.faceNormalStart, index, who,
                  "normals-block lines that are not a vertex normal where one is read (normal kept)");
            Count(r.texFaceLinesMissing, "list-short", r.texFaceStart, index, who,
                  "texture-face lines missing at the end of its lines");
            Count(r.vertexNormalLinesMissing, "list-short", r.faceNormalStart, index, who,
                  "vertex-normal lines missing at the end of its lines");
            Count(r.vertexNumbersOutside, "number-outside", r.faceStart, index, who,
                  "face corners whose vertex number is outside its vertex list (position left zero)");
            Count(r.texVertexNumbersOutside, "number-outside", r.texFaceStart, index, who,
                  "texture-face corners whose number is outside its texture-vertex list (left zero)");
        }
        for (const auto& [index, mesh] : ownMesh_) {
            const auto& seen = recorder_.counted[static_cast<std::size_t>(index)].seen;
            const std::string who =
                "object " + std::to_string(index) + " " + Quoted(report_.objects[static_cast<std::size_t>(index)].name);
            ListBreak(seen.vertexLines, mesh->mesh.vertices.size(), seen.vertexRunEnd, index, who, "vertex");
            ListBreak(seen.faceLines, mesh->mesh.faces.size(), seen.faceRunEnd, index, who, "face");
        }
    }

    void Count(std::int64_t n, const char* kind, std::int64_t at, std::int32_t object, const std::string& who,
               const std::string& what)
    {
        if (n > 0)
            Add(Severity::kWarning, kind, lines_.LineOf(at), object, who + ": " + std::to_string(n) + " " + what);
    }

    void ListBreak(std::int64_t read, std::size_t declared, std::int64_t end, std::int32_t object,
                   const std::string& who, const char* list)
    {
        if (read >= static_cast<std::int64_t>(declared) || end == PassObserver::kNone)
            return;
        Add(Severity::kWarning, "list-breaks", lines_.LineOf(end), object,
            who + ": its " + list + " list stops after " + std::to_string(read) + " of " + std::to_string(declared) +
                " lines, where the numbering or spacing of the exporter's layout breaks");
    }

    std::string_view ase_;
    LineIndex lines_;
    Recorder recorder_;
    LintReport report_;
    std::vector<const normalize::SceneNode*> meshes_;
    std::vector<std::pair<std::int32_t, const normalize::SceneNode*>> ownMesh_;
};

}  // namespace

LintReport Lint(std::string_view ase)
{
    return Linter(ase).Run();
}

bool LintReport::Clean() const
{
    return !refused && std::none_of(findings.begin(), findings.end(),
                                    [](const Finding& finding) { return finding.severity == Severity::kLoss; });
}

const char* SeverityName(Severity severity)
{
    switch (severity) {
    case Severity::kLoss: return "loss";
    case Severity::kWarning: return "warning";
    case Severity::kNote: return "note";
    }
    return "note";
}

std::string Plural(std::int64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string FormatText(const LintReport& report, std::string_view fileName)
{
    std::string out = std::string(fileName) + ": " + report.dialect + ", " + report.encoding + ", " + report.lineEnds +
                      " line ends; " + Plural(report.meshes, "mesh", "meshes") + ", " +
                      Plural(report.otherNodes, "other node", "other nodes") + "\n";
    if (report.refused)
        out += "  ase2sgl refuses it: " + report.refusal + "\n";
    else
        out += "  ase2sgl writes " + Plural(static_cast<std::int64_t>(report.objects.size()), "object", "objects") +
               (report.objects.empty() ? "\n" : ":\n");
    for (const LintObject& object : report.objects)
        out += "    " + std::to_string(object.index) + " " + Quoted(object.name) + ": " +
               Plural(object.vertices, "vertex", "vertices") + ", " +
               Plural(object.triangles, "triangle", "triangles") + ", lines " + std::to_string(object.firstLine) + "-" +
               std::to_string(object.lastLine) + ", name from line " + std::to_string(object.headerLine) + "\n";
    for (const Finding& finding : report.findings) {
        out += "  ";
        if (finding.line > 0)
            out += "line " + std::to_string(finding.line) + ": ";
        out += std::string(SeverityName(finding.severity)) + ": " + finding.message + " [" + finding.kind + "]\n";
    }
    if (report.Clean())
        out += "  every mesh becomes an object of its own under its own name\n";
    else if (report.ownObjects < report.meshes)
        out += "  " + std::to_string(report.meshes - report.ownObjects) + " of " +
               Plural(report.meshes, "mesh does", "meshes do") +
               " not become an object of their own under their own name\n";
    else
        out += "  not every mesh of the file is read (see the losses above)\n";
    return out;
}

nlohmann::ordered_json ToJson(const LintReport& report, std::string_view fileName)
{
    nlohmann::ordered_json json;
    json["file"] = std::string(fileName);
    json["dialect"] = report.dialect;
    json["encoding"] = report.encoding;
    json["lineEnds"] = report.lineEnds;
    json["meshes"] = report.meshes;
    json["otherNodes"] = report.otherNodes;
    json["ownObjects"] = report.ownObjects;
    json["clean"] = report.Clean();
    json["refused"] = report.refused;
    if (report.refused)
        json["refusal"] = report.refusal;
    json["objects"] = nlohmann::ordered_json::array();
    for (const LintObject& object : report.objects)
        json["objects"].push_back({{"index", object.index},
                                   {"name", object.name},
                                   {"vertices", object.vertices},
                                   {"triangles", object.triangles},
                                   {"headerLine", object.headerLine},
                                   {"firstLine", object.firstLine},
                                   {"lastLine", object.lastLine}});
    json["findings"] = nlohmann::ordered_json::array();
    for (const Finding& finding : report.findings) {
        nlohmann::ordered_json item = {{"severity", SeverityName(finding.severity)},
                                       {"kind", finding.kind},
                                       {"line", finding.line},
                                       {"message", finding.message}};
        if (finding.object >= 0)
            item["object"] = finding.object;
        json["findings"].push_back(std::move(item));
    }
    return json;
}

}  // namespace ase2sgl::lint
