#include "platform/FileText.h"

#include "platform/WideText.h"

namespace platform {

std::string ToLogFileText(std::string_view utf8) {
    return AnsiFromUtf8(utf8);
}

}  // namespace platform
