// The failures that end a conversion. Each carries the one line the driver
// prints after "Erreur: " (French, ASCII apart from the path's own bytes).
#pragma once

#include "../platform/error_text.h"  // relative: also from the installed ase2sgl/ folder

#include <stdexcept>
#include <string>
#include <string_view>

namespace ase2sgl {

struct ConversionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failed file operation: what() reads "impossible d'ouvrir scene.ase: No such
// file or directory", the action, the path and the system's message.
struct FileError : ConversionError {
    FileError(std::string_view action, std::string path_, int errorNumber_)
        : ConversionError(std::string(action) + " " + path_ + ": " + platform::ErrorText(errorNumber_)),
          path(std::move(path_)),
          errorNumber(errorNumber_)
    {
    }

    std::string path;
    int errorNumber;
};

// Input that this converter refuses to write a bundle for (too many objects,
// an object larger than the format can count): what() reads "scene.ase: <reason>,
// fichier refuse".
struct InputRefused : ConversionError {
    InputRefused(const std::string& path, std::string_view reason)
        : ConversionError(path + ": " + std::string(reason) + ", fichier refuse")
    {
    }
};

}  // namespace ase2sgl
