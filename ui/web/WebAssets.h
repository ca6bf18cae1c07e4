#pragma once

#include <string_view>

namespace harkwell {

// One file of the page, compiled into the binary (see EmbedPage.cmake).
struct WebAsset {
  std::string_view path;  // "/index.html", "/app.js", ...
  std::string_view contentType;
  std::string_view body;
};

// The embedded file served at `path` ("/" is the page itself), or null: no
// request path ever reaches the file system. Any thread.
const WebAsset* findWebAsset(std::string_view path);

}  // namespace harkwell
