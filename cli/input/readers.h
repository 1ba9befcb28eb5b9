// The readers of the input table, one file each. Only input.cpp lists them.
#pragma once

#include "input/input.h"

Status openMediaReader(const ReaderParams& params, std::unique_ptr<Reader>& reader);
Status openTestCardReader(const ReaderParams& params, std::unique_ptr<Reader>& reader);

// A start point after the first frame of a picture that has only one.
Status startPastStill(const std::string& name, const StartPoint& start);
