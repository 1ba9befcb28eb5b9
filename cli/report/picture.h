// Pictures for the report's page, as PNG bytes from libavcodec's encoder.
#pragma once

#include <string>

#include "core/frame.h"
#include "pluginhost/status.h"

// The frame as it is.
Status encodePng(const ConstFrame& frame, std::string& png);

// A thumbnail of `picture` at most kThumbnailWidth wide, dimmed, with every
// thumbnail pixel that covers a hot one (where the hot pixel scan's output
// `scanned`, with its to-black action, differs from `picture`) in magenta.
inline constexpr int32_t kThumbnailWidth = 480;
Status thumbnailPng(const ConstFrame& picture, const ConstFrame& scanned, std::string& png);

// RFC 4648 base64, for data: URIs.
std::string base64(const std::string& bytes);
