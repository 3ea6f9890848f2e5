// The reference converter: the two reads written out step by step with no shortcut
// (every search reads every line, every run reads to its end), over the whole input
// held as one string; the second read takes each object from the vertex-start line
// the first read found for it, and ends its input at the next object's. Slow on
// purpose: it is the yardstick the fast converter is compared with, byte for byte.
#include "support/reference_converter.h"

#include "ase/keys.h"
#include "ase/line_source.h"
#include "support/key_format.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace ase2sgl::testing {

namespace {

// Text-mode reading: LF ends a line (a CR just before it is dropped), 0x1A ends the
// input and the position stays on it.
class TextReader {
  public:
    explicit TextReader(std::string_view data) : data_(data) {}

    bool ReadLine(std::string& line)
    {
        line.clear();
        if (pos_ >= limit_)
            return false;
        std::size_t end = pos_;
        while (end < data_.size() && data_[end] != '\n' && data_[end] != '\x1A')
            ++end;
        if (end < data_.size() && data_[end] == '\n') {
            line.assign(data_.substr(pos_, end - pos_));
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pos_ = end + 1;
            return true;
        }
        line.assign(data_.substr(pos_, end - pos_));
        pos_ = end;
        return !line.empty();
    }
    std::size_t Tell() const { return pos_; }
    void SeekTo(std::size_t pos) { pos_ = pos; }
    // Reads at or past `limit` find the end of the input.
    void SetLimit(std::size_t limit) { limit_ = limit; }

