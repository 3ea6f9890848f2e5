// The benchmark scene generator. Values are written with four decimals, the way the
// exporter prints floats; list numbers are "%4d" for vertex and face lines and
// plain for texture and normal lines.
#include "ase_generator.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace ase2sgl::bench {

namespace {

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next()  // splitmix64
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::int64_t Between(std::int64_t low, std::int64_t high)  // inclusive
    {
        return low + static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(high - low + 1));
    }

  private:
    std::uint64_t state_;
};

// Accumulates text and hands it to a FILE or a string in large pieces.
class Writer {
  public:
    Writer(bool crlf, std::FILE* file, std::string* text) : crlf_(crlf), file_(file), text_(text) {}
    ~Writer() { Flush(); }

    Writer& Put(std::string_view s)
    {
        buffer_.append(s);
        return *this;
    }
    Writer& Int(std::int64_t value, int width = 0)
    {
        char digits[24];
        const int n = std::snprintf(digits, sizeof digits, "%*lld", width, static_cast<long long>(value));
        buffer_.append(digits, static_cast<std::size_t>(n));
        return *this;
    }
    // A value in ten-thousandths, printed as "%.4f" prints value / 10000.
    Writer& Fixed4(std::int64_t tenThousandths)
    {
        if (tenThousandths < 0) {
            buffer_ += '-';
            tenThousandths = -tenThousandths;
        }
        Int(tenThousandths / 10000);
        char fraction[5];
        std::int64_t rest = tenThousandths % 10000;
        for (int i = 3; i >= 0; --i, rest /= 10)
            fraction[i] = static_cast<char>('0' + rest % 10);
        buffer_ += '.';
        buffer_.append(fraction, 4);
        return *this;
    }
    void EndLine()
    {
        buffer_.append(crlf_ ? "\r\n" : "\n");
        if (buffer_.size() >= (1u << 20))
            Flush();
    }
    void Line(std::string_view s)
    {
        Put(s);
        EndLine();
    }
    std::uint64_t Written() const { return written_ + buffer_.size(); }
    void Flush()
    {
        if (file_ != nullptr)
            std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
        else
            text_->append(buffer_);
        written_ += buffer_.size();
        buffer_.clear();
    }

  private:
    bool crlf_;
    std::FILE* file_;
    std::string* text_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};

struct MeshShape {
    std::int64_t faces = 0;
    std::int64_t vertices = 0;
    std::int64_t texVertices = 0;  // 0: no texture lists
    bool normals = true;
};

class SceneWriter {
  public:
    SceneWriter(const GeneratorOptions& options, Writer& out) : options_(options), out_(out), random_(options.seed) {}

    GeneratedScene stats;

    void Run()
    {
        Header();
        if (options_.layout == Layout::kRealistic)
            Realistic();
        else if (options_.layout == Layout::kOneObject)
            OneObject();
        else
            Adversarial();
    }

  private:
    bool Full() const { return out_.Written() >= options_.targetBytes; }

    void Realistic()
    {
        for (std::int64_t object = 0; !Full() && object < 4900; ++object) {
            if (object % 20 == 19)
                HelperNode(object);
            MeshShape shape;
            shape.faces = random_.Between(200, 8000);
            shape.vertices = shape.faces / 2 + 2;
            shape.texVertices = shape.vertices + shape.vertices / 5 + random_.Between(0, 50);
            Mesh(object, shape);
        }
    }

    // About 410 bytes a face with the realistic proportions (half a vertex and 0.6
    // texture vertices a face, four normal lines, one face and one texture-face line).
    void OneObject()
    {
        MeshShape shape;
        shape.faces = std::max<std::int64_t>(1, static_cast<std::int64_t>(options_.targetBytes / 410));
        shape.vertices = shape.faces / 2 + 2;
        shape.texVertices = shape.vertices + shape.vertices / 5;
        Mesh(0, shape);
    }

    void Adversarial()
    {
        Mesh(0, MeshShape{21845, 11000, 12500, true});
        std::int64_t helper = 0;
        for (std::int64_t object = 1; !Full() && object < 4900; ++object) {
            if (object % 40 == 1) {
                for (int i = 0; i < 1000; ++i)
                    HelperNode(helper++);
            }
            MeshShape shape;
            shape.faces = random_.Between(500, 3000);
            shape.vertices = shape.faces / 2 + 2;
            switch (object % 4) {
            case 0:
                shape.texVertices = shape.vertices + 7;
                shape.normals = false;
                break;
            case 1: shape.texVertices = 0; break;
            case 2:
                shape.texVertices = 0;
                shape.normals = false;
                break;
            default: shape.texVertices = shape.vertices + 7; break;
            }
            Mesh(object, shape);
        }
    }

    void Header()
    {
        out_.Line("*3DSMAX_ASCIIEXPORT\t200");
        out_.Line("*COMMENT \"AsciiExport Version  2.00 - benchmark scene\"");
        out_.Line("*SCENE {");
        out_.Line("\t*SCENE_FILENAME \"bench.scene\"");
        out_.Line("\t*SCENE_FIRSTFRAME 0");
        out_.Line("\t*SCENE_LASTFRAME 100");
        out_.Line("}");
    }

    void NodeTm(std::string_view name)
    {
        out_.Put("\t*NODE_NAME \"").Put(name).Put("\"");
        out_.EndLine();
        out_.Line("\t*NODE_TM {");
        out_.Put("\t\t*NODE_NAME \"").Put(name).Put("\"");
        out_.EndLine();
        out_.Line("\t\t*INHERIT_POS 0 0 0");
        out_.Line("\t\t*TM_ROW0 1.0000\t0.0000\t0.0000");
        out_.Line("\t\t*TM_ROW1 0.0000\t1.0000\t0.0000");
        out_.Line("\t\t*TM_ROW2 0.0000\t0.0000\t1.0000");
        out_.Line("\t\t*TM_ROW3 0.0000\t0.0000\t0.0000");
        out_.Line("\t}");
    }

