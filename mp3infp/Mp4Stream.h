// The sound of an MP4 file as its movie box describes it, for the property view: the codec of
// the first sound track's sample description, its rate and channels, the length from the media
// header (or the movie's), the nominal bit rate or else the sizes of the samples over the length.
#pragma once

#include "mp3infp/AudioFile.h"
#include "mp3infp/Mp4Box.h"

namespace mp3infp::mp4 {

StreamInfo ReadStream(const Moov& moov);

}  // namespace mp3infp::mp4
