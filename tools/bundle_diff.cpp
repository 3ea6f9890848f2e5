// Bundle comparison. Objects pair up by name (the k-th object of a name in A with
// the k-th of that name in B); left-overs at the same index with the same vertex
// count are a rename; what is still left was removed from A or added in B.
#include "tools/bundle_diff.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace ase2sgl::tools {

namespace {

double Difference(float a, float b)
{
    if (std::isnan(a) && std::isnan(b))
        return 0;
    if (a == b)  // also equal infinities
        return 0;
    if (!std::isfinite(a) || !std::isfinite(b))
        return INFINITY;
    return std::abs(double(a) - double(b));
}

LargestDifference Compare(const bundle::PackedFloats& a, const bundle::PackedFloats& b, int components)
{
    LargestDifference largest;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double amount = Difference(a[i], b[i]);
        if (amount > largest.amount || (largest.vertex < 0 && amount > 0)) {
            largest.amount = amount;
            largest.vertex = static_cast<std::int64_t>(i) / components;
            largest.component = static_cast<int>(i % static_cast<std::size_t>(components));
        }
    }
    return largest;
}

void CompareValues(const bundle::Object& a, const bundle::Object& b, ObjectPair& pair)
{
    pair.vertexCountChanged = a.vertexCount != b.vertexCount;
    if (pair.vertexCountChanged)
        return;
    pair.positions = Compare(a.positions, b.positions, 3);
    pair.normals = Compare(a.normals, b.normals, 3);
    pair.texcoords = Compare(a.texcoords, b.texcoords, 2);
}

std::string Where(const LargestDifference& difference, const char* axes)
{
    char text[96];
    std::snprintf(text, sizeof text, "%g at vertex %lld (%c)", difference.amount,
                  static_cast<long long>(difference.vertex), axes[difference.component]);
    return text;
}

bool Beyond(const LargestDifference& difference, double tolerance)
{
    return difference.vertex >= 0 && !(difference.amount <= tolerance);
}

}  // namespace

bool BundleDiff::Equal(double tolerance) const
{
    if (identicalBytes)
        return true;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const ObjectPair& pair = pairs[i];
        if (pair.indexA < 0 || pair.indexB < 0 || pair.renamed || pair.vertexCountChanged || pair.indexA != pair.indexB)
            return false;
        if (Beyond(pair.positions, tolerance) || Beyond(pair.normals, tolerance) || Beyond(pair.texcoords, tolerance))
            return false;
    }
    return true;
}

BundleDiff DiffBundles(const LoadedBundle& a, const LoadedBundle& b)
{
    BundleDiff diff;
    const auto bytesA = a.file.Bytes(), bytesB = b.file.Bytes();
    diff.identicalBytes = bytesA.size() == bytesB.size() &&
                          (bytesA.empty() || std::memcmp(bytesA.data(), bytesB.data(), bytesA.size()) == 0);
    if (diff.identicalBytes)
        return diff;

    // B's objects by name, in order, to pair with A's.
    std::map<std::string_view, std::vector<std::size_t>> byName;
    for (std::size_t j = b.objects.size(); j-- > 0;)
        byName[b.objects[j].name].push_back(j);  // reversed: the first is at the back
    std::vector<bool> pairedB(b.objects.size(), false);
    for (std::size_t i = 0; i < a.objects.size(); ++i) {
        ObjectPair pair;
        pair.indexA = static_cast<std::int64_t>(i);
        auto found = byName.find(a.objects[i].name);
        if (found != byName.end() && !found->second.empty()) {
            pair.indexB = static_cast<std::int64_t>(found->second.back());
            pairedB[found->second.back()] = true;
            found->second.pop_back();
        }
        diff.pairs.push_back(pair);
    }
    for (ObjectPair& pair : diff.pairs) {
        const auto i = static_cast<std::size_t>(pair.indexA);
        if (pair.indexB < 0 && i < b.objects.size() && !pairedB[i] &&
            a.objects[i].vertexCount == b.objects[i].vertexCount) {
            pair.indexB = pair.indexA;
            pair.renamed = true;
            pairedB[i] = true;
        }
        if (pair.indexB >= 0)
            CompareValues(a.objects[i], b.objects[static_cast<std::size_t>(pair.indexB)], pair);
    }
    for (std::size_t j = 0; j < b.objects.size(); ++j)
        if (!pairedB[j]) {
            ObjectPair added;
            added.indexB = static_cast<std::int64_t>(j);
            diff.pairs.push_back(added);
        }
    return diff;
}

void PrintDiff(const BundleDiff& diff, const LoadedBundle& a, const LoadedBundle& b, double tolerance,
               std::ostream& out)
{
    if (diff.identicalBytes) {
        out << a.path << " and " << b.path << " are identical\n";
        return;
    }
    if (diff.Equal(tolerance)) {
        double largest = 0;
        for (const ObjectPair& pair : diff.pairs)
            largest = std::max({largest, pair.positions.amount, pair.normals.amount, pair.texcoords.amount});
        out << a.path << " and " << b.path << " are equal within " << tolerance << " (largest difference " << largest
            << ")\n";
        return;
    }
    out << a.path << " and " << b.path << " differ:\n";
    auto name = [](const LoadedBundle& bundle, std::int64_t index) {
        return DisplayName(bundle.objects[static_cast<std::size_t>(index)].name);
    };
    auto vertices = [](const LoadedBundle& bundle, std::int64_t index) {
        return std::to_string(bundle.objects[static_cast<std::size_t>(index)].vertexCount);
    };
    for (const ObjectPair& pair : diff.pairs) {
        if (pair.indexB < 0) {
            out << "  removed  " << name(a, pair.indexA) << " (object " << pair.indexA << ", "
                << vertices(a, pair.indexA) << " vertices)\n";
            continue;
        }
        if (pair.indexA < 0) {
            out << "  added    " << name(b, pair.indexB) << " (object " << pair.indexB << ", "
                << vertices(b, pair.indexB) << " vertices)\n";
            continue;
        }
        const std::string label = name(a, pair.indexA);
        if (pair.renamed)
            out << "  renamed  " << label << " -> " << name(b, pair.indexB) << " (object " << pair.indexA << ")\n";
        if (pair.indexA != pair.indexB && !pair.renamed)
            out << "  moved    " << label << " from object " << pair.indexA << " to object " << pair.indexB << "\n";
        if (pair.vertexCountChanged) {
            out << "  changed  " << label << ": vertex count " << vertices(a, pair.indexA) << " -> "
                << vertices(b, pair.indexB) << "\n";
            continue;
        }
        std::string changes;
        const struct {
            const char* what;
            const LargestDifference& difference;
            const char* axes;
        } arrays[] = {{"positions", pair.positions, "xyz"},
                      {"normals", pair.normals, "xyz"},
                      {"texcoords", pair.texcoords, "uv"}};
        for (const auto& array : arrays)
            if (Beyond(array.difference, tolerance))
                changes += std::string(changes.empty() ? "" : ", ") + array.what + " by up to " +
                           Where(array.difference, array.axes);
        if (!changes.empty())
            out << "  changed  " << label << ": " << changes << "\n";
    }
}

}  // namespace ase2sgl::tools
