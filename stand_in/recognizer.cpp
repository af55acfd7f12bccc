#include "recognizer.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

#include <fcntl.h>
#include <pocketsphinx.h>
#include <samplerate.h>
#include <sphinxbase/err.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "common/descriptor.hpp"
#include "common/platform.hpp"
#include "common/system_error.hpp"

namespace stand_in {

namespace {

constexpr const char* kModelFolder = "/usr/share/pocketsphinx/model/en-us";
constexpr int kRate = 16000;  // what the model was trained on
constexpr int kFramesPerSecond = 100;
constexpr int kChunk = kRate;          // a second at a time, so that cancel is heard soon
constexpr double kPauseSeconds = 0.8;  // a longer silence ends a segment

struct Decoder {
  cmd_ln_t* config = nullptr;
  ps_decoder_t* decoder = nullptr;
  ~Decoder() {
    if (decoder) ps_free(decoder);
    if (config) cmd_ln_free_r(config);
  }
};

// Every file of the model that the library opens while it loads.
constexpr std::array kModelFiles = {
    "en-us/feat.params",         "en-us/mdef",    "en-us/means",     "en-us/variances",
    "en-us/transition_matrices", "en-us/sendump", "en-us/noisedict", "en-us.lm.bin",
    "cmudict-en-us.dict"};

// The library ends the whole process, saying nothing, when it cannot open a
// model file: out of descriptors under a crowd of clients, the stand-in
// vanished. So the files are opened here first, all at once; one that cannot
// be fails this one recognition with the reason. They are held until the
// library is about to load, then given back just before it opens them
// itself: a reserve of descriptors for the library, taken when it is known
// to be there, well beyond the one or two it holds at a time.
std::expected<std::vector<murmela::FileDescriptor>, std::string> reserve_model_files(
    const std::string& folder) {
  std::vector<murmela::FileDescriptor> reserve;
  for (const char* name : kModelFiles) {
    murmela::FileDescriptor file(::open((folder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
      return std::unexpected(fmt::format("the speech model could not be loaded: {}: {}", name,
                                         murmela::system_error_text(errno)));
    }
    reserve.push_back(std::move(file));
  }
  return reserve;
}

// No -logfn here: naming a log file makes every decoder set-up replace the
// library's one process-wide log, under the feet of decoders at work on
// other threads. The log is silenced once, at start (quiet_recognizer_log).
std::expected<std::unique_ptr<Decoder>, std::string> load_decoder() {
  const std::string folder = kModelFolder;
  // One load at a time, so that each has its reserve to itself.
  static std::mutex loading;
  std::lock_guard one_at_a_time(loading);
  auto reserve = reserve_model_files(folder);
  if (!reserve) return std::unexpected(reserve.error());
  auto loaded = std::make_unique<Decoder>();
  loaded->config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", (folder + "/en-us").c_str(), "-lm",
                               (folder + "/en-us.lm.bin").c_str(), "-dict",
                               (folder + "/cmudict-en-us.dict").c_str(), nullptr);
  reserve->clear();
  if (loaded->config) loaded->decoder = ps_init(loaded->config);
  if (!loaded->decoder) return std::unexpected("the speech model could not be loaded");
  return loaded;
}

// The loaded decoders, one per recognition at work, at most one per core: a
// model is about 100 MB, and more recognitions than cores only share them.
// This pocketsphinx cannot share one model between decoders, so decoders
// are kept and handed from one recognition to the next instead of loaded
// for each.
class DecoderPool {
 public:
  // A decoder lent to one recognition; back in the pool when it goes.
  class Lease {
   public:
    Lease(DecoderPool& pool, std::unique_ptr<Decoder> decoder)
        : pool_(&pool), decoder_(std::move(decoder)) {}
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease() {
      if (pool_ && decoder_) pool_->give_back(std::move(decoder_));
    }
    ps_decoder_t* get() const { return decoder_->decoder; }

   private:
    DecoderPool* pool_;
    std::unique_ptr<Decoder> decoder_;
  };

  static DecoderPool& shared() {
    static DecoderPool pool(
        static_cast<std::ptrdiff_t>(std::max(1u, std::thread::hardware_concurrency())));
    return pool;
  }

  // Waits for a turn (or for `cancelled`), then lends an idle decoder, or
  // loads one where none is idle yet.
  std::expected<Lease, std::string> borrow(const std::atomic<bool>& cancelled) {
    while (!turns_.try_acquire_for(std::chrono::milliseconds(100))) {
      if (cancelled) return std::unexpected("The job was cancelled.");
    }
    std::unique_ptr<Decoder> decoder;
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        decoder = std::move(idle_.back());
        idle_.pop_back();
      }
    }
    if (!decoder) {
      auto loaded = load_decoder();
      if (!loaded) {
        turns_.release();
        return std::unexpected(loaded.error());
      }
      decoder = *std::move(loaded);
    }
    return Lease(*this, std::move(decoder));
  }

