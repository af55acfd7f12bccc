// fmt's compiled part, built once here instead of inline in every file that
// formats: the header-only mode cost each such file about three seconds of
// compiling. Debian ships fmt only as a shared library, and the release
// build links statically, so the implementation is compiled with our code.
#include <fmt/format-inl.h>

// The instantiations below name fmt 9's internals, which each major version
// renames or reshapes; another version would fail below with errors that do
// not say why.
static_assert(FMT_VERSION / 10000 == 9,
              "common/fmt_library.cpp instantiates fmt 9's internals: build with fmt 9.x");

FMT_BEGIN_NAMESPACE
namespace detail {

template FMT_API auto dragonbox::to_decimal(float x) noexcept -> dragonbox::decimal_fp<float>;
template FMT_API auto dragonbox::to_decimal(double x) noexcept -> dragonbox::decimal_fp<double>;

template FMT_API locale_ref::locale_ref(const std::locale& loc);
template FMT_API auto locale_ref::get<std::locale>() const -> std::locale;

template FMT_API auto thousands_sep_impl(locale_ref) -> thousands_sep_result<char>;
template FMT_API auto decimal_point_impl(locale_ref) -> char;
template FMT_API void buffer<char>::append(const char*, const char*);
template FMT_API void vformat_to(buffer<char>&, string_view,
                                 basic_format_args<FMT_BUFFER_CONTEXT(char)>, locale_ref);

template FMT_API auto thousands_sep_impl(locale_ref) -> thousands_sep_result<wchar_t>;
template FMT_API auto decimal_point_impl(locale_ref) -> wchar_t;
template FMT_API void buffer<wchar_t>::append(const wchar_t*, const wchar_t*);

}  // namespace detail
FMT_END_NAMESPACE
