#pragma once

// The meetings subcommands; each takes its positional words as the family
// table matched them.

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela::meetings {

using Words = std::span<const std::string>;

// Read commands.
[[nodiscard]] Done list(const Context& ctx);
[[nodiscard]] Done show(const Context& ctx, const std::string& id);
[[nodiscard]] Done transcript(const Context& ctx, const std::string& id);
[[nodiscard]] Done notes(const Context& ctx, const std::string& id);
[[nodiscard]] Done speakers(const Context& ctx, const std::string& id);

// Recording, import and join.
[[nodiscard]] Done record_start(const Context& ctx);
[[nodiscard]] Done record_stop(const Context& ctx);
[[nodiscard]] Done import_media(const Context& ctx, const std::string& file);
[[nodiscard]] Done join(const Context& ctx, Words ids);

// Transcription jobs.
[[nodiscard]] Done transcribe(const Context& ctx, const std::string& id);
[[nodiscard]] Done wait(const Context& ctx, const std::string& id);
[[nodiscard]] Done cancel(const Context& ctx, const std::string& id);

// Editing.
[[nodiscard]] Done rename(const Context& ctx, const std::string& id, const std::string& title);
[[nodiscard]] Done set_notes(const Context& ctx, const std::string& id);
[[nodiscard]] Done set_transcript(const Context& ctx, const std::string& id);
[[nodiscard]] Done rename_speaker(const Context& ctx, const std::string& id,
                                  const std::string& from, const std::string& to);
[[nodiscard]] Done labels(const Context& ctx, const std::string& id, bool enabled);
[[nodiscard]] Done clean(const Context& ctx, const std::string& id);
[[nodiscard]] Done generate_notes(const Context& ctx, const std::string& id);
[[nodiscard]] Done remove(const Context& ctx, const std::string& id);

// Export.
[[nodiscard]] Done export_meeting(const Context& ctx, const std::string& id,
                                  const std::string& path);
[[nodiscard]] Done export_audio(const Context& ctx, const std::string& id, const std::string& path);

}  // namespace murmela::meetings