  private:
    std::string_view data_;
    std::size_t pos_ = 0;
    std::size_t limit_ = std::string_view::npos;
};

std::string Key(std::string_view format, std::int64_t n)
{
    std::string key;
    FormatKey(key, format, n);
    return key;
}

unsigned char Upper(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<unsigned char>(c - 0x20);
    if (c == 0x9A || c == 0x9C || c == 0x9E)
        return static_cast<unsigned char>(c - 0x10);
    return c == 0xFF ? 0x9F : c;
}

struct Object {
    std::string objectName;  // header line from byte 11, upper-cased
    std::int64_t vertexCount = 0, cornerCount = 0;
    std::vector<float> pool;     // 8 floats per entry
    std::vector<float> corners;  // 8 floats per corner
    std::int64_t geometryCorners = 0;
    std::size_t vertexStart = 0;  // where the counting found its vertex-start line
};

void Count(TextReader& in, std::vector<Object>& objects)
{
    std::string line, key;
    if (!in.ReadLine(line))
        return;
    for (;;) {
        if (StartsWith(line, keys::kNodeHeader)) {
            Object object;
            object.objectName = line.substr(11);
            for (char& c : object.objectName)
                c = static_cast<char>(Upper(static_cast<unsigned char>(c)));
            key = keys::kVertexStart;
            bool ended = false;
            std::size_t lineStart = 0;
            while (!StartsWith(line, key)) {
                lineStart = in.Tell();
                if (!in.ReadLine(line)) {
                    ended = true;
                    break;
                }
            }
            if (ended)
                return;  // a trailing header without a mesh is dropped
            object.vertexStart = lineStart;
            bool more = true;
            while (StartsWith(line, key)) {
                key = Key(keys::kVertex, ++object.vertexCount);
                if (!in.ReadLine(line)) {
                    more = false;
                    break;
                }
            }
            if (more && in.ReadLine(line)) {
                key = keys::kFaceStart;
                bool found = true;
                while (!StartsWith(line, key)) {
                    if (!in.ReadLine(line)) {
                        found = false;
                        break;
                    }
                }
                if (found) {
                    bool faceMore = true;
                    while (StartsWith(line, key)) {
                        object.cornerCount += 3;
                        key = Key(keys::kFace, object.cornerCount / 3);
                        if (!in.ReadLine(line)) {
                            faceMore = false;
                            break;
                        }
                    }
                    if (faceMore && in.ReadLine(line)) {
                        key = keys::kTexVertexStart;
                        for (;;) {
                            if (StartsWith(line, keys::kNormalsBlock))
                                break;
                            if (StartsWith(line, key)) {
                                std::int64_t t = 0;
                                do {
                                    in.ReadLine(line);
                                    key = Key(keys::kTexVertex, ++t);
                                } while (StartsWith(line, key));
                                object.vertexCount = std::max(object.vertexCount, t);
                                break;
                            }
                            if (!in.ReadLine(line))
                                break;
                        }
                    }
                }
            }
            if (objects.size() == 5000)
                throw std::runtime_error("more than 5000 objects");
            objects.push_back(std::move(object));
        }
        if (!in.ReadLine(line))
            return;
    }
}

// Writes `value` into float `field` of record `index` of `array`, if that record exists.
float* Field(std::vector<float>* array, std::int64_t index, int field)
{
    if (array == nullptr || index < 0 || static_cast<std::uint64_t>(index) >= array->size() / 8)
        return nullptr;
    return &(*array)[static_cast<std::size_t>(index) * 8 + static_cast<std::size_t>(field)];
}

void ScanInto(const std::string& line, std::string_view format, std::int32_t* discard, float* a, float* b, float* c)
{
    float ta = a ? *a : 0, tb = b ? *b : 0, tc = c ? *c : 0;
    if (discard != nullptr)
        ScanLine(line, format, {*discard, ta, tb, tc});
    else
        ScanLine(line, format, {ta, tb, tc});
    if (a)
        *a = ta;
    if (b)
        *b = tb;
    if (c)
        *c = tc;
}

void Fill(TextReader& in, std::vector<Object>& objects)
{
    std::string line, key, format;
    std::int32_t A = 0, B = 0, C = 0, TA = 0, TB = 0, TC = 0, discard = 0;
    for (std::size_t objectNumber = 0; objectNumber < objects.size(); ++objectNumber) {
        // Each object from its own vertex-start line, up to the next object's.
        Object* object = &objects[objectNumber];
        in.SetLimit(objectNumber + 1 < objects.size() ? objects[objectNumber + 1].vertexStart : std::string_view::npos);
        in.SeekTo(object->vertexStart);
        key = keys::kVertexStart;
        if (!in.ReadLine(line) || !StartsWith(line, key))
            continue;
        const std::size_t saved = in.Tell();
        std::vector<float>* pool = &object->pool;
        std::vector<float>* corners = &object->corners;
        // Vertices.
        std::int64_t v = 0;
        while (StartsWith(line, key)) {
            format = Key(keys::kVertexScan, v);
            ScanInto(line, format, nullptr, Field(pool, v, 0), Field(pool, v, 2), Field(pool, v, 1));
            key = Key(keys::kVertex, ++v);
            if (!in.ReadLine(line))
                break;
        }
        // Texture vertices, read ahead.
        bool textured = false;
        key = keys::kTexVertexStart;
        if (in.ReadLine(line)) {
            for (;;) {
                if (StartsWith(line, keys::kNormalsBlock))
                    break;
                if (StartsWith(line, key)) {
                    textured = true;
                    std::int64_t t = 0;
                    do {
                        ScanInto(line, keys::kTexVertexScan, &discard, Field(pool, t, 6), Field(pool, t, 7), nullptr);
                        if (float* vField = Field(pool, t, 7))
                            *vField = -*vField;
                        in.ReadLine(line);
                        key = Key(keys::kTexVertex, ++t);
                    } while (StartsWith(line, key));
                    break;
                }
                if (!in.ReadLine(line))
                    break;
            }
        }
        // Back to the line after the vertex-start line.
        in.SeekTo(saved);
        // Faces.
        std::int64_t k = 0;
        key = keys::kFaceStart;
        bool inFaces = false;
        while (in.ReadLine(line)) {
            if (StartsWith(line, key)) {
                inFaces = true;
                break;
            }
        }
        while (inFaces && StartsWith(line, key)) {
            format = Key(keys::kFaceScan, k / 3);
            ScanLine(line, format, {A, B, C});
            const std::int32_t vertices[3] = {A, B, C};
            for (int i = 0; i < 3; ++i)
                for (int f = 0; f < 3; ++f)
                    if (float* to = Field(corners, k + i, f))
                        if (const float* from = Field(pool, vertices[i], f))
                            *to = *from;
            k += 3;
            key = Key(keys::kFace, k / 3);
            if (!in.ReadLine(line))
                break;
        }
        const std::int64_t n = k / 3;
        // Texture faces (each search begins with a read, which at the end of
        // the input finds nothing).
        if (inFaces && textured) {
            key = keys::kTexFaceStart;
            while (in.ReadLine(line)) {
                if (StartsWith(line, keys::kNormalsBlock))
                    break;
                if (StartsWith(line, key)) {
                    for (std::int64_t f = 0; f < n; ++f) {
                        ScanLine(line, keys::kTexFaceScan, {discard, TA, TB, TC});
                        const std::int32_t texVertices[3] = {TA, TB, TC};
                        for (int i = 0; i < 3; ++i)
                            for (int c = 6; c < 8; ++c)
                                if (float* to = Field(corners, 3 * f + i, c))
                                    if (const float* from = Field(pool, texVertices[i], c))
                                        *to = *from;
                        in.ReadLine(line);
                    }
                    break;
                }
            }
        }
        // Normals.
        if (inFaces) {
            key = keys::kFaceNormalStart;
            bool normals = false;
            while (in.ReadLine(line)) {
                if (StartsWith(line, key)) {
                    normals = true;
                    break;
                }
            }
            for (std::int64_t f = 0; normals && f < n; ++f) {
                for (int i = 0; i < 3; ++i) {
                    in.ReadLine(line);
                    ScanInto(line, keys::kVertexNormalScan, &discard, Field(corners, 3 * f + i, 3),
                             Field(corners, 3 * f + i, 5), Field(corners, 3 * f + i, 4));
                }
                in.ReadLine(line);
            }
        }
        object->geometryCorners = k;
    }
}

void Append32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendFloat(std::string& out, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    Append32(out, bits);
}

}  // namespace

