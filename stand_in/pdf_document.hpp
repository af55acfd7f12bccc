#pragma once

#include <expected>
#include <string>
#include <vector>

namespace stand_in {

// One paragraph of a PDF document and how it looks.
struct PdfBlock {
  enum class Style { Title, Meta, Heading, Body };
  Style style = Style::Body;
  std::string text;         // UTF-8
  std::string bold_prefix;  // shown in bold before the text ("Ana Pike:"); may be empty
};

// An A4 document of the blocks, laid out by pango (any script the installed
// fonts cover) and drawn by cairo; paragraphs of any length flow on to new
// pages. `title` is the document's title in its metadata. PDFs are made one
// at a time, on a thread of their own; the caller waits for its turn.
std::expected<std::string, std::string> render_pdf(const std::string& title,
                                                   const std::vector<PdfBlock>& blocks);

}  // namespace stand_in
