#include "app.hpp"
#include "recognizer.hpp"

namespace stand_in {

namespace {

Meeting demo(std::string id, std::string title, std::string created_at, std::uint64_t seconds,
             std::string source, std::vector<std::string> script, bool transcribed,
             std::string notes) {
  Meeting m;
  m.id = std::move(id);
  m.title = std::move(title);
  m.created_at = std::move(created_at);
  m.duration_seconds = seconds;
  m.source = std::move(source);
  m.audio_script = std::move(script);
  if (transcribed) {
    m.transcript = text_of_lines(m.audio_script);
    m.transcription_model = "base";
  }
  m.notes = std::move(notes);
  return m;
}

}  // namespace

// Oldest first; the app lists the most recently started first.
std::vector<Meeting> demo_meetings() {
  return {
      demo("3f1c9a2e7b8d4c6f9e0a1b2c3d4e5f60", "Weekly planning", "2026-12-07T09:00:00Z", 1830,
           "both",
           {"You: Morning everyone, let's go through the board.",
            "Other speakers: The export work is done; reviews are open.",
            "You: Good. Who takes the release notes?",
            "Other speakers: I will write them by Thursday."},
           true, "- Export work done\n- Release notes by Thursday\n"),
      demo("8a4b2c6d1e9f4a3b8c7d6e5f4a3b2c1d", "Client call, part 1", "2026-12-08T14:00:00Z", 960,
           "both",
           {"You: Thanks for joining. Shall we start with the timeline?",
            "Other speakers: Yes, we need the first drop before January.",
            "You: That works if the scope stays as agreed."},
           false, ""),
      demo("8a4be91f0c2d4b7a9e8f7a6b5c4d3e2f", "Client call, part 2", "2026-12-08T14:20:00Z", 720,
           "both",
           {"Other speakers: One more thing, the budget review moves to Friday.",
            "You: Noted. I will send the summary today."},
           false, ""),
  };
}

Json demo_settings() {
  return {
      {"asrModel", "base"},           {"meetingAsrModel", ""},
      {"meetingSpeakerLabels", true}, {"notesModel", "local-summary"},
      {"language", "auto"},           {"copyToClipboard", true},
      {"launchAtLogin", false},
  };
}

Json demo_models() {
  return Json::array({
      {{"id", "tiny"}, {"name", "Tiny"}, {"kind", "speech"}, {"installed", true}, {"sizeMb", 75}},
      {{"id", "base"}, {"name", "Base"}, {"kind", "speech"}, {"installed", true}, {"sizeMb", 142}},
      {{"id", "large-v3"},
       {"name", "Large v3"},
       {"kind", "speech"},
       {"installed", false},
       {"sizeMb", 2900},
       {"licenseAccepted", false}},
      // Real offline recognition of imported audio, where Debian's model is.
      {{"id", kRecognizerModelId},
       {"name", "PocketSphinx English (US)"},
       {"kind", "speech"},
       {"installed", recognizer_installed()},
       {"sizeMb", 40}},
      {{"id", "local-summary"},
       {"name", "Local summary"},
       {"kind", "notes"},
       {"installed", true},
       {"sizeMb", 0}},
  });
}

}  // namespace stand_in
