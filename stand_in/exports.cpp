#include "exports.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <fmt/format.h>

#include "audio.hpp"
#include "common/text.hpp"
#include "pdf_document.hpp"

namespace stand_in {

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  auto lines = murmela::split_lines(text);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::string html_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The notes' own headings, moved below the "## Notes" heading they sit
// under ("# Plan" becomes "### Plan"); fenced code is left as it is.
std::string below_notes_heading(const std::string& notes) {
  std::string out;
  bool in_fence = false;
  for (const auto& line : lines_of(notes)) {
    if (line.starts_with("```") || line.starts_with("~~~")) in_fence = !in_fence;
    const std::size_t level = line.find_first_not_of('#');
    const bool heading =
        !in_fence && level > 0 && level <= 6 && level < line.size() && line[level] == ' ';
    out += heading ? std::string(std::min<std::size_t>(level + 2, 6) - level, '#') + line : line;
    out += '\n';
  }
  return out;
}

// A duration as a clock shows it: "1:02:03", or "2:03" under an hour.
std::string clock_duration(double seconds) {
  constexpr double kMostSeconds = 1e12;  // past any recording; keeps the rounding defined
  const auto whole = static_cast<std::uint64_t>(
      std::llround(std::isfinite(seconds) ? std::clamp(seconds, 0.0, kMostSeconds) : 0.0));
  const std::uint64_t hours = whole / 3600;
  const std::uint64_t minutes = whole / 60 % 60;
  if (hours == 0) return fmt::format("{}:{:02}", minutes, whole % 60);
  return fmt::format("{}:{:02}:{:02}", hours, minutes, whole % 60);
}

// What one speaker says before another speaks: the consecutive transcript
// lines that carry the same "Speaker: " prefix, joined. A line without a
// speaker is a turn of its own; blank lines only separate.
struct Turn {
  std::string speaker;  // empty where the line names none
  std::string text;
};

std::vector<Turn> turns_of(const std::string& transcript) {
  std::vector<Turn> turns;
  for (const auto& line : lines_of(transcript)) {
    if (murmela::trim(line).empty()) continue;
    const auto colon = line.find(": ");
    Turn turn = colon == std::string::npos ? Turn{"", line}
                                           : Turn{line.substr(0, colon), line.substr(colon + 2)};
    if (!turn.speaker.empty() && !turns.empty() && turns.back().speaker == turn.speaker) {
      turns.back().text += " " + turn.text;
    } else {
      turns.push_back(std::move(turn));
    }
  }
  return turns;
}

std::string markdown(const Meeting& m, const std::string& transcript) {
  std::string out = fmt::format("# {}\n\n_{} · {}_\n\n## Transcript\n\n", m.title, m.created_at,
                                clock_duration(m.duration_seconds));
  for (const auto& turn : turns_of(transcript)) {
    out += turn.speaker.empty() ? turn.text : fmt::format("**{}:** {}", turn.speaker, turn.text);
    out += "\n\n";
  }
  if (!m.notes.empty()) out += "## Notes\n\n" + below_notes_heading(m.notes);
  return out;
}

std::string plain_text(const Meeting& m, const std::string& transcript) {
  std::string out =
      fmt::format("{}\n{} · {}\n", m.title, m.created_at, clock_duration(m.duration_seconds));
  for (const auto& turn : turns_of(transcript)) {
    out += "\n" + (turn.speaker.empty() ? turn.text : turn.speaker + ": " + turn.text) + "\n";
  }
  if (!m.notes.empty()) out += "\nNotes\n\n" + m.notes + (m.notes.ends_with('\n') ? "" : "\n");
  return out;
}

std::string html(const Meeting& m, const std::string& transcript) {
  std::string out = fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>{0}</title>\n"
      "</head>\n<body>\n<h1>{0}</h1>\n<p><time>{1}</time> · {2}</p>\n<h2>Transcript</h2>\n",
      html_escape(m.title), html_escape(m.created_at), clock_duration(m.duration_seconds));
  for (const auto& turn : turns_of(transcript)) {
    out += turn.speaker.empty() ? "<p>" + html_escape(turn.text) + "</p>\n"
                                : fmt::format("<p><strong>{}:</strong> {}</p>\n",
                                              html_escape(turn.speaker), html_escape(turn.text));
  }
  if (!m.notes.empty()) out += "<h2>Notes</h2>\n<pre>" + html_escape(m.notes) + "</pre>\n";
  return out + "</body>\n</html>\n";
}

std::expected<std::string, std::string> pdf(const Meeting& m, const std::string& transcript) {
  using Style = PdfBlock::Style;
  std::vector<PdfBlock> blocks{
      {Style::Title, m.title, ""},
      {Style::Meta, fmt::format("{} · {}", m.created_at, clock_duration(m.duration_seconds)), ""},
      {Style::Heading, "Transcript", ""}};
  for (auto& turn : turns_of(transcript)) {
    blocks.push_back({Style::Body, std::move(turn.text),
                      turn.speaker.empty() ? "" : std::move(turn.speaker) + ":"});
  }
  if (!m.notes.empty()) {
    blocks.push_back({Style::Heading, "Notes", ""});
    for (const auto& line : lines_of(m.notes)) blocks.push_back({Style::Body, line, ""});
  }
  return render_pdf(m.title, blocks);
}

}  // namespace

std::expected<std::string, std::string> render_document(const Meeting& meeting,
                                                        const std::string& transcript,
                                                        const std::string& format) {
  if (format == "markdown") return markdown(meeting, transcript);
  if (format == "text") return plain_text(meeting, transcript);
  if (format == "html") return html(meeting, transcript);
  return pdf(meeting, transcript);
}

std::expected<std::string, std::string> render_wav(const Meeting& meeting) {
  Audio tone;  // 16 kHz mono
  const double seconds = std::clamp(meeting.duration_seconds, 0.5, 3.0);
  tone.samples.resize(static_cast<std::size_t>(seconds * tone.sample_rate));
  for (std::size_t i = 0; i < tone.samples.size(); ++i) {
    const double wave =
        std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / tone.sample_rate);
    tone.samples[i] = static_cast<std::int16_t>(wave * 0.2 * 32767);
  }
  return wav_bytes(tone);
}

}  // namespace stand_in
