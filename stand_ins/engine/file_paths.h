// Path helpers: the stand-in's configuration comes from environment
// variables that test scripts on the Unix side fill in.
#ifndef STAND_INS_ENGINE_FILE_PATHS_H_
#define STAND_INS_ENGINE_FILE_PATHS_H_

#include <string>

namespace stand_in {

// Returns the Windows path named by environment variable `name`, or an
// empty string when it is unset. A Unix absolute path ("/tmp/x") becomes
// "Z:\tmp\x", where a default Wine prefix maps the Unix root.
std::wstring PathFromEnvironment(const wchar_t* name);

// Returns `path` unchanged when it is absolute, else joined to the directory
// of the running executable (where a shipped bundle keeps its data folder).
std::wstring ResolveBesideExecutable(const std::wstring& path);

// Returns true when `path` names an existing directory.
bool DirectoryExists(const std::wstring& path);

// Reads a whole file as bytes; false when it cannot be read.
bool ReadWholeFile(const std::wstring& path, std::string* contents);

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_FILE_PATHS_H_
