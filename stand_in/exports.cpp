#include "exports.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <fmt/format.h>

#include "common/text.hpp"

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

std::string markdown(const Meeting& m, const std::string& transcript) {
  std::string out = fmt::format("# {}\n\n_{} · {} s_\n\n## Transcript\n\n", m.title, m.created_at,
                                m.duration_seconds);
  for (const auto& line : lines_of(transcript)) {
    auto colon = line.find(": ");
    out += colon == std::string::npos
               ? line
               : fmt::format("**{}:** {}", line.substr(0, colon), line.substr(colon + 2));
    out += "\n\n";
  }
  if (!m.notes.empty()) out += "## Notes\n\n" + m.notes + (m.notes.ends_with('\n') ? "" : "\n");
  return out;
}

std::string plain_text(const Meeting& m, const std::string& transcript) {
  std::string out = m.title + "\n" + m.created_at + "\n\n" + transcript;
  if (!out.ends_with('\n')) out += '\n';
  if (!m.notes.empty()) out += "\nNotes\n\n" + m.notes + (m.notes.ends_with('\n') ? "" : "\n");
  return out;
}

std::string html(const Meeting& m, const std::string& transcript) {
  std::string out = fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>{0}</title>\n"
      "</head>\n<body>\n<h1>{0}</h1>\n<p><time>{1}</time></p>\n<h2>Transcript</h2>\n",
      html_escape(m.title), html_escape(m.created_at));
  for (const auto& line : lines_of(transcript)) out += "<p>" + html_escape(line) + "</p>\n";
  if (!m.notes.empty()) out += "<h2>Notes</h2>\n<pre>" + html_escape(m.notes) + "</pre>\n";
  return out + "</body>\n</html>\n";
}

// PDF strings in the standard Helvetica font: ASCII only, with the three
// special characters escaped.
std::string pdf_string(const std::string& text) {
  std::string out = "(";
  for (unsigned char c : text) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    if (c >= 0x80 && (c & 0xC0) == 0x80) continue;  // rest of a UTF-8 sequence
    out += c >= 0x80 || c < 0x20 ? '?' : static_cast<char>(c);
  }
  return out + ")";
}

std::vector<std::string> wrapped(const std::vector<std::string>& lines, std::size_t width) {
  std::vector<std::string> out;
  for (const auto& line : lines) {
    std::string rest = line;
    while (rest.size() > width) {
      auto cut = rest.rfind(' ', width);
      if (cut == std::string::npos || cut == 0) cut = width;
      out.push_back(rest.substr(0, cut));
      rest = rest.substr(cut == width ? cut : cut + 1);
    }
    out.push_back(rest);
  }
  return out;
}

std::string pdf(const Meeting& m, const std::string& transcript) {
  std::vector<std::string> lines{m.title, m.created_at, ""};
  for (const auto& line : lines_of(transcript)) lines.push_back(line);
  if (!m.notes.empty()) {
    lines.push_back("");
    lines.push_back("Notes");
    for (const auto& line : lines_of(m.notes)) lines.push_back(line);
  }
  lines = wrapped(lines, 90);
  constexpr std::size_t kLinesPerPage = 50;
  const std::size_t pages =
      std::max<std::size_t>(1, (lines.size() + kLinesPerPage - 1) / kLinesPerPage);

  // Objects: 1 catalog, 2 pages, 3 font, then a page and its content per page.
  std::vector<std::string> objects(3 + 2 * pages);
  std::string kids;
  for (std::size_t p = 0; p < pages; ++p) kids += fmt::format("{} 0 R ", 4 + 2 * p);
  objects[0] = "<< /Type /Catalog /Pages 2 0 R >>";
  objects[1] = fmt::format("<< /Type /Pages /Kids [{}] /Count {} >>", kids, pages);
  objects[2] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
  for (std::size_t p = 0; p < pages; ++p) {
    std::string stream = "BT /F1 11 Tf 14 TL 56 780 Td\n";
    for (std::size_t i = p * kLinesPerPage; i < std::min(lines.size(), (p + 1) * kLinesPerPage);
         ++i) {
      stream += pdf_string(lines[i]) + " Tj T*\n";
    }
    stream += "ET\n";
    objects[3 + 2 * p] = fmt::format(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 3 0 R >> "
        ">> "
        "/Contents {} 0 R >>",
        5 + 2 * p);
    objects[4 + 2 * p] =
        fmt::format("<< /Length {} >>\nstream\n{}endstream", stream.size(), stream);
  }

  std::string out = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += fmt::format("{} 0 obj\n{}\nendobj\n", i + 1, objects[i]);
  }
  const std::size_t xref = out.size();
  out += fmt::format("xref\n0 {}\n0000000000 65535 f \n", objects.size() + 1);
  for (auto offset : offsets) out += fmt::format("{:010} 00000 n \n", offset);
  out += fmt::format("trailer\n<< /Size {} /Root 1 0 R >>\nstartxref\n{}\n%%EOF\n",
                     objects.size() + 1, xref);
  return out;
}

void put_le(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string render_document(const Meeting& meeting, const std::string& transcript,
                            const std::string& format) {
  if (format == "markdown") return markdown(meeting, transcript);
  if (format == "text") return plain_text(meeting, transcript);
  if (format == "html") return html(meeting, transcript);
  return pdf(meeting, transcript);
}

std::string render_wav(const Meeting& meeting) {
  constexpr std::uint32_t kRate = 16000;
  const double seconds = std::clamp(static_cast<double>(meeting.duration_seconds), 0.5, 3.0);
  const auto samples = static_cast<std::uint32_t>(seconds * kRate);
  std::string out = "RIFF";
  put_le(out, 36 + samples * 2, 4);
  out += "WAVEfmt ";
  put_le(out, 16, 4);
  put_le(out, 1, 2);  // PCM
  put_le(out, 1, 2);  // mono
  put_le(out, kRate, 4);
  put_le(out, kRate * 2, 4);  // bytes per second
  put_le(out, 2, 2);          // block align
  put_le(out, 16, 2);         // bits per sample
  out += "data";
  put_le(out, samples * 2, 4);
  for (std::uint32_t i = 0; i < samples; ++i) {
    const double tone = std::sin(2 * std::numbers::pi * 440.0 * i / kRate) * 0.2;
    put_le(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(tone * 32767)), 2);
  }
  return out;
}

}  // namespace stand_in
