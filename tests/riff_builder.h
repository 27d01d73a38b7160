// RIFF/WAVE files assembled chunk by chunk, laid out the way everyday writers lay them out.
#pragma once

#include <algorithm>
#include <cstdint>

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
