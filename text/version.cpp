#include "text/version.h"

std::string version_text(const std::string& tool) {
    std::string text = tool + " " + OTA_VERSION;
    if (OTA_COMMIT[0] != '\0') text += std::string("\ncommit ") + OTA_COMMIT;
    return text;
}
