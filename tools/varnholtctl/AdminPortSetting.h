// Where "varnholtctl status" finds the admin listener: edtAdminPort of
// Config/Config.ini in the [VarnholtServer] section, below the data root
// ($VARNHOLT_DATA_ROOT, else the current folder) as the gateway reads it.
// Parse does no I/O; Read reads the file. Main thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnholtctl {

class AdminPortSetting {
public:
    static constexpr const char* kSection = "VarnholtServer";
    static constexpr const char* kKey = "edtAdminPort";

    // The settings file's path below the data root.
    static std::string DefaultPath();
    // The key's value in an ini text: section and key names in any case,
    // blanks around them and the value ignored, ';' and '#' lines skipped.
    // Empty when the key is missing or not a whole decimal number.
    static std::optional<int> Parse(std::string_view iniText);
    // As Parse, from the file; error says why there is no port.
    static std::optional<int> Read(const std::string& path, std::string& error);
};

}  // namespace varnholtctl