    void HelperNode(std::int64_t number)
    {
        out_.Line("*HELPEROBJECT {");
        NodeTm("Dummy" + std::to_string(number));
        out_.Line("\t*HELPER_CLASS \"Dummy\"");
        out_.Line("}");
    }

    std::int64_t Coordinate() { return random_.Between(-20'000'000, 20'000'000); }  // +-2000.0000
    std::int64_t Unit() { return random_.Between(-10'000, 10'000); }                // +-1.0000

    void Triple(std::int64_t a, std::int64_t b, std::int64_t c)
    {
        out_.Put("\t").Fixed4(a).Put("\t").Fixed4(b).Put("\t").Fixed4(c);
        out_.EndLine();
    }

    void Mesh(std::int64_t object, const MeshShape& shape)
    {
        const auto arrays =
            static_cast<std::uint64_t>(32 * (std::max(shape.vertices, shape.texVertices) + 3 * shape.faces));
        stats.largestObjectArrayBytes = std::max(stats.largestObjectArrayBytes, arrays);
        ++stats.objects;
        out_.Line("*GEOMOBJECT {");
        NodeTm("Object" + std::to_string(object));
        out_.Line("\t*MESH {");
        out_.Line("\t\t*TIMEVALUE 0");
        out_.Put("\t\t*MESH_NUMVERTEX ").Int(shape.vertices).EndLine();
        out_.Put("\t\t*MESH_NUMFACES ").Int(shape.faces).EndLine();
        out_.Line("\t\t*MESH_VERTEX_LIST {");
        for (std::int64_t v = 0; v < shape.vertices; ++v) {
            out_.Put("\t\t\t*MESH_VERTEX ").Int(v, 4);
            Triple(Coordinate(), Coordinate(), Coordinate());
        }
        out_.Line("\t\t}");
        out_.Line("\t\t*MESH_FACE_LIST {");
        std::vector<std::int64_t> corners(3 * static_cast<std::size_t>(shape.faces));
        for (std::int64_t f = 0; f < shape.faces; ++f) {
            out_.Put("\t\t\t*MESH_FACE ").Int(f, 4).Put(":");
            static constexpr std::string_view kLabels[3] = {"    A:", " B:", " C:"};
            for (int i = 0; i < 3; ++i) {
                const std::int64_t vertex = random_.Between(0, shape.vertices - 1);
                corners[static_cast<std::size_t>(3 * f + i)] = vertex;
                out_.Put(kLabels[i]).Int(vertex, 5);
            }
            out_.Put(" AB:    1 BC:    1 CA:    0\t *MESH_SMOOTHING ").Int(random_.Between(0, 8));
            out_.Put(" \t*MESH_MTLID ").Int(random_.Between(0, 3)).EndLine();
        }
        out_.Line("\t\t}");
        if (shape.texVertices > 0) {
            out_.Put("\t\t*MESH_NUMTVERTEX ").Int(shape.texVertices).EndLine();
            out_.Line("\t\t*MESH_TVERTLIST {");
            for (std::int64_t t = 0; t < shape.texVertices; ++t) {
                out_.Put("\t\t\t*MESH_TVERT ").Int(t);
                Triple(random_.Between(-2'000, 12'000), random_.Between(-2'000, 12'000), 0);
            }
            out_.Line("\t\t}");
            out_.Put("\t\t*MESH_NUMTVFACES ").Int(shape.faces).EndLine();
            out_.Line("\t\t*MESH_TFACELIST {");
            for (std::int64_t f = 0; f < shape.faces; ++f) {
                out_.Put("\t\t\t*MESH_TFACE ").Int(f);
                for (int i = 0; i < 3; ++i)
                    out_.Put("\t").Int(random_.Between(0, shape.texVertices - 1));
                out_.EndLine();
            }
            out_.Line("\t\t}");
        }
        out_.Line("\t\t*MESH_NUMCVERTEX 0");
        if (shape.normals) {
            out_.Line("\t\t*MESH_NORMALS {");
            for (std::int64_t f = 0; f < shape.faces; ++f) {
                out_.Put("\t\t\t*MESH_FACENORMAL ").Int(f);
                Triple(Unit(), Unit(), Unit());
                for (int i = 0; i < 3; ++i) {
                    out_.Put("\t\t\t\t*MESH_VERTEXNORMAL ").Int(corners[static_cast<std::size_t>(3 * f + i)]);
                    Triple(Unit(), Unit(), Unit());
                }
            }
            out_.Line("\t\t}");
        }
        out_.Line("\t}");
        out_.Line("\t*PROP_MOTIONBLUR 0");
        out_.Line("\t*PROP_CASTSHADOW 1");
        out_.Line("\t*PROP_RECVSHADOW 1");
        out_.Put("\t*MATERIAL_REF ").Int(object % 7).EndLine();
        out_.Line("}");
    }

    const GeneratorOptions& options_;
    Writer& out_;
    Random random_;
};

}  // namespace

GeneratedScene GenerateAse(const GeneratorOptions& options, std::FILE* out)
{
    Writer writer(options.crlf, out, nullptr);
    SceneWriter scene(options, writer);
    scene.Run();
    writer.Flush();
    scene.stats.bytes = writer.Written();
    return scene.stats;
}

std::string GenerateAse(const GeneratorOptions& options)
{
    std::string text;
    {
        Writer writer(options.crlf, nullptr, &text);
        SceneWriter(options, writer).Run();
    }
    return text;
}

}  // namespace ase2sgl::bench
