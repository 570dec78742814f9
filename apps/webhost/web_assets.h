#pragma once
// The page files the host serves, built into the program from
// apps/webhost/web/ so that it needs no files beside it.

#include <cstddef>
#include <string_view>

namespace lumvara::webhost {

struct WebAsset {
  const char* path;         // "/index.html"
  const char* contentType;  // "text/html; charset=utf-8"
  const char* data;
  size_t size;
};

// The asset served at `path`, or null.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace lumvara::webhost
