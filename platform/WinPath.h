// The one place where Windows paths (settings, defaults) become Linux paths.
//
//  - A path with a drive letter ("D:\\ServerLog\\") lives below the data
//    root, in a folder named after the drive: <root>/D/ServerLog/.
//  - A relative path ("Config\\Config.ini") stays relative to the current
//    directory: Config/Config.ini.
//  - Backslashes become slashes; a trailing separator is kept.
//
// The data root is $VARNHOLT_DATA_ROOT when set and not empty, otherwise the
// current directory, so the defaults work without root on a fresh machine.
// Paths that are already Linux paths (starting with '/') are left alone.
#pragma once

#include <string>

namespace plat {

inline constexpr const char* kDataRootVariable = "VARNHOLT_DATA_ROOT";

std::string DataRoot();
std::string TranslatePath(const std::string& windowsPath);
// Creates the folder and its parents; true when it exists afterwards.
bool EnsureDirectory(const std::string& path);
// File name of a companion program named as a Windows program: the suite's
// programs sit beside the executables without the extension
// ("DumpRunEnvironmentInfo.exe" -> "DumpRunEnvironmentInfo").
std::string ProgramFileName(const std::string& windowsName);

}  // namespace plat
