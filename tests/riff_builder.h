// RIFF/WAVE files assembled chunk by chunk, laid out the way everyday writers lay them out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "tests/scratch_dir.h"
#include "wave/wave_header.h"

inline constexpr std::uint32_t kRiffRate = 48000;
inline constexpr std::uint16_t kExtensible = 0xFFFE;

// A RIFF/WAVE file assembled chunk by chunk; sizes are filled in as the chunks are added.
class RiffBuilder {
 public:
  RiffBuilder() : m_bytes(12) {
    PutChunkId(&m_bytes[0], "RIFF");
    PutChunkId(&m_bytes[8], "WAVE");
  }
  // A chunk with an odd size is followed by its pad byte, as RIFF demands, unless a careless
  // writer is played.
  RiffBuilder& Chunk(const char (&id)[5], const Bytes& body, std::int64_t declared = -1,
                     bool pad = true) {
    AppendChunk(m_bytes, id, body, declared, pad);
    return *this;
  }
  static void AppendChunk(Bytes& bytes, const char (&id)[5], const Bytes& body,
                          std::int64_t declared = -1, bool pad = true) {
    const std::size_t at = bytes.size();
    bytes.resize(at + kChunkHeaderBytes);
    PutChunkId(&bytes[at], id);
    PutLe32(&bytes[at + kChunkIdBytes],
            static_cast<std::uint32_t>(declared < 0 ? body.size() : declared));
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (pad && body.size() % 2 == 1) bytes.push_back(0);
  }
  RiffBuilder& Fmt(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
                   std::size_t size = 16) {
    Bytes body(size, 0);
    const auto blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    PutLe16(&body[0], tag);
    PutLe16(&body[2], channels);
    PutLe32(&body[4], kRiffRate);
    PutLe32(&body[8], kRiffRate * blockAlign);
    PutLe16(&body[12], blockAlign);
    PutLe16(&body[14], bits);
    if (size >= 18) PutLe16(&body[16], static_cast<std::uint16_t>(size - 18));
    if (tag == kExtensible) {
      PutLe16(&body[18], bits);                   // valid bits
      PutLe32(&body[20], channels == 2 ? 3 : 4);  // speaker positions
      const Bytes pcm = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
      std::copy(pcm.begin(), pcm.end(), body.begin() + 24);
    }
    return Chunk("fmt ", body);
  }
  Bytes Done() {
    PutLe32(&m_bytes[4], static_cast<std::uint32_t>(m_bytes.size() - 8));
    return m_bytes;
  }

 private:
  Bytes m_bytes;
};

// A chunk as it lies in a file: header, body and pad byte.
inline Bytes ChunkBytes(const char (&id)[5], const Bytes& body) {
  Bytes bytes;
  RiffBuilder::AppendChunk(bytes, id, body);
  return bytes;
}

inline Bytes Concat(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// A wave file with these chunk bytes behind all it holds, its RIFF size covering them.
inline Bytes WithChunksBehind(Bytes file, const Bytes& chunks) {
  file.insert(file.end(), chunks.begin(), chunks.end());
  PutLe32(&file[kRiffSizeOffset], static_cast<std::uint32_t>(file.size() - kChunkHeaderBytes));
  return file;
}

// A smpl chunk's body holding these loops (first frame, last frame played), its count field
// saying `count` (by default as many as there are).
inline Bytes SmplBody(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& loops,
                      std::int64_t count = -1) {
  Bytes body(36 + 24 * loops.size(), 0);
  PutLe32(&body[8], 22675);  // sample period in ns at 44100 Hz
  PutLe32(&body[12], 60);    // unity note
  PutLe32(&body[28], static_cast<std::uint32_t>(count < 0 ? loops.size() : count));
  for (std::size_t i = 0; i < loops.size(); ++i) {
    std::uint8_t* loop = &body[36 + 24 * i];
    PutLe32(loop, static_cast<std::uint32_t>(i));  // cue point id
    PutLe32(loop + 8, loops[i].first);
    PutLe32(loop + 12, loops[i].second);
  }
  return body;
}

// A cue chunk's body with points at these frames of the data chunk.
inline Bytes CueBody(const std::vector<std::uint32_t>& frames, std::int64_t count = -1) {
  Bytes body(4 + 24 * frames.size(), 0);
  PutLe32(&body[0], static_cast<std::uint32_t>(count < 0 ? frames.size() : count));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    std::uint8_t* point = &body[4 + 24 * i];
    PutLe32(point, static_cast<std::uint32_t>(i + 1));
    PutLe32(point + 4, frames[i]);  // the place in play order: the same without a playlist
    PutChunkId(point + 8, "data");
    PutLe32(point + 20, frames[i]);
  }
  return body;
}
