#include "text/paths.h"

std::string_view path_separators(PathStyle style) { return style == PathStyle::windows ? "/\\:" : "/"; }

PathParts split_path(const std::string& path, PathStyle style) {
    size_t end = path.find_last_of(path_separators(style));
    if (end == std::string::npos) return {"", path};
    return {path.substr(0, end + 1), path.substr(end + 1)};
}