std::string ReferenceConvert(std::string_view ase)
{
    TextReader in(ase);
    std::vector<Object> objects;
    Count(in, objects);
    for (Object& object : objects) {
        object.pool.assign(static_cast<std::size_t>(object.vertexCount) * 8, 0.0f);
        object.corners.assign(static_cast<std::size_t>(object.cornerCount) * 8, 0.0f);
    }
    in.SeekTo(0);
    Fill(in, objects);

    std::string out;
    Append32(out, static_cast<std::uint32_t>(objects.size()));
    for (const Object& object : objects) {
        std::string field(255, '\0');
        const std::string& name = object.objectName;
        if (name.size() >= 3)
            std::memcpy(field.data(), name.data() + 2, std::min<std::size_t>(name.size() - 3, 254));
        out += field;
        const std::int64_t n = std::min(object.geometryCorners, object.cornerCount);
        Append32(out, static_cast<std::uint32_t>(n));
        const auto corner = [&](std::int64_t k, int f) { return object.corners[static_cast<std::size_t>(k * 8 + f)]; };
        for (std::int64_t k = 0; k < n; ++k)
            for (int f = 0; f < 3; ++f)
                AppendFloat(out, corner(k, f));
        for (std::int64_t k = 0; k < n; ++k)
            for (int f = 3; f < 6; ++f)
                AppendFloat(out, corner(k, f));
        for (std::int64_t k = 0; k < n; ++k) {
            AppendFloat(out, corner(k, 6));
            AppendFloat(out, -corner(k, 7));
        }
    }
    return out;
}

}  // namespace ase2sgl::testing
