#include "platform/FileText.h"

namespace platform {

std::string ToLogFileText(std::string_view utf8) {
    return std::string(utf8);
}

}  // namespace platform
