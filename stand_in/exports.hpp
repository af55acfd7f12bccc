#pragma once

#include <expected>
#include <string>

#include "meeting.hpp"

namespace stand_in {

// The meeting rendered in `format` (markdown, text, html, pdf), from the
// given transcript text.
std::expected<std::string, std::string> render_document(const Meeting& meeting,
                                                        const std::string& transcript,
                                                        const std::string& format);

// A short mono WAV clip standing in for the meeting's audio: a tone, as
// long as the meeting up to 3 seconds.
std::expected<std::string, std::string> render_wav(const Meeting& meeting);

}  // namespace stand_in
