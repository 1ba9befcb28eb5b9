// The writers of the output table, one file each. Only output.cpp lists them.
#pragma once

#include "output/output.h"

Status openNullWriter(const std::string& path, const WriterSettings& settings,
                      std::unique_ptr<Writer>& writer);

Status claimsMd5(const std::string& path, bool& claimed);
Status openMd5Writer(const std::string& path, const WriterSettings& settings,
                     std::unique_ptr<Writer>& writer);

Status claimsSequence(const std::string& path, bool& claimed);
Status openSequenceWriter(const std::string& path, const WriterSettings& settings,
                          std::unique_ptr<Writer>& writer);

Status claimsImage(const std::string& path, bool& claimed);
Status openStillWriter(const std::string& path, const WriterSettings& settings,
                       std::unique_ptr<Writer>& writer);

struct AVOutputFormat;
// Why an FFmpeg muxer cannot take Kivrel's video ("wav is an audio-only format"), or ok.
Status videoMuxerRefusal(const AVOutputFormat* muxer);
Status claimsVideo(const std::string& path, bool& claimed);
Status openVideoWriter(const std::string& path, const WriterSettings& settings,
                       std::unique_ptr<Writer>& writer);
