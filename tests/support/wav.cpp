#include "wav.hpp"

#include <algorithm>
#include <cstring>

namespace testing_support {

namespace {

void put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t get(const std::string& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

}  // namespace

std::string wav_file_bytes(const Wav& wav) {
  const auto data_bytes = static_cast<std::uint32_t>(wav.samples.size() * 2);
  const auto channels = static_cast<std::uint32_t>(wav.channels);
  const auto rate = static_cast<std::uint32_t>(wav.sample_rate);
  std::string out = "RIFF";
  put(out, 36 + data_bytes, 4);
  out += "WAVEfmt ";
  put(out, 16, 4);
  put(out, 1, 2);
  put(out, channels, 2);
  put(out, rate, 4);
  put(out, rate * channels * 2, 4);
  put(out, channels * 2, 2);
  put(out, 16, 2);
  out += "data";
  put(out, data_bytes, 4);
  const std::size_t start = out.size();
  out.resize(start + data_bytes);
  std::memcpy(out.data() + start, wav.samples.data(), data_bytes);
  return out;
}

Wav read_wav(const std::string& bytes) {
  Wav wav;
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
    return wav;
  }
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id = bytes.substr(at, 4);
    const std::size_t size = get(bytes, at + 4, 4);
    const std::size_t body = at + 8;
    if (id == "fmt " && body + 16 <= bytes.size()) {
      wav.channels = static_cast<int>(get(bytes, body + 2, 2));
      wav.sample_rate = static_cast<int>(get(bytes, body + 4, 4));
    } else if (id == "data") {
      const std::size_t length = std::min(size, bytes.size() - body) / 2;
      wav.samples.resize(length);
      std::memcpy(wav.samples.data(), bytes.data() + body, length * 2);
    }
    at = body + size + (size % 2);
  }
  return wav;
}

Wav stereo(const Wav& left, const Wav& right) {
  Wav both{left.sample_rate, 2, {}};
  const std::size_t frames = std::max(left.samples.size(), right.samples.size());
  for (std::size_t i = 0; i < frames; ++i) {
    both.samples.push_back(i < left.samples.size() ? left.samples[i] : 0);
    both.samples.push_back(i < right.samples.size() ? right.samples[i] : 0);
  }
  return both;
}

Wav delayed(const Wav& audio, double seconds) {
  Wav out = audio;
  const auto silence = static_cast<std::size_t>(seconds * audio.sample_rate) *
                       static_cast<std::size_t>(audio.channels);
  out.samples.insert(out.samples.begin(), silence, 0);
  return out;
}

Wav repeated_for(const Wav& audio, double seconds) {
  const auto wanted = static_cast<std::size_t>(seconds * audio.sample_rate * audio.channels);
  Wav repeated = audio;
  while (!audio.samples.empty() && repeated.samples.size() < wanted) {
    repeated.samples.insert(repeated.samples.end(), audio.samples.begin(), audio.samples.end());
  }
  return repeated;
}

}  // namespace testing_support
