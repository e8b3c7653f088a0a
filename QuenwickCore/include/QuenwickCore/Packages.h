#pragma once

#include <string_view>

// The folder extensions that mark a package (an app bundle, a photo library, ...). Pure.
namespace quenwick::Packages {

// True when the name has an extension (text after the last ".", that "." not being the first
// character) that, lower-cased, is one of the package extensions.
[[nodiscard]] bool isPackageName(std::string_view name);

}  // namespace quenwick::Packages
