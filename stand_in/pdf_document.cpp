#include "pdf_document.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <fmt/format.h>

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

// Text as it is shown: a control character would cut the text (a NUL) or
// start a paragraph of its own (a CR), so each shows as the replacement
// character, U+FFFD. Tabs stay.
std::string visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte == '\t' || (byte >= 0x20 && byte != 0x7F) ? std::string_view(&c, 1)
                                                          : std::string_view("\uFFFD");
  }
  return out;
}

// Where to cut `text` at most `most` bytes in: the start of a character.
std::size_t cut_before(std::string_view text, std::size_t most) {
  std::size_t at = most;
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return at > 0 ? at : most;
}

// One line of a paragraph as placed on a page, and where its baseline sits.
// The line belongs to its layout, which is kept alive with it.
struct PlacedLine {
  std::shared_ptr<PangoLayout> layout;
  PangoLayoutLine* line = nullptr;
  double baseline = 0;
};
using Page = std::vector<PlacedLine>;

// Lays the blocks out line by line, starting a new page where a line would
// cross the bottom margin. The lines are drawn once every page is known, so
// each page can say how many there are.
class Writer {
 public:
  explicit Writer(cairo_t* cairo) : cairo_(cairo) {}

  // A paragraph is laid out a piece at a time: one layout of a very long
  // paragraph loses text, and costs more than its length. A piece's last
  // line, which the cut may have ended early, is laid out again with the
  // next piece, so the paragraph wraps as if laid out whole.
  void place(const PdfBlock& block) {
    const std::string text = block.bold_prefix.empty()
                                 ? visible(block.text)
                                 : visible(block.bold_prefix) + " " + visible(block.text);
    std::size_t bold_end = block.bold_prefix.empty() ? 0 : visible(block.bold_prefix).size();
    Font font(pango_font_description_from_string(font_of(block.style)));
    y_ += space_before(block.style);
    std::string_view rest = text;
    do {
      const bool last_piece = rest.size() <= kPieceBytes;
      const std::size_t taken = last_piece ? rest.size() : cut_before(rest, kPieceBytes);
      std::shared_ptr<PangoLayout> layout = laid_out(rest.substr(0, taken), font.get(), bold_end);
      const int lines = pango_layout_get_line_count(layout.get());
      const bool carry = !last_piece && lines > 1;
      const std::size_t used =
          carry ? static_cast<std::size_t>(
                      pango_layout_get_line_readonly(layout.get(), lines - 1)->start_index)
                : taken;
      place_lines(layout, carry ? lines - 1 : lines);
      rest.remove_prefix(used);
      bold_end = bold_end > used ? bold_end - used : 0;
    } while (!rest.empty());
  }

  // Every page: its lines, the running title above all but the first, and
  // its number ("2 / 11") below.
  void draw_pages(const std::string& title) {
    const std::size_t count = pages_.size();
    for (std::size_t number = 1; number <= count; ++number) {
      for (const PlacedLine& placed : pages_[number - 1]) {
        cairo_move_to(cairo_, kMargin, placed.baseline);
        pango_cairo_show_layout_line(cairo_, placed.line);
      }
      if (number > 1) draw_margin_text(title, kRunningTitleBaseline, PANGO_ALIGN_LEFT);
      draw_margin_text(fmt::format("{} / {}", number, count), kPageNumberBaseline,
                       PANGO_ALIGN_CENTER);
      cairo_show_page(cairo_);
    }
  }

 private:
  static constexpr std::size_t kPieceBytes = 8192;
  static constexpr double kRunningTitleBaseline = kMargin - 22.0;
  static constexpr double kPageNumberBaseline = kPageHeight - kMargin + 28.0;