 private:
  explicit DecoderPool(std::ptrdiff_t turns) : turns_(turns) {}

  void give_back(std::unique_ptr<Decoder> decoder) {
    {
      std::lock_guard lock(mutex_);
      idle_.push_back(std::move(decoder));
    }
    turns_.release();
  }

  std::counting_semaphore<> turns_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Decoder>> idle_;
};

// One channel at the model's rate, resampled where the file has another.
std::expected<std::vector<std::int16_t>, std::string> at_model_rate(const Audio& audio,
                                                                    int channel) {
  std::vector<std::int16_t> samples = audio.channel(channel);
  if (audio.sample_rate == kRate || samples.empty()) return samples;
  std::vector<float> in(samples.size());
  src_short_to_float_array(samples.data(), in.data(), static_cast<int>(samples.size()));
  const double ratio = static_cast<double>(kRate) / audio.sample_rate;
  std::vector<float> out(static_cast<std::size_t>(in.size() * ratio) + 1);
  SRC_DATA data{};
  data.data_in = in.data();
  data.input_frames = static_cast<long>(in.size());
  data.data_out = out.data();
  data.output_frames = static_cast<long>(out.size());
  data.src_ratio = ratio;
  if (const int error = src_simple(&data, SRC_SINC_FASTEST, 1); error != 0) {
    return std::unexpected(src_strerror(error));
  }
  std::vector<std::int16_t> resampled(static_cast<std::size_t>(data.output_frames_gen));
  src_float_to_short_array(out.data(), resampled.data(), static_cast<int>(resampled.size()));
  return resampled;
}

// A word as the dictionary spells it: "read(2)" is the second pronunciation
// of "read"; fillers and silences are no words.
std::string spoken_word(std::string_view word) {
  if (word.empty() || word.front() == '<' || word.front() == '[') return {};
  if (const auto paren = word.find('('); paren != std::string_view::npos)
    word = word.substr(0, paren);
  return std::string(word);
}

// The words of the utterance just ended, `offset` samples into the channel,
// appended to the segments: a pause longer than kPauseSeconds starts a new one.
void collect_words(ps_decoder_t* decoder, int channel, std::size_t offset,
                   std::vector<Segment>& segments) {
  const double base = static_cast<double>(offset) / kRate;
  for (ps_seg_t* seg = ps_seg_iter(decoder); seg != nullptr; seg = ps_seg_next(seg)) {
    const std::string word = spoken_word(ps_seg_word(seg));
    if (word.empty()) continue;
    int first = 0, last = 0;
    ps_seg_frames(seg, &first, &last);
    const double start = base + static_cast<double>(first) / kFramesPerSecond;
    const double end = base + static_cast<double>(last + 1) / kFramesPerSecond;
    const bool continues = !segments.empty() && segments.back().channel == channel &&
                           start - segments.back().end < kPauseSeconds;
    if (continues) {
      segments.back().text += " " + word;
      segments.back().end = end;
    } else {
      segments.push_back({channel, start, end, word});
    }
  }
}

std::expected<void, std::string> recognize_channel(ps_decoder_t* decoder,
                                                   const std::vector<std::int16_t>& samples,
                                                   int channel, const std::atomic<bool>& cancelled,
                                                   std::vector<Segment>& segments) {
  std::size_t utterance_start = 0;
  bool in_speech = false;
  if (ps_start_utt(decoder) < 0) return std::unexpected("the recogniser did not start");
  for (std::size_t at = 0; at < samples.size(); at += kChunk) {
    if (cancelled) {
      ps_end_utt(decoder);
      return std::unexpected("The job was cancelled.");
    }
    const std::size_t count = std::min<std::size_t>(kChunk, samples.size() - at);
    ps_process_raw(decoder, samples.data() + at, count, FALSE, FALSE);
    const bool speech_now = ps_get_in_speech(decoder) != 0;
    if (in_speech && !speech_now) {
      // A silence ended the utterance: take its words, and start the next.
      ps_end_utt(decoder);
      collect_words(decoder, channel, utterance_start, segments);
      utterance_start = at + count;
      ps_start_utt(decoder);
    }
    in_speech = speech_now;
  }
  ps_end_utt(decoder);
  collect_words(decoder, channel, utterance_start, segments);
  return {};
}

}  // namespace

