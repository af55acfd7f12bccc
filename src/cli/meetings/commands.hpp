#pragma once

// The meetings subcommands; each takes its positional words as the family
// table matched them.

#include <span>
#include <string>

#include "cli/context.hpp"

namespace murmela::meetings {

using Words = std::span<const std::string>;

// Read commands.
Done list(const Context& ctx);
Done show(const Context& ctx, const std::string& id);
Done transcript(const Context& ctx, const std::string& id);
Done notes(const Context& ctx, const std::string& id);
Done speakers(const Context& ctx, const std::string& id);

// Recording, import and join.
Done record_start(const Context& ctx);
Done record_stop(const Context& ctx);
Done import_media(const Context& ctx, const std::string& file);
Done join(const Context& ctx, Words ids);

// Transcription jobs.
Done transcribe(const Context& ctx, const std::string& id);
Done wait(const Context& ctx, const std::string& id);
Done cancel(const Context& ctx, const std::string& id);

// Editing.
Done rename(const Context& ctx, const std::string& id, const std::string& title);
Done set_notes(const Context& ctx, const std::string& id);
Done set_transcript(const Context& ctx, const std::string& id);
Done rename_speaker(const Context& ctx, const std::string& id, const std::string& from,
                    const std::string& to);
Done labels(const Context& ctx, const std::string& id, bool enabled);
Done clean(const Context& ctx, const std::string& id);
Done generate_notes(const Context& ctx, const std::string& id);
Done remove(const Context& ctx, const std::string& id);

// Export.
Done export_meeting(const Context& ctx, const std::string& id, const std::string& path);
Done export_audio(const Context& ctx, const std::string& id, const std::string& path);

}  // namespace murmela::meetings