  std::shared_ptr<PangoLayout> laid_out(std::string_view text, const PangoFontDescription* font,
                                        std::size_t bold_end) {
    std::shared_ptr<PangoLayout> layout(pango_cairo_create_layout(cairo_), unref_layout);
    pango_layout_set_font_description(layout.get(), font);
    pango_layout_set_width(layout.get(),
                           static_cast<int>((kPageWidth - 2 * kMargin) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    if (bold_end > 0) {
      PangoAttrList* attributes = pango_attr_list_new();
      PangoAttribute* bold = pango_attr_weight_new(PANGO_WEIGHT_BOLD);
      bold->start_index = 0;
      bold->end_index = static_cast<guint>(std::min(bold_end, text.size()));
      pango_attr_list_insert(attributes, bold);
      pango_layout_set_attributes(layout.get(), attributes);
      pango_attr_list_unref(attributes);
    }
    return layout;
  }

  // Places the first `count` lines of the layout.
  void place_lines(const std::shared_ptr<PangoLayout>& layout, int count) {
    PangoLayoutIter* lines = pango_layout_get_iter(layout.get());
    for (int placed = 0; placed < count; ++placed) {
      PangoRectangle extent;
      pango_layout_iter_get_line_extents(lines, nullptr, &extent);
      const double height = static_cast<double>(extent.height) / PANGO_SCALE;
      if (pages_.empty() || y_ + height > kPageHeight - kMargin) {
        if (!pages_.empty()) y_ = kMargin;
        pages_.emplace_back();
      }
      const double baseline =
          static_cast<double>(pango_layout_iter_get_baseline(lines) - extent.y) / PANGO_SCALE;
      pages_.back().push_back({layout, pango_layout_iter_get_line_readonly(lines), y_ + baseline});
      y_ += height;
      if (!pango_layout_iter_next_line(lines)) break;
    }
    pango_layout_iter_free(lines);
  }

  // One line of small grey text in the top or bottom margin, cut short with
  // an ellipsis where it is wider than the text column.
  void draw_margin_text(const std::string& text, double baseline, PangoAlignment alignment) {
    Layout layout(pango_cairo_create_layout(cairo_));
    Font font(pango_font_description_from_string("DejaVu Sans 8"));
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_width(layout.get(),
                           static_cast<int>((kPageWidth - 2 * kMargin) * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    pango_layout_set_alignment(layout.get(), alignment);
    const std::string shown = visible(text);
    pango_layout_set_text(layout.get(), shown.data(), static_cast<int>(shown.size()));
    cairo_save(cairo_);
    cairo_set_source_rgb(cairo_, 0.4, 0.4, 0.4);
    cairo_move_to(
        cairo_, kMargin,
        baseline - static_cast<double>(pango_layout_get_baseline(layout.get())) / PANGO_SCALE);
    pango_cairo_show_layout(cairo_, layout.get());
    cairo_restore(cairo_);
  }

  cairo_t* cairo_;
  double y_ = kMargin;
  std::vector<Page> pages_;
};

using Rendered = std::expected<std::string, std::string>;

Rendered render_here(const std::string& title, const std::vector<PdfBlock>& blocks) {
  std::string bytes;
  {
    Surface surface(
        cairo_pdf_surface_create_for_stream(append_bytes, &bytes, kPageWidth, kPageHeight));
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, visible(title).c_str());
    Context cairo(cairo_create(surface.get()));
    Writer writer(cairo.get());
    for (const PdfBlock& block : blocks) writer.place(block);
    writer.draw_pages(title);
    cairo.reset();
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      return std::unexpected(cairo_status_to_string(cairo_surface_status(surface.get())));
    }
  }
  return bytes;
}

// Every PDF is laid out and drawn on this one thread. Fontconfig and pango
// keep caches shared by all threads (fonts, coverage, the default font map's
// configuration) that they do not guard for every use, so layouts on
// several connection threads at once race on them.
class Renderer {
 public:
  // Never destroyed: requests may still be rendering as the process ends.
  static Renderer& instance() {
    static Renderer* const renderer = new Renderer;
    return *renderer;
  }

  Rendered render(const std::string& title, const std::vector<PdfBlock>& blocks) {
    std::packaged_task<Rendered()> task([&] { return render_here(title, blocks); });
    auto rendered = task.get_future();
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
    }
    queued_.notify_one();
    return rendered.get();  // an exception thrown while rendering comes out here
  }

 private:
  Renderer() { std::thread([this] { run(); }).detach(); }

  [[noreturn]] void run() {
    for (;;) {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return !queue_.empty(); });
      auto task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::packaged_task<Rendered()>> queue_;
};

}  // namespace

std::expected<std::string, std::string> render_pdf(const std::string& title,
                                                   const std::vector<PdfBlock>& blocks) {
  return Renderer::instance().render(title, blocks);
}

}  // namespace stand_in
