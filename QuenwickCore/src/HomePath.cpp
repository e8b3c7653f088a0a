#include "QuenwickCore/HomePath.h"

namespace quenwick {

std::string abbreviatingHome(const std::string& path, std::string home) {
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    if (home.size() <= 1) return path;
    if (path == home) return "~";
    if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 &&
        path[home.size()] == '/') {
        return "~" + path.substr(home.size());
    }
    return path;
}

}  // namespace quenwick