bool recognizer_installed() {
  struct stat info {};
  return ::stat((std::string(kModelFolder) + "/en-us/mdef").c_str(), &info) == 0;
}

void quiet_recognizer_log() { err_set_logfp(nullptr); }

namespace {

std::expected<std::vector<Segment>, std::string> recognize_with(
    ps_decoder_t* decoder, const Audio& audio, const std::atomic<bool>& cancelled) {
  std::vector<Segment> segments;
  for (int channel = 0; channel < std::min(audio.channels, 2); ++channel) {
    auto samples = at_model_rate(audio, channel);
    if (!samples) return std::unexpected(samples.error());
    auto done = recognize_channel(decoder, *samples, channel, cancelled, segments);
    if (!done) return std::unexpected(done.error());
  }
  std::ranges::stable_sort(segments, {}, &Segment::start);
  return segments;
}

}  // namespace

std::expected<std::vector<Segment>, std::string> recognize(const Audio& audio,
                                                           const std::atomic<bool>& cancelled) {
  std::expected<std::vector<Segment>, std::string> segments;
  {
    auto decoder = DecoderPool::shared().borrow(cancelled);
    if (!decoder) return std::unexpected(decoder.error());
    segments = recognize_with(decoder->get(), audio, cancelled);
  }
  // The channel copies at the model's rate were the job's big buffers.
  murmela::platform::return_free_memory();
  return segments;
}

std::vector<std::string> unmet_choices(const std::optional<std::string>& chosen_model,
                                       const std::string& language) {
  std::vector<std::string> unmet;
  const bool english = language == "auto" || language == "en" || language.starts_with("en-") ||
                       language.starts_with("en_");
  if (!english) {
    unmet.push_back(fmt::format(
        "Recognised as English: the stand-in app has no recogniser for the language {}.",
        language));
  }
  if (chosen_model && *chosen_model != kRecognizerModelId) {
    unmet.push_back(
        fmt::format("Recognised with {}: the stand-in app has no recogniser for the model {}.",
                    kRecognizerModelId, *chosen_model));
  }
  return unmet;
}

std::string transcript_of(const std::vector<Segment>& segments, int channels) {
  std::string text;
  for (const Segment& segment : segments) {
    const char* speaker = channels < 2           ? "Speaker 1"
                          : segment.channel == 0 ? "You"
                                                 : "Other speakers";
    if (!text.empty()) text += '\n';
    text += std::string(speaker) + ": " + segment.text;
  }
  return text;
}

}  // namespace stand_in
