// `zaf pack`: a manifest of entries (NAME TYPE SOURCE [WxH]) turned into archive items.
#pragma once

#include <string>
#include <vector>

#include "tools/zaf/zaf_archive.h"

namespace zaf {

// Sources are looked up beside the manifest, then in each include folder in order. Throws
// Error "MANIFEST:LINE: reason" for the first bad line or source.
std::vector<PackItem> Manifest_Load(const std::string &manifest,
                                    const std::vector<std::string> &include_dirs);

}  // namespace zaf
