#include "options/help.h"

#include "pluginhost/test_card.h"

std::string helpText() {
    return std::string(R"(Usage: kivrel [OPTIONS] [INPUT]
       kivrel defaults [SETTINGS OPTIONS]   show, or set, the defaults new instances start from
       kivrel configure                     set them in the filter's dialog, on the terminal
       kivrel report INPUT... [-o FILE]     check whole files for broadcast legality
                                            (kivrel report --help)
       kivrel play [INPUT] [OPTIONS]        watch the displays live in a window; ? there
                                            lists the keys

Puts one of Kivrel's broadcast displays on a picture or a video: loads the
filter module as a plug-in host does, feeds it every decoded frame and writes
what it shows. Without INPUT it renders the built-in test card: 75 % colour
bars (white, yellow, cyan, green, magenta, red, blue) over the top two thirds
and a full-range grey ramp (0 at the left to 255 at the right) below, )" +
                       std::to_string(kTestCardWidth) + "x" + std::to_string(kTestCardHeight) + R"(.

Input and output:
  INPUT                  any still, video or image sequence (in_%04d.png)
                         FFmpeg's libraries decode, a FIFO, a protocol
                         (pipe:, http: ...) or - for standard input
  -i INPUT               the same, as FFmpeg spells it; then -f, -pix_fmt
                         (-pixel_format), -s (-video_size), -r (-framerate)
                         and -start_number before -i describe the input (a
                         raw file: -f rawvideo -pix_fmt gray -s 720x576 -r 25
                         -i in.gray), and after it the output. An option the
                         demuxer does not take is refused. Alpha is ignored
  -o, --output PATH      where to write; the name's extension picks the format:
                         .png (or another image type) for one frame, .mkv
                         (lossless FFV1), .avi, .mp4 (H.264 4:4:4) ... for
                         video, a %d pattern (out_%04d.png) for an image
                         sequence, .md5 for frame hashes. Default: INPUT's
                         name (or testcard) with the display added, .png or
                         .mkv, in the current directory. A link is followed
                         (its file is replaced, the link kept); a FIFO, a
                         device or - (standard output) is written directly.
                         The input itself is never an output, even with -y
  -f FORMAT              what to write: image, sequence, video, null, md5, or
                         any container FFmpeg writes (nut, matroska, mp4 ...);
                         -f nut -o - or -f md5 -o - print on standard output;
                         image2: pictures by the name (x.png, x_%04d.png),
                         image2pipe: pictures of the name's type one after
                         another. Muxers that write files of their own (hls,
                         dash ...) are refused: write one file and cut it
                         with ffmpeg
  -c:v CODEC             the video encoder (also -c, -codec:v, -vcodec);
                         default FFV1 where the container takes it, else the
                         container's own
  -pix_fmt FORMAT        the encoder's pixel format (also -pix_fmt:v);
                         default: none that subsamples colour, so a
                         one-pixel trace stays sharp
  -an, -sn, -dn          taken and ignored: the output holds one video stream
                         only. FFmpeg's options for audio, subtitles, bit rate,
                         frame rate, size and filter graphs are refused with
                         the reason, as are stream specifiers other than v
  -threads N             threads per stage (decoding, conversion, filter,
                         encoding); 0: one per core; 1: every stage in turn
                         on one thread
      --null             run the filter but write nothing (timing)
      --verify FILE      compare every output frame with a hash file made
                         with -o NAME.md5; stop with status 1 at the first
                         difference, naming the frame; combines with any
                         output, --null too
  -y, --overwrite        replace an existing output file
  -n, --no-overwrite     never replace one (the default)
  -ss AT                 begin at time AT (4.8, 1:02.5, 500ms: seconds, as in
                         FFmpeg; a time seeks) or frame AT (120f: decodes from
                         the start); -ss, -t and -to are measured from the
                         stream's start, as FFmpeg's are: the first frame at
                         or after AT
  -t LENGTH              process LENGTH of time from the first frame, by the
                         frames' own times (as FFmpeg trims)
  -to AT                 stop at time AT of the input (as FFmpeg: -t AT less
                         the -ss time)
  -frames N              process at most N frames (also -frames:v, -vframes);
                         a still input repeated N times becomes a clip at 25
                         frames per second
  -start_number N        an image sequence's first number: of the input (as
                         FFmpeg's image demuxer finds it when not given) and
                         of the output (default 1); with -i, of the input
                         before it, of the output after it
      --skip-errors      go on past damage instead of stopping: leave out
                         damaged frames, keep the frames before a cut; each
                         is named with the last good frame before it, and the
                         summary says the input is damaged
      --keep-partial     after a failure or an interrupt, keep the frames
                         finished so far (a video is closed so that it plays)
      --input-matrix 601|709|2020  read the input's YUV with this matrix,
                         whatever it is tagged (untagged: 709 from 720 rows
                         up, else 601)
      --input-range tv|pc    limited (also limited, mpeg) or full (full, jpeg)
                         range YUV, whatever it is tagged (untagged: tv)
      --field-order progressive|tff|bff  whether the frames are interlaced,
                         whatever the decoder or the stream says. Subsampled
                         chroma is interpolated between its samples by where
                         they sit (untagged: MPEG-2's left siting), edge
                         samples repeated; in an interlaced 4:2:0 frame each
                         field takes its chroma from its own lines
  -noautorotate          keep the picture as stored, not turned as its display
                         matrix says
      --card-size WxH    size of the built-in test card

Display settings (what is not given keeps the module's stored default):
  -d, --display NAME     histograms, hotpixel, video, waveform or vectorscope;
                         picture (or passthru): the picture unchanged, in
                         full-range RGB as players show it;
                         parade: a waveform per channel (a monitor, below).
                         A comma-separated list makes a monitor (below)
      --channels LIST    luma,red,green,blue (any of them, comma-separated),
                         all or none
      --system ntsc|pal  colour system of the hot pixel scan
      --matrix 601|709|auto  luma weights: Std Def (601) or High Def (709);
                         auto (the default for an input file, unless
                         --script sets it): as the input is tagged, BT.2020
                         taken as 709
      --range 0-255|16-235|auto  source levels; auto: as the input's range.
                         With 16-235 and a limited-range input, the video
                         view, histograms and waveform see levels below 16
                         and above 235 as they are
      --gamma[=on|off]   source levels are gamma corrected (--no-gamma: off)
      --grid[=on|off]    waveform graticule (--no-grid: off)
      --accumulate[=on|off]  histograms keep minimum and maximum over frames
                         (--no-accumulate: off)
      --passthru[=on|off]    show the picture unchanged, whatever the display
                         (--no-passthru: off)
      --change ACTION    hot pixels: black, intensity or saturation
      --max-ire N        hot pixel ceiling in IRE, 0 to 120
      --script FILE      run the Config lines of a saved processing script
                         (the options above are applied after it)
      --print-config     print the settings this input gets (after auto has
                         followed its tags): the filter's label and script
                         line; for a monitor a line per tile, named by its
                         display. Then exit

Monitor (several displays of each frame tiled into one output; any of
these options with a single display makes a monitor of one tile):
  -d video,waveform,...  one tile per display, each through its own instance
                         of the filter with the same settings
  -d parade              one tile per channel --channels switches on (luma,
                         red, green, blue): the waveform of that channel
                         alone, 256 rows, every level on a row of its own
                         (with three or four channels the waveform's panels
                         have 128 rows and leave out the odd levels, 235
                         among them); alone (named parade) or in a list
      --layout row|column|grid  tiles side by side (the default), one under
                         another, or two columns filled row by row; on black,
                         top-left aligned, the output rounded up to even sides
      --picture-size WxH the picture-shaped tiles (picture, video, hotpixel)
                         scaled to WxH (Lanczos); -1 for a side keeps the
                         display aspect (640x-1), -N also rounds it to a
                         multiple of N; square pixels. Scope tiles keep
                         their exact pixels
      --crop W:H:X:Y     the scopes measure only this region, in FFmpeg's crop
                         syntax, read by FFmpeg's evaluator (iw, ih, ow, oh,
                         min(iw,ih), ...); X and Y left out centre it. The
                         picture tiles show the whole frame with the region
                         outlined in magenta. A region not wholly inside the
                         frame is an error
      --labels           a caption above each tile: its display and settings

Play (kivrel play, the render's options but those that write):
      --paused           open still, on the first frame
      --input-format FMT read INPUT with FFmpeg's demuxer or device FMT
                         (FFmpeg's -f for an input): v4l2 /dev/video0, mpegts
                         udp://..., srt://...; a live source does not seek
      --presented-md5 FILE
                         for tests: a line per frame the window shows, as
                         .md5 outputs hold them, before any scaling

Host:
      --module PATH      the filter module (default: where KIVREL_MODULE points,
                         else kivrel.so beside kivrel, else in ../lib/kivrel/)
      --pad-pitch N      pad every source and output row by N pixels and check
                         that the filter never writes into the padding
  -q, --quiet            no progress bar and no summary
  -loglevel LEVEL        show FFmpeg's own messages up to LEVEL (also -v):
                         quiet (the default), panic, fatal, error, warning,
                         info, verbose, debug, trace or a number
      --verbose          the same as -loglevel info
  -h, --help             this text
      --version          versions of kivrel and the libraries

Examples:
  kivrel                                   histograms of the test card
  kivrel -d vectorscope -o vs.png          vectorscope of the test card
  kivrel clip.mkv -d waveform -o wfm.mkv   waveform monitor of a whole clip
  kivrel clip.mp4 -d waveform --channels luma -ss 1:30 -frames 250 -o wfm_%04d.png
  kivrel clip.mkv -d waveform -f nut -o - | ffplay -
  kivrel photo.jpg -d hotpixel --change saturation --system pal
  kivrel clip.mkv --script job.vcf --print-config
  kivrel clip.mp4 -d video,waveform,vectorscope,histograms --layout grid \
         --crop 400:300:760:390 --labels -o monitor.mkv
  kivrel clip.mkv -d waveform -o wfm.md5   one hash per waveform frame ...
  kivrel clip.mkv -d waveform --null --verify wfm.md5
                                           ... which a later run must match

Frame hashes (.md5, -f md5): one line per output frame, "frame,pts,md5":
frame counts the output frames from 0; pts is the frame's number in the
input, its presentation time in frames at the input's rate (a still or the
test card repeated by -frames counts 0, 1, 2 ...); md5 covers the frame's
pixels, each the 32-bit word the filter wrote (0x00RRGGBB, top byte included)
in little-endian order, rows top to bottom, without row padding.

Exit status (kivrel and kivrel play): 0 done, also past damage with the
option --skip-errors; 1 the input, output, filter or module failed, the input
is damaged (without --skip-errors) or --verify found a difference; 2 bad
command line; 128 + N ended by signal N (130 for Ctrl-C). kivrel report exits
3 for a broken rule it is asked to fail on (damaged among them), 1 winning
over 3. Nothing is left behind on failure, on a signal or on a crash in the
filter, unless --keep-partial asks for the finished frames.
)");
}
