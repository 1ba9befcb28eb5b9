// Where a run's output goes: the writer -f, --null or the output's name
// picks; with no name, one made from the input and the display.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "input/input.h"
#include "options/options.h"
#include "output/output.h"
#include "run/read_rules.h"

// `displayName` goes into a made-up name; `pictureAspect`: the output keeps
// the picture's sample aspect ratio; `frame`: the output frames' geometry.
Status openOutput(const Options& options, const SourceInfo& info, const std::optional<FileId>& source,
                  const std::string& displayName, bool pictureAspect, const Plan& plan,
                  const FrameBuffer& frame, const OutputFormat*& format, std::unique_ptr<Writer>& writer);
