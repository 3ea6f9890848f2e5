// Which file a path names, as the host tells files apart: the checks that keep a
// conversion from writing over its own input, and from writing into the folders
// where a host keeps its devices and processes rather than files.
#pragma once

#include <string>

namespace ase2sgl::platform {

// True when both paths name one existing file, whatever the links or spellings
// that lead to it: the same device and inode on POSIX, the same volume serial
// number and file index on Windows. False when either cannot be looked at.
bool SameFile(const std::string& first, const std::string& second);

// True when `path` names what standard output writes to and that is not a regular
// file (a pipe, a terminal, a device): the bundle written there would meet the
// console lines on the same stream.
bool IsStandardOutput(const std::string& path);

// True when `path` lies in a folder that holds the host's devices or processes
// rather than files: /dev, /proc and /sys (with links in the folder part followed,
// relative paths taken from the current folder) on POSIX, the \\.\ device
// namespace on Windows.
bool InSystemFolder(const std::string& path);

}  // namespace ase2sgl::platform
