#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace murmela {

// What a person at a terminal sees while the CLI waits for a long job: one
// status line on standard error, redrawn in place. Scripts and agents never
// get one, so their output stays exactly as it is without it.
class Progress {
 public:
  virtual ~Progress() = default;

  // A job is under way on the meeting `meeting_id` ("" while the app has not
  // said which), titled `title` ("" where not known): `status` shows, with
  // the time since this call, until updated. Until end(), an interrupt tells
  // how to follow or stop the job, which goes on in the app.
  virtual void begin(std::string_view status, std::string_view meeting_id,
                     std::string_view title) = 0;
  virtual void update(std::string_view status) = 0;

  // Erases the line, so that what follows prints where it would have.
  virtual void end() = 0;
};

// The status line on standard error when that is a terminal able to redraw a
// line; null otherwise.
std::unique_ptr<Progress> terminal_progress();

// The text of the line: "transcribing 1:05".
std::string progress_line(std::string_view status, long long elapsed_seconds);

// The line as shown at a terminal `columns` wide: "transcribing 1:05 ·
// Weekly planning", the title cut short to fit; the app's status and title
// with tabs and line breaks as spaces and other control characters left out.
std::string named_progress_line(std::string_view status, long long elapsed_seconds,
                                std::string_view title, std::size_t columns);

// The lines printed when the user interrupts a wait: how to follow the job,
// and how to stop it.
std::string interrupted_line(std::string_view meeting_id);

}  // namespace murmela
