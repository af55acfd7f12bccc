#include "pdf_document.hpp"

#include <memory>

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

namespace stand_in {

namespace {

constexpr double kPageWidth = 595.0;  // A4 in points
constexpr double kPageHeight = 842.0;
constexpr double kMargin = 56.0;

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Surface = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_t, cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;
void unref_layout(PangoLayout* layout) { g_object_unref(layout); }
using Layout = std::unique_ptr<PangoLayout, Deleter<PangoLayout, unref_layout>>;
using Font = std::unique_ptr<PangoFontDescription,
                             Deleter<PangoFontDescription, pango_font_description_free>>;

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

const char* font_of(PdfBlock::Style style) {
  switch (style) {
    case PdfBlock::Style::Title:
      return "DejaVu Sans Bold 18";
    case PdfBlock::Style::Meta:
      return "DejaVu Sans 9";
    case PdfBlock::Style::Heading:
      return "DejaVu Sans Bold 13";
    case PdfBlock::Style::Body:
      break;
  }
  return "DejaVu Sans 11";
}

// Space before a block, in points.
double space_before(PdfBlock::Style style) {
  return style == PdfBlock::Style::Heading ? 14.0 : style == PdfBlock::Style::Body ? 5.0 : 2.0;
}

std::string markup_of(const PdfBlock& block) {
  auto escaped = [](const std::string& text) {
    char* markup = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    std::string out = markup;
    g_free(markup);
    return out;
  };
  if (block.bold_prefix.empty()) return escaped(block.text);
  return "<b>" + escaped(block.bold_prefix) + "</b> " + escaped(block.text);
}

// Draws the blocks line by line, starting a new page where a line would
// cross the bottom margin.
class Writer {
 public:
  explicit Writer(cairo_t* cairo) : cairo_(cairo) {}

  void draw(const PdfBlock& block) {
    Layout layout(pango_cairo_create_layout(cairo_));
    Font font(pango_font_description_from_string(font_of(block.style)));
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_width(layout.get(),
                           static_cast<int>((kPageWidth - 2 * kMargin) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    const std::string markup = markup_of(block);
    pango_layout_set_markup(layout.get(), markup.c_str(), static_cast<int>(markup.size()));

    y_ += space_before(block.style);
    PangoLayoutIter* lines = pango_layout_get_iter(layout.get());
    do {
      PangoRectangle extent;
      pango_layout_iter_get_line_extents(lines, nullptr, &extent);
      const double height = static_cast<double>(extent.height) / PANGO_SCALE;
      if (y_ + height > kPageHeight - kMargin) {
        cairo_show_page(cairo_);
        y_ = kMargin;
      }
      const double baseline =
          static_cast<double>(pango_layout_iter_get_baseline(lines) - extent.y) / PANGO_SCALE;
      cairo_move_to(cairo_, kMargin, y_ + baseline);
      pango_cairo_show_layout_line(cairo_, pango_layout_iter_get_line_readonly(lines));
      y_ += height;
    } while (pango_layout_iter_next_line(lines));
    pango_layout_iter_free(lines);
  }

 private:
  cairo_t* cairo_;
  double y_ = kMargin;
};

}  // namespace

std::expected<std::string, std::string> render_pdf(const std::vector<PdfBlock>& blocks) {
  std::string bytes;
  {
    Surface surface(
        cairo_pdf_surface_create_for_stream(append_bytes, &bytes, kPageWidth, kPageHeight));
    Context cairo(cairo_create(surface.get()));
    Writer writer(cairo.get());
    for (const PdfBlock& block : blocks) writer.draw(block);
    cairo_show_page(cairo.get());
    cairo.reset();
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      return std::unexpected(cairo_status_to_string(cairo_surface_status(surface.get())));
    }
  }
  return bytes;
}

}  // namespace stand_in
