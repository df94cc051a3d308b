#include "platform/Paths.h"

#include "platform/FileIo.h"

namespace platform {

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() &&
        std::string_view(kPathSeparators).find(out.back()) == std::string_view::npos) {
        out += kPathSeparator;
    }
    out += name;
    return out;
}

}  // namespace platform
