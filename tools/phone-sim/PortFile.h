// The file through which the viewer finds the relay: the port in decimal (digits only, no
// newline) in $XDG_RUNTIME_DIR/mrouter/relay.port, or /tmp/mrouter-<uid>/relay.port when
// XDG_RUNTIME_DIR is unset or empty. The directory is created with mode 0700. The file is
// written under a temporary name and renamed, so a reader never sees it half written, and it
// is removed when the owner goes away (unless another relay has replaced it meanwhile).
#pragma once

#include <cstdint>
#include <string>

namespace phonesim {

// The default path; creates its directory. Empty on failure, with *error set.
std::string DefaultPortFilePath(std::string* error);

class PortFile {
public:
    PortFile() = default;
    PortFile(const PortFile&) = delete;
    PortFile& operator=(const PortFile&) = delete;
    ~PortFile() { Remove(); }

    bool Publish(const std::string& path, std::uint16_t port, std::string* error);
    void Remove();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string content_;
};

}  // namespace phonesim
